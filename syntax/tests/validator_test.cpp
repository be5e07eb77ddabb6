#include "validator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "builder.h"
#include "pattern_cache.h"

namespace brindle {
namespace {

using Texts = std::vector<std::string>;

Document build(const std::string& source) {
  Document doc = build_document(source, EmptyEnv{});
  EXPECT_TRUE(doc.diagnostics.empty()) << source << ": " << doc.diagnostics.front().message;
  return doc;
}

Texts findings(const Document& doc) {
  Texts out;
  for (const auto& d : validate_document(doc)) out.push_back(d.message);
  return out;
}

const std::string kRequired = "[k] value is @required but is empty or null";
const std::string kNonempty = "[k] value must be @nonempty";

Texts wrong_type(const char* want, const char* is) { return {std::string("[k] expected @type: ") + want + ", got " + is}; }

// Annotation lines above one key `k`, the source of its value, the findings.
// Numbers print in their shortest form, integral ones bare; both sides of a
// bound compare as doubles, so integers beyond 2^53 round. Lengths count
// characters; float length bounds truncate toward zero, saturating.
TEST(Validator, EachRule) {
  const std::tuple<const char*, const char*, Texts> cases[] = {
      {"@required\n@nonempty", "\"\"", {kRequired, kNonempty}},
      {"@required\n@nonempty", "null", {kRequired, kNonempty}},
      {"@required: x", "[]", {kRequired}},
      {"@required\n@nonempty\n@positive", "false", {}},
      {"@required\n@nonempty\n@positive", "0", {"[k] value 0 must be @positive (> 0)"}},
      {"@positive\n@nonzero", "-0.0", {"[k] value -0 must be @positive (> 0)", "[k] value must be @nonzero"}},
      {"@positive\n@nonzero\n@min: 0", "1e999 - 1e999", {}},
      {"@min: 0.25", "-0.5", {"[k] value -0.5 is below @min: 0.25"}},
      {"@max: 1.5", "3.0", {"[k] value 3 exceeds @max: 1.5"}},
      {"@max: 9007199254740992", "9007199254740993", {}},
      {"@max: 0", "9007199254740993", {"[k] value 9007199254740992 exceeds @max: 0"}},
      {"@max: 1.0", "9223372036854775807", {"[k] value 9223372036854776000 exceeds @max: 1"}},
      {"@max: nan", "0", {}},
      // Rules that do not cover the value, or whose argument is of the wrong kind.
      {"@max: 0\n@maxlen: 0\n@pattern: x\n@enum: [a]", "true", {}},
      {"@min: \"5\"\n@maxlen: 0\n@pattern: x\n@enum: [a]\n@type: [string]", "1", {}},
      {"@min: 5\n@positive\n@nonzero\n@maxlen: \"1\"\n@pattern: [abc]\n@enum: \"a, b\"", "\"xyz\"", {}},
      {"@maxlen: 2", "\"\xC3\xA9" "a\xC3\xA9\"", {"[k] length 3 exceeds @maxlen: 2"}},
      {"@minlen: 2.9", "\"a\"", {"[k] length 1 is below @minlen: 2"}},
      {"@maxlen: -0.9", "\"\"", {}},
      {"@minlen: 3", "[1, 2]", {"[k] length 2 is below @minlen: 3"}},
      {"@maxlen: -1e300", "\"abc\"", {"[k] length 3 exceeds @maxlen: -9223372036854775808"}},
      {"@minlen: 1e300", "\"a\"", {"[k] length 1 is below @minlen: 9223372036854775807"}},
      {"@maxlen: nan", "\"a\"", {"[k] length 1 exceeds @maxlen: 0"}},
      {"@pattern: [a-z]+\n@enum: [abc, d]", "\"abc\"", {}},
      {"@pattern: [a-z]+", "\"a`b\\n\"", {"[k] value `a`b\n` does not match @pattern: `[a-z]+`"}},
      {"@enum: [abc, d]", "\"Abc\"", {"[k] value `Abc` not in @enum: [abc, d]"}},
      {"@enum: [\"a, b\"]", "\"x\"", {"[k] value `x` not in @enum: [\"a, b\"]"}},
      {"@deprecated", "1", {"`k` is deprecated"}},
      {"@deprecated: 2", "1", {"`k` is deprecated"}},
      {"@deprecated: \"2\"", "1", {"`k` is deprecated: 2"}},
      {"@deprecated: use new_key", "1", {"`k` is deprecated: use new_key"}},
      // One rule table per key: rules run in a fixed order whatever the
      // source order, the last annotation of a name wins (even one then
      // skipped for its argument), names are case-sensitive, and a Dict
      // value leaves out the rules that do not apply to it.
      {"@deprecated\n@nonempty\n@enum: [a]\n@pattern: a\n@maxlen: -1\n@minlen: 1\n@type: int\n@required\n@unknown",
       "\"\"",
       {kRequired, wrong_type("int", "string")[0], "[k] length 0 is below @minlen: 1", "[k] length 0 exceeds @maxlen: -1",
        "[k] value `` does not match @pattern: `a`", "[k] value `` not in @enum: [a]", kNonempty, "`k` is deprecated"}},
      {"@nonzero\n@positive\n@max: -2\n@min: 0", "-1",
       {"[k] value -1 is below @min: 0", "[k] value -1 exceeds @max: -2", "[k] value -1 must be @positive (> 0)"}},
      {"@min: 5\n@min: 1", "3", {}},
      {"@min: 5\n@min: \"9\"", "0", {}},
      {"@Required\n@MIN: 1", "\"\"", {}},
      {"@type: int\n@min: 5\n@max: -5\n@minlen: 5\n@maxlen: -1\n@pattern: (\n@enum: [a]\n@positive\n@nonzero\n@required\n"
       "@nonempty\n@deprecated", "#{ }#", {kRequired, kNonempty, "`k` is deprecated"}},
  };
  for (const auto& [annotations, value, expected] : cases)
    EXPECT_EQ(findings(build(std::string(annotations) + "\nk = " + value)), expected) << annotations << "\non " << value;
}

// Values (source text) that a @type accepts and rejects, with the kind the
// message then names. Unknown type names accept everything.
TEST(Validator, Types) {
  const std::tuple<const char*, Texts, Texts, const char*> cases[] = {
      {"int", {"-5"}, {"5.0"}, "float"},
      {"float", {"5", "2.5"}, {"\"5\""}, "string"},
      {"string", {"\"\""}, {"1"}, "int"},
      {"bool", {"false"}, {"\"true\""}, "string"},
      {"list", {"[]"}, {"null"}, "null"},
      {"dict", {"#{ }#"}, {"[]"}, "list"},
      {"path", {"\"\""}, {"true"}, "bool"},
      {"list[int]", {"[]", "[1, 2]"}, {"[1.0]", "[1, \"a\"]"}, "list"},
      {"list[float]", {"[1, 2.5]"}, {"[1, null]"}, "list"},
      {"list[string]", {"[\"a\"]"}, {"[\"a\", 1]"}, "list"},
      {"list[bool]", {"[true]"}, {"[true, 0]"}, "list"},
      {"url", {"\"http://x\"", "\"https://x\""}, {"\"HTTP://x\"", "\"ftp://x\""}, "string"},
      {"Int", {"1", "[]"}, {}, ""},
      // A zero-width space is not White_Space; U+3000 is.
      {"email", {R"("a@b.c")", R"("a@.c")", "\"\xC3\xA9@b.c\"", "\"a@b.\xE2\x80\x8B\""},
       {R"("")", R"("@ab.c")", R"("a@bc")", R"("a.b@c")", R"("a@b.c.")", R"("a@b@.c")", R"("a @b.c")", "\"a@b.c\xE3\x80\x80\""},
       "string"},
      // U+0663 is a digit, but not an ASCII one.
      {"duration", {R"("30s")", R"("5m")", R"("12h")", R"("7d")", R"("0001d")"},
       {R"("")", R"("s")", R"("15")", R"("1.5h")", R"("10ms")", R"("30S")", R"("15min")", R"(" 5m")", "\"\xD9\xA3s\""}, "string"},
  };
  for (const auto& [type, accepted, rejected, got] : cases)
    for (const bool pass : {true, false})
      for (const auto& value : pass ? accepted : rejected)
        EXPECT_EQ(findings(build(std::string("@type: ") + type + "\nk = " + value)),
                  pass ? Texts{} : wrong_type(type, got)) << type << " " << value;
}

TEST(Validator, FindingKindsAndSpans) {
  const std::string source = "@pattern: (\n@enum: [y]\n@deprecated\nkey = \"x\"\n@required\n[db]\n";
  const char* const kinds[] = {"syntax", "variable", "annotation", "validation", "deprecation"};
  Texts got;
  for (const auto& d : validate_document(build(source)))
    got.push_back(source.substr(d.span.start, d.span.end - d.span.start) + " | " + kinds[static_cast<int>(d.kind)] +
                  (d.is_warning ? " warning | " : " | ") + d.message);
  EXPECT_EQ(got, (Texts{"@pattern: ( | annotation | [key] invalid @pattern regex: found open group without closing ')'",
                        "key | validation | [key] value `x` not in @enum: [y]", "key | deprecation warning | `key` is deprecated",
                        "db | validation | [db] value is @required but is empty or null"}));
}

// Paths follow config one '.'-separated piece at a time (empty pieces are
// keys too), and the walk keeps the annotation table's own order.
TEST(Validator, KeyPathsResolveThroughConfig) {
  Document doc = build("top = 0\n\"a.b\" = 0\n[server]\nname = \"x\"\n[server.net]\nport = 0\n\"\" = 0\n");
  const Document ruled = build("@nonzero\n@required\n@deprecated\nk = 1");
  const AnnotationList* found = ruled.annotations.find("k");
  ASSERT_NE(found, nullptr);
  const std::vector<Annotation> rules(found->begin(), found->end());
  for (const char* p : {"server.net.port", "server.net.", "server", "top", "server.name.x", "server.nope", "a.b", "nope",
                        "server..name", ".top", "", "server.net.port.x"})
    doc.annotations.set(p, rules);
  EXPECT_EQ(findings(doc), (Texts{"[server.net.port] value must be @nonzero", "`server.net.port` is deprecated",
                                  "[server.net.] value must be @nonzero", "`server.net.` is deprecated", "`server` is deprecated",
                                  "[top] value must be @nonzero", "`top` is deprecated"}));
}

// A parsed entry is reached by its segments as written, so a quoted name
// holding a point is one key, never a walk one level deeper.
TEST(Validator, QuotedNamesWithPointsAreReached) {
  const std::pair<const char*, Texts> cases[] = {
      {"[a]\n@min: 5\n\"x.y\" = 1", {"[a.x.y] value 1 is below @min: 5"}},
      {"@required\n[b.\"c.d\"]\n", {"[b.c.d] value is @required but is empty or null"}},
      {"@nonzero\n\"a.b\" = 0\n[a]\nb = 1", {"[a.b] value must be @nonzero"}},
      {"[s]\n\"p.q\" = #{\n@max: 0\n\"r.t\" = 3\n}#", {"[s.p.q.r.t] value 3 exceeds @max: 0"}},
      {"[\"s.t\"]\n@deprecated\n\"\" = 1", {"`s.t.` is deprecated"}},
      // the same joined path, another entry: each is checked where it stands
      {"[a]\n@min: 5\n\"x.y\" = 1\n[a.x]\ny = 9", {"[a.x.y] value 1 is below @min: 5"}},
      {"[a]\n\"x.y\" = 1\n[a.x]\n@min: 5\ny = 9", {}},
  };
  for (const auto& [source, expected] : cases) EXPECT_EQ(findings(build(source)), expected) << source;
}

// Annotated keys are reached from the dict of the previous one's parents
// when those are the same; every move between sections and depths must
// still land on the right entry, or on none.
TEST(Validator, AnnotatedKeysAcrossSectionsAndDepths) {
  const std::pair<const char*, Texts> cases[] = {
      {"@min: 5\ntop = 1\n[a]\n@min: 5\nx = 1\n[a.b]\n@min: 5\ny = 1\n[c]\n@min: 5\nx = 2\n"
       "[a]\n@max: 0\nz = 3\n[a.b]\n@max: 0\nw = 4\n@max: 0\nv = 5",
       {"[top] value 1 is below @min: 5", "[a.x] value 1 is below @min: 5",
        "[a.b.y] value 1 is below @min: 5", "[c.x] value 2 is below @min: 5",
        "[a.z] value 3 exceeds @max: 0", "[a.b.w] value 4 exceeds @max: 0",
        "[a.b.v] value 5 exceeds @max: 0"}},
      // Same depth, another parent; then a parent that is not a dict.
      {"[a.b]\n@max: 0\nk = 1\n[a.c]\n@max: 0\nk = 2\n[a]\n@max: 0\nd = 3\n",
       {"[a.b.k] value 1 exceeds @max: 0", "[a.c.k] value 2 exceeds @max: 0",
        "[a.d] value 3 exceeds @max: 0"}},
      {"[a.s]\n@max: 0\nk = 1\n@max: 0\nj = 2\n[a]\ns = 1\n[u]\n@max: 0\nk = 3",
       {"[u.k] value 3 exceeds @max: 0"}},
      {"[a.s]\n@max: 0\nk = 1\n[a.s2]\nx = 1\n[a.s]\n@max: 0\nj = 2\n[a]\ns = 0", {}},
      {"[p.q]\n@max: 0\nk = 1\n[p]\n@max: 0\nq = 9\n", {"[p.q] value 9 exceeds @max: 0"}},
  };
  for (const auto& [source, expected] : cases) EXPECT_EQ(findings(build(source)), expected) << source;
}

// Forty alternatives of `.{1000}` down to `.{961}`: some 300 000
// instructions, a costly compile.
std::string costly_pattern(const std::string& tail = "") {
  std::string p;
  for (int n = 1000; n > 960; --n) p.append(p.empty() ? "" : "|").append(".{" + std::to_string(n) + "}");
  return p + tail;
}

TEST(PatternCache, CompilesEachTextOnceWithinItsBudget) {
  const std::string a = ".{500}a", b = ".{500}b", c = ".{500}c", d = ".{500}d";
  const uint64_t cost = static_cast<uint64_t>(Pattern::compile(a).program_size());
  ASSERT_GT(cost, 1000u);
  PatternCache cache(3 * cost - 1);
  const Pattern* first = cache.get(a);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(cache.get(a), first);  // compiled once, charged once
  const Pattern* bad = cache.get("(");  // a failure is kept too, at the cost of its text
  EXPECT_TRUE(first && first->ok() && bad && !bad->ok());
  EXPECT_TRUE(cache.get(b) != nullptr && cache.get(c) != nullptr);  // c crosses the budget and is kept
  EXPECT_EQ(cache.get(d), nullptr);
  EXPECT_TRUE(cache.get(a) == first && cache.get(c) != nullptr && cache.get("(") == bad);
  EXPECT_EQ(std::tuple(pattern_budget_for(0), pattern_budget_for(62500), pattern_budget_for(62501), pattern_budget_for(UINT64_MAX)),
            std::tuple(uint64_t{1000000}, uint64_t{1000000}, uint64_t{1000016}, UINT64_MAX));
}

// 300 keys sharing one costly pattern are all checked (one compile); costly
// patterns that differ are checked until their work passes the budget of a
// small file, and each one after that is reported instead.
TEST(Validator, PatternCompileWorkIsBounded) {
  std::string shared;
  for (int i = 0; i < 300; ++i) shared += "@pattern: \"" + costly_pattern() + "\"\nk" + std::to_string(i) + " = \"x\"\n";
  const Texts all = findings(build(shared));
  ASSERT_EQ(all.size(), 300u);
  EXPECT_EQ(all[299], "[k299] value `x` does not match @pattern: `" + costly_pattern() + "`");

  std::string distinct;
  uint64_t spent = 0;
  size_t checked = 0;
  for (int i = 0; i < 8; ++i) {
    const std::string p = costly_pattern("|y{" + std::to_string(i + 2) + "}");
    distinct += "@pattern: \"" + p + "\"\nk" + std::to_string(i) + " = \"y\"\n";
    if (spent < 1000000) ++checked, spent += static_cast<uint64_t>(Pattern::compile(p).program_size());
  }
  ASSERT_TRUE(checked >= 2 && checked < 8) << checked;
  const std::vector<Diagnostic> got = validate_document(build(distinct));
  ASSERT_EQ(got.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    const std::string key = "[k" + std::to_string(i) + "] ";
    EXPECT_EQ(got[i].message.substr(0, key.size() + 12), key + (i < checked ? "value `y` do" : "@pattern not"));
    EXPECT_EQ(got[i].kind, i < checked ? DiagnosticKind::Validation : DiagnosticKind::Annotation);
  }
  EXPECT_EQ(got.back().message, "[k7] @pattern not checked: the document's patterns exceed the compile limit");
  EXPECT_FALSE(got.back().is_warning);
}

// Stopping at the first error gives the full list up to and including it.
TEST(Validator, StopsAtTheFirstError) {
  const std::string sources[] = {
      "@deprecated\na = 1\n@min: 5\nb = 1\n@max: 0\nc = 1\n",
      "@deprecated\na = 1\n@deprecated\nb = 1\n",
      "@pattern: (\nk = \"x\"\n@pattern: \"" + costly_pattern() + "\"\nj = \"x\"\n",
      "@type: int\n@min: 9\nk = \"x\"\n@required\nj = null\n",
      "",
  };
  for (const std::string& source : sources) {
    const Document doc = build(source);
    std::vector<Diagnostic> full = validate_document(doc);
    const auto first = std::find_if(full.begin(), full.end(), [](const Diagnostic& d) { return !d.is_warning; });
    if (first != full.end()) full.erase(first + 1, full.end());
    Texts want, got;
    for (const Diagnostic& d : full) want.push_back(d.message);
    for (const Diagnostic& d : validate_document(doc, ValidateOptions{true})) got.push_back(d.message);
    EXPECT_EQ(got, want) << source;
  }
}

}  // namespace
}  // namespace brindle
