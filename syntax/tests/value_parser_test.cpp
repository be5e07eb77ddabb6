#include "value_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "display.h"

namespace brindle {
namespace {

// Every text is placed at this source offset so spans are checked as
// absolute positions.
constexpr uint64_t kBase = 1000;

Value str(std::string s) { return Value::string(std::move(s)); }
Value num(int64_t i) { return Value::integer(i); }
Value flt(double d) { return Value::floating(d); }
Value arr(Array a) { return Value::array(std::move(a)); }
Value dict(Dict d) { return Value::dict(std::move(d)); }

struct Session {
  Dict vars;
  EmptyEnv env;
  std::vector<VariableRef> refs;

  ValueResult operand(std::string_view text) {
    ValueContext ctx{refs, vars, env, Span{kBase, kBase + text.size()}};
    ValueResult r = parse_operand(ctx, text, kBase);
    EXPECT_EQ(ctx.depth, 0) << "nesting level not restored after " << text;
    return r;
  }
  ValueResult value(std::string_view text) {
    ValueContext ctx{refs, vars, env, Span{kBase, kBase + text.size()}};
    ValueResult r = parse_value(ctx, text, kBase);
    EXPECT_EQ(ctx.depth, 0) << "nesting level not restored after " << text;
    return r;
  }
};

std::string describe(const ValueResult& r) {
  if (failed(r)) {
    const auto& f = std::get<ParseFailure>(r);
    return "failure \"" + f.message + "\" at (" + std::to_string(f.span.start) + ", " +
           std::to_string(f.span.end) + ")";
  }
  return debug_text(std::get<Value>(r));
}

::testing::AssertionResult yields(const ValueResult& r, const Value& expected) {
  if (!failed(r) && std::get<Value>(r) == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << describe(r) << ", want " << debug_text(expected);
}

// `start`/`end` are relative to kBase.
::testing::AssertionResult fails(const ValueResult& r, const std::string& message, uint64_t start,
                                 uint64_t end) {
  if (failed(r)) {
    const auto& f = std::get<ParseFailure>(r);
    if (f.message == message && f.span == Span{kBase + start, kBase + end}) {
      return ::testing::AssertionSuccess();
    }
  }
  return ::testing::AssertionFailure() << "got " << describe(r) << ", want failure \"" << message
                                       << "\" at (" << kBase + start << ", " << kBase + end << ")";
}

std::string cannot(std::string_view t) { return "cannot parse value: `" + std::string(t) + "`"; }

struct OperandCase {
  std::string text;
  Value want;
};

TEST(Operand, StringsKeywordsAndIntegers) {
  const int64_t kMin = std::numeric_limits<int64_t>::min();
  const int64_t kMax = std::numeric_limits<int64_t>::max();
  const OperandCase cases[] = {
      {R"("")", str("")},
      {R"("abc")", str("abc")},
      {R"("a\qb")", str("a\\qb")},             // unknown escape keeps both characters
      {R"("a\")", str("a\\")},                 // a trailing backslash is kept
      {R"("a\\b")", str("a\\b")},
      {R"("\n\r\t\"")", str("\n\r\t\"")},
      {R"("\u0041")", str("\\u0041")},
      {R"("a" "b")", str("a\" \"b")},          // inner quotes are plain content
      {R"("$x + 1")", str("$x + 1")},
      {"\"\xC3\xA9\"", str("\xC3\xA9")},
      {"\"\\\xC3\xA9\"", str("\\\xC3\xA9")},   // backslash before a multi-byte character
      {"true", Value::boolean(true)},
      {"false", Value::boolean(false)},
      {"null", Value::null()},
      {"0", num(0)},
      {"-0", num(0)},
      {"007", num(7)},
      {"0x1F", num(31)},
      {"0X1f", num(31)},
      {"0o17", num(15)},
      {"0b101", num(5)},
      {"-0x10", num(-16)},
      {"0x_ff", num(255)},
      {"1_000_000", num(1000000)},
      {"_1__0_", num(10)},
      {"9223372036854775807", num(kMax)},
      {"-9223372036854775807", num(-kMax)},
      {"0x7fffffffffffffff", num(kMax)},
      // After a leading minus, the remaining text may carry one sign of its
      // own; the outer sign then applies with wrap-around.
      {"+5", num(5)},
      {"-+5", num(-5)},
      {"--5", num(5)},
      {"0x-5", num(-5)},
      {"0x-8000000000000000", num(kMin)},
      {"-0x-8000000000000000", num(kMin)},
  };
  for (const auto& c : cases) {
    Session s;
    EXPECT_TRUE(yields(s.operand(c.text), c.want)) << c.text;
  }
}

TEST(Operand, Floats) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    std::string text;
    double want;
    bool negative;
  } cases[] = {
      {".5", 0.5, false},
      {"5.", 5.0, false},
      {"1_000.5", 1000.5, false},
      {"1e5", 100000.0, false},
      {"1E5", 100000.0, false},
      {"1.5e+3", 1500.0, false},
      {"2.5e-3", 0.0025, false},
      {"0.1", 0.1, false},
      {"+1.5", 1.5, false},
      {"-2.25", -2.25, true},
      {"-0.0", 0.0, true},
      {"1e400", inf, false},
      {"-1e400", -inf, true},
      {"0.000001e-400", 0.0, false},
      {"1e-400", 0.0, false},
      {"-1e-400", 0.0, true},
      {"123456789e-999999999999999999999", 0.0, false},
      {"0.0000001e99999999999999999999", inf, false},
      {"4.9e-324", 4.9e-324, false},
      {"1.7976931348623157e308", 1.7976931348623157e308, false},
      {"1.7976931348623159e308", inf, false},
      {"9007199254740993.0", 9007199254740992.0, false},  // ties to even
  };
  for (const auto& c : cases) {
    Session s;
    const ValueResult r = s.operand(c.text);
    ASSERT_TRUE(yields(r, flt(c.want))) << c.text;
    EXPECT_EQ(std::signbit(std::get<Value>(r).as_float()), c.negative) << c.text;
  }
}

TEST(Operand, Rejections) {
  const struct {
    std::string text;
    std::string message;
    uint64_t start, end;
  } cases[] = {
      {"", cannot(""), 0, 0},
      {"TRUE", cannot("TRUE"), 0, 4},
      {"True", cannot("True"), 0, 4},
      {"NULL", cannot("NULL"), 0, 4},
      {"nil", cannot("nil"), 0, 3},
      {"hello", cannot("hello"), 0, 5},
      {"inf", cannot("inf"), 0, 3},
      {"nan", cannot("nan"), 0, 3},
      {"infinity.", cannot("infinity."), 0, 9},
      {"nan(e)", cannot("nan(e)"), 0, 6},
      {"0x", cannot("0x"), 0, 2},
      {"0b102", cannot("0b102"), 0, 5},
      {"0x1G", cannot("0x1G"), 0, 4},
      {"0xffffffffffffffff", cannot("0xffffffffffffffff"), 0, 18},
      {"-0x8000000000000000", cannot("-0x8000000000000000"), 0, 19},
      {"9223372036854775808", cannot("9223372036854775808"), 0, 19},
      {"-9223372036854775808", cannot("-9223372036854775808"), 0, 20},
      {"1.2.3", cannot("1.2.3"), 0, 5},
      {".", cannot("."), 0, 1},
      {"1e", cannot("1e"), 0, 2},
      {"1e+", cannot("1e+"), 0, 3},
      {"e5", cannot("e5"), 0, 2},
      {"1 000", cannot("1 000"), 0, 5},
      {"++5", cannot("++5"), 0, 3},
      {"-", cannot("-"), 0, 1},
      {"_", cannot("_"), 0, 1},
      {"(1 + 2)", cannot("(1 + 2)"), 0, 7},
      {"\xD9\xA1", cannot("\xD9\xA1"), 0, 2},  // a non-ASCII digit
      {" x ", cannot("x"), 0, 1},                // trimmed, offset unchanged
      {"\"", "unterminated string", 0, 1},
      {"\"abc", "unterminated string", 0, 4},
      {"\"abc\"x", "unterminated string", 0, 6},
  };
  for (const auto& c : cases) {
    Session s;
    EXPECT_TRUE(fails(s.operand(c.text), c.message, c.start, c.end)) << "[" << c.text << "]";
  }
}

TEST(Operand, ArraysAndInlineDicts) {
  Dict ab;
  ab.emplace("a", num(2));
  ab.emplace("b", num(1));
  Dict nested;
  nested.emplace("k", arr({num(1), num(2)}));
  nested.emplace("n", dict({{"x", num(1)}}));
  const OperandCase cases[] = {
      {"[]", arr({})},
      {"[ , ]", arr({})},
      {"[1,,2,]", arr({num(1), num(2)})},
      {"[[1], [2, [3]]]", arr({arr({num(1)}), arr({num(2), arr({num(3)})})})},
      {R"([#{a = 1}#, "x,y", "]"])", arr({dict({{"a", num(1)}}), str("x,y"), str("]")})},
      {R"([1 + 2, null ?? 3, "a" + 1, -4])", arr({num(3), num(3), str("a1"), num(-4)})},
      {"[\"\xC3\xA9\", \"\xC3\xBC\"]", arr({str("\xC3\xA9"), str("\xC3\xBC")})},
      {"#{}#", dict({})},
      {"#{ , }#", dict({})},
      {"#{a = 1, a = 2}#", dict({{"a", num(2)}})},
      {"#{b = 1, a = 2}#", dict(ab)},
      {R"(#{"x,y" = 1}#)", dict({{"x,y", num(1)}})},
      {R"(#{"a=b" = 1}#)", dict({{"a=b", num(1)}})},
      {R"(#{"a\n" = 1}#)", dict({{"a\\n", num(1)}})},  // quoted keys are verbatim
      {R"(#{"" = 1}#)", dict({{"", num(1)}})},
      {"#{ = 1}#", dict({{"", num(1)}})},
      {"#{a.b = 1, a b = 2}#", dict({{"a.b", num(1)}, {"a b", num(2)}})},
      {"#{k = [1, 2], n = #{x = 1}#}#", dict(nested)},
      {"#{\xC3\xA9 = \"\xC3\xBC\"}#", dict({{"\xC3\xA9", str("\xC3\xBC")}})},
      {"#{x = null ?? 4}#", dict({{"x", num(4)}})},
  };
  for (const auto& c : cases) {
    Session s;
    EXPECT_TRUE(yields(s.operand(c.text), c.want)) << c.text;
  }
  // Keys come out in byte order whatever the source order.
  Session s;
  const ValueResult r = s.operand("#{b = 1, B = 2, a = 3}#");
  ASSERT_FALSE(failed(r));
  std::string order;
  for (const auto& [k, v] : std::get<Value>(r).as_dict()) order += k;
  EXPECT_EQ(order, "Bab");
}

TEST(Operand, ArrayAndDictFailuresCarryTheirOwnSpans) {
  const struct {
    std::string text;
    std::string message;
    uint64_t start, end;
  } cases[] = {
      {"[", "malformed array", 0, 1},
      {"[1, 2", "malformed array", 0, 5},
      {"[1 ,  x ]", cannot("x"), 6, 7},
      {"[1, $nope]", "undefined variable `$nope`", 4, 9},
      {"[1, [2, \"x]]", "unterminated string", 8, 10},
      {"[1 / 0]", "invalid operands for `/`", 3, 4},
      {"[, ??]", "empty value", 3, 3},
      {"#{a = 1}", "malformed inline dict", 0, 8},
      {"#{a = 1}}", "malformed inline dict", 0, 9},
      {"#{a}#", "inline dict entry missing `=`: `a`", 2, 3},
      // The span starts right after the comma, on the blanks.
      {"#{x = 1,  bad }#", "inline dict entry missing `=`: `bad`", 8, 11},
      {R"(#{"a=b"}#)", "inline dict entry missing `=`: `\"a=b\"`", 2, 7},
      {"#{[a = 1]}#", "inline dict entry missing `=`: `[a = 1]`", 2, 9},
      {"#{a = }#", "empty value", 5, 5},
      {R"(#{" = 1}#)", "inline dict entry missing `=`: `\" = 1`", 2, 7},  // the quote hides the `=`
      {"#{a = x}#", cannot("x"), 6, 7},
      {"#{a = b = c}#", cannot("b = c"), 6, 11},
      {"#{a = 1, b = [}#", "malformed array", 13, 14},
  };
  for (const auto& c : cases) {
    Session s;
    EXPECT_TRUE(fails(s.operand(c.text), c.message, c.start, c.end)) << c.text;
  }
}

TEST(SplitTopLevel, CutsAtCommasOutsideQuotesAndBrackets) {
  using Pieces = std::vector<std::pair<std::string, uint64_t>>;
  const struct {
    std::string text;
    Pieces want;
  } cases[] = {
      {"", {}},
      {"a,b", {{"a", 0}, {"b", 2}}},
      {"a,", {{"a", 0}}},
      {",", {{"", 0}}},
      {",a", {{"", 0}, {"a", 1}}},
      {" 1 ,, 2 ", {{" 1 ", 0}, {"", 4}, {" 2 ", 5}}},
      {R"("x,y",z)", {{R"("x,y")", 0}, {"z", 6}}},
      {R"("a\",b",c)", {{R"("a\",b")", 0}, {"c", 8}}},  // escaped quote keeps the quote open
      {R"(a\,b,c)", {{R"(a\,b)", 0}, {"c", 5}}},        // escaped comma outside quotes
      {"[1,2],#{a=1,b=2}#,(3,4),{5,6}",
       {{"[1,2]", 0}, {"#{a=1,b=2}#", 6}, {"(3,4)", 18}, {"{5,6}", 24}}},
      {"[1,2),3", {{"[1,2)", 0}, {"3", 6}}},  // kinds are not matched, only counted
      {"],a,b", {{"],a,b", 0}}},       // depth goes below zero and stays there
      {"#{}#,x", {{"#{}#", 0}, {"x", 5}}},
      {"\xC3\xA9,\xC3\xBC", {{"\xC3\xA9", 0}, {"\xC3\xBC", 3}}},
  };
  for (const auto& c : cases) {
    Pieces got;
    for (const Piece& p : split_top_level(c.text, kBase)) got.emplace_back(std::string(p.text), p.offset - kBase);
    EXPECT_EQ(got, c.want) << c.text;
  }
}

TEST(FindTopLevel, FirstMatchOutsideQuotesAndBrackets) {
  const struct {
    std::string text, needle;
    std::optional<size_t> want;
  } cases[] = {
      {"a = b", "=", 2},
      {R"("a=b" = c)", "=", 6},
      {"[a=b] = c", "=", 6},
      {"(a)=b", "=", 3},
      {"#{a=1}# = 2", "=", 8},
      {R"(a\=b=c)", "=", 4},
      {"a = b = c", "=", 2},
      {"x", "=", std::nullopt},
      {"", "=", std::nullopt},
      {")=1", "=", std::nullopt},
      {"null ?? 1", "??", 5},
      {R"("??" ?? 1)", "??", 5},
      {"[1 ?? 2]", "??", std::nullopt},
      {"#{a = null ?? 1}#", "??", std::nullopt},
      {"a ??? b", "??", 2},
      {"a ?", "??", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(find_top_level(c.text, c.needle), c.want) << c.text;
}

std::string nested_arrays(int levels) { return std::string(levels, '[') + std::string(levels, ']'); }

int nesting_of(const Value& v) {
  int levels = 0;
  const Value* cur = &v;
  while (cur->is(Tag::Array) || cur->is(Tag::Dict)) {
    ++levels;
    if (cur->is(Tag::Array)) {
      if (cur->as_array().empty()) break;
      cur = &cur->as_array().front();
    } else {
      if (cur->as_dict().empty()) break;
      cur = &cur->as_dict().begin()->second;
    }
  }
  return levels;
}

TEST(Nesting, ArraysAndDictsStopAtTheLimit) {
  Session s;
  const ValueResult ok = s.value(nested_arrays(kMaxValueDepth));
  ASSERT_FALSE(failed(ok)) << describe(ok);
  EXPECT_EQ(nesting_of(std::get<Value>(ok)), kMaxValueDepth);

  // The innermost "[]" opens level 129.
  EXPECT_TRUE(fails(s.value(nested_arrays(kMaxValueDepth + 1)), "value nested too deeply",
                    kMaxValueDepth, kMaxValueDepth + 2));

  const auto nested_dicts = [](int levels) {
    std::string t;
    for (int i = 0; i < levels; ++i) t += "#{a = ";
    t += "1";
    for (int i = 0; i < levels; ++i) t += " }#";
    return t;
  };
  const ValueResult dicts = s.value(nested_dicts(kMaxValueDepth));
  ASSERT_FALSE(failed(dicts)) << describe(dicts);
  EXPECT_EQ(nesting_of(std::get<Value>(dicts)), kMaxValueDepth);
  // Each level adds the 6 bytes "#{a = "; the innermost dict is "#{a = 1 }#".
  EXPECT_TRUE(fails(s.value(nested_dicts(kMaxValueDepth + 1)), "value nested too deeply",
                    6 * kMaxValueDepth, 6 * kMaxValueDepth + 10));

  // Arrays holding dicts count alike: 65 pairs of "[#{a = " open 130 levels
  // and the 65th '[' (7 bytes per pair) opens level 129.
  const auto mixed = [](int pairs) {
    std::string t;
    for (int i = 0; i < pairs; ++i) t += "[#{a = ";
    t += "1";
    for (int i = 0; i < pairs; ++i) t += " }#]";
    return t;
  };
  EXPECT_FALSE(failed(s.value(mixed(kMaxValueDepth / 2))));
  EXPECT_TRUE(fails(s.value(mixed(kMaxValueDepth / 2 + 1)), "value nested too deeply",
                    7 * (kMaxValueDepth / 2), 7 * (kMaxValueDepth / 2) + 12));
  // Inside one more array the 128 levels of `nested` reach 129 one step sooner.
  std::string outer = "[";
  outer += nested_arrays(kMaxValueDepth);
  outer += ", 1]";
  EXPECT_TRUE(fails(s.value(outer), "value nested too deeply", kMaxValueDepth, kMaxValueDepth + 2));
}

TEST(Nesting, CopiedVariablesCountTowardsTheLimit) {
  Session s;
  s.vars.emplace("deep", std::get<Value>(s.value(nested_arrays(kMaxValueDepth))));
  s.vars.emplace("flat", num(1));
  EXPECT_FALSE(failed(s.value("$deep")));
  EXPECT_TRUE(yields(s.value("[[[$flat]]]"), arr({arr({arr({num(1)})})})));
  EXPECT_TRUE(fails(s.value("[1, $deep]"), "value nested too deeply", 4, 9));
  EXPECT_TRUE(fails(s.value("#{k = $deep}#"), "value nested too deeply", 6, 11));
}

TEST(Nesting, UnclosedDeepTextFailsWithoutDescending) {
  Session s;
  // A million open brackets: the outermost operand is already malformed.
  const std::string text(1'000'000, '[');
  EXPECT_TRUE(fails(s.value(text), "malformed array", 0, text.size()));
}

// Arbitrary byte soup built from the grammar's own punctuation: whatever the
// outcome, every span stays inside the text and the nesting level is back at
// zero. Run under the sanitizers this also guards every index.
TEST(Robustness, ArbitraryBytesStayInsideTheirText) {
  const std::string alphabet = "\"\\[]{}()#,=?+-*/$._ 0x1e9aEnulltrfs\t\xC3\xA9\xE3\x80\x80\xFF";
  uint64_t state = 0x9E3779B97F4A7C15u;
  const auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  Session s;
  s.vars.emplace("a", num(1));
  for (int round = 0; round < 20000; ++round) {
    std::string text(next() % 24, ' ');
    for (char& c : text) c = alphabet[next() % alphabet.size()];
    const ValueResult r = s.value(text);
    if (failed(r)) {
      const Span span = std::get<ParseFailure>(r).span;
      EXPECT_LE(span.start, span.end) << text;
      EXPECT_GE(span.start, kBase) << text;
      EXPECT_LE(span.end, kBase + text.size()) << text;
    }
  }
  for (const VariableRef& ref : s.refs) EXPECT_GE(ref.span.start, kBase);
}

}  // namespace
}  // namespace brindle
