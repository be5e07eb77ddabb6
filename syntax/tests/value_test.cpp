// The compact Value and the flat Dict at their edges: deep copies, moves,
// equality, large sections with repeated keys, and documents copied and
// moved after the build.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <string>
#include <utility>
#include <vector>

#include "builder.h"
#include "test_support.h"

namespace brindle {
namespace {

const EmptyEnv kNoEnv;

Value sample(int which) {
  switch (which) {
    case 0: return Value::string("a string longer than any inline buffer would hold");
    case 1: return Value::string("");
    case 2: return Value::array({Value::integer(1), Value::string("x"), Value::array({Value::null()})});
    case 3: return Value::dict(Dict{{"k", Value::dict(Dict{{"n", Value::floating(-0.0)}})}, {"b", Value::boolean(true)}});
    case 4: return Value::integer(-7);
    default: return Value::floating(2.5);
  }
}

// Changes a value in place where it owns something, so that a copy sharing
// storage with it would show the change.
void mutate(Value& v) {
  switch (v.tag()) {
    case Tag::String: v = Value::string(std::string(v.as_string()) + "!"); break;
    case Tag::Array: v.as_array().push_back(Value::integer(9)); break;
    case Tag::Dict: v.as_dict()["new"] = Value::null(); break;
    default: v = Value::integer(123456); break;
  }
}

TEST(CompactValue, CopiesAreDeepAndMovesLeaveNull) {
  static_assert(sizeof(Value) == 16);
  for (int which = 0; which < 6; ++which) {
    const Value original = sample(which);
    const std::string before = brief(original);
    Value copy = original;
    EXPECT_EQ(copy, original) << before;
    mutate(copy);
    EXPECT_NE(copy, original) << before;
    EXPECT_EQ(brief(original), before);

    Value assigned = Value::string("replaced");
    assigned = original;  // copy-assign over an owning value
    EXPECT_EQ(brief(assigned), before);
    Value& self = assigned;
    assigned = self;  // self-assignment keeps the value
    EXPECT_EQ(brief(assigned), before);

    Value moved = std::move(assigned);
    EXPECT_EQ(brief(moved), before);
    EXPECT_TRUE(assigned.is(Tag::Null));  // NOLINT(bugprone-use-after-move): the documented state
    Value target = sample(which == 0 ? 2 : 0);
    target = std::move(moved);  // move-assign releases what target held
    EXPECT_EQ(brief(target), before);
  }
}

TEST(CompactValue, Equality) {
  const std::tuple<Value, Value, bool> cases[] = {
      {Value::integer(1), Value::floating(1.0), false},  // tags differ
      {Value::floating(0.0), Value::floating(-0.0), true},  // IEEE ==
      {Value::floating(NAN), Value::floating(NAN), false},
      {Value::boolean(false), Value::null(), false},
      {Value::boolean(true), Value::boolean(true), true},
      {Value::string("a"), Value::string("a"), true},
      {Value::string("a"), Value::string(std::string("a\0", 2)), false},
      {Value::array({}), Value::dict({}), false},
      {sample(2), sample(2), true},
      {sample(3), sample(3), true},
      {Value::array({Value::integer(1)}), Value::array({Value::integer(1), Value::integer(1)}), false},
  };
  for (const auto& [a, b, equal] : cases) EXPECT_EQ(a == b, equal) << brief(a) << " vs " << brief(b);
}

// Entry positions are packed: each offset round-trips up to the largest
// one kept, a key span may come without a value span, and setting one
// leaves the other alone.
TEST(FlatDict, EntrySpansRoundTrip) {
  const uint64_t top = (uint64_t{1} << 48) - 2;
  const std::tuple<std::optional<Span>, std::optional<Span>> cases[] = {
      {std::nullopt, std::nullopt},
      {Span{0, 0}, std::nullopt},
      {std::nullopt, Span{5, 9}},
      {Span{1, 2}, Span{3, 0x123456789ABCull}},
      {Span{top, top}, Span{top - 1, top}},
      {Span{0xFF00FF00FF00ull, 0x00FF00FF00FFull}, Span{0, top}},
  };
  for (const auto& [key, value] : cases) {
    DictEntry e;
    if (key) e.set_key_span(*key);
    if (value) e.set_value_span(*value);
    EXPECT_EQ(e.key_span(), key);
    EXPECT_EQ(e.value_span(), value);
    EXPECT_EQ(e.has_key_span(), key.has_value());
    EXPECT_EQ(e.has_value_span(), value.has_value());
    DictEntry copy = e;
    copy.set_key_span(Span{7, 8});
    EXPECT_EQ(copy.value_span(), value);
    EXPECT_EQ(e.key_span(), key);
  }
}

// A section large enough for the hash index and a long sort, with keys that
// tie on their first eight bytes, keys shorter than eight bytes that differ
// only by a trailing NUL, and repeats: order, last-wins and the entries
// reported as dropped.
TEST(FlatDict, LargeSectionWithRepeats) {
  const int n = 60000;
  Dict d;
  std::vector<std::string> keys;
  for (int i = 0; i < n; ++i) {
    const int k = (i * 7919) % n;  // every key once, in scrambled order
    keys.push_back(k % 3 ? "prefix__" + std::to_string(k) : "p" + std::to_string(k % 97));
  }
  keys.push_back("ab");
  keys.push_back(std::string("ab\0", 3));
  for (size_t i = 0; i < keys.size(); ++i) d.append(keys[i]).second = Value::integer(static_cast<int64_t>(i));
  std::vector<std::string> dropped;
  d.seal([&](std::string_view prefix, const DictEntry& e) { dropped.push_back(std::string(prefix) + e.first); },
         "s.");
  std::map<std::string, int64_t> want;
  for (size_t i = 0; i < keys.size(); ++i) want[keys[i]] = static_cast<int64_t>(i);
  ASSERT_EQ(d.size(), want.size());
  EXPECT_EQ(dropped.size(), keys.size() - want.size());
  size_t i = 0;
  for (const auto& [key, value] : want) {
    const DictEntry& e = *(d.begin() + static_cast<std::ptrdiff_t>(i++));
    ASSERT_EQ(e.first, key);
    ASSERT_EQ(e.second.as_integer(), value) << key;
  }
  for (const std::string& name : dropped) ASSERT_EQ(name.substr(0, 3), "s.p") << name;
}

// A document keeps its data and positions when copied, assigned and moved,
// and a copy outlives the document it was made from.
TEST(FlatDict, DocumentsAcrossCopies) {
  const std::string source =
      "[vars]\nh = \"host\"\n[s]\n@min: 1\nb = [1, \"two\", #{x = 1}#]\na = $h + \":1\"\n[s.t]\nk = 1\n";
  auto render = [&](const Document& d) {
    std::string out = brief(Value::dict(d.config)) + " " + brief(Value::dict(d.vars));
    for (const char* path : {"s.a", "s.b", "s.t", "s.t.k"}) {
      const auto k = d.key_span(path);
      const auto v = d.value_span(path);
      out += " " + (k ? source.substr(k->start, k->end - k->start) : "-") + "=" +
             (v ? source.substr(v->start, v->end - v->start) : "-");
    }
    return out + " " + std::to_string(d.annotations.size()) + " " + std::to_string(d.variable_refs.size());
  };
  const std::string want =
      R"({"s": {"a": "host:1", "b": [1, "two", {"x": 1}], "t": {"k": 1}}} {"h": "host"} )"
      R"(a=$h + ":1" b=[1, "two", #{x = 1}#] s.t=- k=1 1 1)";
  std::vector<Document> kept;
  {
    Document built = build_document(source, kNoEnv);
    ASSERT_EQ(render(built), want);
    kept.push_back(built);             // copy
    Document assigned;
    assigned = built;                  // copy-assign
    kept.push_back(std::move(assigned));
    kept.push_back(std::move(built));  // the original, moved
  }
  for (int i = 0; i < 10; ++i) kept.push_back(kept[static_cast<size_t>(i)]);  // reallocations move them
  for (const Document& d : kept) EXPECT_EQ(render(d), want);
}

}  // namespace
}  // namespace brindle
