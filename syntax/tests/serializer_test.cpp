#include "serializer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace brindle {
namespace {

Value S(std::string s) { return Value::string(std::move(s)); }
Value I(int64_t i) { return Value::integer(i); }
Value F(double d) { return Value::floating(d); }
Value A(Array a) { return Value::array(std::move(a)); }
Value D(Dict d) { return Value::dict(std::move(d)); }

Annotation ann(std::string name, AnnotationArg arg = {}) {
  Annotation a;
  a.name = std::move(name);
  a.arg = std::move(arg);
  return a;
}

struct FormatCase {
  const char* label;
  Value value;
  std::string text;
};

TEST(FormatValue, WritesEachVariant) {
  const double inf = std::numeric_limits<double>::infinity();
  const FormatCase cases[] = {
      {"plain string", S("abc"), "\"abc\""},
      {"empty string", S(""), "\"\""},
      {"four escapes", S("q\"b\\t\tn\n"), "\"q\\\"b\\\\t\\tn\\n\""},
      {"carriage return", S("a\rb"), "\"a\\rb\""},
      {"other controls copied", S(std::string("\x01\x7f\v\0z", 5)), std::string("\"\x01\x7f\v\0z\"", 7)},
      {"non-ascii copied", S("caf\xC3\xA9 \xE2\x80\xA8"), "\"caf\xC3\xA9 \xE2\x80\xA8\""},
      {"integer", I(42), "42"},
      {"negative integer", I(-7), "-7"},
      {"smallest integer", I(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
      {"integral float", F(1.0), "1.0"},
      {"negative zero", F(-0.0), "-0.0"},
      {"1e20", F(1e20), "100000000000000000000.0"},
      {"1e23 exact digits", F(1e23), "99999999999999991611392.0"},
      {"fraction", F(2.5), "2.5"},
      {"tenth", F(0.1), "0.1"},
      {"small", F(1e-7), "0.0000001"},
      {"nan", F(std::nan("")), "NaN"},
      {"inf", F(inf), "inf"},
      {"-inf", F(-inf), "-inf"},
      {"true", Value::boolean(true), "true"},
      {"false", Value::boolean(false), "false"},
      {"null", Value::null(), "null"},
      {"empty array", A({}), "[]"},
      {"array", A({I(1), S("a"), F(2.0)}), "[1, \"a\", 2.0]"},
      {"nested arrays", A({A({}), A({A({I(1)})}), I(2)}), "[[], [[1]], 2]"},
      {"empty dict", D({}), "#{  }#"},
      {"dict in key order", D({{"b", I(1)}, {"a", I(2)}}), "#{ a = 2, b = 1 }#"},
      {"dict nesting", D({{"x", D({{"y", A({D({})})}})}}), "#{ x = #{ y = [#{  }#] }# }#"},
      {"array of dicts", A({D({{"k", Value::null()}}), D({})}), "[#{ k = null }#, #{  }#]"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_value(c.value), c.text) << c.label;
}

// Inside an inline dict a quoted key is taken verbatim, so quoting is the
// only mend available there and it cannot carry a double quote.
TEST(FormatValue, InlineDictKeysAreQuotedWhenThatReadsBack) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain_Key-9", "plain_Key-9"},
      {"a b", "\"a b\""},
      {"x.y", "\"x.y\""},
      {"", "\"\""},
      {" lead", "\" lead\""},
      {"a=b", "\"a=b\""},
      {"c,d", "\"c,d\""},
      {"#{", "\"#{\""},
      {"back\\slash", "\"back\\slash\""},   // verbatim: no escaping inside
      {"two\\\\", "\"two\\\\\""},           // an even run may end the key
      {"odd\\", "odd\\"},                   // would escape the closing quote
      {"q\"q", "q\"q"},                     // no form carries a quote
      {"line\nfeed", "line\nfeed"},
  };
  for (const auto& [key, written] : cases)
    EXPECT_EQ(format_value(D({{key, I(1)}})), "#{ " + written + " = 1 }#") << key;
}

TEST(FormatValue, DeepNestingDoesNotExhaustTheStack) {
  // Built and torn down by moves, level by level: copies and destructors of
  // this Value would recurse through every level themselves.
  constexpr int depth = 200000;
  Value v = I(0);
  for (int i = 0; i < depth; ++i) {
    if (i % 2) {
      Array a;
      a.push_back(std::move(v));
      v = A(std::move(a));
    } else {
      Dict d;
      d.emplace("k", std::move(v));
      v = D(std::move(d));
    }
  }
  const std::string text = format_value(v);
  EXPECT_EQ(text.size(), 1 + (depth / 2) * (2 + 10));  // "[" "]" and "#{ k = " " }#"
  EXPECT_EQ(text.substr(0, 17), "[#{ k = [#{ k = [");
  EXPECT_EQ(text.substr(text.size() - 8), " }#] }#]");
  const size_t zero = (depth / 2) * 8;  // after every "[" and "#{ k = "
  EXPECT_EQ(text.find('0'), zero);
  EXPECT_EQ(text.substr(zero - 8, 13), "[#{ k = 0 }#]");
  while (!v.is(Tag::Integer)) {
    Value inner = v.is(Tag::Array) ? std::move(v.as_array().front())
                                   : std::move(v.as_dict().begin()->second);
    v = std::move(inner);
  }
}

TEST(QuoteName, BareWhenItReadsBackElseEscapedQuotes) {
  const std::pair<std::string, std::string> cases[] = {
      {"port", "port"},
      {"a-b_C9", "a-b_C9"},
      {"9", "9"},
      {"vars", "vars"},
      {"a b", "\"a b\""},
      {"x.y", "\"x.y\""},
      {"", "\"\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"c:\\dir\\", "\"c:\\\\dir\\\\\""},
      {"\\\"", "\"\\\\\\\"\""},
      {"#tag", "\"#tag\""},
      {"@x", "\"@x\""},
      {"[s]", "\"[s]\""},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
      {"tab\there", "\"tab\there\""},
      {"a\nb", "a\nb"},  // no form keeps a line feed on one line
  };
  for (const auto& [name, written] : cases) EXPECT_EQ(quote_name(name), written) << name;
}

struct AnnotationCase {
  const char* label;
  Annotation annotation;
  std::string line;
};

TEST(WriteAnnotations, EachArgumentForm) {
  const AnnotationCase cases[] = {
      {"none", ann("required"), "@required"},
      {"text unquoted", ann("pattern", std::string("^a b$")), "@pattern: ^a b$"},
      {"text that looks numeric", ann("min", std::string("5")), "@min: 5"},
      {"empty text", ann("x", std::string()), "@x: "},
      {"integer", ann("min", int64_t{-3}), "@min: -3"},
      {"smallest integer", ann("min", std::numeric_limits<int64_t>::min()), "@min: -9223372036854775808"},
      {"float", ann("max", 2.5), "@max: 2.5"},
      {"integral float loses its point", ann("max", 3.0), "@max: 3"},
      {"float without exponent", ann("max", 1e21), "@max: 1000000000000000000000"},
      {"infinite float", ann("max", -std::numeric_limits<double>::infinity()), "@max: -inf"},
      {"list", ann("enum", std::vector<std::string>{"a", "b c", ""}), "@enum: [a, b c, ]"},
      {"empty list", ann("enum", std::vector<std::string>{}), "@enum: []"},
  };
  for (const auto& c : cases) {
    for (const std::string indent : {"", "  "}) {
      std::string out = "prefix\n";
      write_annotations(out, {c.annotation}, indent);
      EXPECT_EQ(out, "prefix\n" + indent + c.line + "\n") << c.label;
    }
  }
}

struct DocCase {
  const char* label;
  Dict vars;
  Dict config;
  std::vector<std::pair<std::string, std::vector<Annotation>>> annotations;
  std::string text;
};

Document make_doc(const DocCase& c) {
  Document doc;
  doc.vars = c.vars;
  doc.config = c.config;
  for (const auto& [path, list] : c.annotations) doc.annotations.set(path, list);
  return doc;
}

TEST(SerializeDocument, Layout) {
  const DocCase cases[] = {
      {"nothing to write", {}, {}, {}, "\n"},
      {"top-level keys in key order", {}, {{"b", I(2)}, {"a", S("x")}}, {}, "a = \"x\"\nb = 2\n"},
      {"key then section",
       {},
       {{"z", I(1)}, {"s", D({{"k", Value::boolean(true)}})}},
       {},
       "z = 1\n\n[s]\nk = true\n"},
      {"empty section before another",
       {},
       {{"a", D({})}, {"b", D({{"k", I(1)}})}},
       {},
       "[a]\n\n[b]\nk = 1\n"},
      {"top-level dict is a section, third level inline",
       {},
       {{"s", D({{"blk", D({{"inner", D({{"x", I(1)}})}, {"y", F(1.0)}})}})}},
       {},
       "[s]\nblk = #{\n  inner = #{ x = 1 }#\n  y = 1.0\n}#\n"},
      {"empty block",
       {},
       {{"s", D({{"b", D({})}})}},
       {},
       "[s]\nb = #{\n}#\n"},
      {"annotations on section, key, block key and block entry",
       {},
       {{"server", D({{"port", I(80)}, {"tls", D({{"cert", S("c")}})}})}, {"top", I(0)}},
       {{"server", {ann("required")}},
        {"server.port", {ann("enum", std::vector<std::string>{"a", "b"}), ann("min", int64_t{1})}},
        {"server.tls", {ann("internal")}},
        {"server.tls.cert", {ann("pattern", std::string("^c$"))}},
        {"top", {ann("deprecated")}},
        {"server.missing", {ann("never")}},
        {"server.tls.cert.deeper", {ann("never")}}},
       "@deprecated\ntop = 0\n\n@required\n[server]\n@enum: [a, b]\n@min: 1\nport = 80\n"
       "@internal\ntls = #{\n  @pattern: ^c$\n  cert = \"c\"\n}#\n"},
      {"whitespace-only string at the end is kept",
       {},
       {{"k", S(" ")}},
       {},
       "k = \" \"\n"},
      {"names quoted where needed",
       {},
       {{"a b", I(1)}, {"x.y", D({{"", I(2)}, {"q\"", D({{"c\\", I(3)}})}})}},
       {},
       "\"a b\" = 1\n\n[\"x.y\"]\n\"\" = 2\n\"q\\\"\" = #{\n  \"c\\\\\" = 3\n}#\n"},
      {"a section named vars is quoted", {}, {{"vars", D({{"k", I(1)}})}}, {}, "[\"vars\"]\nk = 1\n"},
      {"headers that no form carries are written as stored",
       {},
       {{"", D({})}, {"a]", D({})}, {"[b", D({})}},
       {},
       "[]\n\n[[b]\n\n[a]]\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(serialize_document(make_doc(c)), c.text) << c.label;
}

// Read back, every line after `[vars]` up to the next header is a variable
// and annotation lines there are dropped, so the variables move to the end
// whenever something else would land in that stretch.
TEST(SerializeDocument, VariablesPlacement) {
  const Dict vars = {{"v", I(1)}, {"w x", S("y")}};
  const std::string vars_text = "[vars]\nv = 1\n\"w x\" = \"y\"\n";
  const DocCase cases[] = {
      {"only variables", vars, {}, {}, vars_text},
      {"sections only: first", vars, {{"s", D({{"k", I(2)}})}}, {}, vars_text + "\n[s]\nk = 2\n"},
      {"annotated later section: still first",
       vars,
       {{"a", D({})}, {"b", D({})}},
       {{"b", {ann("required")}}, {"a.k", {ann("x")}}},
       vars_text + "\n[a]\n\n@required\n[b]\n"},
      {"top-level key: last", vars, {{"k", I(2)}}, {}, "k = 2\n\n" + vars_text},
      {"top-level key and section: last",
       vars,
       {{"k", I(2)}, {"s", D({})}},
       {},
       "k = 2\n\n[s]\n\n" + vars_text},
      {"annotated first section: last",
       vars,
       {{"a", D({})}, {"b", D({})}},
       {{"a", {ann("required")}}},
       "@required\n[a]\n\n[b]\n\n" + vars_text},
      {"first header cannot be written: last", vars, {{"[", D({})}}, {}, "[[]\n\n" + vars_text},
      {"variables are never annotated",
       vars,
       {},
       {{"v", {ann("required")}}},
       vars_text},
  };
  for (const auto& c : cases) EXPECT_EQ(serialize_document(make_doc(c)), c.text) << c.label;
}

}  // namespace
}  // namespace brindle
