// Values nested many levels deep read exactly as they always have, whether
// the grammar scans each level byte by byte or through the value's shared
// GroupIndex: values, failure messages and spans, and `$` references.
#include <gtest/gtest.h>

#include <array>
#include <iterator>
#include <random>
#include <string>
#include <tuple>

#include "group_index.h"
#include "test_support.h"

namespace brindle {
namespace {

// `levels` openers, the inner text, then the matching closers.
std::string nest(int levels, std::string_view open, std::string_view inner, std::string_view close) {
  return repeat(open, static_cast<size_t>(levels)).append(inner).append(repeat(close, static_cast<size_t>(levels)));
}

Session with_vars() {
  Session s;
  s.vars["v"] = Value::array({Value::integer(1), Value::string("a]")});
  s.vars["n"] = Value::integer(5);
  s.env.vars["X"] = "x,]";
  return s;
}

// Each text is read plain and indexed; both must give the expected line.
TEST(NestedValues, QuotesBracketsOperatorsAndReferencesAtDepth) {
  // Levels, inner text, opener (closers match it), then either "=" and the
  // inner text's reading (every level wraps it; references follow " | "),
  // or "!" and the whole failure.
  const std::tuple<int, std::string, std::string, std::string> cases[] = {
      {3, R"("a]", "[", "x,y", "#{", "}#", "#c")", "[", R"(="a]", "[", "x,y", "#{", "}#", "#c")"},
      {40, R"("q\"]", "\\", "\"[,")", "[1, ", R"(="q\"]", "\\", "\"[,")"},
      // The splitter takes any quote as closing, so `+` splits this item.
      {3, R"("a\"+[1]", 2)", "[", "!malformed array @8-12"},
      {40, R"("a\"+[1]", 2)", "[", "!malformed array @45-49"},
      {40, R"(1 + 2 * 3, -4 - -5, "a" + 1, 7 / 2)", "[", R"(=9, 1, "a1", 3.5)"},
      {40, R"($v, $n + 1, "$n", $ENV.X)", "[", R"(=[1, "a]"], 6, "$n", "x,]" | v:0@40-42 n:0@44-46 X:2@58-64)"},
      {3, "$v + $n", "[", "!invalid operands for `+` @6-7 | v:0@3-5 n:0@8-10"},
      {40, R"(null ?? [1, "??"], $ENV.NONE ?? $n)", "[", R"(=[1, "??"], 5 | NONE:2@59-68 n:0@72-74)"},
      {20, R"(#{"k,=" = "v=", a.b = [1, #{c = "}#"}#], a.b = 2}#)", "[", R"(={"a.b": 2, "k,=": "v="})"},
      {20, "1", "#{k = ", "=1"},
      {20, R"(#{a = "[", b = $n}#)", "#{k = [", R"(={"a": "[", "b": 5} | n:0@155-157)"},
      {127, "", "[", "="},
      {128, "", "[", "="},
      {129, "", "[", "!value nested too deeply @128-130"},
      {64, "1", "[#{a = ", "=1"},  // 128 levels of two kinds
      // malformed nests: unclosed, extra or mixed closers, unknown brackets
      {40, "[1, 2", "[", "!malformed array @40-45"},
      {40, "1]", "[", "!cannot parse value: `1]` @40-42"},
      {40, "1}", "[", "!cannot parse value: `1}` @40-42"},
      {40, "(1, [2])", "[", "!cannot parse value: `(1, [2])` @40-48"},
      {40, R"("open)", "[", "!unterminated string @40-45"},
      {40, "#{a = 1", "[", "!malformed inline dict @40-47"},
      {40, "#{a 1}#", "[", "!inline dict entry missing `=`: `a 1` @42-45"},
      {40, "$nope", "[1, ", "!undefined variable `$nope` @160-165"},
      {40, R"(\[1])", "[", R"(!cannot parse value: `\[1]` @40-44)"},
      {40, "1 + [2]", "[", "!invalid operands for `+` @42-43"},
      {40, R"("x" - 1)", "[", "!invalid operands for `-` @44-45"},
      // a long item whose only operator stands right after its first byte
      {3, "5-[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20]", "[",
       "!invalid operands for `-` @4-5"},
  };
  for (const auto& [levels, inner, open, want] : cases) {
    // Openers with their closers, and how one level of each reads.
    const std::tuple<std::string_view, std::string_view, std::string_view, std::string_view> kinds[] = {
        {"[", "]", "[", "]"}, {"[1, ", "]", "[1, ", "]"}, {"#{k = ", "}#", "{\"k\": ", "}"},
        {"#{k = [", "]}#", "{\"k\": [", "]}"}, {"[#{a = ", "}#]", "[{\"a\": ", "}]"}};
    std::string text, expected = want.substr(1);
    for (const auto& [o, c, shown_open, shown_close] : kinds) {
      if (o != open) continue;
      text = nest(levels, o, inner, c);
      if (want[0] == '=') {  // a value: the inner reading wrapped in every level, then the references
        const size_t bar = expected.find(" | ");
        const std::string refs = bar == std::string::npos ? "" : expected.substr(bar);
        expected = nest(levels, shown_open, expected.substr(0, bar), shown_close) + refs;
      }
    }
    Session plain = with_vars();
    Session indexed = with_vars();
    indexed.indexed = true;
    const std::string got = plain.run(text);
    EXPECT_EQ(indexed.run(text), got) << text;
    EXPECT_EQ(got, expected) << text;
  }
}

// Random nests of every operand kind, tricky strings, operators, fallbacks
// and malformed pieces: the indexed reading must equal the plain one.
std::string random_value(std::mt19937& rng, int depth) {
  static const char* const kLeaves[] = {
      R"("a]")", R"("\"")", R"("x,y")", R"("#{")", R"("}#")", R"("a\\")", R"("+-*/")", R"("??")",
      R"("a\"+[1]")", "1", "-2", "1_000", "0x1F", "3.5", "true", "null", "$v", "$n", "$ENV.X",
      "$nope", "x", "-", "(1)", "]", "}#", "\\[", "\""};
  const auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  if (depth <= 0 || pick(4) == 0) return kLeaves[pick(std::size(kLeaves))];
  std::string out;
  switch (pick(6)) {
    case 0: case 1: {
      out = "[";
      for (size_t i = 0, n = pick(4); i < n; ++i) out += (i ? ", " : "") + random_value(rng, depth - 1);
      return out + (pick(10) ? "]" : "");
    }
    case 2: {
      out = "#{";
      for (size_t i = 0, n = pick(3); i < n; ++i)
        out += (i ? ", " : "") + std::string(pick(2) ? "a" : R"("k,=")") + " = " + random_value(rng, depth - 1);
      return out + (pick(10) ? "}#" : "]");
    }
    case 3: {
      const char* const op = std::array{" + ", " - ", "-", "*", " / "}[pick(5)];
      return random_value(rng, depth - 1) + op + random_value(rng, depth - 1);
    }
    case 4: return random_value(rng, depth - 1) + " ?? " + random_value(rng, depth - 1);
    default: return "[1, " + random_value(rng, depth - 1) + "]";
  }
}

TEST(NestedValues, IndexedAndPlainReadingsAgreeOnRandomNests) {
  std::mt19937 rng(9);
  for (int round = 0; round < 1500; ++round) {
    const int levels = std::array{0, 2, 30, 126, 127, 128}[rng() % 6];
    const std::string text = nest(levels, rng() % 2 ? "[" : "[\"]\\\"\", ", random_value(rng, 5), "]");
    Session plain = with_vars();
    Session indexed = with_vars();
    indexed.indexed = true;
    ASSERT_EQ(indexed.run(text), plain.run(text)) << text;
  }
}

// A level of thousands of items is read a chunk of items at a time; items,
// blanks, nested values, repeated dict keys and failures on either side of a
// chunk's edge read exactly as in a short level.
TEST(NestedValues, LongLevelsReadTheSameAcrossChunks) {
  for (const size_t n : {4095u, 4096u, 4097u, 8192u, 8193u, 12290u}) {
    std::string array = "[", shown = "[", dict = "#{";
    for (size_t i = 0; i < n; ++i) {
      const std::string sep = i ? (i % 1000 == 7 ? ", , " : ", ") : "";
      std::string item = std::to_string(i), item_shown = item;
      if (i % 4096 == 4095) item = item_shown = R"("a,]")";
      if (i % 4096 == 0 && i) item = "[" + item + ", \"x\"]", item_shown = "[" + std::to_string(i) + ", \"x\"]";
      array += sep + item;
      shown += (i ? ", " : "") + item_shown;
      dict += (i ? ", " : "") + std::string(i % 2 ? "k" : "j") + " = " + std::to_string(i);
    }
    array += "]";
    shown += "]";
    dict += "}#";
    Session plain = with_vars();
    EXPECT_EQ(plain.run(array), shown) << n;
    const std::string last_j = std::to_string((n - 1) % 2 ? n - 2 : n - 1);
    const std::string last_k = std::to_string((n - 1) % 2 ? n - 1 : n - 2);
    EXPECT_EQ(plain.run(dict), "{\"j\": " + last_j + ", \"k\": " + last_k + "}") << n;
    // The first failing item counts, wherever its chunk is.
    std::string bad = array;
    bad.insert(bad.size() - 1, ", nope, [");
    const size_t at = bad.size() - 8;
    EXPECT_EQ(plain.run(bad), "cannot parse value: `nope` @" + std::to_string(at) + "-" + std::to_string(at + 4)) << n;
  }
}

}  // namespace
}  // namespace brindle
