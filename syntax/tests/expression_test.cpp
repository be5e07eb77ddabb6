#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "builtins.h"
#include "test_support.h"
#include "value_parser.h"

namespace brindle {
namespace {

// One value text: its outcome and references as Session::run shows them.
TEST(Expression, FoldFallbacksReferencesAndErrors) {
  const std::pair<std::string, std::string> cases[] = {
      {"1 + 2 * 3", "9"}, {"10 - 2 - 3", "5"},  // strictly left to right
      {"7 / 2", "3.5"}, {"6 / 3", "2.0"}, {"1 + 2.5", "3.5"}, {"1 / 0.0", "inf"},
      {"9223372036854775807 + 1", "-9223372036854775808"},
      {"3037000500 * 3037000500", "-9223372036709301616"},
      {"1 - -2", "3"}, {"1--2", "3"}, {"2024-01-15", "2008"},
      {"5 +", "5"},
      {R"("a" + 1)", R"("a1")"},
      {R"(false + "x" + null + 2.0 + -0.0)", R"("falsexnull2-0")"},
      {R"("x" + [1, "a"] + #{k = null}#)", R"x("xArray([Integer(1), String(\"a\")])Dict({\"k\": Null})")x"},
      {R"("a,b" + "c+d" + "??")", R"("a,bc+d??")"},
      {"1 / 0", "invalid operands for `/` @2-3"}, {"1.5 / 0", "invalid operands for `/` @4-5"},
      {"true + 1", "invalid operands for `+` @5-6"}, {"[1] + [2]", "invalid operands for `+` @4-5"},
      {R"("a" * 2)", "invalid operands for `*` @4-5"},
      {"", "empty value @0-0"},
      {"- 5", "cannot parse value: `- 5` @0-3"},
      {"+5", "cannot parse value: `+` @0-1"}, {"1 + + 2", "cannot parse value: `+` @4-5"},
      {"1e-5", "cannot parse value: `1e` @0-2"},
      {"(1 + 2)", "cannot parse value: `(1 + 2)` @0-7"},
      {"1 +\t\n  x", "cannot parse value: `x` @7-8"},
      // Right after an operator a minus that follows only brackets is a
      // sign; any byte in between, a blank included, makes it an operator.
      {"1 +[]-2", "malformed array @3-7"},
      {R"("a" + []-2)", "invalid operands for `-` @8-9"},
      {R"(1 +""-2)", "unterminated string @3-7"},  // so does an empty pair of quotes
      {R"(1 +"a"-2)", "invalid operands for `-` @6-7"},
      {"6 //3", "cannot parse value: `6 /` @0-3"},       // the first of two slashes is text
      {R"("a\"+b")", "cannot parse value: `b\"` @5-7"},  // no escapes: the `+` cuts
      {"1 +\xE3\x80\x80$nope", "undefined variable `$nope` @6-11"},  // spans count bytes
      {"null ?? 3", "3"}, {"0 ?? 3", "0"}, {"null ?? null", "null"}, {"null ?? null ?? 7", "7"},
      {"1 ?? $undefined ?? [", "1"},  // the rest is not examined
      {"$a ?? $a ?? $v + 1", "2 | a:0@0-2 a:0@6-8 v:0@12-14"},
      {"$ENV.X??\"d\"", R"("d" | X:2@0-6)"},
      {"$undefined ?? 1", "undefined variable `$undefined` @0-10"},
      {"?? 1", "empty value @0-0"}, {"null ??", "empty value @7-7"},
      {"null ??   ?? 1", "empty value @10-10"},
      {"null ?? null ?? 1 / 0", "invalid operands for `/` @18-19"},
      {"$ENV.X ?? $v + $TRUE", "invalid operands for `+` @13-14 | X:2@0-6 v:0@10-12 TRUE:1@15-20"},
      {"[$v, #{k = $ENV.HOME}#]", R"([1, {"k": "/home/u"}] | v:0@1-3 HOME:2@11-20)"},
      {"$ENV.a b", R"("spaced" | a b:2@0-8)"},
      {"$ENV.v", "null | v:2@0-6"},  // never the variable v
      {"$x.y", "7 | x.y:0@0-4"}, {"$", "8 | :0@0-1"}, {"$NULL", "null | NULL:1@0-5"},
      {"$now", "undefined variable `$now` @0-4"}, {"$ENV", "undefined variable `$ENV` @0-4"},
  };
  for (const auto& [text, want] : cases) {
    Session s;
    s.vars = Dict{{"a", Value::null()}, {"v", I(1)}, {"x.y", I(7)}, {"", I(8)}};
    s.env.vars = {{"HOME", "/home/u"}, {"a b", "spaced"}};
    EXPECT_EQ(s.run(text), want) << text;
  }
}

TEST(Builtins, FactsOfTheProcessAndHost) {
  Session s;
  s.vars.emplace("NOW", I(5));  // built-ins win over variables
  const std::string now = s.run("$NOW");
  const std::regex rfc3339(R"("\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.(\d{3}){1,3})?\+00:00" \| NOW:1@0-4)");
  EXPECT_TRUE(std::regex_match(now, rfc3339)) << now;
  EXPECT_TRUE(std::regex_match(s.run("$TODAY"), std::regex(R"("\d{4}-\d\d-\d\d" \| TODAY:1@0-6)")));
  char cwd[4096] = {}, host[512] = {};
  ASSERT_TRUE(getcwd(cwd, sizeof cwd) != nullptr && gethostname(host, sizeof host) == 0);
  EXPECT_EQ(s.run("$PID") + " " + s.run("$CWD") + " " + s.run("$HOSTNAME"),
            std::to_string(getpid()) + " | PID:1@0-4 " + debug_string(cwd) + " | CWD:1@0-4 " +
                debug_string(host) + " | HOSTNAME:1@0-9");
#if defined(__linux__)
  EXPECT_EQ(s.run("$PLATFORM"), "\"linux\" | PLATFORM:1@0-9");
#endif
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_NE(s.run("$NOW"), now) << "the clock must be read on every reference";
  const std::pair<uint32_t, std::string> fractions[] = {
      {0, ""}, {250000000, ".250"}, {500000, ".000500"}, {123456000, ".123456"}, {1, ".000000001"}};
  for (const auto& [nanos, fraction] : fractions) {
    EXPECT_EQ(format_utc_time(1705307400, nanos), "2024-01-15T08:30:00" + fraction + "+00:00");
  }
  EXPECT_EQ(format_utc_date(951868800), "2000-03-01");
}

TEST(Limits, BudgetAndFootprint) {
  constexpr uint64_t kFloor = uint64_t{512} << 20, kAll = std::numeric_limits<uint64_t>::max();
  EXPECT_EQ(value_budget_for(0), kFloor);
  EXPECT_EQ(value_budget_for(kFloor / 64 + 1), kFloor + 64);
  EXPECT_EQ(value_budget_for(kAll), kAll);
  EXPECT_EQ(value_footprint(S(std::string(1000, 'x'))), value_footprint(S("")) + 1000);
  EXPECT_EQ(value_footprint(Value::array({I(1), I(2)})), 3 * value_footprint(I(1)));
  EXPECT_GT(value_footprint(Value::dict({{std::string(500, 'k'), I(1)}})), 500 + 2 * value_footprint(I(1)));
  Session s;
  s.vars.emplace("s", S(std::string(1000, 'x')));
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
  for (size_t i = 0; i < kLinks; ++i) {
    chain += "$n ?? ", joined += "\"ab\" + ", abab += "ab", sum += "+1";
    refs.append(" n:0").append(show(Span{6 * i, 6 * i + 2}));
  }
  // Compared with == so that a failure does not print megabytes.
  EXPECT_TRUE(s.run(chain + "$ENV.Z ?? 1") == "1 |" + refs + " Z:2@600000-600006");
  EXPECT_TRUE(s.run(chain + "oops") == "cannot parse value: `oops` @600000-600004 |" + refs);
  EXPECT_TRUE(s.run(joined + "\"!\"") == debug_string(abab + "!"));
  EXPECT_EQ(s.run(sum), std::to_string(kLinks));
}

}  // namespace
}  // namespace brindle
