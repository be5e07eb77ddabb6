// The per-document arena: bump allocation, containers on it, values moved
// into it, and documents whose values live there across copies, moves,
// assignments and destruction (the sanitizer build checks the lifetimes).
#include <gtest/gtest.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "builder.h"
#include "model.h"
#include "test_support.h"

namespace brindle {
namespace {

const EmptyEnv kNoEnv;

TEST(Arena, AllocationsAreAlignedDisjointAndKept) {
  struct Row {
    size_t expected;  // the size guess the arena is made with
    std::vector<std::pair<size_t, size_t>> requests;  // size, alignment
  };
  const std::vector<Row> rows = {
      {0, {{1, 1}, {8, 8}, {3, 2}, {16, 16}, {0, 1}, {5, 4}}},
      {10, {{100000, 8}, {1, 1}, {7, 8}}},         // larger than any block so far
      {1 << 20, {{24, 8}, {72, 8}, {48, 16}}},     // one block from the guess
      {0, std::vector<std::pair<size_t, size_t>>(3000, {40, 8})},  // many blocks
  };
  for (size_t r = 0; r < rows.size(); ++r) {
    Arena arena(rows[r].expected);
    std::vector<std::pair<unsigned char*, size_t>> got;
    for (size_t i = 0; i < rows[r].requests.size(); ++i) {
      const auto [size, align] = rows[r].requests[i];
      auto* p = static_cast<unsigned char*>(arena.allocate(size, align));
      ASSERT_NE(p, nullptr) << r;
      ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % align, 0u) << r << " " << i;
      std::memset(p, static_cast<int>(i & 0xFF), size);
      got.emplace_back(p, size);
    }
    // Every piece still holds what was written into it: no two overlap.
    for (size_t i = 0; i < got.size(); ++i) {
      for (size_t b = 0; b < got[i].second; ++b) ASSERT_EQ(got[i].first[b], i & 0xFF) << r << " " << i;
    }
    size_t asked = 0;
    for (const auto& [size, align] : rows[r].requests) asked += size;
    EXPECT_GE(arena.reserved(), asked) << r;
  }
  // Blocks grow, so many small pieces take few blocks.
  Arena arena;
  for (int i = 0; i < 100000; ++i) arena.allocate(64, 8);
  EXPECT_LE(arena.block_count(), 12u);
}

// The hint of what is still to come changes where large pages may back a
// big block, never what the arena hands out: the same requests give the
// same layout, contents and count of used bytes, hinted or not, whatever
// the hint (none, too small, about right, past the block).
TEST(Arena, HintsLeaveTheAllocationsAsTheyWere) {
  struct Row {
    std::vector<size_t> hints;  // one before every request, cycling
  };
  const std::vector<Row> rows = {{{}}, {{0}}, {{1 << 20, 0, 3 << 20}}, {{size_t{1} << 40}}, {{17 << 20, 5}}};
  // Blocks of 8 MB and more: the ones large pages may back.
  const std::vector<size_t> requests = {24, 5 << 20, 7, 3 << 20, 1 << 20, 9 << 20, 40, 2 << 20, 1};
  std::vector<std::vector<size_t>> layouts;
  for (const Row& row : rows) {
    Arena arena(8 << 20);
    std::vector<size_t> layout;
    std::vector<std::pair<unsigned char*, size_t>> got;
    for (size_t i = 0; i < requests.size(); ++i) {
      if (!row.hints.empty()) arena.expect_more(row.hints[i % row.hints.size()]);
      const size_t before = arena.used();
      const size_t blocks = arena.block_count();
      auto* p = static_cast<unsigned char*>(arena.allocate(requests[i], 8));
      ASSERT_TRUE(arena.holds(p));
      std::memset(p, static_cast<int>(i + 1), requests[i]);
      got.emplace_back(p, requests[i]);
      // Within a block the count grows by the request and its padding.
      if (arena.block_count() == blocks && blocks != 0) {
        EXPECT_GE(arena.used() - before, requests[i]) << i;
        EXPECT_LT(arena.used() - before, requests[i] + 8) << i;
      }
      EXPECT_LE(arena.used(), arena.reserved());
      layout.push_back(arena.block_count());
      layout.push_back(arena.used());
    }
    for (size_t i = 0; i < got.size(); ++i) {
      const auto [p, size] = got[i];
      for (const size_t at : {size_t{0}, size / 2, size - 1}) {
        ASSERT_EQ(p[at], static_cast<unsigned char>(i + 1)) << i << " " << at;
      }
    }
    layouts.push_back(layout);
  }
  for (size_t r = 1; r < layouts.size(); ++r) EXPECT_EQ(layouts[r], layouts[0]) << r;
}

// Whether the system was asked to back the mapping holding `p` with large
// pages; null when it cannot tell.
std::optional<bool> large_pages_at(const void* p) {
  std::ifstream smaps("/proc/self/smaps");
  if (!smaps) return std::nullopt;
  const auto at = reinterpret_cast<uintptr_t>(p);
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    unsigned long long from = 0;
    unsigned long long to = 0;
    if (std::sscanf(line.c_str(), "%llx-%llx ", &from, &to) == 2 && line.find(' ') > line.find('-')) {
      inside = at >= from && at < to;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line.find(" hg") != std::string::npos;
    }
  }
  return std::nullopt;
}

// A big block is backed by large pages as far as the hints reach, and whole
// without one.
TEST(Arena, LargePagesFollowTheHint) {
#ifdef __GLIBC__
  // Blocks mapped afresh: once big blocks were freed, the heap would hand
  // out memory that earlier advice still covers.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#else
  GTEST_SKIP() << "needs blocks mapped afresh";
#endif
  constexpr size_t kBlock = 16 << 20;
  Arena whole(kBlock);
  auto* w = static_cast<char*>(whole.allocate(1, 1));
  const std::optional<bool> unhinted = large_pages_at(w + (8 << 20));
  if (!unhinted || !*unhinted) GTEST_SKIP() << "no large pages here";

  Arena hinted(kBlock);
  hinted.expect_more(0);
  auto* h = static_cast<char*>(hinted.allocate(1, 1));
  EXPECT_EQ(large_pages_at(h + (4 << 20)), false);
  EXPECT_EQ(large_pages_at(h + (12 << 20)), false);
  hinted.expect_more(6 << 20);
  EXPECT_EQ(large_pages_at(h + (3 << 20)), true);
  EXPECT_EQ(large_pages_at(h + (10 << 20)), false);
  hinted.expect_more(size_t{1} << 40);  // past the block: all of it
  EXPECT_EQ(large_pages_at(h + (14 << 20)), true);
}

TEST(Arena, ContainersCopyToTheHeapAndMoveAlong) {
  Arena arena;
  Array held{ArenaAllocator<Value>(&arena)};
  for (int i = 0; i < 100; ++i) held.push_back(Value::string(std::string(20 + i, 'x')));
  const Array copy(held);
  EXPECT_EQ(copy.get_allocator().arena(), nullptr);
  EXPECT_EQ(copy, held);
  Array assigned;
  assigned = held;  // copy-assign keeps the heap buffer of the target
  EXPECT_EQ(assigned.get_allocator().arena(), nullptr);
  Array moved(std::move(held));
  EXPECT_EQ(moved.get_allocator().arena(), &arena);
  EXPECT_EQ(moved, copy);
}

// Each row: a value; moved into an arena it is equal to a copy of the
// original, says it is arena-held when its payload is, and a copy of it is
// heap-owned and outlives the arena.
TEST(Arena, ValuesMovedIntoAnArena) {
  auto make_rows = [] {
    Dict inner;
    inner.append("b").second = Value::string("a string longer than fourteen");
    inner.append("a").second = Value::integer(1);
    inner.append("b").second = Value::integer(2);  // repeated: the last one counts
    inner.seal();
    Array deep = Array{Value::integer(7)};
    for (int i = 0; i < 100; ++i) deep = Array{Value::array(std::move(deep)), Value::string("level string, long")};
    std::vector<std::pair<Value, bool>> rows;
    rows.emplace_back(Value::integer(-3), false);
    rows.emplace_back(Value::floating(2.5), false);
    rows.emplace_back(Value::null(), false);
    rows.emplace_back(Value::string(""), false);
    rows.emplace_back(Value::string("fourteen bytes"), false);
    rows.emplace_back(Value::string("fifteen bytes!!"), true);
    rows.emplace_back(Value::string(std::string(1 << 20, 'q')), true);
    rows.emplace_back(Value::array(Array{}), true);
    rows.emplace_back(Value::array(std::move(deep)), true);
    rows.emplace_back(Value::dict(std::move(inner)), true);
    rows.emplace_back(Value::dict(Dict{{std::string(300, 'k'), Value::string(std::string(40, 'v'))}}), true);
    return rows;
  };
  auto rows = make_rows();
  auto originals = make_rows();
  std::vector<Value> copies;
  {
    Arena arena(64);
    for (size_t i = 0; i < rows.size(); ++i) {
      Value held = Value::into_arena(std::move(rows[i].first), arena);
      EXPECT_EQ(held.in_arena(), rows[i].second) << i;
      EXPECT_EQ(brief(held), brief(originals[i].first)) << i;
      EXPECT_EQ(held, originals[i].first) << i;
      // A copy of a held value, moved into the arena again, is equal to it.
      Value again = Value::into_arena(held, arena);
      EXPECT_EQ(again, held) << i;
      copies.push_back(held);
      EXPECT_FALSE(copies.back().in_arena()) << i;
      Value assigned = Value::integer(1);
      assigned = held;
      EXPECT_FALSE(assigned.in_arena()) << i;
    }
  }
  for (size_t i = 0; i < copies.size(); ++i) EXPECT_EQ(brief(copies[i]), brief(originals[i].first)) << i;
  // A dictionary still being filled is sealed on the way: the last of a
  // repeated key counts, and key order is made.
  Dict filling;
  filling.append("z").second = Value::string("the first z, dropped");
  filling.append("a").second = Value::integer(1);
  filling.append("z").second = Value::string("the last z, kept here");
  Arena arena;
  const Value held = Value::into_arena(Value::dict(std::move(filling)), arena);
  EXPECT_EQ(brief(held), R"({"a": 1, "z": "the last z, kept here"})");
}

std::string long_text(char c, size_t n) { return std::string(n, c); }

// Sources whose values land in the arena, each with the configuration it
// must give, checked on the built document and again on every copy and
// move of it, after the original is gone.
struct DocRow {
  std::string source;
  std::string config;  // as brief() shows it
};

std::vector<DocRow> doc_rows() {
  const std::string long_key = long_text('k', 40);
  const std::string long_value = long_text('v', 5000);
  return {
      {"", "{}"},
      {"# only a comment\n", "{}"},
      {"[vars]\nx = 1\n", "{}"},
      {"a = \"" + long_value + "\"\n", "{\"a\": \"" + long_value + "\"}"},
      {"\"" + long_key + "\" = 1\n[" + long_key + "]\nz = [\"" + long_text('s', 30) + "\"]\n",
       "{\"" + long_key + "\": {\"z\": [\"" + long_text('s', 30) + "\"]}}"},
      // last wins, across a section opened twice and a settled section
      {"[a]\nx = \"first value, long\"\ny = 1\n[b]\nq = 1\n[a]\nx = \"second value, long\"\n",
       R"({"a": {"x": "second value, long", "y": 1}, "b": {"q": 1}})"},
      // a section replaced by a key of the same name, and the other way round
      {"[s.t]\nk = \"inside the section\"\n[s]\nt = [1, 2]\n", R"({"s": {"t": [1, 2]}})"},
      {"[s]\nt = \"a value to be replaced\"\n[s.t]\nk = 1\n", R"({"s": {"t": {"k": 1}}})"},
      // blocks, inline dicts grown into sections, variables copied in
      {"[vars]\nh = \"host name, long enough\"\n[c]\nb = #{\n  x = $h,\n  y = [$h],\n}#\n",
       R"({"c": {"b": {"x": "host name, long enough", "y": ["host name, long enough"]}}})"},
      {"d = #{p = \"an inline string value\"}#\n[d]\nq = 2\n",
       R"({"d": {"p": "an inline string value", "q": 2}})"},
      {"[a.b.c]\nx = 1\n[a]\ny = 2\n[a.b]\nz = 3\n", R"({"a": {"b": {"c": {"x": 1}, "z": 3}, "y": 2}})"},
  };
}

TEST(ArenaDocument, ValuesSurviveCopiesAndMovesOfTheDocument) {
  for (const DocRow& row : doc_rows()) {
    SCOPED_TRACE(row.source.substr(0, 80));
    std::vector<Document> kept;
    std::vector<Value> values;  // copied out of the original
    {
      Document built = build_document(row.source, kNoEnv);
      ASSERT_EQ(brief(Value::dict(built.config)), row.config);
      for (const DictEntry& e : built.config) values.push_back(e.second);
      kept.push_back(built);  // copy
      Document copy_assigned = build_document("[other]\nk = \"a value of its own\"\n", kNoEnv);
      copy_assigned = built;
      kept.push_back(std::move(copy_assigned));
      Document move_assigned = build_document("[other]\nk = \"a value of its own\"\n", kNoEnv);
      move_assigned = build_document(row.source, kNoEnv);  // the old values go while their arena exists
      kept.push_back(std::move(move_assigned));
      kept.push_back(std::move(built));  // the original, moved
    }
    for (int i = 0; i < 8; ++i) kept.push_back(kept[static_cast<size_t>(i % 4)]);
    for (const Document& d : kept) EXPECT_EQ(brief(Value::dict(d.config)), row.config);
    size_t i = 0;
    for (const DictEntry& e : kept[0].config) EXPECT_EQ(e.second, values[i++]);
    // Moving a value out of a document and back in leaves it whole.
    Document& moved_from = kept.back();
    for (DictEntry& e : moved_from.config) {
      Value taken = std::move(e.second);
      e.second = std::move(taken);
    }
    EXPECT_EQ(brief(Value::dict(moved_from.config)), row.config);
  }
}

// Stored payloads go to the arena; a document with nothing to store makes
// none, and copies of documents hold heap values only.
TEST(ArenaDocument, WhereThePayloadsLive) {
  const Document empty = build_document("", kNoEnv);
  EXPECT_EQ(empty.arena.get() == nullptr ? 0u : empty.arena.get()->block_count(), 0u);
  const Document built = build_document(
      "[s]\na = \"a long string of a section\"\nb = [1]\nc = #{x = \"a long string, inline dict\"}#\n", kNoEnv);
  ASSERT_NE(built.arena.get(), nullptr);
  const Dict& s = built.config.at("s").as_dict();
  EXPECT_TRUE(built.config.at("s").in_arena());
  for (const char* key : {"a", "b", "c"}) EXPECT_TRUE(s.at(key).in_arena()) << key;
  EXPECT_TRUE(s.at("c").as_dict().at("x").in_arena());
  EXPECT_TRUE(s.at("c").as_dict().in_arena(*built.arena.get()));
  EXPECT_TRUE(s.in_arena(*built.arena.get()));
  const Document copy = built;
  EXPECT_EQ(copy.arena.get(), nullptr);
  for (const DictEntry& e : copy.config.at("s").as_dict()) EXPECT_FALSE(e.second.in_arena()) << e.first;
  // A value inserted after the build lives in the same arena.
  Document grown = build_document("[s]\na = 1\n", kNoEnv);
  insert_entry(grown, {"s"}, "b", Span{0, 1}, Span{0, 1}, Value::string("inserted after the build"), {});
  EXPECT_TRUE(grown.config.at("s").as_dict().at("b").in_arena());
  EXPECT_EQ(brief(Value::dict(grown.config)), R"({"s": {"a": 1, "b": "inserted after the build"}})");
}

// Sections large enough to keep their heap array, with repeated keys and
// reopened, against the same data built as a map.
TEST(ArenaDocument, LargeSectionsReopenedWithRepeats) {
  for (const int keys : {100, 5000}) {
    SCOPED_TRACE(keys);
    std::string source = "[big]\n";
    std::map<std::string, std::string> want;
    for (int round = 0; round < 3; ++round) {
      for (int k = keys; k-- > 0;) {
        if ((k + round) % 3 == 0) continue;
        const std::string key = "key_" + std::to_string(k) + (k % 7 == 0 ? "_with_a_long_name" : "");
        const std::string value = "value " + std::to_string(round) + " of " + key;
        source += key + " = \"" + value + "\"\n";
        want[key] = value;
      }
      source += "[other_" + std::to_string(round) + "]\nx = 1\n[big]\n";
    }
    const Document doc = build_document(source, kNoEnv);
    const Dict& big = doc.config.at("big").as_dict();
    ASSERT_EQ(big.size(), want.size());
    auto it = want.begin();
    for (const DictEntry& e : big) {
      ASSERT_EQ(e.first, it->first);
      ASSERT_EQ(e.second.as_string(), it->second);
      ASSERT_TRUE(e.has_key_span());
      ++it;
    }
  }
}

}  // namespace
}  // namespace brindle
