#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <regex>
#include <string>
#include <thread>
#include <tuple>

#include "builtins.h"
#include "test_support.h"
#include "value_parser.h"

namespace brindle {
namespace {

// One value text: its outcome and references as Session::run shows them.
TEST(Expression, FoldFallbacksReferencesAndErrors) {
  const std::pair<std::string, std::string> cases[] = {
      {"1 + 2 * 3", "9"}, {"6 / 3", "2.0"}, {"5 +", "5"},  // strictly left to right
      // integer results stay in 64 bits or fail on their operator, never wrap
      {"9223372036854775807 + 1", "integer overflow in `+` @20-21"}, {"3037000500 * 3037000500", "integer overflow in `*` @11-12"},
      {"-9223372036854775807 - 2", "integer overflow in `-` @21-22"}, {"1 + 9223372036854775807", "integer overflow in `+` @2-3"},
      {"-9223372036854775807 - 1", "-9223372036854775808"}, {"9223372036854775807 - 1 + 1", "9223372036854775807"},
      {"-9223372036854775807 - 1 * -1", "integer overflow in `*` @25-26"}, {"3037000499 * 3037000499", "9223372030926249001"},
      {"-9223372036854775807 - 1 / -1", "9.223372036854776e18"},  // `/` gives a float, which does not overflow
      {"9223372036854775807 + 1.0", "9.223372036854776e18"}, {"1 + 9223372036854775807 + \"x\"", "integer overflow in `+` @2-3"},
      // a concatenation is one string, however it grows, before any other operator
      {R"(1 + 2 + "x" + 3 + "a string past fourteen bytes")", R"("3x3a string past fourteen bytes")"},
      {R"("abcdefghij" + "klmnopqrstu" * 2)", "invalid operands for `*` @29-30"},
      {"1--2", "3"}, {"2024-01-15", "2008"}, {R"(false + "a,b" + null + 2.0 + -0.0 + "+??")", R"("falsea,bnull2-0+??")"},
      {R"("x" + [1, "a"] + #{k = null}#)", R"x("xArray([Integer(1), String(\"a\")])Dict({\"k\": Null})")x"},
      {"1 / 0", "invalid operands for `/` @2-3"}, {"true + 1", "invalid operands for `+` @5-6"}, {"", "empty value @0-0"},
      {"- 5", "cannot parse value: `- 5` @0-3"}, {"+5", "cannot parse value: `+` @0-1"},
      {"1e-5", "cannot parse value: `1e` @0-2"}, {"1 +\t\n  x", "cannot parse value: `x` @7-8"},
      // Right after an operator a minus that follows only brackets is a
      // sign; any byte in between, a blank included, makes it an operator. So
      // does an empty pair of quotes.
      {"1 +[]-2", "malformed array @3-7"}, {R"("a" + []-2)", "invalid operands for `-` @8-9"},
      {R"(1 +""-2)", "unterminated string @3-7"}, {R"(1 +"a"-2)", "invalid operands for `-` @6-7"},
      {"6 //3", "cannot parse value: `6 /` @0-3"},       // the first of two slashes is text
      {R"("a\"+b")", "cannot parse value: `b\"` @5-7"},  // no escapes: the `+` cuts
      {"1 +\xE3\x80\x80$nope", "undefined variable `$nope` @6-11"},  // spans count bytes
      {"0 ?? 3", "0"}, {"null ?? null", "null"}, {"1 ?? $undefined ?? [", "1"},  // the rest is not examined
      {"$a ?? $a ?? $v + 1", "2 | a:0@0-2 a:0@6-8 v:0@12-14"}, {"$ENV.X??\"d\"", R"("d" | X:2@0-6)"},
      {"$undefined ?? 1", "undefined variable `$undefined` @0-10"}, {"null ??   ?? 1", "empty value @10-10"},
      {"$ENV.X ?? $v + $TRUE", "invalid operands for `+` @13-14 | X:2@0-6 v:0@10-12 TRUE:1@15-20"},
      {"[$v, #{k = $ENV.HOME}#]", R"([1, {"k": "/home/u"}] | v:0@1-3 HOME:2@11-20)"},
      // $ENV.v is never the variable v; names may contain dots or be empty
      {"$ENV.v", "null | v:2@0-6"}, {"$x.y", "7 | x.y:0@0-4"}, {"$", "8 | :0@0-1"}, {"$NULL", "null | NULL:1@0-5"},
      {"$now", "undefined variable `$now` @0-4"}, {"$ENV", "undefined variable `$ENV` @0-4"},
  };
  Session s;
  s.vars = Dict{{"a", Value::null()}, {"v", Value::integer(1)}, {"x.y", Value::integer(7)}, {"", Value::integer(8)}};
  s.env.vars = {{"HOME", "/home/u"}};
  for (const auto& [text, want] : cases) EXPECT_EQ(s.run(text), want) << text;
}

TEST(Builtins, FactsOfTheProcessAndHost) {
  Session s;
  s.vars.emplace("NOW", Value::integer(5));  // built-ins win over variables
  char cwd[4096] = {}, host[512] = {};
  ASSERT_TRUE(getcwd(cwd, sizeof cwd) != nullptr && gethostname(host, sizeof host) == 0);
  const std::pair<std::string, std::string> cases[] = {  // a reference and its outcome as a pattern
      {"$NOW", R"("\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.(\d{3}){1,3})?\+00:00" \| NOW:1@0-4)"},
      {"$TODAY", R"("\d{4}-\d\d-\d\d" \| TODAY:1@0-6)"}, {"$PID", std::to_string(getpid()) + R"( \| PID:1@0-4)"},
  };
  for (const auto& [text, pattern] : cases) EXPECT_TRUE(std::regex_match(s.run(text), std::regex(pattern))) << s.run(text);
  EXPECT_EQ(s.run("$CWD") + " " + s.run("$HOSTNAME"),
            debug_string(cwd) + " | CWD:1@0-4 " + debug_string(host) + " | HOSTNAME:1@0-9");
  const std::string now = s.run("$NOW");
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_NE(s.run("$NOW"), now) << "the clock must be read on every reference";
  std::string stamps = format_utc_date(951868800);
  for (uint32_t nanos : {0u, 250000000u, 500000u, 1u}) stamps.append(1, ' ').append(format_utc_time(1705307400, nanos));
  EXPECT_EQ(stamps, "2000-03-01 2024-01-15T08:30:00+00:00 2024-01-15T08:30:00.250+00:00 "
                    "2024-01-15T08:30:00.000500+00:00 2024-01-15T08:30:00.000000001+00:00");
}

TEST(Limits, BudgetAndFootprint) {
  constexpr uint64_t kFloor = uint64_t{32} << 20, kAll = std::numeric_limits<uint64_t>::max();
  EXPECT_EQ(std::tuple(value_budget_for(0), value_budget_for(kFloor / 64 + 1), value_budget_for(kAll)),
            std::tuple(kFloor, kFloor + 64, kAll));
  Session s;
  s.vars.emplace("s", Value::string(std::string(1000, 'x')));
  const uint64_t copy = value_footprint(s.vars.at("s"));
  const std::tuple<uint64_t, std::string, std::string> cases[] = {
      {2 * copy + 1000, "$s + $s", debug_string(std::string(2000, 'x')) + " | s:0@0-2 s:0@5-7"},
      // A concatenation that crosses the budget fails over its expression...
      {2 * copy + 999, "$s + $s", "value too large @0-7 | s:0@0-2 s:0@5-7"},
      {copy, "[1, \"ab\" + $s]", "value too large @4-13 | s:0@11-13"},
      // ...and a copy that does not fit fails at its reference, unrecorded.
      {copy + copy / 2, "[$s, $s]", "value too large @5-7 | s:0@1-3"},
  };
  for (const auto& [limit, text, want] : cases) {
    ValueBudget budget{limit};
    s.budget = &budget;
    EXPECT_EQ(s.run(text), want) << text;
  }
}

TEST(Limits, LongChainsAreLinearAndNeverRecurse) {
  constexpr size_t kLinks = 100000;
  Session s;
  s.vars.emplace("n", Value::null());
  std::string chain, refs, joined, abab, sum = "0";
  for (size_t i = 0; i < kLinks; ++i)
    chain += "$n ?? ", joined += "\"ab\" + ", abab += "ab", sum += "+1", refs.append(" n:0").append(show({6 * i, 6 * i + 2}));
  // Compared with == so that a failure does not print megabytes.
  EXPECT_TRUE(s.run(chain + "$ENV.Z ?? 1") == "1 |" + refs + " Z:2@600000-600006");
  EXPECT_TRUE(s.run(chain + "oops") == "cannot parse value: `oops` @600000-600004 |" + refs);
  EXPECT_TRUE(s.run(joined + "\"!\"") == debug_string(abab + "!"));
  EXPECT_EQ(s.run(sum), std::to_string(kLinks));
}

}  // namespace
}  // namespace brindle
