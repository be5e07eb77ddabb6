// Arrays held by an arena as their items alone: built to any size (room
// given up front or not), read back as the heap array they stand for,
// copied out, moved, stored again, and changed after the build; and the
// same through whole documents. The sanitizer build checks that nothing
// they hold leaks or is freed twice.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "builder.h"
#include "array_builder.h"
#include "compact_items.h"
#include "model.h"
#include "test_support.h"

namespace brindle {
namespace {

const EmptyEnv kNoEnv;
const std::string kLong = "a string longer than fourteen bytes";

// Item `i` of kind `kind`, heap-owned: what the arena array must read back.
Value item(int kind, size_t i) {
  switch (kind) {
    case 0: return Value::integer(static_cast<int64_t>(i) - 3);
    case 1: return Value::string(std::to_string(i));              // inline
    case 2: return Value::string(kLong + std::to_string(i));      // a block of its own
    case 3: return Value::array({Value::integer(1), Value::string(kLong)});
    default: {  // a dict: its entries need destroying even in an arena
      Dict d;
      d.append(kLong + "key").second = Value::string(kLong);
      d.append("k").second = Value::array({Value::null()});
      d.seal();
      return Value::dict(std::move(d));
    }
  }
}

Value heap_array(int kind, size_t n) {
  Array items;
  for (size_t i = 0; i < n; ++i) items.push_back(item(kind, i));
  return Value::array(std::move(items));
}

// The same items built in `arena`, with `room` reserved first (none when
// negative), so that every size crosses the builder's growth both ways.
Value arena_array(Arena& arena, int kind, size_t n, long room) {
  ArenaArrayBuilder out(arena);
  if (room >= 0) out.reserve(static_cast<size_t>(room));
  for (size_t i = 0; i < n; ++i) out.push_back(Value::into_arena(item(kind, i), arena));
  EXPECT_EQ(out.size(), n);
  return out.finish();
}

struct Case {
  int kind;
  size_t size;
  long room;
};

std::vector<Case> cases() {
  std::vector<Case> out;
  for (int kind = 0; kind < 5; ++kind) {
    for (size_t n : {0, 1, 2, 3, 4, 5, 7, 8, 9, 16, 17, 100}) {
      for (long room : {-1L, 0L, static_cast<long>(n), static_cast<long>(n / 2), static_cast<long>(n + 3)})
        out.push_back({kind, n, room});
    }
  }
  return out;
}

std::string where(const Case& c) {
  return "kind " + std::to_string(c.kind) + " size " + std::to_string(c.size) + " room " + std::to_string(c.room);
}

TEST(ArenaArray, ReadsBackAsTheHeapArray) {
  for (const Case& c : cases()) {
    Arena arena;
    const Value want = heap_array(c.kind, c.size);
    const Value got = arena_array(arena, c.kind, c.size, c.room);
    ASSERT_TRUE(got.is(Tag::Array)) << where(c);
    EXPECT_TRUE(got.in_arena()) << where(c);
    EXPECT_EQ(got, want) << where(c);
    EXPECT_EQ(brief(got), brief(want)) << where(c);
    const ArrayView items = got.as_array();
    ASSERT_EQ(items.size(), c.size) << where(c);
    EXPECT_EQ(items.empty(), c.size == 0) << where(c);
    for (size_t i = 0; i < c.size; ++i) EXPECT_EQ(items[i], item(c.kind, i)) << where(c) << " item " << i;
    if (c.size != 0) {
      EXPECT_TRUE(arena.holds(items.storage())) << where(c);
      EXPECT_EQ(items.front(), item(c.kind, 0)) << where(c);
      EXPECT_EQ(items.back(), item(c.kind, c.size - 1)) << where(c);
      // Integers alone are packed; up to eight inline strings are a
      // compact record; any other items are Values.
      const bool compact = c.kind == 1 && c.size <= CompactItems::kMostItems;
      EXPECT_EQ(items.packed_width() != 0, c.kind == 0) << where(c);
      EXPECT_EQ(items.is_compact(), compact) << where(c);
      EXPECT_EQ(items.values() == nullptr, c.kind == 0 || compact) << where(c);
    }
  }
}

TEST(ArenaArray, CopiesAreHeapOwnedAndOutliveTheArena) {
  for (const Case& c : cases()) {
    std::optional<Value> copy;
    std::optional<Value> assigned;
    {
      Arena arena;
      const Value got = arena_array(arena, c.kind, c.size, c.room);
      copy.emplace(got);
      assigned.emplace(Value::integer(1));
      *assigned = got;
    }
    for (const Value* v : {&*copy, &*assigned}) {
      EXPECT_FALSE(v->in_arena()) << where(c);
      EXPECT_EQ(*v, heap_array(c.kind, c.size)) << where(c);
    }
  }
}

TEST(ArenaArray, MovesAndStoringAgainKeepTheItemsInPlace) {
  for (const Case& c : cases()) {
    Arena arena;
    Value got = arena_array(arena, c.kind, c.size, c.room);
    // Read through const values: a mutable as_array() moves the items.
    const void* const items = std::as_const(got).as_array().storage();
    Value moved = std::move(got);
    EXPECT_TRUE(got.is(Tag::Null)) << where(c);
    const Value stored = Value::into_arena(std::move(moved), arena);
    EXPECT_EQ(stored.as_array().storage(), items) << where(c);
    EXPECT_EQ(stored, heap_array(c.kind, c.size)) << where(c);
  }
}

// Stored into another arena, the items move over there; the first arena
// may keep payloads of theirs (a moved value stays tied to its arena), so
// it goes last.
TEST(ArenaArray, StoringIntoAnotherArenaMovesTheItems) {
  for (const Case& c : cases()) {
    Arena first;
    Arena second;
    Value got = arena_array(first, c.kind, c.size, c.room);
    const Value stored = Value::into_arena(std::move(got), second);
    EXPECT_TRUE(stored.in_arena()) << where(c);
    EXPECT_EQ(stored, heap_array(c.kind, c.size)) << where(c);
    if (c.size != 0) {
      EXPECT_TRUE(second.holds(stored.as_array().storage())) << where(c);
      EXPECT_FALSE(first.holds(stored.as_array().storage())) << where(c);
    }
  }
}

// A heap array stored into an arena moves its items there; one of more
// than 256 KB keeps its own buffer (copying it would hold it twice), its
// items still moving in.
TEST(ArenaArray, StoringAHeapArrayMovesItsItems) {
  constexpr size_t kKeptFrom = 256 * 1024 / sizeof(Value) + 1;
  for (size_t n : {size_t{0}, size_t{1}, size_t{5}, kKeptFrom - 1, kKeptFrom, kKeptFrom + 7}) {
    Arena arena;
    Array items;
    for (size_t i = 0; i < n; ++i) items.push_back(i % 2 ? Value::string(kLong) : Value::integer(static_cast<int64_t>(i)));
    const Value want = Value::array(items);
    const Value stored = Value::into_arena(Value::array(std::move(items)), arena);
    EXPECT_EQ(stored, want) << n;
    EXPECT_EQ(stored.in_arena(), n < kKeptFrom) << n;
    EXPECT_EQ(n != 0 && arena.holds(stored.as_array().storage()), n != 0 && n < kKeptFrom) << n;
    for (const Value& item : stored.as_array()) {
      EXPECT_EQ(item.in_arena(), item.is(Tag::String)) << n;
      if (item.is(Tag::String)) {
        EXPECT_TRUE(arena.holds(item.as_string().data())) << n;
      }
    }
  }
}

// Changing an arena array moves it to the heap first; what is put in then
// belongs to it, and what it held reads the same.
TEST(ArenaArray, ChangingItMovesItToTheHeap) {
  for (const Case& c : cases()) {
    Arena arena;
    Value got = arena_array(arena, c.kind, c.size, c.room);
    Array& items = got.as_array();
    EXPECT_FALSE(got.in_arena()) << where(c);
    items.push_back(Value::string(kLong));
    if (c.kind == 3 && c.size != 0) items.front().as_array().push_back(Value::string(kLong + "!"));
    Value want = heap_array(c.kind, c.size);
    want.as_array().push_back(Value::string(kLong));
    if (c.kind == 3 && c.size != 0) want.as_array().front().as_array().push_back(Value::string(kLong + "!"));
    EXPECT_EQ(got, want) << where(c);
  }
}

// An unfinished builder destroys what it was given (the leak check of the
// sanitizer build sees it).
TEST(ArenaArray, AnUnfinishedBuilderDropsItsItems) {
  for (const Case& c : cases()) {
    Arena arena;
    {
      ArenaArrayBuilder out(arena);
      if (c.room >= 0) out.reserve(static_cast<size_t>(c.room));
      for (size_t i = 0; i < c.size; ++i) out.push_back(Value::into_arena(item(c.kind, i), arena));
      ASSERT_EQ(out.size(), c.size) << where(c);
    }
  }
}

TEST(ArenaArray, HoldsTellsTheArenasBlocksApart) {
  Arena arena;
  Arena other;
  std::vector<const char*> mine;
  for (int i = 0; i < 2000; ++i) mine.push_back(static_cast<const char*>(arena.allocate(100, 8)));
  ASSERT_GT(arena.block_count(), 3u);
  for (const char* p : mine) {
    EXPECT_TRUE(arena.holds(p));
    EXPECT_TRUE(arena.holds(p + 99));
    EXPECT_FALSE(other.holds(p));
  }
  const int local = 0;
  EXPECT_FALSE(arena.holds(&local));
  EXPECT_FALSE(arena.holds(nullptr));
}

// Arrays of a document around every size the parser treats apart (a
// chunk of items is 4096), nested and not, read back as written, through
// copies and moves of the document.
TEST(ArenaArray, DocumentsKeepTheirArrays) {
  for (size_t n : {0, 1, 2, 3, 8, 9, 4095, 4096, 4097, 8193}) {
    std::string text = "[s]\na = [";
    Array want;
    for (size_t i = 0; i < n; ++i) {
      text += (i ? ", " : "") + std::string(i % 3 == 2 ? "[\"" + kLong + "\", " + std::to_string(i) + "]" : std::to_string(i));
      want.push_back(i % 3 == 2 ? Value::array({Value::string(kLong), Value::integer(static_cast<int64_t>(i))})
                                : Value::integer(static_cast<int64_t>(i)));
    }
    text += "]\nb = [[[" + std::to_string(n) + "]], []]\n";
    const Value want_b = Value::array({Value::array({Value::array({Value::integer(static_cast<int64_t>(n))})}),
                                       Value::array({})});
    const Value want_a = Value::array(std::move(want));
    Document built = build_document(text, kNoEnv);
    ASSERT_TRUE(built.diagnostics.empty()) << n;
    const Document copy = built;
    const Document moved = std::move(built);
    for (const Document* doc : {&copy, &moved}) {
      const Dict& s = doc->config.at("s").as_dict();
      EXPECT_EQ(s.at("a"), want_a) << n;
      EXPECT_EQ(s.at("b"), want_b) << n;
      EXPECT_EQ(s.at("a").in_arena(), doc == &moved) << n;
    }
  }
}

}  // namespace
}  // namespace brindle
