// Arrays of integers kept packed: the width each set of integers takes,
// widening and falling back to Values as items come, and every reader
// (equality, copies, changes, moves between arenas, the writer, the
// validator) giving what the same items as Values give.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "builder.h"
#include "array_builder.h"
#include "compact_items.h"
#include "copy_agreement.h"
#include "model.h"
#include "serializer.h"
#include "test_support.h"
#include "validator.h"

namespace brindle {
namespace {

using Ints = std::vector<int64_t>;
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

Value heap_ints(const Ints& ints) {
  Array out;
  for (int64_t i : ints) out.push_back(Value::integer(i));
  return Value::array(std::move(out));
}

// The same built in `arena`: through push_integer or push_back, with room
// reserved first (none when negative).
Value arena_ints(Arena& arena, const Ints& ints, bool as_values, long room) {
  ArenaArrayBuilder out(arena);
  if (room >= 0) out.reserve(static_cast<size_t>(room));
  for (int64_t i : ints) {
    if (as_values) {
      out.push_back(Value::integer(i));
    } else {
      out.push_integer(i);
    }
  }
  return out.finish();
}

Ints counting(size_t n, int64_t from = 0) {
  Ints out;
  for (size_t k = 0; k < n; ++k) out.push_back(from + static_cast<int64_t>(k % 100));
  return out;
}

// Integers and the width that holds them all.
struct WidthCase {
  Ints ints;
  unsigned width;
};

std::vector<WidthCase> width_cases() {
  std::vector<WidthCase> out = {
      {{0}, 1}, {{127}, 1}, {{128}, 2}, {{-128}, 1}, {{-129}, 2},
      {{32767}, 2}, {{32768}, 4}, {{-32768}, 2}, {{-32769}, 4},
      {{2147483647}, 4}, {{2147483648}, 8}, {{-2147483648LL}, 4}, {{-2147483649LL}, 8},
      {{kMin}, 8}, {{kMax}, 8}, {{kMin, kMax, 0}, 8},
      {{1, 2, 3, 300, 4}, 2}, {{1, -70000, 2}, 4}, {{5, 1LL << 40, -5}, 8}, {{1, 2, 200, 40000, 1LL << 33}, 8},
  };
  // Past the items that wait in the builder: widening in the room itself.
  for (size_t at : {7, 8, 9, 17, 500}) {
    for (auto [big, width] : {std::pair<int64_t, unsigned>{300, 2}, {-70000, 4}, {kMin, 8}}) {
      Ints ints = counting(at + 20);
      ints[at] = big;
      out.push_back({ints, width});
    }
  }
  out.push_back({counting(5000, -50), 1});
  return out;
}

TEST(PackedArray, TakesTheNarrowestWidthAndReadsBack) {
  for (const WidthCase& c : width_cases()) {
    for (bool as_values : {false, true}) {
      for (long room : {-1L, 0L, 3L, static_cast<long>(c.ints.size()), static_cast<long>(c.ints.size() + 9)}) {
        const std::string where = brief(heap_ints(c.ints)).substr(0, 60) + " room " + std::to_string(room);
        Arena arena;
        const Value got = arena_ints(arena, c.ints, as_values, room);
        const ArrayView items = got.as_array();
        ASSERT_EQ(items.packed_width(), c.width) << where;
        EXPECT_EQ(items.values(), nullptr) << where;
        EXPECT_TRUE(got.in_arena()) << where;
        EXPECT_TRUE(arena.holds(items.storage())) << where;
        ASSERT_EQ(items.size(), c.ints.size()) << where;
        for (size_t k = 0; k < c.ints.size(); ++k) {
          ASSERT_EQ(items.integer_at(k), c.ints[k]) << where << " item " << k;
          ASSERT_EQ(items[k], Value::integer(c.ints[k])) << where << " item " << k;
        }
        size_t k = 0;
        for (const Value& v : items) EXPECT_EQ(v.as_integer(), c.ints[k++]) << where;
        EXPECT_EQ(k, c.ints.size()) << where;
        EXPECT_EQ(got, heap_ints(c.ints)) << where;
        EXPECT_EQ(heap_ints(c.ints), got) << where;
      }
    }
  }
}

// Any item other than an integer turns the array into Values, wherever it
// comes; the integers before it read the same.
TEST(PackedArray, OtherItemsFallBackToValues) {
  const std::string kLong = "a string longer than fourteen bytes";
  const Value others[] = {Value::string("s"), Value::floating(1.0), Value::boolean(true), Value::null(),
                          Value::array({Value::integer(1)})};
  for (const Value& other : others) {
    for (size_t at : {0, 1, 7, 8, 9, 40}) {
      for (long room : {-1L, static_cast<long>(at + 3)}) {
        Arena arena;
        ArenaArrayBuilder out(arena);
        if (room >= 0) out.reserve(static_cast<size_t>(room));
        Array want;
        for (size_t k = 0; k < at; ++k) {
          const int64_t i = k % 3 == 0 ? -70000 : static_cast<int64_t>(k);
          out.push_integer(i);
          want.push_back(Value::integer(i));
        }
        out.push_back(Value::into_arena(Value(other), arena));
        want.push_back(other);
        out.push_integer(kMax);
        want.push_back(Value::integer(kMax));
        EXPECT_EQ(out.packed_width(), 0u);
        const Value got = out.finish();
        // A few small items make a compact record; more, or a packed array
        // among them, make Values.
        const bool compact = at + 2 <= CompactItems::kMostItems && !other.is(Tag::Array);
        ASSERT_EQ(got.as_array().is_compact(), compact) << brief(other) << " at " << at;
        if (!compact) ASSERT_NE(got.as_array().values(), nullptr) << brief(other) << " at " << at;
        EXPECT_EQ(got, Value::array(want)) << brief(other) << " at " << at;
        EXPECT_EQ(brief(got), brief(Value::array(want))) << brief(other) << " at " << at;
      }
    }
  }
}

TEST(PackedArray, EmptyAndUnequalArrays) {
  Arena arena;
  const Value empty = arena_ints(arena, {}, false, 5);
  EXPECT_TRUE(empty.as_array().empty());
  EXPECT_EQ(empty, Value::array({}));
  const Value a = arena_ints(arena, {1, 2, 300}, false, -1);
  const std::pair<Value, bool> against[] = {
      {heap_ints({1, 2, 300}), true},
      {arena_ints(arena, {1, 2, 300}, true, 3), true},
      {arena_ints(arena, {1, 2, 301}, false, -1), false},
      {arena_ints(arena, {1, 2}, false, -1), false},
      {arena_ints(arena, {1, 2, 300, 0}, false, -1), false},
      {arena_ints(arena, {1, 2, 1LL << 40}, false, -1), false},
      {Value::array({Value::integer(1), Value::integer(2), Value::floating(300)}), false},
      {empty, false},
  };
  for (const auto& [other, equal] : against) {
    EXPECT_EQ(a == other, equal) << brief(other);
    EXPECT_EQ(other == a, equal) << brief(other);
  }
}

// Copies are heap Values; changing a packed array moves it to the heap
// first; storing it into another arena moves its packed items there.
TEST(PackedArray, CopiesChangesAndMovesBetweenArenas) {
  for (const WidthCase& c : width_cases()) {
    const Value want = heap_ints(c.ints);
    Value copy;
    {
      Arena arena;
      const Value got = arena_ints(arena, c.ints, false, -1);
      copy = got;
      Arena second;
      Value moved = arena_ints(arena, c.ints, false, -1);
      const Value stored = Value::into_arena(std::move(moved), second);
      EXPECT_TRUE(second.holds(stored.as_array().storage()));
      EXPECT_EQ(stored.as_array().packed_width(), c.width);
      EXPECT_EQ(stored, want);

      Value grown = arena_ints(arena, c.ints, false, -1);
      Array& items = grown.as_array();
      EXPECT_FALSE(grown.in_arena());
      items.push_back(Value::string("tail"));
      items.front() = Value::integer(-1);
      Array expect(want.as_array().values(), want.as_array().values() + c.ints.size());
      expect.push_back(Value::string("tail"));
      expect.front() = Value::integer(-1);
      EXPECT_EQ(grown, Value::array(expect));
    }
    EXPECT_FALSE(copy.in_arena());
    EXPECT_NE(std::as_const(copy).as_array().values(), nullptr);
    EXPECT_EQ(copy, want);
  }
}

// Documents whose arrays are packed write, validate and read back as their
// heap copies (whose arrays are Values) do.
TEST(PackedArray, DocumentsWriteAndValidateAsTheirCopies) {
  const std::string cases[] = {
      "k = [1, 2, 3]\n",
      "k = [127, 128, -128, -129, 32767, 32768, -32769, 2147483648, -9223372036854775807, 9223372036854775807]\n",
      "k = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 300, 19, -70000]\n",
      "k = [1, 2,\n  3, 4,\n  5]\n",
      "k = [[1, 2], [300], [], [1, \"a\"]]\n",
      "@type: list[int]\n@minlen: 3\n@maxlen: 4\nk = [1, 2, 3, 4, 5]\n",
      "@type: list[string]\n@nonempty\nk = [1, 2]\n",
      "@type: list[float]\n@required\nk = [40000]\n",
      "@type: list[int]\nk = [1, 2.5]\n",
      "@min: 0\n@max: 10\n@type: int\nk = [50, -1]\n",
      "[s]\n@type: list\na = [-1, -2]\n@type: dict\nb = [1]\n",
  };
  size_t findings = 0;
  for (const std::string& text : cases) {
    const Document doc = build_document(text, EmptyEnv{});
    ASSERT_TRUE(doc.diagnostics.empty()) << text;
    const Value& first = doc.config.begin()->second;
    if (first.is(Tag::Array) && !first.as_array().empty()) {
      bool integers = true;
      for (const Value& v : first.as_array()) integers = integers && v.is(Tag::Integer);
      EXPECT_EQ(first.as_array().packed_width() != 0, integers) << text;  // integers alone are packed
    }
    findings += expect_copy_agrees(doc, text);
  }
  EXPECT_GE(findings, 5u);  // the rules did run on the packed arrays
}

}  // namespace
}  // namespace brindle
