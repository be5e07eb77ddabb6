#include "validator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace brindle {
namespace {

using Texts = std::vector<std::string>;

Annotation ann(std::string name, AnnotationArg arg = {}, uint64_t at = 0) {
  Annotation a;
  a.name = std::move(name);
  a.arg = std::move(arg);
  a.span = {at, at + 1 + a.name.size()};
  a.name_span = a.span;
  return a;
}

Value str(std::string s) { return Value::string(std::move(s)); }
Value num(int64_t i) { return Value::integer(i); }
Value flt(double d) { return Value::floating(d); }
Value arr(Array a) { return Value::array(std::move(a)); }

// One key "k" at the root holding `value` and carrying `annotations`.
Document single(Value value, std::vector<Annotation> annotations) {
  Document doc;
  doc.config.emplace("k", std::move(value));
  doc.key_spans["k"] = {4, 5};
  doc.annotations.set("k", std::move(annotations));
  return doc;
}

Texts messages(const std::vector<Diagnostic>& ds) {
  Texts out;
  for (const auto& d : ds) out.push_back(d.message);
  return out;
}

Texts check(Value value, std::vector<Annotation> annotations) {
  return messages(validate_document(single(std::move(value), std::move(annotations))));
}

struct RuleCase {
  const char* what;
  Value value;
  Annotation rule;
  Texts expected;
};

void run(const std::vector<RuleCase>& cases) {
  for (const auto& c : cases) {
    EXPECT_EQ(check(c.value, {c.rule}), c.expected) << c.what;
  }
}

TEST(Validator, EmptinessRules) {
  const std::string req = "[k] value is @required but is empty or null";
  const std::string ne = "[k] value must be @nonempty";
  run({
      {"empty string", str(""), ann("required"), {req}},
      {"null", Value::null(), ann("required"), {req}},
      {"empty list", arr({}), ann("required"), {req}},
      {"empty dict", Value::dict({}), ann("required"), {req}},
      {"zero", num(0), ann("required"), {}},
      {"false", Value::boolean(false), ann("required"), {}},
      {"0.0", flt(0.0), ann("required"), {}},
      {"argument ignored", str(""), ann("required", std::string("x")), {req}},
      {"nonempty on empty", str(""), ann("nonempty"), {ne}},
      {"nonempty on null", Value::null(), ann("nonempty"), {ne}},
  });
}

TEST(Validator, NumericBoundsAndTheirNumberForms) {
  run({
      {"int below int", num(0), ann("min", int64_t{1}), {"[k] value 0 is below @min: 1"}},
      {"int above float", num(2), ann("max", 1.5), {"[k] value 2 exceeds @max: 1.5"}},
      {"integral float prints bare", flt(3.0), ann("max", int64_t{2}),
       {"[k] value 3 exceeds @max: 2"}},
      {"float below", flt(-0.5), ann("min", 0.25), {"[k] value -0.5 is below @min: 0.25"}},
      {"infinite bound", flt(1e300), ann("max", std::numeric_limits<double>::infinity()), {}},
      // Both sides become doubles: 2^53 + 1 equals 2^53 after conversion.
      {"beyond 2^53 compares inexactly", num(9007199254740993), ann("max", int64_t{9007199254740992}),
       {}},
      {"beyond 2^53 prints the double", num(9007199254740993), ann("max", int64_t{0}),
       {"[k] value 9007199254740992 exceeds @max: 0"}},
      {"int64 max prints as the shortest form of 2^63", num(std::numeric_limits<int64_t>::max()), ann("max", 1.0),
       {"[k] value 9223372036854776000 exceeds @max: 1"}},
      {"string not covered", str("zzz"), ann("min", int64_t{5}), {}},
      {"bool not covered", Value::boolean(true), ann("max", int64_t{0}), {}},
      {"text argument never applied", num(0), ann("min", std::string("5")), {}},
  });
}

TEST(Validator, SignAndZeroRules) {
  const double nan = std::nan("");
  run({
      {"positive on 0", num(0), ann("positive"), {"[k] value 0 must be @positive (> 0)"}},
      {"positive on -2.5", flt(-2.5), ann("positive"), {"[k] value -2.5 must be @positive (> 0)"}},
      {"positive on -0.0", flt(-0.0), ann("positive"), {"[k] value -0 must be @positive (> 0)"}},
      {"positive on NaN", flt(nan), ann("positive"), {}},
      {"nonzero on 0", num(0), ann("nonzero"), {"[k] value must be @nonzero"}},
      {"nonzero on -0.0", flt(-0.0), ann("nonzero"), {"[k] value must be @nonzero"}},
      {"nonzero on NaN", flt(nan), ann("nonzero"), {}},
      {"nonzero on tiny", flt(5e-324), ann("nonzero"), {}},
      {"min on NaN", flt(nan), ann("min", int64_t{0}), {}},
      {"NaN bound", num(0), ann("max", nan), {}},
  });
}

TEST(Validator, LengthRules) {
  const std::string e_acute_x3 = "\xC3\xA9" "a" "\xC3\xA9";  // 3 characters, 5 bytes
  run({
      {"characters not bytes", str(e_acute_x3), ann("minlen", int64_t{3}), {}},
      {"maxlen counts characters", str(e_acute_x3), ann("maxlen", int64_t{2}),
       {"[k] length 3 exceeds @maxlen: 2"}},
      {"float bound truncates", str("ab"), ann("minlen", 2.9), {}},
      {"float bound truncates (fail)", str("a"), ann("minlen", 2.9),
       {"[k] length 1 is below @minlen: 2"}},
      {"negative float truncates toward zero", str(""), ann("maxlen", -0.9), {}},
      {"list length", arr({num(1), num(2)}), ann("minlen", int64_t{3}),
       {"[k] length 2 is below @minlen: 3"}},
      {"negative bound never fails minlen", str(""), ann("minlen", int64_t{-1}), {}},
      {"negative bound always fails maxlen", str(""), ann("maxlen", int64_t{-1}),
       {"[k] length 0 exceeds @maxlen: -1"}},
      {"huge float saturates", str("abc"), ann("maxlen", 1e300), {}},
      {"huge negative float saturates", str("abc"), ann("maxlen", -1e300),
       {"[k] length 3 exceeds @maxlen: -9223372036854775808"}},
      {"NaN bound is zero", str("a"), ann("maxlen", std::nan("")),
       {"[k] length 1 exceeds @maxlen: 0"}},
      {"int64 max bound", str("abc"), ann("minlen", std::numeric_limits<int64_t>::max()),
       {"[k] length 3 is below @minlen: 9223372036854775807"}},
      {"text argument never applied", str("abc"), ann("maxlen", std::string("1")), {}},
  });
}

TEST(Validator, TypeRule) {
  auto type = [](const char* name) { return ann("type", std::string(name)); };
  const Value list_mixed = arr({num(1), str("a")});
  run({
      {"float accepts int", num(5), type("float"), {}},
      {"int rejects integral float", flt(5.0), type("int"), {"[k] expected @type: int, got float"}},
      {"string", num(1), type("string"), {"[k] expected @type: string, got int"}},
      {"bool", str("true"), type("bool"), {"[k] expected @type: bool, got string"}},
      {"list", Value::null(), type("list"), {"[k] expected @type: list, got null"}},
      {"dict rejects list", arr({}), type("dict"), {"[k] expected @type: dict, got list"}},
      {"path", Value::boolean(true), type("path"), {"[k] expected @type: path, got bool"}},
      {"list[int] on []", arr({}), type("list[int]"), {}},
      {"list[int] on mixed", list_mixed, type("list[int]"), {"[k] expected @type: list[int], got list"}},
      {"list[int] rejects float element", arr({flt(1.0)}), type("list[int]"),
       {"[k] expected @type: list[int], got list"}},
      {"list[float] mixes", arr({num(1), flt(2.5)}), type("list[float]"), {}},
      {"list[string]", arr({str("a"), str("b")}), type("list[string]"), {}},
      {"list[bool]", arr({Value::boolean(true), num(0)}), type("list[bool]"),
       {"[k] expected @type: list[bool], got list"}},
      {"list[string] on a string", str("a"), type("list[string]"),
       {"[k] expected @type: list[string], got string"}},
      {"url http", str("http://x"), type("url"), {}},
      {"url https", str("https://x"), type("url"), {}},
      {"url ftp", str("ftp://x"), type("url"), {"[k] expected @type: url, got string"}},
      {"url case-sensitive", str("HTTP://x"), type("url"), {"[k] expected @type: url, got string"}},
      {"url on int", num(1), type("url"), {"[k] expected @type: url, got int"}},
      {"unknown Int", num(1), type("Int"), {}},
      {"unknown null", str("x"), type("null"), {}},
      {"list argument never applied", num(1), ann("type", Texts{"string"}), {}},
  });
}

TEST(Validator, EmailTest) {
  struct Case {
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {"a@b.c", true},          {"@ab.c", false},       {"a@bc", false},
      {"a@b.c.", false},        {"a@b@.c", false},      {"a @b.c", false},
      {"a@b. c", false},        {"a@.c", true},         {"", false},
      {"a.b@c", false},         {"a@b.c@", false},      {"a\xC2\xA0@b.c", false},
      {"\xC3\xA9@b.c", true},   {"a@b.c\xE3\x80\x80", false},
      {"a@b.\xE2\x80\x8B", true},  // zero-width space is not White_Space
  };
  for (const auto& c : cases) {
    Texts expected;
    if (!c.ok) expected.push_back("[k] expected @type: email, got string");
    EXPECT_EQ(check(str(c.text), {ann("type", std::string("email"))}), expected) << c.text;
  }
}

TEST(Validator, DurationTest) {
  const char* pass[] = {"30s", "5m", "12h", "7d", "15m", "0s", "0001d"};
  const char* fail[] = {"s",    "m",     "15",  "1.5h",  "10ms", "1h30m", "-5s", "30S",
                        "15min", " 5m", "5 m", "", "5\xC3\xA9", "\xD9\xA3s"};
  for (const char* t : pass) {
    EXPECT_EQ(check(str(t), {ann("type", std::string("duration"))}), Texts{}) << t;
  }
  for (const char* t : fail) {
    EXPECT_EQ(check(str(t), {ann("type", std::string("duration"))}),
              Texts{"[k] expected @type: duration, got string"})
        << t;
  }
}

TEST(Validator, PatternRule) {
  auto pat = [](const char* p) { return ann("pattern", std::string(p)); };
  run({
      {"whole text only", str("abc1"), pat("[a-z]+"),
       {"[k] value `abc1` does not match @pattern: `[a-z]+`"}},
      {"alternation accepts", str("abc"), pat("abc|def"), {}},
      {"alternation is anchored as a whole", str("abcdef"), pat("abc|def"),
       {"[k] value `abcdef` does not match @pattern: `abc|def`"}},
      {"value shown unchanged", str("a`b\n"), pat("a"),
       {"[k] value `a`b\n` does not match @pattern: `a`"}},
      {"not covered: int", num(1), pat("x"), {}},
      {"list argument never applied", str("b"), ann("pattern", Texts{"abc"}), {}},
  });
}

TEST(Validator, InvalidPatternIsAnAnnotationFinding) {
  Annotation bad = ann("pattern", std::string("("), 20);
  Document doc = single(str("x"), {bad, ann("enum", Texts{"y"})});
  auto ds = validate_document(doc);
  ASSERT_EQ(ds.size(), 2u);
  EXPECT_EQ(ds[0].message, "[k] invalid @pattern regex: found open group without closing ')'");
  EXPECT_EQ(ds[0].kind, DiagnosticKind::Annotation);
  EXPECT_FALSE(ds[0].is_warning);
  EXPECT_EQ(ds[0].span, bad.span);
  // The rules after it still run.
  EXPECT_EQ(ds[1].message, "[k] value `x` not in @enum: [y]");
  EXPECT_EQ(ds[1].kind, DiagnosticKind::Validation);
  EXPECT_EQ(ds[1].span, (Span{4, 5}));

  EXPECT_EQ(check(str("x"), {ann("pattern", std::string("(?=x)x"))}),
            Texts{"[k] invalid @pattern regex: look-around is not supported"});
}

TEST(Validator, EnumRule) {
  run({
      {"member", str("debug"), ann("enum", Texts{"debug", "release"}), {}},
      {"not a member", str("fast"), ann("enum", Texts{"debug", "release"}),
       {"[k] value `fast` not in @enum: [debug, release]"}},
      {"byte-exact", str("Debug"), ann("enum", Texts{"debug"}), {"[k] value `Debug` not in @enum: [debug]"}},
      {"empty list", str(""), ann("enum", Texts{}), {"[k] value `` not in @enum: []"}},
      {"items as written", str("x"), ann("enum", Texts{"\"a", "b\""}),
       {"[k] value `x` not in @enum: [\"a, b\"]"}},
      {"text argument never applied", str("c"), ann("enum", std::string("a, b")), {}},
  });
}

TEST(Validator, DeprecatedIsAWarning) {
  run({
      {"bare", num(1), ann("deprecated"), {"`k` is deprecated"}},
      {"text", num(1), ann("deprecated", std::string("use new_key")),
       {"`k` is deprecated: use new_key"}},
      {"integer argument ignored", num(1), ann("deprecated", int64_t{2}), {"`k` is deprecated"}},
      {"text 2", num(1), ann("deprecated", std::string("2")), {"`k` is deprecated: 2"}},
  });
  auto ds = validate_document(single(num(1), {ann("deprecated")}));
  ASSERT_EQ(ds.size(), 1u);
  EXPECT_TRUE(ds[0].is_warning);
  EXPECT_EQ(ds[0].kind, DiagnosticKind::Deprecation);
  EXPECT_EQ(ds[0].span, (Span{4, 5}));
}

TEST(Validator, RulesRunInFixedOrderRegardlessOfSourceOrder) {
  Value v = str("");
  auto ds = validate_document(single(
      v, {ann("deprecated"), ann("nonempty"), ann("enum", Texts{"a"}), ann("pattern", std::string("a")),
          ann("maxlen", int64_t{-1}), ann("minlen", int64_t{1}), ann("type", std::string("int")),
          ann("required"), ann("unknown"), ann("tag", std::string("x=y"))}));
  EXPECT_EQ(messages(ds), (Texts{
                              "[k] value is @required but is empty or null",
                              "[k] expected @type: int, got string",
                              "[k] length 0 is below @minlen: 1",
                              "[k] length 0 exceeds @maxlen: -1",
                              "[k] value `` does not match @pattern: `a`",
                              "[k] value `` not in @enum: [a]",
                              "[k] value must be @nonempty",
                              "`k` is deprecated",
                          }));
  EXPECT_EQ(check(num(-1), {ann("nonzero"), ann("positive"), ann("max", int64_t{-2}), ann("min", int64_t{0})}),
            (Texts{"[k] value -1 is below @min: 0", "[k] value -1 exceeds @max: -2",
                   "[k] value -1 must be @positive (> 0)"}));
}

TEST(Validator, LastAnnotationOfANameWins) {
  EXPECT_EQ(check(num(3), {ann("min", int64_t{5}), ann("min", int64_t{1})}), Texts{});
  EXPECT_EQ(check(num(3), {ann("min", int64_t{1}), ann("min", int64_t{5})}),
            Texts{"[k] value 3 is below @min: 5"});
  // A later annotation of the wrong kind replaces the earlier one and is then skipped.
  EXPECT_EQ(check(num(0), {ann("min", int64_t{5}), ann("min", std::string("9"))}), Texts{});
  EXPECT_EQ(check(num(1), {ann("deprecated", std::string("a")), ann("deprecated")}),
            Texts{"`k` is deprecated"});
  // Names are case-sensitive.
  EXPECT_EQ(check(str(""), {ann("Required"), ann("MIN", int64_t{1})}), Texts{});
}

TEST(Validator, DictValuesSkipValueRules) {
  Dict empty;
  Dict full;
  full.emplace("x", num(1));
  const std::vector<Annotation> value_rules = {
      ann("type", std::string("int")), ann("min", int64_t{5}), ann("max", int64_t{-5}),
      ann("minlen", int64_t{5}),       ann("maxlen", int64_t{-1}), ann("pattern", std::string("(")),
      ann("enum", Texts{"a"}),         ann("positive"),         ann("nonzero")};
  EXPECT_EQ(check(Value::dict(full), value_rules), Texts{});
  EXPECT_EQ(check(Value::dict(empty), value_rules), Texts{});
  EXPECT_EQ(check(Value::dict(empty), {ann("type", std::string("dict")), ann("required"),
                                       ann("nonempty"), ann("deprecated")}),
            (Texts{"[k] value is @required but is empty or null", "[k] value must be @nonempty",
                   "`k` is deprecated"}));
}

TEST(Validator, KeyPathsResolveThroughConfig) {
  Dict inner;
  inner.emplace("port", num(0));
  inner.emplace("", num(0));  // an empty key is an ordinary piece
  Dict server;
  server.emplace("net", Value::dict(std::move(inner)));
  server.emplace("name", str("x"));
  Document doc;
  doc.config.emplace("server", Value::dict(server));
  doc.config.emplace("a.b", num(0));  // a key holding a point is unreachable
  doc.config.emplace("top", num(0));
  const std::string paths[] = {"server.net.port", "server.net.", "server",        "top",
                               "server.name.x",   "server.nope", "a.b",           "nope",
                               "server..port",    "",            "server.net.port.x"};
  for (const auto& p : paths) doc.annotations.set(p, {ann("nonzero"), ann("required"), ann("deprecated")});
  doc.key_spans["server.net.port"] = {10, 14};
  auto ds = validate_document(doc);
  EXPECT_EQ(messages(ds), (Texts{
                              "[server.net.port] value must be @nonzero",
                              "`server.net.port` is deprecated",
                              "[server.net.] value must be @nonzero",
                              "`server.net.` is deprecated",
                              "`server` is deprecated",
                              "[top] value must be @nonzero",
                              "`top` is deprecated",
                          }));
  ASSERT_FALSE(ds.empty());
  EXPECT_EQ(ds[0].span, (Span{10, 14}));
  EXPECT_EQ(ds[2].span, (Span{0, 0}));  // no key span recorded
}

TEST(Validator, RequiredOnEmptySection) {
  Document doc;
  doc.config.emplace("db", Value::dict({}));
  doc.config.emplace("svc", Value::dict({}));
  doc.key_spans["db"] = {1, 3};
  doc.annotations.set("db", {ann("required"), ann("type", std::string("int"))});
  doc.annotations.set("svc", {});  // an empty list is skipped
  auto ds = validate_document(doc);
  ASSERT_EQ(ds.size(), 1u);
  EXPECT_EQ(ds[0].message, "[db] value is @required but is empty or null");
  EXPECT_EQ(ds[0].span, (Span{1, 3}));
}

TEST(Validator, WalksTheAnnotationTableInItsOwnOrder) {
  Document doc;
  for (const char* k : {"a", "b", "c"}) doc.config.emplace(k, num(0));
  // Inserted c, a, b: the walk must follow that order, not the sorted one.
  for (const char* k : {"c", "a", "b"}) doc.annotations.set(k, {ann("nonzero")});
  EXPECT_EQ(messages(validate_document(doc)),
            (Texts{"[c] value must be @nonzero", "[a] value must be @nonzero",
                   "[b] value must be @nonzero"}));
  EXPECT_TRUE(validate_document(Document{}).empty());
}

}  // namespace
}  // namespace brindle
