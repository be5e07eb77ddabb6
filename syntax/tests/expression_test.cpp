#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
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

constexpr uint64_t kBase = 1000;  // every text sits here, so spans are absolute

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
Fail E(std::string message, uint64_t start, uint64_t end) {
  return {std::move(message), start, end};
}
Fail cannot(const std::string& t, uint64_t start, uint64_t end) {
  return E("cannot parse value: `" + t + "`", start, end);
}
Fail invalid(char op, uint64_t at) {
  return E(std::string("invalid operands for `") + op + "`", at, at + 1);
}

class FakeEnv final : public EnvLookup {
 public:
  std::map<std::string, std::string, std::less<>> vars;
  mutable std::vector<std::string> asked;
  std::optional<std::string> get(std::string_view name) const override {
    asked.emplace_back(name);
    const auto it = vars.find(name);
    return it == vars.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
};

struct Session {
  Dict vars;
  FakeEnv env;
  std::vector<VariableRef> refs;
  ValueBudget* budget = nullptr;
  ValueResult run(std::string_view text) {
    ValueContext ctx{refs, vars, env, Span{kBase, kBase + text.size()}, budget};
    return parse_value(ctx, text, kBase);
  }
  // Adds a successful result to the variables, as a variables section does.
  ValueResult define(const std::string& name, std::string_view text) {
    ValueResult r = run(text);
    if (!failed(r)) vars.insert_or_assign(name, std::get<Value>(r));
    return r;
  }
};

std::string show(const ValueResult& r) {
  if (!failed(r)) return debug_text(std::get<Value>(r));
  const auto& f = std::get<ParseFailure>(r);
  return f.message + " @" + std::to_string(f.span.start) + "-" + std::to_string(f.span.end);
}

::testing::AssertionResult matches(const ValueResult& r, const Want& want) {
  const ValueResult expected =
      want.index() == 0 ? ValueResult(std::get<Value>(want))
                        : ValueResult(ParseFailure{std::get<Fail>(want).message,
                                                   {kBase + std::get<Fail>(want).start,
                                                    kBase + std::get<Fail>(want).end}});
  if (show(r) == show(expected) && (failed(r) || std::get<Value>(r) == std::get<Value>(expected))) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "got " << show(r) << ", want " << show(expected);
}

TEST(Expression, SplitFoldAndOperatorTable) {
  const Case cases[] = {
      {"1 + 2 * 3", I(9)},
      {"10 - 2 - 3", I(5)},
      {"7 / 2", F(3.5)},
      {"6 / 3", F(2.0)},
      {"1 + 2.5", F(3.5)},
      {"1 / 0.0", F(std::numeric_limits<double>::infinity())},
      {"9223372036854775807 + 1", I(std::numeric_limits<int64_t>::min())},
      {"3037000500 * 3037000500", I(-9223372036709301616)},
      {"1 - -2", I(3)},
      {"1--2", I(3)},
      {"5 +", I(5)},
      {"2024-01-15", I(2008)},
      {R"("a" + 1)", S("a1")},
      {R"(false + "x" + null + 2.0 + -0.0)", S("falsexnull2-0")},
      {R"("x" + [1, "a"] + #{k = null}#)",
       S(R"(xArray([Integer(1), String("a")])Dict({"k": Null}))")},
      {R"("a,b" + "c+d" + "??")", S("a,bc+d??")},
      {"\"\xC3\xA9\" + 1", S("\xC3\xA9" "1")},
      {"1 / 0", invalid('/', 2)},
      {"1.5 / 0", invalid('/', 4)},
      {"true + 1", invalid('+', 5)},
      {"null - 1", invalid('-', 5)},
      {"[1] + [2]", invalid('+', 4)},
      {R"("a" * 2)", invalid('*', 4)},
      {"", E("empty value", 0, 0)},
      {"- 5", cannot("- 5", 0, 3)},
      {"+5", cannot("+", 0, 1)},
      {"1 + + 2", cannot("+", 4, 5)},
      {"1e-5", cannot("1e", 0, 2)},
      {"(1 + 2)", cannot("(1 + 2)", 0, 7)},
      {"1 +\t\n  x", cannot("x", 7, 8)},
      // Right after an operator a minus that follows only brackets is a
      // sign; any byte in between, a blank included, makes it an operator.
      {"1 +[]-2", E("malformed array", 3, 7)},
      {R"("a" + []-2)", invalid('-', 8)},
      {R"(1 +""-2)", E("unterminated string", 3, 7)},  // so does an empty pair of quotes
      {R"(1 +"a"-2)", invalid('-', 6)},
      {"6 //3", cannot("6 /", 0, 3)},         // the first of two slashes is text
      {R"("a\"+b")", cannot("b\"", 5, 7)},  // no escapes: the `+` cuts
      {"\"\xC3\xA9\" + $nope", E("undefined variable `$nope`", 7, 12)},
      {"1 +\xE3\x80\x80$nope", E("undefined variable `$nope`", 6, 11)},
  };
  for (const auto& c : cases) {
    Session s;
    EXPECT_TRUE(matches(s.run(c.text), c.want)) << c.text;
  }
}

TEST(Fallback, FirstNonNullWinsAndTheRestIsNotExamined) {
  const Case cases[] = {
      {"null ?? 3", I(3)},
      {"0 ?? 3", I(0)},
      {R"("" ?? 3)", S("")},
      {"null ?? null", Value::null()},
      {"null ?? null ?? 7", I(7)},
      {"1 ?? $undefined ?? [", I(1)},
      {"$a ?? $b + 1", I(3)},
      {"$ENV.X??\"d\"", S("d")},
      {"$undefined ?? 1", E("undefined variable `$undefined`", 0, 10)},
      {"?? 1", E("empty value", 0, 0)},
      {"null ??", E("empty value", 7, 7)},
      {"null ??   ?? 1", E("empty value", 10, 10)},
      {"null ?? null ?? 1 / 0", invalid('/', 18)},
  };
  for (const auto& c : cases) {
    Session s;
    s.vars.emplace("a", Value::null());
    s.vars.emplace("b", I(2));
    EXPECT_TRUE(matches(s.run(c.text), c.want)) << c.text;
  }
}

TEST(Variables, ResolutionAndReferenceRecords) {
  using K = VariableKind;
  const auto ref = [](std::string name, K kind, uint64_t start, uint64_t end) {
    return VariableRef{std::move(name), {kBase + start, kBase + end}, kind};
  };
  const struct {
    std::string text;
    Want want;
    std::vector<VariableRef> refs;
  } cases[] = {
      {"$ENV.X ?? $v + $TRUE", invalid('+', 13),
       {ref("X", K::Environment, 0, 6), ref("v", K::Document, 10, 12), ref("TRUE", K::Builtin, 15, 20)}},
      {"$n ?? $n ?? $v", I(1),
       {ref("n", K::Document, 0, 2), ref("n", K::Document, 6, 8), ref("v", K::Document, 12, 14)}},
      {"[$v, #{k = $ENV.HOME}#]", Value::array({I(1), Value::dict({{"k", S("/home/u")}})}),
       {ref("v", K::Document, 1, 3), ref("HOME", K::Environment, 11, 20)}},
      {"$ENV.a b", S("spaced"), {ref("a b", K::Environment, 0, 8)}},
      {"$ENV.", Value::null(), {ref("", K::Environment, 0, 5)}},
      {"$ENV.v", Value::null(), {ref("v", K::Environment, 0, 6)}},  // never the variable v
      {"$x.y", I(7), {ref("x.y", K::Document, 0, 4)}},
      {"$", I(8), {ref("", K::Document, 0, 1)}},
      {"$NULL", Value::null(), {ref("NULL", K::Builtin, 0, 5)}},
      {"$now", E("undefined variable `$now`", 0, 4), {}},
      {"$ENV", E("undefined variable `$ENV`", 0, 4), {}},
  };
  for (const auto& c : cases) {
    Session s;
    s.vars = Dict{{"v", I(1)}, {"n", Value::null()}, {"x.y", I(7)}, {"", I(8)}};
    s.env.vars = {{"HOME", "/home/u"}, {"a b", "spaced"}};
    EXPECT_TRUE(matches(s.run(c.text), c.want)) << c.text;
    ASSERT_EQ(s.refs.size(), c.refs.size()) << c.text;
    for (size_t i = 0; i < c.refs.size(); ++i) {
      EXPECT_EQ(s.refs[i].name, c.refs[i].name) << c.text;
      EXPECT_EQ(s.refs[i].kind, c.refs[i].kind) << c.text;
      EXPECT_EQ(s.refs[i].span, c.refs[i].span) << c.text;
    }
  }
}

TEST(Builtins, FactsOfTheProcessAndHost) {
  Session s;
  s.vars.emplace("NOW", I(5));  // built-ins win over variables
  const auto text_of = [&](std::string_view t) {
    const ValueResult r = s.run(t);
    const bool text = !failed(r) && std::get<Value>(r).is(Tag::String);
    return text ? std::get<Value>(r).as_string() : show(r);
  };
  const std::string now = text_of("$NOW");
  const std::regex rfc3339(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.(\d{3}){1,3})?\+00:00)");
  EXPECT_TRUE(std::regex_match(now, rfc3339)) << now;
  EXPECT_TRUE(std::regex_match(text_of("$TODAY"), std::regex(R"(\d{4}-\d\d-\d\d)")));
  EXPECT_TRUE(matches(s.run("$PID"), I(getpid())));
  char buf[4096] = {};
  ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
  EXPECT_EQ(text_of("$CWD"), buf);
  ASSERT_EQ(gethostname(buf, 512), 0);
  EXPECT_EQ(text_of("$HOSTNAME"), buf);
#if defined(__linux__)
  EXPECT_EQ(text_of("$PLATFORM"), "linux");
#endif
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_NE(text_of("$NOW"), now) << "the clock must be read on every reference";

  const std::pair<uint32_t, std::string> fractions[] = {
      {0, ""}, {250000000, ".250"}, {500000, ".000500"}, {123456000, ".123456"}, {1, ".000000001"}};
  for (const auto& [nanos, fraction] : fractions) {
    EXPECT_EQ(format_utc_time(1705307400, nanos), "2024-01-15T08:30:00" + fraction + "+00:00");
  }
  EXPECT_EQ(format_utc_date(951868800), "2000-03-01");
}

// ---- limits ---------------------------------------------------------------

TEST(Limits, BudgetAndFootprint) {
  constexpr uint64_t kFloor = uint64_t{512} << 20;
  EXPECT_EQ(value_budget_for(0), kFloor);
  EXPECT_EQ(value_budget_for(kFloor / 64 + 1), kFloor + 64);
  constexpr uint64_t kAll = std::numeric_limits<uint64_t>::max();
  EXPECT_EQ(value_budget_for(kAll), kAll);
  EXPECT_EQ(value_footprint(S(std::string(1000, 'x'))), value_footprint(S("")) + 1000);
  EXPECT_EQ(value_footprint(Value::array({I(1), I(2)})), 3 * value_footprint(I(1)));
  const Value keyed = Value::dict({{std::string(500, 'k'), I(1)}});
  EXPECT_GT(value_footprint(keyed), 500 + 2 * value_footprint(I(1)));

  Session s;
  s.vars.emplace("s", S(std::string(1000, 'x')));
  const uint64_t copy = value_footprint(s.vars.at("s"));
  const struct {
    uint64_t budget;
    std::string text;
    Want want;
    size_t refs;
  } cases[] = {
      {2 * copy + 1000, "$s + $s", S(std::string(2000, 'x')), 2},
      // A concatenation that crosses the budget fails over its expression...
      {2 * copy + 999, "$s + $s", E("value too large", 0, 7), 2},
      {copy, "[1, \"ab\" + $s]", E("value too large", 4, 13), 1},
      // ...and a copy that does not fit fails at its reference, uncopied.
      {copy + copy / 2, "[$s, $s]", E("value too large", 5, 7), 1},
  };
  for (const auto& c : cases) {
    ValueBudget budget{c.budget};
    s.budget = &budget;
    s.refs.clear();
    EXPECT_TRUE(matches(s.run(c.text), c.want)) << c.text;
    EXPECT_EQ(s.refs.size(), c.refs) << c.text;
  }
}

TEST(Limits, HostileExpansionFailsEarlyAndSmall) {
  const auto numbered = [](std::string_view stem, int k) {
    std::string out(stem);
    return out += std::to_string(k);
  };
  ValueBudget budget{uint64_t{32} << 20};
  Session s;
  s.budget = &budget;
  // A string doubled through 40 variables would reach 16 TiB.
  s.define("v0", "\"xxxxxxxxxxxxxxxx\"");
  ValueResult r;
  int k = 1;
  for (; k <= 40 && !failed(r); ++k) {
    const std::string prev = numbered("$v", k - 1);
    r = s.define(numbered("v", k), prev + " + " + prev);
  }
  ASSERT_TRUE(failed(r));
  EXPECT_EQ(std::get<ParseFailure>(r).message, "value too large");
  EXPECT_LE(k, 22) << "16 bytes doubled 21 times is the whole budget";

  // Arrays of ten references nested through ten variables.
  budget = ValueBudget{uint64_t{32} << 20};
  s.define("a0", "[1, 2, 3, 4, 5, 6, 7, 8, 9, 10]");
  r = Value();
  for (k = 1; k <= 10 && !failed(r); ++k) {
    std::string text = "[";
    for (int i = 0; i < 10; ++i) text += numbered("$a", k - 1) + ", ";
    r = s.define(numbered("a", k), text + "]");
  }
  ASSERT_TRUE(failed(r));
  EXPECT_EQ(std::get<ParseFailure>(r).message, "value too large");
  EXPECT_LE(k, 7) << "a million nodes exceed the budget";
}

TEST(Limits, LongChainsAreLinearAndNeverRecurse) {
  constexpr size_t kLinks = 100000;
  Session s;
  s.vars.emplace("n", Value::null());
  std::string text;
  for (size_t i = 0; i < kLinks; ++i) text += "$n ?? ";
  EXPECT_TRUE(matches(s.run(text + "$ENV.Z ?? 1"), I(1)));
  ASSERT_EQ(s.refs.size(), kLinks + 1);
  EXPECT_EQ(s.refs[kLinks - 1].span, (Span{kBase + 6 * (kLinks - 1), kBase + 6 * kLinks - 4}));
  EXPECT_EQ(s.refs.back().span, (Span{kBase + 6 * kLinks, kBase + 6 * kLinks + 6}));
  EXPECT_TRUE(matches(s.run(text + "oops"), cannot("oops", 6 * kLinks, 6 * kLinks + 4)));

  std::string joined, sum = "0";
  for (size_t i = 0; i < kLinks; ++i) joined += "\"ab\" + ";
  for (size_t i = 0; i < kLinks; ++i) sum += "+1";
  const ValueResult r = s.run(joined + "\"!\"");
  ASSERT_FALSE(failed(r));
  EXPECT_EQ(std::get<Value>(r).as_string().size(), 2 * kLinks + 1);
  EXPECT_EQ(std::get<Value>(r).as_string().substr(2 * kLinks - 2), "ab!");
  EXPECT_TRUE(matches(s.run(sum), I(kLinks)));
}

}  // namespace
}  // namespace brindle
