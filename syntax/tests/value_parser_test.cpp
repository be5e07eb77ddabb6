#include "value_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "display.h"

namespace brindle {
namespace {

constexpr uint64_t kBase = 1000;  // every text sits here, so spans are absolute
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Fail {
  std::string message;
  uint64_t start, end;  // relative to kBase
};
using Want = std::variant<Value, Fail>;
struct Case {
  std::string text;
  Want want;
};

Value S(std::string s) { return Value::string(std::move(s)); }
Value I(int64_t i) { return Value::integer(i); }
Value F(double d) { return Value::floating(d); }
Value A(Array a) { return Value::array(std::move(a)); }
Value D(Dict d) { return Value::dict(std::move(d)); }
Fail E(std::string message, uint64_t start, uint64_t end) {
  return {std::move(message), start, end};
}
Fail cannot(const std::string& t, uint64_t start, uint64_t end) {
  return {"cannot parse value: `" + t + "`", start, end};
}

struct Session {
  Dict vars;
  EmptyEnv env;
  std::vector<VariableRef> refs;
  ValueResult run(std::string_view text, bool operand = false) {
    ValueContext ctx{refs, vars, env, Span{kBase, kBase + text.size()}};
    ValueResult r = operand ? parse_operand(ctx, text, kBase) : parse_value(ctx, text, kBase);
    EXPECT_EQ(ctx.depth, 0) << "nesting level not restored: " << text;
    return r;
  }
};

std::string show(const ValueResult& r) {
  if (!failed(r)) return debug_text(std::get<Value>(r));
  const auto& f = std::get<ParseFailure>(r);
  return f.message + " @" + std::to_string(f.span.start) + "-" + std::to_string(f.span.end);
}

// Floats compare with their sign, so -0.0 is told apart from 0.0.
::testing::AssertionResult matches(const ValueResult& r, const Want& want) {
  const ValueResult expected =
      want.index() == 0 ? ValueResult(std::get<Value>(want))
                        : ValueResult(ParseFailure{std::get<Fail>(want).message,
                                                   {kBase + std::get<Fail>(want).start,
                                                    kBase + std::get<Fail>(want).end}});
  if (show(r) == show(expected) &&
      (failed(r) || std::get<Value>(r) == std::get<Value>(expected))) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "got " << show(r) << ", want " << show(expected);
}

TEST(Operand, LiteralForms) {
  const int64_t kMax = std::numeric_limits<int64_t>::max();
  const int64_t kMin = std::numeric_limits<int64_t>::min();
  const Case cases[] = {
      {R"("")", S("")},
      {R"("a\qb")", S("a\\qb")},  // unknown escapes keep both characters
      {R"("a\")", S("a\\")},      // so does a trailing backslash
      {R"("\\\n\r\t\"")", S("\\\n\r\t\"")},
      {R"("\u0041")", S("\\u0041")},
      {R"("a" "b")", S("a\" \"b")},
      {"\"\\\xC3\xA9$x\"", S("\\\xC3\xA9$x")},
      {"\"", E("unterminated string", 0, 1)},
      {"\"abc\"x", E("unterminated string", 0, 6)},
      {"true", Value::boolean(true)},
      {"null", Value::null()},
      {"TRUE", cannot("TRUE", 0, 4)},
      {"0x1F", I(31)}, {"0o17", I(15)}, {"0B101", I(5)},
      {"-0x10", I(-16)}, {"0x_ff", I(255)}, {"_1__0_", I(10)},
      {"9223372036854775807", I(kMax)},
      {"-9223372036854775807", I(-kMax)},
      {"9223372036854775808", cannot("9223372036854775808", 0, 19)},
      {"-9223372036854775808", cannot("-9223372036854775808", 0, 20)},
      {"-0x8000000000000000", cannot("-0x8000000000000000", 0, 19)},
      // After a leading minus the digits may carry one sign of their own;
      // the outer sign then applies with wrap-around.
      {"+5", I(5)}, {"-+5", I(-5)}, {"--5", I(5)}, {"++5", cannot("++5", 0, 3)},
      {"-0x-8000000000000000", I(kMin)},
      {"0x-8000000000000001", cannot("0x-8000000000000001", 0, 19)},
      {"0x", cannot("0x", 0, 2)},
      {"0b102", cannot("0b102", 0, 5)},
      {"0x1e5", I(485)},  // a prefix wins over the exponent letter
      {".5", F(0.5)}, {"5.", F(5.0)}, {"1_000.5", F(1000.5)}, {"1E5", F(1e5)},
      {"+1.5e+3", F(1500.0)}, {"-0.0", F(-0.0)},
      {"1e400", F(kInf)}, {"-1e400", F(-kInf)}, {"-1e-400", F(-0.0)},
      {"0.0000001e99999999999999999999", F(kInf)},
      {"123e-99999999999999999999", F(0.0)},
      {"9007199254740993.0", F(9007199254740992.0)},  // ties to even
      {"1.2.3", cannot("1.2.3", 0, 5)},
      {"1e+", cannot("1e+", 0, 3)},
      {"nan(e)", cannot("nan(e)", 0, 6)},
      {"inf", cannot("inf", 0, 3)},
      {"1 000", cannot("1 000", 0, 5)},
      {"-", cannot("-", 0, 1)},
      {"", cannot("", 0, 0)},
      {" x ", cannot("x", 0, 1)},  // trimmed, but the offset does not move
  };
  for (const auto& c : cases) {
    Session s;
    EXPECT_TRUE(matches(s.run(c.text, true), c.want)) << "[" << c.text << "]";
  }
}

TEST(Operand, ArraysAndInlineDicts) {
  const Case cases[] = {
      {"[ , ]", A({})},
      {"[1,,2,]", A({I(1), I(2)})},
      {R"([[1], #{a = "x,y"}#, "]"])", A({A({I(1)}), D({{"a", S("x,y")}}), S("]")})},
      {R"([1 + 2, null ?? 3, -4])", A({I(3), I(3), I(-4)})},
      {"[1, 2", E("malformed array", 0, 5)},
      {"[1 ,  x ]", cannot("x", 6, 7)},
      {"[1, [2, \"x]]", E("unterminated string", 8, 10)},
      {"[1, $nope]", E("undefined variable `$nope`", 4, 9)},
      {"#{}#", D({})},
      {"#{b = 1, a = 2, b = 3}#", D({{"a", I(2)}, {"b", I(3)}})},
      {R"(#{"x,y" = 1, "a\n" = 2, a.b c = 3, = 4}#)",
       D({{"x,y", I(1)}, {"a\\n", I(2)}, {"a.b c", I(3)}, {"", I(4)}})},
      {"#{\xC3\xA9 = [\"\xC3\xBC\"]}#", D({{"\xC3\xA9", A({S("\xC3\xBC")})}})},
      {"#{a = 1}", E("malformed inline dict", 0, 8)},
      // The span starts right after the comma, on the blanks, and is as long
      // as the trimmed entry.
      {"#{x = 1,  bad }#", E("inline dict entry missing `=`: `bad`", 8, 11)},
      {R"(#{" = 1}#)", E("inline dict entry missing `=`: `\" = 1`", 2, 7)},
      {"#{a = }#", E("empty value", 5, 5)},
      {"#{a = b = c}#", cannot("b = c", 6, 11)},
  };
  for (const auto& c : cases) {
    Session s;
    EXPECT_TRUE(matches(s.run(c.text, true), c.want)) << c.text;
  }
}

TEST(Scanners, SplitTopLevel) {
  using Pieces = std::vector<std::pair<std::string, uint64_t>>;
  const std::pair<std::string, Pieces> cases[] = {
      {"", {}},
      {",a,", {{"", 0}, {"a", 1}}},
      {R"("x,y",a\,b,c)", {{R"("x,y")", 0}, {R"(a\,b)", 6}, {"c", 11}}},
      {R"("a\",b",c)", {{R"("a\",b")", 0}, {"c", 8}}},  // escaped quote keeps it open
      {"[1,2],#{a=1,b=2}#,(3,4),{5}",
       {{"[1,2]", 0}, {"#{a=1,b=2}#", 6}, {"(3,4)", 18}, {"{5}", 24}}},
      {"[1,2),3", {{"[1,2)", 0}, {"3", 6}}},  // kinds are counted, not matched
      {"],a,b", {{"],a,b", 0}}},              // no floor at zero
      {"\xC3\xA9,\xC3\xBC", {{"\xC3\xA9", 0}, {"\xC3\xBC", 3}}},
  };
  for (const auto& [text, want] : cases) {
    Pieces got;
    for (const Piece& p : split_top_level(text, kBase)) got.emplace_back(p.text, p.offset - kBase);
    EXPECT_EQ(got, want) << text;
  }
}

TEST(Scanners, FindTopLevel) {
  const std::tuple<std::string, std::string, std::optional<size_t>> cases[] = {
      {R"("a=b" = c)", "=", 6}, {"[a=b] = c", "=", 6}, {"#{a=1}# = 2", "=", 8},
      {R"(a\=b=c)", "=", 4},    {")=1", "=", std::nullopt},
      {R"("??" ?? 1)", "??", 5}, {"[1 ?? 2]", "??", std::nullopt}, {"a ??? b", "??", 2},
      {"a ?", "??", std::nullopt},
  };
  for (const auto& [text, needle, want] : cases) {
    EXPECT_EQ(find_top_level(text, needle), want) << text;
  }
}

std::string nest(int levels, std::string_view open, std::string_view inner,
                 std::string_view close) {
  std::string t;
  for (int i = 0; i < levels; ++i) t += open;
  t += inner;
  for (int i = 0; i < levels; ++i) t += close;
  return t;
}

TEST(Nesting, StopsAtTheLimitWithTheSpanOfTheOpeningOperand) {
  const int k = kMaxValueDepth;
  const Case cases[] = {
      {nest(k + 1, "[", "", "]"), E("value nested too deeply", uint64_t(k), uint64_t(k) + 2)},
      // "#{a = " is 6 bytes; the innermost dict is "#{a = 1 }#".
      {nest(k + 1, "#{a = ", "1", " }#"), E("value nested too deeply", 6u * k, 6u * k + 10)},
      // Pairs of "[#{a = " (7 bytes): the 65th '[' opens level 129.
      {nest(k / 2 + 1, "[#{a = ", "1", " }#]"),
       E("value nested too deeply", 7u * (k / 2), 7u * (k / 2) + 12)},
      {nest(1, "[", nest(k, "[", "", "]"), ", 1]"),
       E("value nested too deeply", uint64_t(k), uint64_t(k) + 2)},
      {"[1, $deep]", E("value nested too deeply", 4, 9)},  // copies bring their own levels
      {std::string(1'000'000, '['), E("malformed array", 0, 1'000'000)},
  };
  Session s;
  for (const auto& text :
       {nest(k, "[", "", "]"), nest(k, "#{a = ", "1", " }#"), nest(k / 2, "[#{a = ", "1", " }#]")}) {
    EXPECT_FALSE(failed(s.run(text))) << show(s.run(text));
  }
  s.vars.emplace("deep", std::get<Value>(s.run(nest(k, "[", "", "]"))));
  EXPECT_FALSE(failed(s.run("$deep")));
  for (const auto& c : cases) EXPECT_TRUE(matches(s.run(c.text), c.want)) << c.text.substr(0, 40);
}

// Byte soup from the grammar's own punctuation: whatever the outcome, every
// span stays inside the text. Under the sanitizers this also guards indexing.
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
  s.vars.emplace("a", I(1));
  for (int round = 0; round < 20000; ++round) {
    std::string text(next() % 24, ' ');
    for (char& c : text) c = alphabet[next() % alphabet.size()];
    const ValueResult r = s.run(text);
    if (!failed(r)) continue;
    const Span span = std::get<ParseFailure>(r).span;
    EXPECT_TRUE(kBase <= span.start && span.start <= span.end && span.end <= kBase + text.size())
        << text << " -> " << show(r);
  }
}

}  // namespace
}  // namespace brindle
