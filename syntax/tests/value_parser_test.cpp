#include "value_parser.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <tuple>

#include "test_support.h"

namespace brindle {
namespace {

// One operand: its value as brief() shows it, or "message @start-end".
TEST(Operand, LiteralsArraysAndInlineDicts) {
  const std::pair<std::string, std::string> cases[] = {
      {R"("a\qb")", R"("a\\qb")"}, {R"("a\")", R"("a\\")"},  // unknown escapes and a trailing backslash stay
      {R"("\\\n\r\t\"")", R"("\\\n\r\t\"")"}, {R"("a" "b")", R"("a\" \"b")"},
      {"\"abc\"x", "unterminated string @0-6"}, {"null", "null"}, {"TRUE", "cannot parse value: `TRUE` @0-4"},
      {"0B101", "5"}, {"-0x10", "-16"}, {"_1__0_", "10"},  // underscores vanish wherever they stand
      {"9223372036854775808", "cannot parse value: `9223372036854775808` @0-19"},
      {"-9223372036854775808", "cannot parse value: `-9223372036854775808` @0-20"},
      // After a leading minus the digits may carry one sign of their own;
      // the outer sign then applies with wrap-around.
      {"+5", "5"}, {"--5", "5"}, {"++5", "cannot parse value: `++5` @0-3"},
      {"9223372036854775807", "9223372036854775807"}, {"-0x-8000000000000000", "-9223372036854775808"},
      {"0x-8000000000000001", "cannot parse value: `0x-8000000000000001` @0-19"},
      {"0b102", "cannot parse value: `0b102` @0-5"}, {"0x1e5", "485"},  // a prefix wins over the exponent letter
      {".5", "0.5"}, {"5.", "5.0"}, {"1E5", "100000.0"}, {"-0.0", "-0.0"}, {"--1e400", "inf"},
      {"0.0000001e99999999999999999999", "inf"}, {"123e-99999999999999999999", "0.0"},
      // ties to even; infinity is a result, not a literal
      {"9007199254740993.0", "9007199254740992.0"}, {"inf", "cannot parse value: `inf` @0-3"},
      {"", "cannot parse value: `` @0-0"}, {" x ", "cannot parse value: `x` @0-1"},  // the offset does not move
      {"[1,,2,]", "[1, 2]"}, {R"([[1], #{a = "x,y"}#, "]"])", R"([[1], {"a": "x,y"}, "]"])"},
      {"[1 + 2, null ?? 3, -4]", "[3, 3, -4]"}, {"[1, 2", "malformed array @0-5"},
      {"[1 ,  x ]", "cannot parse value: `x` @6-7"}, {"[1, [2, \"x]]", "unterminated string @8-10"},
      {R"(#{"x,y" = 1, "a\n" = 2, a.b c = 3, = 4, a.b c = 5}#)", R"({"": 4, "a.b c": 5, "a\\n": 2, "x,y": 1})"},
      {"#{a = 1}", "malformed inline dict @0-8"},
      // the span starts right after the comma and is as long as the trimmed entry
      {"#{x = 1,  bad }#", "inline dict entry missing `=`: `bad` @8-11"},
      {"#{a = }#", "empty value @5-5"}, {"#{a = b = c}#", "cannot parse value: `b = c` @6-11"},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(Session().run(text, true), want) << "[" << text << "]";
}

// The pieces of a split as text@offset, then where `=` and `??` are found (=@- when not).
TEST(Scanners, SplitAndFindOutsideQuotesAndBrackets) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "=@- ??@-"}, {",a,", "@0 a@1 =@- ??@-"}, {R"("x,y",a\,b,c)", R"("x,y"@0 a\,b@6 c@11 =@- ??@-)"},
      {R"("a\",b",c)", R"("a\",b"@0 c@8 =@- ??@-)"},  // an escaped quote keeps the quotes open
      {"[1,2],#{a=1}#,(3,4),{5}", "[1,2]@0 #{a=1}#@6 (3,4)@14 {5}@20 =@- ??@-"},
      {"[1,2),3", "[1,2)@0 3@6 =@- ??@-"}, {"],a=b,c", "],a=b,c@0 =@- ??@-"},  // kinds are counted, not matched; no floor
      {R"("a=b" = c)", R"("a=b" = c@0 =@6 ??@-)"}, {R"(a\=b=c)", R"(a\=b=c@0 =@4 ??@-)"},
      {"[1 ?? 2]", "[1 ?? 2]@0 =@- ??@-"}, {"a ??? b", "a ??? b@0 =@- ??@2"}, {"a ?", "a ?@0 =@- ??@-"},
  };
  for (const auto& [text, want] : cases) {
    std::string got;
    for (const Piece& p : split_top_level(text, kBase))
      got.append(p.text).append(1, '@').append(std::to_string(p.offset - kBase) + " ");
    for (const std::string needle : {"=", "??"}) {
      const auto at = find_top_level(text, needle);
      got.append(needle == "=" ? "" : " ").append(needle).append(1, '@').append(at ? std::to_string(*at) : "-");
    }
    EXPECT_EQ(got, want) << text;
  }
}

TEST(Nesting, StopsAtTheLimitWithTheSpanOfTheOpeningOperand) {
  const int k = kMaxValueDepth;
  const auto nest = [](int n, std::string_view open, std::string_view in, std::string_view close) {
    return repeat(open, n).append(in).append(repeat(close, n));
  };
  Session s;
  s.vars["deep"] = Value::array({});
  for (int i = 1; i < k; ++i) s.vars["deep"] = Value::array({s.vars["deep"]});
  const std::pair<std::string, std::string> cases[] = {
      {nest(k, "[", "", "]"), nest(k, "[", "", "]")}, {"$deep", nest(k, "[", "", "]") + " | deep:0@0-5"},
      {nest(k, "#{a = ", "1", " }#"), nest(k, "{\"a\": ", "1", "}")},
      {nest(k + 1, "[", "", "]"), "value nested too deeply @128-130"},
      {nest(k / 2 + 1, "[#{a = ", "1", " }#]"), "value nested too deeply @448-460"},  // the 65th '['
      {"[1, $deep]", "value nested too deeply @4-9"},  // copies bring their own levels
      {std::string(1'000'000, '['), "malformed array @0-1000000"},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(s.run(text), want) << text.substr(0, 40);
}

// String contents unescape exactly as a byte-by-byte reading of the escape
// rules: known escapes become their byte, any other backslash stays, and
// the byte after it is kept as written.
TEST(Operand, StringEscapesMatchAByteByByteReading) {
  const auto reference = [](std::string_view c) {
    std::string out;
    for (size_t i = 0; i < c.size(); ++i) {
      if (c[i] != '\\' || i + 1 == c.size()) {
        out.push_back(c[i]);
        continue;
      }
      const char next = c[i + 1];
      const char* known = "nrt\"\\";
      const char* made = "\n\r\t\"\\";
      const char* hit = std::char_traits<char>::find(known, 5, next);
      if (hit == nullptr) {
        out.push_back('\\');
        continue;
      }
      out.push_back(made[hit - known]);
      ++i;
    }
    return out;
  };
  std::mt19937 rng(5);
  const char pieces[] = {'a', 'n', 'q', '\\', 't', 'r', '"', '\0', 'x', '\xc3', '\xff', '\x80'};
  for (int round = 0; round < 8000; ++round) {
    // Short contents full of escapes, then long ones (copied in blocks
    // between their backslashes) with escapes dense or sparse.
    const bool long_one = round >= 4000;
    std::string content(rng() % (long_one ? 300 : 40), 'a');
    const unsigned spread = long_one ? 1 + rng() % 50 : 1;
    for (char& c : content) c = rng() % spread == 0 ? pieces[rng() % 12] : 'b';
    const std::string text = "\"" + content + "\"";
    Dict vars;
    FakeEnv env;
    std::vector<VariableRef> refs;
    ValueContext ctx{refs, vars, env, Span{0, text.size()}, nullptr, 0, nullptr};
    const ValueResult r = parse_operand(ctx, text, 0);
    ASSERT_TRUE(std::holds_alternative<Value>(r)) << text;
    ASSERT_EQ(std::get<Value>(r).as_string(), reference(content)) << text;
  }
}

}  // namespace
}  // namespace brindle
