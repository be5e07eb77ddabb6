#include "validator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder.h"

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

const char* const kNaN = "1e999 - 1e999";
const std::string kRequired = "[k] value is @required but is empty or null";
const std::string kNonempty = "[k] value must be @nonempty";

Texts wrong_type(const char* want, const char* is) {
  return {std::string("[k] expected @type: ") + want + ", got " + is};
}

// Annotation lines above one key `k`, the source of its value, the findings.
// Numbers print in their shortest form, integral ones bare; both sides of a
// bound compare as doubles, so integers beyond 2^53 round. Lengths count
// characters; float length bounds truncate toward zero, saturating.
TEST(Validator, EachRule) {
  const struct {
    const char* annotations;
    const char* value;
    Texts expected;
  } cases[] = {
      {"@required\n@nonempty", "\"\"", {kRequired, kNonempty}},
      {"@required\n@nonempty", "null", {kRequired, kNonempty}},
      {"@required: x", "[]", {kRequired}},
      {"@required\n@nonempty\n@positive", "false", {}},
      {"@required\n@nonempty", "0", {}},
      {"@positive", "0", {"[k] value 0 must be @positive (> 0)"}},
      {"@positive\n@nonzero", "-0.0",
       {"[k] value -0 must be @positive (> 0)", "[k] value must be @nonzero"}},
      {"@positive\n@nonzero\n@min: 0", kNaN, {}},
      {"@nonzero", "1 / 1e300", {}},
      {"@min: 1", "0", {"[k] value 0 is below @min: 1"}},
      {"@max: 1.5", "2", {"[k] value 2 exceeds @max: 1.5"}},
      {"@max: 2", "3.0", {"[k] value 3 exceeds @max: 2"}},
      {"@min: 0.25", "-0.5", {"[k] value -0.5 is below @min: 0.25"}},
      {"@max: inf", "1e300", {}},
      {"@max: 9007199254740992", "9007199254740993", {}},
      {"@max: 0", "9007199254740993", {"[k] value 9007199254740992 exceeds @max: 0"}},
      {"@max: 1.0", "9223372036854775807", {"[k] value 9223372036854776000 exceeds @max: 1"}},
      {"@max: nan", "0", {}},
      // Rules that do not cover the value, or whose argument is of the wrong kind.
      {"@min: 5\n@positive\n@nonzero", "\"zzz\"", {}},
      {"@max: 0\n@maxlen: 0\n@pattern: x\n@enum: [a]", "true", {}},
      {"@min: \"5\"\n@maxlen: 0\n@pattern: x\n@enum: [a]\n@type: [string]", "1", {}},
      {"@maxlen: \"1\"\n@pattern: [abc]\n@enum: \"a, b\"", "\"xyz\"", {}},
      {"@maxlen: 2", "\"\xC3\xA9" "a\xC3\xA9\"", {"[k] length 3 exceeds @maxlen: 2"}},
      {"@minlen: 2.9", "\"a\"", {"[k] length 1 is below @minlen: 2"}},
      {"@maxlen: -0.9", "\"\"", {}},
      {"@minlen: 3", "[1, 2]", {"[k] length 2 is below @minlen: 3"}},
      {"@minlen: -1", "\"\"", {}},
      {"@maxlen: -1", "\"\"", {"[k] length 0 exceeds @maxlen: -1"}},
      {"@maxlen: 1e300", "\"abc\"", {}},
      {"@maxlen: -1e300", "\"abc\"", {"[k] length 3 exceeds @maxlen: -9223372036854775808"}},
      {"@maxlen: nan", "\"a\"", {"[k] length 1 exceeds @maxlen: 0"}},
      {"@minlen: 9223372036854775807", "\"a\"",
       {"[k] length 1 is below @minlen: 9223372036854775807"}},
      {"@type: float", "5", {}},
      {"@type: int", "5.0", wrong_type("int", "float")},
      {"@type: string", "1", wrong_type("string", "int")},
      {"@type: bool", "\"true\"", wrong_type("bool", "string")},
      {"@type: list", "null", wrong_type("list", "null")},
      {"@type: dict", "[]", wrong_type("dict", "list")},
      {"@type: path", "true", wrong_type("path", "bool")},
      {"@type: list[int]", "[]", {}},
      {"@type: list[int]", "[1, \"a\"]", wrong_type("list[int]", "list")},
      {"@type: list[int]", "[1.0]", wrong_type("list[int]", "list")},
      {"@type: list[float]", "[1, 2.5]", {}},
      {"@type: list[string]", "[\"a\"]", {}},
      {"@type: list[string]", "\"a\"", wrong_type("list[string]", "string")},
      {"@type: list[bool]", "[true, 0]", wrong_type("list[bool]", "list")},
      {"@type: url", "\"http://x\"", {}},
      {"@type: url", "\"https://x\"", {}},
      {"@type: url", "\"ftp://x\"", wrong_type("url", "string")},
      {"@type: url", "\"HTTP://x\"", wrong_type("url", "string")},
      {"@type: url", "1", wrong_type("url", "int")},
      {"@type: Int", "1", {}},
      {"@type: null", "\"x\"", {}},
      {"@pattern: [a-z]+", "\"abc\"", {}},
      {"@pattern: [a-z]+", "\"abc1\"", {"[k] value `abc1` does not match @pattern: `[a-z]+`"}},
      {"@pattern: a", "\"a`b\\n\"", {"[k] value `a`b\n` does not match @pattern: `a`"}},
      {"@enum: [debug, release]", "\"debug\"", {}},
      {"@enum: [debug, release]", "\"fast\"", {"[k] value `fast` not in @enum: [debug, release]"}},
      {"@enum: [debug]", "\"Debug\"", {"[k] value `Debug` not in @enum: [debug]"}},
      {"@enum: []", "\"\"", {"[k] value `` not in @enum: []"}},
      {"@enum: [\"a, b\"]", "\"x\"", {"[k] value `x` not in @enum: [\"a, b\"]"}},
      {"@deprecated", "1", {"`k` is deprecated"}},
      {"@deprecated: use new_key", "1", {"`k` is deprecated: use new_key"}},
      {"@deprecated: 2", "1", {"`k` is deprecated"}},
      {"@deprecated: \"2\"", "1", {"`k` is deprecated: 2"}},
      // One rule table per key: rules run in a fixed order whatever the
      // source order, the last annotation of a name wins (even one then
      // skipped for its argument), names are case-sensitive, and a Dict
      // value leaves out the rules that do not apply to it.
      {"@deprecated\n@nonempty\n@enum: [a]\n@pattern: a\n@maxlen: -1\n@minlen: 1\n@type: int\n"
       "@required\n@unknown\n@tag: x=y",
       "\"\"",
       {kRequired, wrong_type("int", "string")[0], "[k] length 0 is below @minlen: 1",
        "[k] length 0 exceeds @maxlen: -1", "[k] value `` does not match @pattern: `a`",
        "[k] value `` not in @enum: [a]", kNonempty, "`k` is deprecated"}},
      {"@nonzero\n@positive\n@max: -2\n@min: 0", "-1",
       {"[k] value -1 is below @min: 0", "[k] value -1 exceeds @max: -2",
        "[k] value -1 must be @positive (> 0)"}},
      {"@min: 5\n@min: 1", "3", {}},
      {"@min: 5\n@min: \"9\"", "0", {}},
      {"@Required\n@MIN: 1", "\"\"", {}},
      {"@type: int\n@min: 5\n@max: -5\n@minlen: 5\n@maxlen: -1\n@pattern: (\n@enum: [a]\n"
       "@positive\n@nonzero\n@required\n@nonempty\n@deprecated",
       "#{ }#", {kRequired, kNonempty, "`k` is deprecated"}},
  };
  for (const auto& c : cases) {
    const Document doc = build(std::string(c.annotations) + "\nk = " + c.value + "\n");
    EXPECT_EQ(findings(doc), c.expected) << c.annotations << "\non " << c.value;
  }
}

TEST(Validator, EmailAndDurationTexts) {
  const struct {
    const char* type;
    Texts pass, fail;
  } cases[] = {
      // A zero-width space is not White_Space; U+3000 is.
      {"email", {"a@b.c", "a@.c", "\xC3\xA9@b.c", "a@b.\xE2\x80\x8B"},
       {"", "@ab.c", "a@bc", "a.b@c", "a@b.c.", "a@b@.c", "a @b.c", "a@b.c\xE3\x80\x80"}},
      // U+0663 is a digit, but not an ASCII one.
      {"duration", {"30s", "5m", "12h", "7d", "0001d"},
       {"", "s", "15", "1.5h", "10ms", "30S", "15min", " 5m", "\xD9\xA3s"}},
  };
  for (const auto& c : cases) {
    for (const Texts* texts : {&c.pass, &c.fail}) {
      for (const auto& text : *texts) {
        const Texts expected = texts == &c.pass ? Texts{} : wrong_type(c.type, "string");
        const Document doc = build(std::string("@type: ") + c.type + "\nk = \"" + text + "\"\n");
        EXPECT_EQ(findings(doc), expected) << c.type << " " << text;
      }
    }
  }
}

TEST(Validator, FindingKindsAndSpans) {
  const std::string source = "@pattern: (\n@enum: [y]\n@deprecated\nkey = \"x\"\n@required\n[db]\n";
  const char* const kinds[] = {"syntax", "variable", "annotation", "validation", "deprecation"};
  Texts got;
  for (const auto& d : validate_document(build(source))) {
    got.push_back(source.substr(d.span.start, d.span.end - d.span.start) + " | " +
                  kinds[static_cast<int>(d.kind)] + (d.is_warning ? " warning | " : " | ") +
                  d.message);
  }
  EXPECT_EQ(got, (Texts{
                     "@pattern: ( | annotation | "
                     "[key] invalid @pattern regex: found open group without closing ')'",
                     "key | validation | [key] value `x` not in @enum: [y]",
                     "key | deprecation warning | `key` is deprecated",
                     "db | validation | [db] value is @required but is empty or null",
                 }));
}

// Paths follow config one '.'-separated piece at a time (empty pieces are
// keys too), and the walk keeps the annotation table's own order.
TEST(Validator, KeyPathsResolveThroughConfig) {
  Document doc =
      build("top = 0\n\"a.b\" = 0\n[server]\nname = \"x\"\n[server.net]\nport = 0\n\"\" = 0\n");
  const auto rules = *build("@nonzero\n@required\n@deprecated\nk = 1").annotations.find("k");
  doc.annotations = {};
  for (const char* p : {"server.net.port", "server.net.", "server", "top", "server.name.x",
                        "server.nope", "a.b", "nope", "server..name", ".top", "",
                        "server.net.port.x"})
    doc.annotations.set(p, rules);
  EXPECT_EQ(findings(doc),
            (Texts{"[server.net.port] value must be @nonzero", "`server.net.port` is deprecated",
                   "[server.net.] value must be @nonzero", "`server.net.` is deprecated",
                   "`server` is deprecated", "[top] value must be @nonzero",
                   "`top` is deprecated"}));
}

}  // namespace
}  // namespace brindle
