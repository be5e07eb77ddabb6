// Values the grammar builds straight into a document's arena read exactly as
// heap-built ones: same value, failure, span and references; every payload
// sits where the ownership rules of model.h say; copies outlive the arena;
// and what a failed evaluation built there is neither leaked nor reachable
// (the sanitizer build checks the lifetimes).
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "builder.h"
#include "group_index.h"
#include "model.h"
#include "test_support.h"

namespace brindle {
namespace {

const EmptyEnv kNoEnv;

// Whether every payload of `v` that is not inline is arena-held (or, with
// `in_arena` false, owned): a scalar or a short string is neither.
bool held_as(const Value& v, bool in_arena) {
  switch (v.tag()) {
    case Tag::String:
      return v.as_string().size() <= 14 ? !v.in_arena() : v.in_arena() == in_arena;
    case Tag::Array:
      if (v.in_arena() != in_arena) return false;
      for (const Value& item : v.as_array()) {
        if (!held_as(item, in_arena)) return false;
      }
      return true;
    case Tag::Dict:
      if (v.in_arena() != in_arena) return false;
      for (const auto& [key, item] : v.as_dict()) {
        if (!held_as(item, in_arena)) return false;
      }
      return true;
    default:
      return !v.in_arena();
  }
}

std::string nest(int levels, std::string_view inner) {
  return repeat("[1, ", static_cast<size_t>(levels)).append(inner).append(repeat("]", static_cast<size_t>(levels)));
}

const std::string kLong = "a string far longer than fourteen bytes";

// Every kind of operand and result, nested and not, and failures that come
// after nested arrays, long strings and dicts were built.
std::vector<std::string> texts() {
  std::vector<std::string> out = {
      "1", "\"short\"", "\"" + kLong + "\"", R"("esc\"aped \\ and \n long enough")",
      "[1, [2, [3]], \"" + kLong + "\"]",
      "[\"" + kLong + "\" + 1, 2 * 3, \"x\" + [1]]",
      "\"" + kLong + "\" + \" and more\"",
      "#{b = [1, \"" + kLong + "\"], a = #{c = [[2]]}#, b = [3]}#",
      "[#{k = [\"" + kLong + "\", #{j = \"" + kLong + "\"}#]}#, []]",
      "[$v, [$v, $long], $ENV.X, $ENV.NONE]",
      "[null ?? [1, \"" + kLong + "\"], [2] ?? 3]",
      "null ?? [[1], [\"" + kLong + "\"]]",
      nest(40, "[\"x]\\\"[\", 2, \"" + kLong + "\"]"),
      nest(127, "[]"), nest(128, "1"), nest(129, "1"),
      // failures half-way through a nested value
      "[[1, \"" + kLong + "\"], [2, [3, #{a = [4]}#]], nope]",
      nest(60, "[\"" + kLong + "\", $undefined]"),
      "[[1, 2], [\"" + kLong + "\"]] + 1",
      "[\"" + kLong + "\"] ?? [1, 2",
      "#{a = [1, \"" + kLong + "\"], b}#",
      "[[\"" + kLong + "\"], [1] - [2]]",
      "[$v, $v] * 2",
      nest(30, "[\"" + kLong + "\", 1 / 0]"),
  };
  return out;
}

Session session(Arena* arena, bool fast) {
  Session s;
  s.vars["v"] = Value::array({Value::integer(1), Value::string(kLong), Value::array({Value::string("a]")})});
  s.vars["long"] = Value::string(kLong);
  s.env.vars["X"] = kLong + ",]";
  s.arena = arena;
  s.indexed = fast;
  s.look_over = fast;
  return s;
}

// Heap and arena builds, each read byte by byte and through the index the
// way the builder reads, agree on everything; the arena's values hold
// nothing of their own, and their copies hold nothing of the arena's.
TEST(ArenaValues, SameReadingInTheArenaAsOnTheHeap) {
  for (const std::string& text : texts()) {
    Session heap = session(nullptr, false);
    const std::string want = heap.run(text);
    for (const bool fast : {false, true}) {
      auto arena = std::make_unique<Arena>();
      std::optional<Value> copy;
      {
        Session held = session(arena.get(), fast);
        Session owned = session(nullptr, fast);
        ASSERT_EQ(held.run(text), want) << fast << " " << text;
        ASSERT_EQ(owned.run(text), want) << fast << " " << text;
        ASSERT_EQ(held.last.has_value(), heap.last.has_value()) << text;
        if (!held.last) continue;
        EXPECT_TRUE(held_as(*held.last, true)) << text;
        EXPECT_TRUE(held_as(*owned.last, false)) << text;
        // Storing it, as the builder does, moves nothing and changes nothing.
        const Value stored = Value::into_arena(std::move(*held.last), *arena);
        EXPECT_TRUE(held_as(stored, true)) << text;
        copy.emplace(stored);
        held.last.reset();
      }
      arena.reset();  // the copy must not point into it
      EXPECT_TRUE(held_as(*copy, false)) << text;
      EXPECT_EQ(brief(*copy), brief(*heap.last)) << text;
    }
  }
}

// Variables that are arena-held themselves (as a document's are) are copied
// into the value, not shared with it.
TEST(ArenaValues, VariablesFromTheSameArenaAreCopied) {
  auto arena = std::make_unique<Arena>();
  Session s = session(arena.get(), true);
  for (DictEntry& e : s.vars) e.second = Value::into_arena(std::move(e.second), *arena);
  const std::string want = "[[1, " + debug_string(kLong) + ", [\"a]\"]], " + debug_string(kLong) + "] | v:0@1-3 long:0@5-10";
  ASSERT_EQ(s.run("[$v, $long]"), want);
  const Value& got = *s.last;
  ASSERT_TRUE(held_as(got, true));
  // Read in place (indexing a view gives copies): mixed items are Values.
  EXPECT_NE(got.as_array().values()[0].as_array().values()[1].as_string().data(),
            s.vars.at("v").as_array()[1].as_string().data());
  s.last.reset();
  s.vars.clear();
}

// An arena array whose items hold nothing of their own is destroyed without
// a walk; changing it through as_array() must bring the walk back, or the
// heap values put into it would leak (the sanitizer build sees that).
TEST(ArenaValues, ArraysChangedAfterTheBuildStillFreeWhatTheyHold) {
  const std::string cases[] = {"[[1, 2], [3, [4]], \"x\"]", "[" + nest(20, "[]") + "]", "[[\"" + kLong + "\"]]"};
  for (const std::string& text : cases) {
    Arena arena;
    Session s = session(&arena, true);
    ASSERT_NE(s.run(text).find('['), std::string::npos) << text;
    Value v = std::move(*s.last);
    s.last.reset();
    Array& outer = v.as_array();
    outer.push_back(Value::string(kLong));
    outer.front().as_array().push_back(Value::array({Value::string(kLong)}));
    const std::string shown = brief(v);
    EXPECT_EQ(shown.substr(shown.size() - kLong.size() - 3), debug_string(kLong) + "]") << text;
    EXPECT_NE(brief(v.as_array().front()).find(kLong), std::string::npos) << text;
  }
}

// Strings of every length near the inline limit and far past it, put into
// one arena back to back (odd lengths leave the next piece unaligned) and
// between other values: each reads back whole, equals its heap twin, and
// copies out of the arena as a heap one.
TEST(ArenaValues, StringsOfEveryLengthReadBackWhole) {
  const std::vector<size_t> lengths = {0, 1, 13, 14, 15, 16, 17, 23, 255, 256, 257, 65535, 65536, 1 << 20};
  auto text_of = [](size_t n) {
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + n) % 26);
    return s;
  };
  auto arena = std::make_unique<Arena>();
  std::vector<Value> held;
  std::vector<Value> moved;
  for (const size_t n : lengths) {
    held.push_back(Value::string_in(text_of(n), arena.get()));
    // A heap string moved in, and an arena array after it, which must still
    // be aligned for its items.
    moved.push_back(Value::into_arena(Value::string(text_of(n)), *arena));
    moved.push_back(Value::into_arena(Value::array({Value::integer(static_cast<int64_t>(n)), Value::string(text_of(n))}), *arena));
  }
  std::vector<Value> copies;
  for (size_t i = 0; i < lengths.size(); ++i) {
    const size_t n = lengths[i];
    SCOPED_TRACE(n);
    const std::string want = text_of(n);
    EXPECT_EQ(held[i].as_string(), want);
    EXPECT_EQ(moved[2 * i].as_string(), want);
    EXPECT_EQ(held[i].in_arena(), n > 14);
    EXPECT_EQ(moved[2 * i].in_arena(), n > 14);
    EXPECT_EQ(held[i], Value::string(want));
    EXPECT_EQ(held[i], moved[2 * i]);
    EXPECT_NE(held[i], Value::string(want + "x"));
    const ArrayView items = moved[2 * i + 1].as_array();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].as_integer(), static_cast<int64_t>(n));
    EXPECT_EQ(items[1].as_string(), want);
    copies.push_back(held[i]);
  }
  held.clear();
  moved.clear();
  arena.reset();  // the copies must not point into it
  for (size_t i = 0; i < lengths.size(); ++i) {
    EXPECT_FALSE(copies[i].in_arena());
    EXPECT_EQ(copies[i].as_string(), text_of(lengths[i])) << lengths[i];
  }
}

// A document keeps its values in its arena; copies taken out of it outlive
// it and equal what a heap build of the same text gives.
TEST(ArenaValues, CopiesOutliveTheirDocument) {
  const std::string deep = nest(127, "[\"x]\\\"[\", 2]");
  std::string source = "[vars]\nv = [1, \"" + kLong + "\"]\n[s]\n";
  const std::vector<std::string> values = {deep, "[$v, $v]", "\"" + kLong + "\" + 1",
                                           "#{a = [1, [2, \"" + kLong + "\"]]}#", nest(129, "1")};
  for (size_t i = 0; i < values.size(); ++i) source += "k" + std::to_string(i) + " = " + values[i] + "\n";
  std::vector<std::optional<Value>> copies;
  std::vector<Diagnostic> diagnostics;
  {
    const Document doc = build_document(source, kNoEnv);
    diagnostics = doc.diagnostics;
    const Dict& section = doc.config.at("s").as_dict();
    for (size_t i = 0; i < values.size(); ++i) {
      const auto it = section.find("k" + std::to_string(i));
      if (it == section.end()) {
        copies.emplace_back();
        continue;
      }
      EXPECT_TRUE(held_as(it->second, true)) << values[i];
      copies.emplace_back(it->second);
    }
  }
  Session heap = session(nullptr, false);
  heap.vars.clear();
  heap.vars["v"] = Value::array({Value::integer(1), Value::string(kLong)});
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string want = heap.run(values[i]);
    ASSERT_EQ(copies[i].has_value(), heap.last.has_value()) << values[i];
    if (copies[i]) {
      EXPECT_EQ(brief(*copies[i]), brief(*heap.last)) << values[i];
    }
  }
  // The one that fails is reported where it stands, as a heap-only read of
  // the document (which stores nothing) reports it.
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0].message, "value nested too deeply");
  const std::vector<Diagnostic> errors_only = build_diagnostics(source, kNoEnv);
  ASSERT_EQ(errors_only.size(), 1u);
  EXPECT_EQ(show(errors_only[0].span), show(diagnostics[0].span));
}

}  // namespace
}  // namespace brindle
