#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "builtins.h"
#include "display.h"
#include "value_parser.h"

namespace brindle {
namespace {

constexpr uint64_t kBase = 1000;

Value str(std::string s) { return Value::string(std::move(s)); }
Value num(int64_t i) { return Value::integer(i); }
Value flt(double d) { return Value::floating(d); }

class FakeEnv final : public EnvLookup {
 public:
  std::map<std::string, std::string, std::less<>> vars;
  mutable std::vector<std::string> asked;
  std::optional<std::string> get(std::string_view name) const override {
    asked.emplace_back(name);
    const auto it = vars.find(name);
    if (it == vars.end()) return std::nullopt;
    return it->second;
  }
};

struct Session {
  Dict vars;
  FakeEnv env;
  std::vector<VariableRef> refs;
  ValueBudget* budget = nullptr;

  ValueResult value(std::string_view text, uint64_t offset = kBase) {
    ValueContext ctx{refs, vars, env, Span{offset, offset + text.size()}, budget};
    ValueResult r = parse_value(ctx, text, offset);
    EXPECT_EQ(ctx.depth, 0);
    return r;
  }
  // Evaluates a variable definition and, when it succeeds, adds it to the
  // variables the way a document's variables section accumulates them.
  ValueResult define(const std::string& name, std::string_view text) {
    ValueResult r = value(text);
    if (!failed(r)) vars.insert_or_assign(name, std::get<Value>(r));
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

TEST(Expression, FoldsLeftToRightWithoutPrecedence) {
  const int64_t kMin = std::numeric_limits<int64_t>::min();
  const struct {
    std::string text;
    Value want;
  } cases[] = {
      {"1 + 2 * 3", num(9)},
      {"10 - 2 - 3", num(5)},
      {"7 / 2", flt(3.5)},
      {"6 / 3", flt(2.0)},
      {"1 + 2.5", flt(3.5)},
      {"2.5 * 2", flt(5.0)},
      {"0.5 - 1", flt(-0.5)},
      {"1 / 0.0", flt(std::numeric_limits<double>::infinity())},
      {"-1 / 0.0", flt(-std::numeric_limits<double>::infinity())},
      {"9223372036854775807 + 1", num(kMin)},
      {"-9223372036854775807 - 2", num(std::numeric_limits<int64_t>::max())},
      {"3037000500 * 3037000500", num(-9223372036709301616)},
      {"1 - -2", num(3)},
      {"1--2", num(3)},
      {"-5", num(-5)},
      {"5 +", num(5)},
      {"1 + 2 -", num(3)},
      {"2024-01-15", num(2008)},
      {"1 + 1 + 1 + 1", num(4)},
      {"[1 + 2, 3 * 3]", Value::array({num(3), num(9)})},
      {R"("a" + 1)", str("a1")},
      {R"(1 + "a")", str("1a")},
      {R"("x" + true)", str("xtrue")},
      {R"(false + "x")", str("falsex")},
      {R"("x" + null)", str("xnull")},
      {R"("x" + 2.0)", str("x2")},
      {R"("x" + 0.1 + 1)", str("x0.11")},
      {R"("x" + 1e21)", str("x1000000000000000000000")},
      {R"("x" + -0.0)", str("x-0")},
      {R"("" + -3)", str("-3")},
      {R"("x" + [1, "a"])", str("xArray([Integer(1), String(\"a\")])")},
      {R"(#{k = 2.5, n = null}# + "!")", str("Dict({\"k\": Float(2.5), \"n\": Null})!")},
      {R"("a,b" + "c+d" + "??")", str("a,bc+d??")},
      {R"("x" + 1 + 2)", str("x12")},
      {R"(1 + 2 + "x")", str("3x")},
      {"\"\xC3\xA9\" + \"\xC3\xBC\"", str("\xC3\xA9\xC3\xBC")},
  };
  for (const auto& c : cases) {
    Session s;
    EXPECT_TRUE(yields(s.value(c.text), c.want)) << c.text;
  }
}

TEST(Expression, FailuresPointAtTheirOperatorOrOperand) {
  const struct {
    std::string text;
    std::string message;
    uint64_t start, end;
  } cases[] = {
      {"1 / 0", "invalid operands for `/`", 2, 3},
      {"1.5 / 0", "invalid operands for `/`", 4, 5},
      {"true + 1", "invalid operands for `+`", 5, 6},
      {"null * 2", "invalid operands for `*`", 5, 6},
      {"null - 1", "invalid operands for `-`", 5, 6},
      {"[1] + [2]", "invalid operands for `+`", 4, 5},
      {R"("a" - 1)", "invalid operands for `-`", 4, 5},
      {R"(2 * "a")", "invalid operands for `*`", 2, 3},
      {"1 + 2 + true", "invalid operands for `+`", 6, 7},
      {"", "empty value", 0, 0},
      {"- 5", cannot("- 5"), 0, 3},
      {"+5", cannot("+"), 0, 1},
      {"* 5", cannot("*"), 0, 1},
      {"1 + + 2", cannot("+"), 4, 5},
      {"1e-5", cannot("1e"), 0, 2},
      {"(1 + 2)", cannot("(1 + 2)"), 0, 7},
      {"1 + x", cannot("x"), 4, 5},
      {"1 +\t\n  x", cannot("x"), 7, 8},
      // Right after an operator, a minus that follows only brackets is a
      // sign; a blank in between makes it an operator again.
      {"1 +[]-2", "malformed array", 3, 7},
      {"\"a\" + []-2", "invalid operands for `-`", 8, 9},
      {"1 + \"\"-2", "invalid operands for `-`", 6, 7},
      // The first of two slashes is text.
      {"6 //3", cannot("6 /"), 0, 3},
      // An escaped quote still ends the quoted text, so the `+` cuts.
      {R"("a\"+b")", cannot("b\""), 5, 7},
      {"1 + $nope", "undefined variable `$nope`", 4, 9},
      // Multi-byte characters before an operand shift spans by their bytes.
      {"\"\xC3\xA9\" + $nope", "undefined variable `$nope`", 7, 12},
      // Operands start at their first non-blank character, also after
      // blanks outside ASCII.
      {"1 +\xE3\x80\x80$nope", "undefined variable `$nope`", 6, 11},
  };
  for (const auto& c : cases) {
    Session s;
    EXPECT_TRUE(fails(s.value(c.text), c.message, c.start, c.end)) << c.text;
  }
}

TEST(Fallback, FirstNonNullWinsAndLaterSidesAreNotExamined) {
  const struct {
    std::string text;
    Value want;
  } cases[] = {
      {"null ?? 3", num(3)},
      {"0 ?? 3", num(0)},
      {"false ?? 3", Value::boolean(false)},
      {R"("" ?? 3)", str("")},
      {"null ?? null", Value::null()},
      {"null ?? null ?? 7", num(7)},
      {"1 ?? $undefined", num(1)},
      {"1 ?? [ ??", num(1)},
      {"null + \"\" ?? 2", str("null")},
      {R"("a??b")", str("a??b")},
      {"[null ?? 1, 2 ?? 3]", Value::array({num(1), num(2)})},
      {"$ENV.X ?? 0", num(0)},
      {"$ENV.X??\"d\"", str("d")},
  };
  for (const auto& c : cases) {
    Session s;
    EXPECT_TRUE(yields(s.value(c.text), c.want)) << c.text;
  }

  const struct {
    std::string text;
    std::string message;
    uint64_t start, end;
  } failures[] = {
      {"$undefined ?? 1", "undefined variable `$undefined`", 0, 10},
      {"?? 1", "empty value", 0, 0},
      {"null ??", "empty value", 7, 7},
      {"null ??   ?? 1", "empty value", 10, 10},
      {"null ?? 1 / 0", "invalid operands for `/`", 10, 11},
      {"null ?? null ?? x", cannot("x"), 16, 17},
  };
  for (const auto& c : failures) {
    Session s;
    EXPECT_TRUE(fails(s.value(c.text), c.message, c.start, c.end)) << c.text;
  }
}

TEST(Fallback, BindsMoreLooselyThanArithmetic) {
  Session s;
  s.vars.emplace("a", Value::null());
  s.vars.emplace("b", num(2));
  EXPECT_TRUE(yields(s.value("$a ?? $b + 1"), num(3)));
  s.vars.insert_or_assign("a", num(10));
  EXPECT_TRUE(yields(s.value("$a ?? $b + 1"), num(10)));
}

::testing::AssertionResult refs_are(const std::vector<VariableRef>& got,
                                    const std::vector<VariableRef>& want) {
  const auto show = [](const std::vector<VariableRef>& v) {
    std::string out;
    for (const auto& r : v) {
      out += r.name + "/" + std::to_string(static_cast<int>(r.kind)) + "@(" +
             std::to_string(r.span.start) + "," + std::to_string(r.span.end) + ") ";
    }
    return out;
  };
  bool same = got.size() == want.size();
  for (size_t i = 0; same && i < got.size(); ++i) {
    same = got[i].name == want[i].name && got[i].kind == want[i].kind && got[i].span == want[i].span;
  }
  if (same) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << show(got) << "want " << show(want);
}

VariableRef ref(std::string name, VariableKind kind, uint64_t start, uint64_t end) {
  return VariableRef{std::move(name), Span{kBase + start, kBase + end}, kind};
}

TEST(Variables, ReferencesAreRecordedInEvaluationOrder) {
  constexpr auto kDoc = VariableKind::Document;
  constexpr auto kBuiltin = VariableKind::Builtin;
  constexpr auto kEnv = VariableKind::Environment;
  const struct {
    std::string text;
    std::vector<VariableRef> want;
  } cases[] = {
      {"$ENV.X ?? $v + $PID", {ref("X", kEnv, 0, 6), ref("v", kDoc, 10, 12), ref("PID", kBuiltin, 15, 19)}},
      {"$v ?? $w", {ref("v", kDoc, 0, 2)}},
      {"$n ?? $n ?? $v", {ref("n", kDoc, 0, 2), ref("n", kDoc, 6, 8), ref("v", kDoc, 12, 14)}},
      // Kept when a later part of the value fails.
      {"$v + $nope", {ref("v", kDoc, 0, 2)}},
      {"[$v, #{k = $ENV.HOME}#]", {ref("v", kDoc, 1, 3), ref("HOME", kEnv, 11, 20)}},
      {"$ENV.", {ref("", kEnv, 0, 5)}},
      {"$ENV.a b", {ref("a b", kEnv, 0, 8)}},
      {"$NOW", {ref("NOW", kBuiltin, 0, 4)}},
      {"$TRUE ?? 1", {ref("TRUE", kBuiltin, 0, 5)}},
  };
  for (const auto& c : cases) {
    Session s;
    s.vars.emplace("v", num(1));
    s.vars.emplace("w", num(2));
    s.vars.emplace("n", Value::null());
    s.vars.emplace("NOW", num(5));  // shadowed by the built-in
    s.env.vars.emplace("HOME", "/home/u");
    s.value(c.text);
    EXPECT_TRUE(refs_are(s.refs, c.want)) << c.text;
  }
}

TEST(Variables, ResolutionRules) {
  Session s;
  s.vars.emplace("list", Value::array({num(1), str("x")}));
  s.vars.emplace("x.y", num(7));
  s.vars.emplace("", num(8));
  s.vars.emplace("NOW", num(5));
  s.vars.emplace("ENV.HOME", num(9));
  s.env.vars.emplace("HOME", "/home/u");
  s.env.vars.emplace("", "empty-name");

  EXPECT_TRUE(yields(s.value("$list"), s.vars.at("list")));
  EXPECT_TRUE(yields(s.value("$x.y"), num(7)));
  EXPECT_TRUE(yields(s.value("$"), num(8)));
  EXPECT_TRUE(yields(s.value("$ENV.HOME"), str("/home/u")));  // the environment wins
  EXPECT_TRUE(yields(s.value("$ENV."), str("empty-name")));
  EXPECT_TRUE(yields(s.value("$ENV.MISSING"), Value::null()));
  EXPECT_TRUE(yields(s.value("$TRUE"), Value::boolean(true)));
  EXPECT_TRUE(yields(s.value("$FALSE"), Value::boolean(false)));
  EXPECT_TRUE(yields(s.value("$NULL"), Value::null()));
  EXPECT_TRUE(yields(s.value("$PID"), num(getpid())));
  const ValueResult now = s.value("$NOW");
  ASSERT_FALSE(failed(now));
  EXPECT_TRUE(std::get<Value>(now).is(Tag::String)) << "the built-in must shadow the variable NOW";
  EXPECT_EQ(s.env.asked, (std::vector<std::string>{"HOME", "", "MISSING"}));

  EXPECT_TRUE(fails(s.value("$now"), "undefined variable `$now`", 0, 4));
  EXPECT_TRUE(fails(s.value("$env.HOME"), "undefined variable `$env.HOME`", 0, 9));
  EXPECT_TRUE(fails(s.value("$ENV"), "undefined variable `$ENV`", 0, 4));
  EXPECT_TRUE(fails(s.value("$li st"), "undefined variable `$li st`", 0, 6));
}

TEST(Builtins, FormsOfTheOperatingSystemFacts) {
  Session s;
  const auto text_of = [&](std::string_view t) {
    const ValueResult r = s.value(t);
    return failed(r) || !std::get<Value>(r).is(Tag::String) ? std::string("<not a string>")
                                                            : std::get<Value>(r).as_string();
  };
  const std::regex now(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.(\d{3}|\d{6}|\d{9}))?\+00:00)");
  EXPECT_TRUE(std::regex_match(text_of("$NOW"), now)) << text_of("$NOW");
  EXPECT_TRUE(std::regex_match(text_of("$TODAY"), std::regex(R"(\d{4}-\d{2}-\d{2})")));
  EXPECT_EQ(text_of("$TODAY"), text_of("$NOW").substr(0, 10));  // may race midnight UTC

  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(text_of("$CWD"), cwd);
  char host[512] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(text_of("$HOSTNAME"), host);
#if defined(__linux__)
  EXPECT_EQ(text_of("$PLATFORM"), "linux");
#elif defined(__APPLE__)
  EXPECT_EQ(text_of("$PLATFORM"), "macos");
#endif

  // Nothing is cached: the clock is read on every reference.
  const std::string first = text_of("$NOW");
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_NE(first, text_of("$NOW"));
}

TEST(Builtins, TimeFractionUsesTheFewestExactDigitGroups) {
  const struct {
    int64_t seconds;
    uint32_t nanos;
    std::string want;
  } cases[] = {
      {0, 0, "1970-01-01T00:00:00+00:00"},
      {1705307400, 250000000, "2024-01-15T08:30:00.250+00:00"},
      {1705307400, 500000, "2024-01-15T08:30:00.000500+00:00"},
      {1705307400, 123456000, "2024-01-15T08:30:00.123456+00:00"},
      {1705307400, 1, "2024-01-15T08:30:00.000000001+00:00"},
      {1705307400, 999999999, "2024-01-15T08:30:00.999999999+00:00"},
      {951782399, 0, "2000-02-28T23:59:59+00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_utc_time(c.seconds, c.nanos), c.want);
  EXPECT_EQ(format_utc_date(1705307400), "2024-01-15");
  EXPECT_EQ(format_utc_date(951868800), "2000-03-01");
}

// ---- limits ---------------------------------------------------------------

std::string numbered(std::string_view stem, int k) {
  std::string out(stem);
  out += std::to_string(k);
  return out;
}

TEST(Limits, BudgetForASource) {
  constexpr uint64_t kFloor = uint64_t{512} << 20;
  EXPECT_EQ(value_budget_for(0), kFloor);
  EXPECT_EQ(value_budget_for(kFloor / 64), kFloor);
  EXPECT_EQ(value_budget_for(kFloor / 64 + 1), kFloor + 64);
  EXPECT_EQ(value_budget_for(uint64_t{1} << 40), uint64_t{1} << 46);
  EXPECT_EQ(value_budget_for(std::numeric_limits<uint64_t>::max()), std::numeric_limits<uint64_t>::max());
}

TEST(Limits, FootprintCountsNodesAndText) {
  const uint64_t scalar = value_footprint(num(1));
  EXPECT_GT(scalar, 0u);
  EXPECT_EQ(value_footprint(str(std::string(1000, 'x'))), value_footprint(str("")) + 1000);
  EXPECT_GE(value_footprint(Value::array({num(1), num(2)})), 3 * scalar);
  Dict d;
  d.emplace(std::string(500, 'k'), str(std::string(500, 'v')));
  EXPECT_GT(value_footprint(Value::dict(d)), 1000u + 2 * scalar);
}

TEST(Limits, CopiesAndConcatenationsAreCharged) {
  Session s;
  s.vars.emplace("s", str(std::string(1000, 'x')));
  const uint64_t copy = value_footprint(s.vars.at("s"));

  // Both copies fit; appending the second 1000 bytes does not. The failure
  // covers the whole expression whose result crossed the budget.
  ValueBudget tight{2 * copy + 999};
  s.budget = &tight;
  EXPECT_TRUE(fails(s.value("$s + $s"), "value too large", 0, 7));

  ValueBudget enough{2 * copy + 1000};
  s.budget = &enough;
  const ValueResult r = s.value("$s + $s");
  ASSERT_FALSE(failed(r)) << describe(r);
  EXPECT_EQ(std::get<Value>(r).as_string().size(), 2000u);
  EXPECT_EQ(enough.remaining, 0u);

  // A copy that does not fit fails before it is made, at its reference,
  // and records nothing for it.
  ValueBudget one_copy{copy + copy / 2};
  s.budget = &one_copy;
  s.refs.clear();
  EXPECT_TRUE(fails(s.value("[$s, $s]"), "value too large", 5, 7));
  EXPECT_EQ(s.refs.size(), 1u);

  // Inside an array the failing concatenation is that element's expression.
  ValueBudget small{copy};
  s.budget = &small;
  EXPECT_TRUE(fails(s.value("[1, \"ab\" + $s]"), "value too large", 4, 13));
}

TEST(Limits, DoublingThroughVariablesFailsEarly) {
  ValueBudget budget{uint64_t{32} << 20};
  Session s;
  s.budget = &budget;
  ASSERT_FALSE(failed(s.define("v0", "\"xxxxxxxxxxxxxxxx\"")));
  int failed_at = -1;
  for (int k = 1; k <= 40 && failed_at < 0; ++k) {
    const std::string prev = numbered("$v", k - 1);
    const ValueResult r = s.define(numbered("v", k), prev + " + " + prev);
    if (failed(r)) {
      EXPECT_EQ(std::get<ParseFailure>(r).message, "value too large");
      failed_at = k;
    }
  }
  // 16 bytes doubled 21 times is 32 MiB: the budget runs out before that.
  EXPECT_GT(failed_at, 10);
  EXPECT_LE(failed_at, 21);
  uint64_t held = 0;
  for (const auto& [name, v] : s.vars) held += v.as_string().size();
  EXPECT_LT(held, uint64_t{32} << 20);
}

TEST(Limits, NestedReferenceFanOutFailsEarly) {
  ValueBudget budget{uint64_t{32} << 20};
  Session s;
  s.budget = &budget;
  ASSERT_FALSE(failed(s.define("a0", "[1, 2, 3, 4, 5, 6, 7, 8, 9, 10]")));
  int failed_at = -1;
  for (int k = 1; k <= 10 && failed_at < 0; ++k) {
    const std::string prev = numbered("$a", k - 1);
    std::string text = "[";
    for (int i = 0; i < 10; ++i) text += (i ? ", " : "") + prev;
    text += "]";
    const ValueResult r = s.define(numbered("a", k), text);
    if (failed(r)) {
      EXPECT_EQ(std::get<ParseFailure>(r).message, "value too large");
      failed_at = k;
    }
  }
  // Ten to the sixth elements would exceed 32 MiB of nodes on their own.
  EXPECT_GT(failed_at, 2);
  EXPECT_LE(failed_at, 6);
}

TEST(Limits, LongFallbackChainsRunWithoutRecursion) {
  constexpr int kLinks = 100000;
  Session s;
  std::string text;
  for (int i = 0; i < kLinks; ++i) text += "null ?? ";
  text += "5";
  EXPECT_TRUE(yields(s.value(text), num(5)));

  // Every null reference is recorded, in order, with its own span.
  s.vars.emplace("n", Value::null());
  text.clear();
  for (int i = 0; i < kLinks; ++i) text += "$n ?? ";
  text += "$ENV.Z ?? 1";
  EXPECT_TRUE(yields(s.value(text), num(1)));
  ASSERT_EQ(s.refs.size(), static_cast<size_t>(kLinks) + 1);
  EXPECT_EQ(s.refs.front().span, (Span{kBase, kBase + 2}));
  EXPECT_EQ(s.refs[kLinks - 1].span, (Span{kBase + 6 * (kLinks - 1), kBase + 6 * (kLinks - 1) + 2}));
  EXPECT_EQ(s.refs.back().name, "Z");
  EXPECT_EQ(s.refs.back().span, (Span{kBase + 6 * kLinks, kBase + 6 * kLinks + 6}));

  // A failure at the end of the chain still has its exact position.
  text.resize(6 * kLinks);
  text += "oops";
  EXPECT_TRUE(fails(s.value(text), cannot("oops"), 6 * kLinks, 6 * kLinks + 4));
}

TEST(Limits, LongConcatenationsAndSums) {
  constexpr int kOperands = 100000;
  Session s;
  std::string text;
  for (int i = 0; i < kOperands; ++i) text += i ? " + \"ab\"" : "\"ab\"";
  const ValueResult joined = s.value(text);
  ASSERT_FALSE(failed(joined)) << describe(joined).substr(0, 200);
  EXPECT_EQ(std::get<Value>(joined).as_string(), [] {
    std::string want;
    for (int i = 0; i < kOperands; ++i) want += "ab";
    return want;
  }());

  text.clear();
  for (int i = 0; i < kOperands; ++i) text += i ? "+1" : "1";
  EXPECT_TRUE(yields(s.value(text), num(kOperands)));

  text.clear();
  for (int i = 0; i < kOperands; ++i) text += i ? ", 1" : "[1";
  text += "]";
  const ValueResult list = s.value(text);
  ASSERT_FALSE(failed(list));
  EXPECT_EQ(std::get<Value>(list).as_array().size(), static_cast<size_t>(kOperands));
}

}  // namespace
}  // namespace brindle
