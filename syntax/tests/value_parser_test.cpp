#include "value_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace brindle {
namespace {

// One operand: its value as brief() shows it, or "message @start-end".
TEST(Operand, LiteralsArraysAndInlineDicts) {
  const std::pair<std::string, std::string> cases[] = {
      {R"("")", R"("")"},
      {R"("a\qb")", R"("a\\qb")"}, {R"("\u0041")", R"("\\u0041")"},  // unknown escapes stay as written
      {R"("a\")", R"("a\\")"},                                         // so does a trailing backslash
      {R"("\\\n\r\t\"")", R"("\\\n\r\t\"")"},
      {R"("a" "b")", R"("a\" \"b")"},
      {"\"\\\xC3\xA9$x\"", "\"\\\\\xC3\xA9$x\""},
      {"\"", "unterminated string @0-1"}, {"\"abc\"x", "unterminated string @0-6"},
      {"true", "true"}, {"null", "null"}, {"TRUE", "cannot parse value: `TRUE` @0-4"},
      {"0x1F", "31"}, {"0o17", "15"}, {"0B101", "5"}, {"-0x10", "-16"},
      {"0x_ff", "255"}, {"_1__0_", "10"},  // underscores vanish wherever they stand
      {"9223372036854775807", "9223372036854775807"},
      {"9223372036854775808", "cannot parse value: `9223372036854775808` @0-19"},
      {"-9223372036854775808", "cannot parse value: `-9223372036854775808` @0-20"},
      // After a leading minus the digits may carry one sign of their own;
      // the outer sign then applies with wrap-around.
      {"+5", "5"}, {"--5", "5"}, {"++5", "cannot parse value: `++5` @0-3"},
      {"-0x-8000000000000000", "-9223372036854775808"},
      {"0x-8000000000000001", "cannot parse value: `0x-8000000000000001` @0-19"},
      {"0x", "cannot parse value: `0x` @0-2"}, {"0b102", "cannot parse value: `0b102` @0-5"},
      {"0x1e5", "485"},  // a prefix wins over the exponent letter
      {".5", "0.5"}, {"5.", "5.0"}, {"1_000.5", "1000.5"}, {"1E5", "100000.0"}, {"+1.5e+3", "1500.0"},
      {"-0.0", "-0.0"}, {"1e400", "inf"}, {"--1e400", "inf"},
      {"0.0000001e99999999999999999999", "inf"}, {"123e-99999999999999999999", "0.0"},
      {"9007199254740993.0", "9007199254740992.0"},  // ties to even
      {"1.2.3", "cannot parse value: `1.2.3` @0-5"}, {"1e+", "cannot parse value: `1e+` @0-3"},
      {"nan(e)", "cannot parse value: `nan(e)` @0-6"}, {"inf", "cannot parse value: `inf` @0-3"},
      {"1 000", "cannot parse value: `1 000` @0-5"}, {"-", "cannot parse value: `-` @0-1"},
      {"", "cannot parse value: `` @0-0"},
      {" x ", "cannot parse value: `x` @0-1"},  // trimmed, but the offset does not move
      {"[ , ]", "[]"}, {"[1,,2,]", "[1, 2]"},
      {R"([[1], #{a = "x,y"}#, "]"])", R"([[1], {"a": "x,y"}, "]"])"},
      {"[1 + 2, null ?? 3, -4]", "[3, 3, -4]"},
      {"[1, 2", "malformed array @0-5"},
      {"[1 ,  x ]", "cannot parse value: `x` @6-7"},
      {"[1, [2, \"x]]", "unterminated string @8-10"},
      {"#{}#", "{}"},
      {"#{b = 1, a = 2, b = 3}#", R"({"a": 2, "b": 3})"},
      {R"(#{"x,y" = 1, "a\n" = 2, a.b c = 3, = 4}#)", R"({"": 4, "a.b c": 3, "a\\n": 2, "x,y": 1})"},
      {"#{a = 1}", "malformed inline dict @0-8"},
      // The span starts right after the comma, on the blanks, and is as long
      // as the trimmed entry.
      {"#{x = 1,  bad }#", "inline dict entry missing `=`: `bad` @8-11"},
      {R"(#{" = 1}#)", "inline dict entry missing `=`: `\" = 1` @2-7"},
      {"#{a = }#", "empty value @5-5"},
      {"#{a = b = c}#", "cannot parse value: `b = c` @6-11"},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(Session().run(text, true), want) << "[" << text << "]";
}

TEST(Scanners, SplitAndFindOutsideQuotesAndBrackets) {
  const std::pair<std::string, std::string> splits[] = {  // each piece as text@offset
      {"", ""}, {",a,", "@0 a@1 "},
      {R"("x,y",a\,b,c)", R"("x,y"@0 a\,b@6 c@11 )"},
      {R"("a\",b",c)", R"("a\",b"@0 c@8 )"},  // an escaped quote keeps the quotes open
      {"[1,2],#{a=1,b=2}#,(3,4),{5}", "[1,2]@0 #{a=1,b=2}#@6 (3,4)@18 {5}@24 "},
      {"[1,2),3", "[1,2)@0 3@6 "},  // kinds are counted, not matched
      {"],a,b", "],a,b@0 "},        // no floor at zero
  };
  for (const auto& [text, want] : splits) {
    std::string got;
    for (const Piece& p : split_top_level(text, kBase)) {
      got.append(p.text).append(1, '@').append(std::to_string(p.offset - kBase)).append(1, ' ');
    }
    EXPECT_EQ(got, want) << text;
  }
  const std::tuple<std::string, std::string, std::optional<size_t>> finds[] = {
      {R"("a=b" = c)", "=", 6}, {"[a=b] = c", "=", 6}, {"#{a=1}# = 2", "=", 8}, {R"(a\=b=c)", "=", 4},
      {")=1", "=", std::nullopt}, {R"("??" ?? 1)", "??", 5}, {"[1 ?? 2]", "??", std::nullopt},
      {"a ??? b", "??", 2}, {"a ?", "??", std::nullopt},
  };
  for (const auto& [text, needle, want] : finds) EXPECT_EQ(find_top_level(text, needle), want) << text;
}

std::string nest(int levels, std::string_view open, std::string_view inner, std::string_view close) {
  return repeat(open, levels).append(inner).append(repeat(close, levels));
}

TEST(Nesting, StopsAtTheLimitWithTheSpanOfTheOpeningOperand) {
  const int k = kMaxValueDepth;
  const auto too_deep = [](uint64_t start, uint64_t end) {
    return std::string("value nested too deeply ").append(show(Span{start, end}));
  };
  Session s;
  s.vars["deep"] = Value::array({});
  for (int i = 1; i < k; ++i) s.vars["deep"] = Value::array({s.vars["deep"]});
  const std::pair<std::string, std::string> cases[] = {
      {nest(k, "[", "", "]"), nest(k, "[", "", "]")},
      {"$deep", nest(k, "[", "", "]") + " | deep:0@0-5"},
      {nest(k, "#{a = ", "1", " }#"), nest(k, "{\"a\": ", "1", "}")},
      {nest(k / 2, "[#{a = ", "1", " }#]"), nest(k / 2, "[{\"a\": ", "1", "}]")},
      {nest(k + 1, "[", "", "]"), too_deep(k, k + 2)},
      {nest(k + 1, "#{a = ", "1", " }#"), too_deep(6 * k, 6 * k + 10)},  // the innermost "#{a = 1 }#"
      {nest(k / 2 + 1, "[#{a = ", "1", " }#]"), too_deep(7 * (k / 2), 7 * (k / 2) + 12)},  // the 65th '['
      {nest(1, "[", nest(k, "[", "", "]"), ", 1]"), too_deep(k, k + 2)},
      {"[1, $deep]", too_deep(4, 9)},  // copies bring their own levels
      {std::string(1'000'000, '['), "malformed array @0-1000000"},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(s.run(text), want) << text.substr(0, 40);
}

// Byte soup from the grammar's own punctuation: whatever the outcome, every
// span stays inside the text. Under the sanitizers this also guards indexing.
TEST(Robustness, ArbitraryBytesStayInsideTheirText) {
  const std::string alphabet = "\"\\[]{}()#,=?+-*/$._ 0x1e9aEnulltrfs\t\xC3\xA9\xE3\x80\x80\xFF";
  uint64_t state = 0x9E3779B97F4A7C15u;
  const auto next = [&state] {  // xorshift
    state ^= state << 13, state ^= state >> 7;
    return state ^= state << 17;
  };
  std::vector<VariableRef> refs;
  const Dict vars{{"a", I(1)}};
  const EmptyEnv env;
  for (int round = 0; round < 20000; ++round) {
    std::string text(next() % 24, ' ');
    for (char& c : text) c = alphabet[next() % alphabet.size()];
    ValueContext ctx{refs, vars, env, Span{kBase, kBase + text.size()}};
    const ValueResult r = parse_value(ctx, text, kBase);
    const Span span = failed(r) ? std::get<ParseFailure>(r).span : Span{kBase, kBase};
    EXPECT_TRUE(kBase <= span.start && span.start <= span.end && span.end <= kBase + text.size())
        << text << " -> " << outcome(r);
    EXPECT_EQ(ctx.depth, 0) << text;
  }
}

}  // namespace
}  // namespace brindle
