// Short arrays of small items kept as compact records: every item kind
// reads back as it went in, the form is chosen exactly where it may be, and
// every reader (equality, copies, changes, moves between arenas, the
// writers, the validator) gives what the same items as heap Values give.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "array_builder.h"
#include "builder.h"
#include "compact_items.h"
#include "copy_agreement.h"
#include "display.h"
#include "model.h"
#include "serializer.h"
#include "test_support.h"
#include "validator.h"
#include "value_writer.h"

namespace brindle {
namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Items built in `arena`, with `filler` bytes placed there after each
// item, which pushes nested records far from the entries naming them.
Value build(Arena& arena, const std::vector<Value>& items, size_t filler = 0) {
  ArenaArrayBuilder out(arena);
  for (const Value& v : items) {
    out.push_back(Value::into_arena(Value(v), arena));
    if (filler != 0) arena.allocate(filler, 1);
  }
  return out.finish();
}

// The same items as a heap array: what every read must match.
Value heap(const std::vector<Value>& items) { return Value::array(Array(items.begin(), items.end())); }

Value arr(std::vector<Value> items) { return heap(items); }

// Bits of a float, so NaNs and the sign of zero compare.
uint64_t bits(const Value& v) { return std::bit_cast<uint64_t>(v.as_float()); }

// Item by item, through item(), indexing and iteration: same tag, same
// scalar bits, same nested items.
void expect_same_items(const Value& got, const Value& want, const std::string& where) {
  const ArrayView g = got.as_array();
  const ArrayView w = want.as_array();
  ASSERT_EQ(g.size(), w.size()) << where;
  Value scratch;
  size_t k = 0;
  for (const Value& item : g) {
    const Value& by_index = g.item(k, scratch);
    const Value& expect = w[k];
    for (const Value* v : {&item, &by_index}) {
      ASSERT_EQ(v->tag(), expect.tag()) << where << " item " << k;
      if (v->is(Tag::Float)) {
        EXPECT_EQ(bits(*v), bits(expect)) << where << " item " << k;
      } else if (v->is(Tag::Array)) {
        expect_same_items(*v, expect, where + " / " + std::to_string(k));
      } else {
        EXPECT_EQ(*v, expect) << where << " item " << k;
      }
    }
    ++k;
  }
  EXPECT_EQ(k, w.size()) << where;
}

struct KindCase {
  std::string name;
  std::vector<Value> items;
};

std::vector<KindCase> kind_cases() {
  std::vector<KindCase> out;
  // Integers of every width the record tells apart, with a string beside
  // them so that they are not packed.
  for (int64_t i : {int64_t{0}, int64_t{-16}, int64_t{-17}, int64_t{111}, int64_t{112}, int64_t{127}, int64_t{128},
                    int64_t{-128}, int64_t{-129}, int64_t{32767}, int64_t{32768}, int64_t{-32768}, int64_t{-32769},
                    int64_t{2147483647}, int64_t{2147483648}, int64_t{-2147483648}, int64_t{-2147483649}, kMax, kMin})
    out.push_back({"int " + std::to_string(i), {Value::integer(i), Value::string("s")}});
  for (double d : {0.0, -0.0, 1.5, -2.25e-308, 4.9e-324, 1e308, kInf, -kInf, kNaN, -kNaN})
    out.push_back({"float " + std::to_string(d), {Value::floating(d), Value::integer(1)}});
  out.push_back({"bools and null", {Value::boolean(false), Value::boolean(true), Value::null()}});
  for (size_t n : {0, 1, 7, 13, 14})
    out.push_back({"string of " + std::to_string(n), {Value::string(std::string(n, 'q')), Value::null()}});
  out.push_back({"string bytes", {Value::string(std::string("a\0\"\\\n\xff", 6)), Value::boolean(true)}});
  out.push_back({"nested", {Value::integer(1), arr({Value::integer(2), arr({Value::string("x"), Value::null()})})}});
  out.push_back({"nested first", {arr({Value::floating(0.5), Value::boolean(false)}), Value::integer(-3)}});
  out.push_back({"siblings", {arr({Value::string("a"), Value::integer(1)}), arr({Value::string("b"), Value::integer(2)}),
                              arr({Value::null(), Value::integer(3)})}});
  std::vector<Value> eight;
  for (int k = 0; k < 8; ++k) eight.push_back(k % 2 ? Value::string(std::to_string(k)) : Value::integer(kMin + k));
  out.push_back({"eight items", eight});
  return out;
}

TEST(CompactArray, EveryItemKindReadsBack) {
  for (size_t filler : {size_t{0}, size_t{300}, size_t{1} << 20}) {
    for (const KindCase& c : kind_cases()) {
      const std::string where = c.name + " filler " + std::to_string(filler);
      Arena arena;
      const Value got = build(arena, c.items, filler);
      const Value want = heap(c.items);
      ASSERT_TRUE(got.as_array().is_compact()) << where;
      EXPECT_EQ(got.as_array().values(), nullptr) << where;
      EXPECT_EQ(got.as_array().packed_width(), 0u) << where;
      EXPECT_TRUE(got.in_arena()) << where;
      EXPECT_TRUE(arena.holds(got.as_array().storage())) << where;
      expect_same_items(got, want, where);
      EXPECT_EQ(debug_text(got), debug_text(want)) << where;
      EXPECT_EQ(brief(got), brief(want)) << where;
      std::string written;
      std::string written_heap;
      append_value(written, got);
      append_value(written_heap, want);
      EXPECT_EQ(written, written_heap) << where;
      EXPECT_EQ(holds_quote(got), holds_quote(want)) << where;
    }
  }
}

// The compact form is taken for 1 to 8 items that each fit, not all
// integers; anything else keeps the form it had.
TEST(CompactArray, ChosenExactlyWhereItemsFit) {
  Arena side;
  const Value long_string = Value::into_arena(Value::string("fifteen bytes!!"), side);
  struct Case {
    std::string name;
    std::vector<Value> items;
    bool compact;
  };
  std::vector<Value> eight_mixed{Value::null()};
  for (int k = 1; k < 8; ++k) eight_mixed.push_back(Value::integer(k));
  std::vector<Value> nine_mixed = eight_mixed;
  nine_mixed.push_back(Value::integer(8));
  std::vector<Value> eight_ints_then_string;
  std::vector<Value> nine_ints_then_string;
  for (int k = 0; k < 8; ++k) eight_ints_then_string.push_back(Value::integer(k));
  nine_ints_then_string = eight_ints_then_string;
  nine_ints_then_string.push_back(Value::integer(8));
  eight_ints_then_string.push_back(Value::string("s"));
  nine_ints_then_string.push_back(Value::string("s"));
  Dict d;
  d.append("k").second = Value::integer(1);
  d.seal();
  const Case cases[] = {
      {"one string", {Value::string("s")}, true},
      {"one null", {Value::null()}, true},
      {"integers alone pack", {Value::integer(1), Value::integer(2)}, false},
      {"eight mixed", eight_mixed, true},
      {"nine mixed", nine_mixed, false},
      {"8 ints then a string: nine items", eight_ints_then_string, false},
      {"9 ints then a string", nine_ints_then_string, false},
      {"fourteen-byte string", {Value::string(std::string(14, 'a')), Value::integer(1)}, true},
      {"fifteen-byte string", {Value::string(std::string(15, 'a')), Value::integer(1)}, false},
      {"a dict", {Value::integer(1), Value::dict(d)}, false},
      {"an empty array", {Value::integer(1), arr({})}, false},
      {"a packed array", {Value::null(), arr({Value::integer(1), Value::integer(2)})}, false},
      {"a compact array", {Value::null(), arr({Value::integer(1), Value::null()})}, true},
      {"an array of a long string", {Value::null(), arr({long_string})}, false},
  };
  for (const Case& c : cases) {
    Arena arena;
    const Value got = build(arena, c.items);
    EXPECT_EQ(got.as_array().is_compact(), c.compact) << c.name;
    EXPECT_EQ(got, heap(c.items)) << c.name;
    EXPECT_EQ(heap(c.items), got) << c.name;
    expect_same_items(got, heap(c.items), c.name);
  }
}

TEST(CompactArray, EqualityAcrossForms) {
  Arena arena;
  const Value a = build(arena, {Value::integer(1), arr({Value::string("x"), Value::integer(300)})});
  ASSERT_TRUE(a.as_array().is_compact());
  const std::pair<Value, bool> against[] = {
      {arr({Value::integer(1), arr({Value::string("x"), Value::integer(300)})}), true},
      {build(arena, {Value::integer(1), arr({Value::string("x"), Value::integer(300)})}), true},
      {build(arena, {Value::integer(1), arr({Value::string("x"), Value::integer(301)})}), false},
      {build(arena, {Value::integer(1), arr({Value::string("y"), Value::integer(300)})}), false},
      {build(arena, {Value::floating(1), arr({Value::string("x"), Value::integer(300)})}), false},
      {build(arena, {Value::integer(1), arr({Value::string("x")})}), false},
      {build(arena, {Value::integer(1)}), false},
      {build(arena, {Value::integer(1), arr({Value::string("x"), Value::integer(300)}), Value::null()}), false},
      {arr({Value::integer(1), Value::string("x"), Value::integer(300)}), false},
  };
  for (const auto& [other, equal] : against) {
    EXPECT_EQ(a == other, equal) << brief(other);
    EXPECT_EQ(other == a, equal) << brief(other);
  }
  // NaN is unequal to itself in any form.
  const Value nan = build(arena, {Value::floating(kNaN), Value::null()});
  EXPECT_FALSE(nan == nan);
}

// Copies are heap-owned and outlive the arena; changing a compact array
// moves it to the heap first; storing it into another arena rebuilds it
// there, nested records included.
TEST(CompactArray, CopiesChangesAndMovesBetweenArenas) {
  for (const KindCase& c : kind_cases()) {
    const Value want = heap(c.items);
    Value copy;
    Value assigned = Value::integer(5);
    std::optional<Arena> second(std::in_place);
    Value stored;
    {
      Arena arena;
      const Value got = build(arena, c.items);
      copy = Value(got);
      assigned = got;
      stored = Value::into_arena(build(arena, c.items), *second);
      EXPECT_TRUE(std::as_const(stored).as_array().is_compact()) << c.name;
      EXPECT_TRUE(second->holds(std::as_const(stored).as_array().storage())) << c.name;
      // Read through const: a mutable as_array() moves the items out.
      const Value kept = Value::into_arena(build(arena, c.items), arena);
      EXPECT_TRUE(std::as_const(kept).as_array().is_compact()) << c.name;

      Value grown = build(arena, c.items);
      Array& items = grown.as_array();
      EXPECT_FALSE(grown.in_arena()) << c.name;
      items.push_back(Value::string("tail"));
      Array expect(c.items.begin(), c.items.end());
      expect.push_back(Value::string("tail"));
      expect_same_items(grown, Value::array(expect), c.name + " grown");
    }
    for (const Value* v : {&copy, &assigned}) {
      EXPECT_FALSE(v->in_arena()) << c.name;
      EXPECT_NE(std::as_const(*v).as_array().values(), nullptr) << c.name;
      expect_same_items(*v, want, c.name + " copy");
    }
    // Stored in the second arena, it no longer needs the first.
    expect_same_items(stored, want, c.name + " stored");
    stored = Value();
    second.reset();
  }
}

// A chain of arrays nested to the deepest the grammar allows, each level
// `[level, <next>]`: compact all the way down, and the document reads,
// writes, copies and validates as its heap copy.
TEST(CompactArray, NestedToTheLimit) {
  for (int depth : {1, 2, 127, static_cast<int>(kMaxValueDepth)}) {
    std::string value;
    for (int i = 0; i < depth - 1; ++i) value += "[" + std::to_string(i * 1000 - 50000) + ", ";
    value += "[\"x]\\\"[\", 2.5, true, null]";
    value += std::string(static_cast<size_t>(depth - 1), ']');
    const std::string text = "@type: list\nk = " + value + "\n";
    const Document doc = build_document(text, EmptyEnv{});
    ASSERT_TRUE(doc.diagnostics.empty()) << depth;
    const Value& got = doc.config.begin()->second;
    // Each level is decoded into the slot the level above is not in.
    const Value* level = &got;
    Value slots[2];
    Value scratch;
    for (int i = 0; i < depth - 1; ++i) {
      ASSERT_TRUE(level->as_array().is_compact()) << depth << " level " << i;
      ASSERT_EQ(level->as_array().size(), 2u) << depth << " level " << i;
      const Value& first = level->as_array().item(0, scratch);
      ASSERT_EQ(first.as_integer(), i * 1000 - 50000) << depth << " level " << i;
      level = &level->as_array().item(1, slots[i % 2]);
    }
    ASSERT_TRUE(level->as_array().is_compact()) << depth;
    EXPECT_EQ(brief(*level), "[\"x]\\\"[\", 2.5, true, null]") << depth;
    const Document copy = doc;
    EXPECT_EQ(doc.config, copy.config) << depth;
    EXPECT_EQ(debug_text(got), debug_text(copy.config.begin()->second)) << depth;
    EXPECT_EQ(serialize_document(doc), serialize_document(copy)) << depth;
    EXPECT_EQ(validate_document(doc).size(), validate_document(copy).size()) << depth;
    const Document again = build_document(serialize_document(doc), EmptyEnv{});
    EXPECT_EQ(again.config, doc.config) << depth;
  }
}

// Documents holding compact arrays write, validate and read back as their
// heap copies (whose arrays are Values) do.
TEST(CompactArray, DocumentsWriteAndValidateAsTheirCopies) {
  const std::string cases[] = {
      "k = [1, \"a\"]\n",
      "k = [[1, \"a\"], [true, null], [2.5, -0.0]]\n",
      "k = [\"q\\\"uote\", 1]\n",
      "@type: list[string]\nk = [\"a\", \"b\", 3]\n",
      "@type: list[int]\nk = [1, \"b\"]\n",
      "@type: list[float]\nk = [1, 2.5]\n",
      "@type: list[bool]\n@minlen: 3\nk = [true, false]\n",
      "@type: list[list]\nk = [[1, \"a\"], 2]\n",
      "@nonempty\nk = [null]\n",
      "@maxlen: 1\nk = [1, \"a\"]\n",
      "@type: list[string]\nk = [[\"a\"], \"b\"]\n",
      "@type: list[int]\nk = [1.5, true]\n",
      "[vars]\nv = [1, [\"x\", 2]]\n[main]\nk = [$v, \"y\"]\nj = $v\n",
      "k = [1, [2, [3, [4, [\"deep\", 1e3]]]]]\n",
  };
  size_t findings = 0;
  for (const std::string& text : cases) {
    findings += expect_copy_agrees(build_document(text, EmptyEnv{}), text);
  }
  EXPECT_GE(findings, 5u);  // the rules did run on the compact arrays
}

}  // namespace
}  // namespace brindle
