#include "serializer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "builder.h"
#include "display.h"
#include "value_parser.h"

namespace brindle {
namespace {

Value S(std::string s) { return Value::string(std::move(s)); }
Value I(int64_t i) { return Value::integer(i); }
Value F(double d) { return Value::floating(d); }
Value A(Array a) { return Value::array(std::move(a)); }
Value D(Dict d) { return Value::dict(std::move(d)); }

TEST(FormatValue, WritesEachVariant) {
  const std::pair<Value, std::string> cases[] = {
      {Value::string("q\"b\\t\tn\n\r."), "\"q\\\"b\\\\t\\tn\\n\\r.\""},
      {Value::string(std::string("\x01\x7f\v\0\xC3\xA9\xE2\x80\xA8", 9)),
       std::string("\"\x01\x7f\v\0\xC3\xA9\xE2\x80\xA8\"", 11)},
      {I(std::numeric_limits<int64_t>::min()), "-9223372036854775807 - 1"},  // no literal reads as it
      {A({F(1.0), F(-0.0), F(1e23), F(0.1), F(1e-7)}), "[1.0, -0.0, 99999999999999991611392.0, 0.1, 0.0000001]"},
      {A({F(std::nan("")), F(HUGE_VAL), F(-HUGE_VAL)}), "[0.0 / 0.0, 1.0 / 0.0, -1.0 / 0.0]"},
      {A({A({}), A({A({I(1)})}), Value::boolean(true), Value::boolean(false), Value::null()}), "[[], [[1]], true, false, null]"},
      {D({{"b", I(1)}, {"a", D({{"y", A({D({})})}})}}), "#{ a = #{ y = [#{  }#] }#, b = 1 }#"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(format_value(value), text) << text;
}

// A name is quoted where, bare, it would read back as something else, in the
// form each place reads: a key line unescapes \" and \\; a header is cut at
// points, trimmed, may start a comment at `#`, and opens the variables at a
// bare `vars`; an inline-dict key is cut at commas and `=` and is taken
// verbatim, so it cannot carry a double quote nor end in an odd run of
// backslashes. A root dict that no header names is a block among the
// top-level keys. Names that no form carries are written as stored.
TEST(Names, QuotedWhereABareNameWouldNotReadBack) {
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {  // name, key line, inline, header
      {"9a-b_C", "9a-b_C", "9a-b_C", "9a-b_C"},
      {"vars", "vars", "vars", "\"vars\""},
      {"a b", "\"a b\"", "a b", "a b"},
      {"", "\"\"", "", "\"\" = #{\n}#\n"},
      {" a", "\" a\"", "\" a\"", "\" a\""},
      {"x.y", "\"x.y\"", "x.y", "\"x.y\""},
      {"#{", "\"#{\"", "\"#{\"", "\"#{\""},
      {"[x=y,z]", "\"[x=y,z]\"", "\"[x=y,z]\"", "\"[x=y,z]\" = #{\n}#\n"},
      {"say \"hi\"", "\"say \\\"hi\\\"\"", "say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\b\\\\", "\"a\\\\b\\\\\\\\\"", "\"a\\b\\\\\"", "a\\b\\\\"},
      {"odd\\", "\"odd\\\\\"", "odd\\", "odd\\"},
      {"line\nfeed", "line\nfeed", "line\nfeed", "line\nfeed = #{\n}#\n"},
  };
  for (const auto& [name, key_line, inline_key, header] : cases) {
    EXPECT_EQ(quote_name(name), key_line) << name;
    EXPECT_EQ(format_value(D({{name, I(1)}})), "#{ " + inline_key + " = 1 }#") << name;
    Document doc;
    doc.config.emplace(name, D({}));
    const std::string written = header.ends_with("}#\n") ? header : "[" + header + "]\n";
    EXPECT_EQ(serialize_document(doc), written) << name;
  }
}

TEST(FormatValue, DeepNestingDoesNotExhaustTheStack) {
  // Built and torn down by moves, level by level: copies and destructors of
  // this Value would recurse through every level themselves.
  constexpr size_t depth = 200000;
  Value v = I(0);
  for (size_t i = 0; i < depth; ++i) {
    Value inner = std::move(v);
    v = i % 2 ? A({}) : D({});
    if (i % 2) v.as_array().push_back(std::move(inner));
    else v.as_dict().emplace("k", std::move(inner));
  }
  const std::string text = format_value(v);
  EXPECT_EQ(text.size(), depth * 6 + 1);  // "[", "]", "#{ k = " and " }#" around each pair
  EXPECT_EQ(text.substr(depth * 4 - 8, 13), "[#{ k = 0 }#]");
  while (!v.is(Tag::Integer))  // the inner value moves out first, into a temporary
    v = Value(v.is(Tag::Array) ? std::move(v.as_array().front()) : std::move(v.as_dict().begin()->second));
}

// Source text and how it is written (null: unchanged, which pins the form and
// shows that it reads back as it was). Every line after `[vars]` up to the
// next header reads back as a variable and annotation lines there are
// dropped, so the variables go last whenever anything else would land there.
TEST(SerializeDocument, WritesWhatItReads) {
  const std::pair<const char*, const char*> cases[] = {
      {"b = 2\na = \"x\"", "a = \"x\"\nb = 2\n"},
      {"[s]\nblk = #{\n  inner = #{ x = 1 }#\n  y = 1.0\n}#\n", nullptr},
      {"[s]\nb = #{\n}#\n", nullptr},
      {"@deprecated\ntop = 0\n\n@required\n[server]\n@enum: [a, b]\n@min: 1\nport = 80\n"
       "@internal\n\"t s\" = #{\n  @pattern: ^c$\n  \"c.d\" = \"c\"\n}#\n", nullptr},
      {"@required\n@pattern: ^a b$\n@min: -3\n@max: 2.5\n@max: 1000000000000000000000\n@max: -inf\n"
       "@enum: [a, b c]\n@enum: []\nk = \" \"\n", nullptr},
      {"[vars]\nv = 1\n\"w x\" = \"y\"\n\n[a]\n\n@required\n[b]\n", nullptr},
      {"k = 2\n\n[vars]\nv = 1\n", nullptr},
      {"@required\n[a]\n\n[b]\n\n[vars]\nv = 1\n", nullptr},
  };
  for (const auto& [source, written] : cases) {
    const Document doc = build_document(source, EmptyEnv{});
    EXPECT_TRUE(doc.diagnostics.empty()) << source;
    EXPECT_EQ(serialize_document(doc), written ? written : source) << source;
  }
}

// Each annotation line as written after a parse (null: unchanged). An
// argument is written bare only where it reads back bare as itself; text
// that looks like a number, a list or quoted text, holds a `#` or has blanks
// at its ends is quoted, and so is each such list item.
TEST(SerializeDocument, AnnotationArgumentsReadBack) {
  const std::pair<const char*, const char*> cases[] = {
      {"@pattern: \"[abc]\"", nullptr}, {"@pattern: \"^#[0-9a-f]{6}$\"", nullptr}, {"@pattern: \"# x\"", nullptr},
      {"@enum: [\"a#b\", c]", nullptr}, {"@enum: [\" a\", \"5\", \"\", \"[x]\", \"\"q\"\", b c]", "@enum: [\" a\", 5, \"\", [x], \"\"q\"\", b c]"},
      {"@x: \"5\"", nullptr}, {"@x: \"-1.5e3\"", nullptr}, {"@x: \"inf\"", nullptr}, {"@x: \" a \"", nullptr},
      {"@x: \"\"q\"\"", nullptr}, {"@x: \"[a, b]\"", nullptr}, {"@x: plain text", nullptr}, {"@x: a\"b", nullptr},
      {"@x: 3.0", nullptr}, {"@x: -0.0", nullptr}, {"@x: inf", nullptr}, {"@x: -9223372036854775808", nullptr},
      {"@x: nan", "@x: NaN"}, {"@x: 1e3", "@x: 1000.0"}, {"@x(a, b)", "@x: a, b"}, {"@x(\"# y\")", "@x: \"# y\""},
      {"@x(5)", "@x: \"5\""}, {"@x(a\" #b)", "@x: a\" #b"}, {"@x: \"\"a\"#b\"\"", nullptr},
      {"@enum: [\" }#\", }}# \", # x]", nullptr},  // a quote in an item: the rest of the line reads as quoted
  };
  for (const auto& [line, written] : cases) {
    const std::string source = std::string(line) + "\nk = 1\n";
    const Document doc = build_document(source, EmptyEnv{});
    ASSERT_TRUE(doc.diagnostics.empty()) << line;
    EXPECT_EQ(serialize_document(doc), (written ? std::string(written) + "\nk = 1\n" : source)) << line;
  }
}

std::string nest(std::string_view open, std::string_view inner, std::string_view close, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out.append(open);
  out.append(inner);
  for (size_t i = 0; i < n; ++i) out.append(close);
  return out;
}

// Documents at the nesting limits are written in a layout that reads back:
// a dict whose entries nest too deeply for a block becomes a section.
TEST(SerializeDocument, NestingLimitsReadBack) {
  const size_t k = kMaxValueDepth;
  std::string deepest = "[a";
  for (size_t i = 1; i < kMaxSectionDepth; ++i) deepest += ".a";
  deepest += "]\n";
  const std::string array = nest("[", "1", "]", k), dicts = nest("#{ d = ", "1", " }#", k);
  const std::pair<std::string, std::string> cases[] = {  // source, how it is written (empty: unchanged)
      {"[s0.s1.s2]\nk = " + array + "\n", "[s0]\n\n[s0.s1]\ns2 = #{\n  k = " + array + "\n}#\n"},
      {"[s0]\n@x\ns1 = #{\n  @y\n  k = " + dicts + "\n}#\n", ""},
      {"[s0.s1.s2]\n@x\nk = " + dicts + "\n[s0.s1]\n@y\nj = 1\n", ""},
      {deepest + "k = " + array + "\n", ""},
      {deepest + "b = #{\n  k = " + array + "\n}#\n", ""},
      {"[vars]\nv = " + array + "\n\n[s]\nk = " + dicts + "\n", ""},
  };
  for (const auto& [source, written] : cases) {
    const Document doc = build_document(source, EmptyEnv{});
    ASSERT_TRUE(doc.diagnostics.empty()) << source.substr(0, 80);
    const auto text = serialize_within_limits(doc);
    ASSERT_TRUE(text.has_value()) << source.substr(0, 80);
    const Document back = build_document(*text, EmptyEnv{});
    EXPECT_TRUE(back.diagnostics.empty()) << *text;
    EXPECT_EQ(debug_text(Value::dict(back.config)), debug_text(Value::dict(doc.config))) << *text;
    if (written.empty() || source.find("[s0.s1.s2]\n@x") != std::string::npos) {
      EXPECT_EQ(serialize_document(back), *text);
    } else {
      EXPECT_EQ(*text, written);
    }
    EXPECT_EQ(*text, serialize_document(doc));
  }
  // One level past what any layout carries.
  auto chain = [](size_t n, Value inner) {
    for (size_t i = 0; i < n; ++i) inner = D({{"d", std::move(inner)}});
    return inner;
  };
  auto array_of = [](size_t n) {
    Value v = I(1);
    for (size_t i = 0; i < n; ++i) v = A({std::move(v)});
    return v;
  };
  const std::pair<Value, bool> values[] = {  // the value of root key `k`, and whether it fits
      {array_of(k), true}, {array_of(k + 1), false},
      {chain(kMaxSectionDepth + 1 + k, I(1)), true}, {chain(kMaxSectionDepth + 2 + k, I(1)), false},
      {chain(kMaxSectionDepth, array_of(k)), true}, {chain(kMaxSectionDepth, array_of(k + 1)), false},
      {chain(kMaxSectionDepth - 1, D({{"b", array_of(k)}})), true},
  };
  for (const auto& [value, fits] : values) {
    Document doc;
    doc.config.emplace("k", value);
    const auto text = serialize_within_limits(doc);
    EXPECT_EQ(text.has_value(), fits);
    if (!text) continue;
    const Document back = build_document(*text, EmptyEnv{});
    EXPECT_TRUE(back.diagnostics.empty()) << text->substr(0, 200);
    EXPECT_TRUE(back.config == doc.config);
  }
}

TEST(SerializeDocument, WhatNoSourceCarries) {
  EXPECT_EQ(serialize_document(Document{}), "\n");
  std::string text = "[vars]\nv = 1\n\n[s]\nb = #{\n  c = 1\n}#\n";
  Document doc = build_document(text, EmptyEnv{});
  // Annotations of paths that are not written are not written either.
  const Annotation x = build_document("@x\nk = 1", EmptyEnv{}).annotations.find("k")->front();
  for (const char* path : {"v", "s.missing", "s.b.c.deeper"}) doc.annotations.set(path, {x});
  EXPECT_EQ(serialize_document(doc), text);
  // Arguments no source carries are written in the form that reads back
  // as they are, or quoted where none does.
  std::vector<Annotation> list(6, x);
  const AnnotationArg args[] = {std::string("5"), std::string(), 3.0, std::vector<std::string>{"a", ""},
                                std::string("a\nb"), std::vector<std::string>{"a,b"}};
  for (size_t i = 0; i < list.size(); ++i) list[i].arg = args[i];
  doc.annotations.set("s.b.c", list);
  text.insert(text.find("  c = 1"), "  @x: \"5\"\n  @x: \"\"\n  @x: 3.0\n  @x: [a, \"\"]\n  @x: \"a\nb\"\n  @x: [\"a,b\"]\n");
  EXPECT_EQ(serialize_document(doc), text);
  // A root dict that no header names is a top-level block, which sends
  // the variables last.
  doc.config.emplace("[", D({}));
  EXPECT_EQ(serialize_document(doc), "\"[\" = #{\n}#\n\n" + text.substr(text.find("[s]")) + "\n[vars]\nv = 1\n");
}

// What each case of a checked write gives: the text reads back as the
// document (with the quote variable defined when the data has no
// variables), or the refusal names the reason.
TEST(SerializeChecked, ReadsBackOrSaysWhy) {
  using Kind = SerializeFailure::Kind;
  const Annotation x = build_document("@x\nk = 1", EmptyEnv{}).annotations.find("k")->front();
  auto annotated = [&](AnnotationArg arg) {
    Document doc = build_document("[s]\nk = 1\n", EmptyEnv{});
    Annotation a = x;
    a.arg = std::move(arg);
    doc.annotations.set("s.k", {a}, {"s", "k"});
    return doc;
  };
  auto nested = [](size_t n) {
    Value v = I(1);
    for (size_t i = 0; i < n; ++i) v = A({std::move(v)});
    return v;
  };
  auto data = [](Value v) {
    Document doc;
    doc.config = std::move(v.as_dict());
    return doc;
  };
  const std::tuple<std::string, Document, bool, std::optional<Kind>> cases[] = {
      {"quote and operator, data", data(D({{"k", S("a\"+b")}})), true, {}},
      {"quote and operator, no variable", data(D({{"k", S("a\"+b")}})), false, Kind::NeedsQuoteVariable},
      {"quote and operator, lent", build_document("[vars]\nq = \"\\\"\"\nk = \"a\" + $q + \"+\"\n", EmptyEnv{}), false, {}},
      {"quote alone", data(D({{"k", S("a\"b")}})), false, {}},
      {"inline key with a quote", data(D({{"s", D({{"t", D({{"u", D({{"k\"", I(1)}})}})}})}})), false, {}},
      {"inline key in an array", data(D({{"k", A({D({{"k\"", I(1)}})})}})), true, Kind::Unwritable},
      {"annotation four levels down", build_document("[a.b.c]\n@min: 1\nd = 5\n", EmptyEnv{}), false, {}},
      {"empty section name", data(D({{"", D({{"k", I(1)}})}})), false, {}},
      {"bracket in a section name", data(D({{"a]", D({{"b", D({})}})}})), false, {}},
      {"line feed in a name", data(D({{"a\nb", I(1)}})), true, Kind::Unwritable},
      {"line feed in a section name", data(D({{"s", D({{"a\nb", D({})}})}})), true, Kind::Unwritable},
      {"line feed in an argument", annotated(std::string("a\nb")), false, Kind::Unwritable},
      {"comma in a list item", annotated(std::vector<std::string>{"a,b"}), false, Kind::Unwritable},
      {"too deep", data(D({{"k", nested(kMaxValueDepth + 1)}})), false, Kind::TooDeep},
  };
  for (const auto& [name, doc, define, refused] : cases) {
    const SerializeResult result = serialize_checked(doc, {.may_define_quote = define});
    if (refused) {
      const auto* failure = std::get_if<SerializeFailure>(&result);
      ASSERT_NE(failure, nullptr) << name;
      EXPECT_EQ(failure->kind, *refused) << name << ": " << failure->message;
      continue;
    }
    ASSERT_TRUE(std::holds_alternative<std::string>(result)) << name << ": " << std::get<SerializeFailure>(result).message;
    const std::string& text = std::get<std::string>(result);
    const Document back = build_document(text, EmptyEnv{});
    ASSERT_TRUE(back.diagnostics.empty()) << name << "\n" << text;
    EXPECT_TRUE(back.config == doc.config) << name << "\n" << text;
    for (const auto& [path, list] : doc.annotations) {
      const auto* again = back.annotations.find(path);
      ASSERT_NE(again, nullptr) << name << ": " << path;
      EXPECT_EQ(again->size(), list.size()) << name << ": " << path;
    }
    EXPECT_EQ(serialize_document(back), text) << name;
  }
}

// Writes `source` (which must build cleanly), checks that the text reads
// back as the same document (config, vars, annotated paths) and writes again
// as the same text; the text, or nothing when it was refused.
std::optional<std::string> written_reading_back(const std::string& source) {
  const Document doc = build_document(source, EmptyEnv{});
  EXPECT_TRUE(doc.diagnostics.empty()) << source;
  const SerializeResult result = serialize_checked(doc, {.may_define_quote = true});
  if (const auto* failure = std::get_if<SerializeFailure>(&result)) {
    ADD_FAILURE() << source << failure->message;
    return std::nullopt;
  }
  const std::string& text = std::get<std::string>(result);
  const Document back = build_document(text, EmptyEnv{});
  EXPECT_TRUE(back.diagnostics.empty()) << text;
  EXPECT_EQ(debug_text(Value::dict(back.config)), debug_text(Value::dict(doc.config))) << text;
  EXPECT_EQ(debug_text(Value::dict(back.vars)), debug_text(Value::dict(doc.vars))) << text;
  for (const auto& [path, list] : doc.annotations) {
    const auto* again = back.annotations.find(path);
    if (again == nullptr) {
      ADD_FAILURE() << text << path;
      continue;
    }
    EXPECT_EQ(again->size(), list.size()) << text << path;
  }
  EXPECT_EQ(serialize_document(back), text) << source;
  return text;
}

// Sections below a segment that only its own form carries in a header (a
// point and a quote with a trailing backslash, a leading quote that closes
// mid-segment): the dict that no block holds gets a header with each
// segment in the form that reads back. Each is written, read back as the
// same document, and written again as the same text.
TEST(SerializeChecked, HeadersWithSegmentsInTheirOwnForms) {
  const std::string deep = nest("#{ d = ", "1", " }#", kMaxValueDepth);
  const std::pair<std::string, const char*> cases[] = {  // source, a header it is written with
      {"[a.\"x.y\"z\\\".b.c.e\"d]\n", "[a.\"x.y\"z\\\".b]\n"},
      {"[a.\"p.q\"r\\.b.c.e\"d]\n", "[a.\"p.q\"r\\.b]\n"},
      {"[a.\"x.y\"z\\\".b.c]\n@min: 1\nk = 1\n", "[a.\"x.y\"z\\\".b]\n"},
      {"[a.\"x.y\"z\\\".b.c]\nk = " + deep + "\n", "[a.\"x.y\"z\\\".b]\nc = #{\n  k = #{ d"},
      {"[k.\"p.q\"r\\.\"s.t\"u\\\".v.w.e\"d]\nn = 1\n", "[k.\"p.q\"r\\.\"s.t\"u\\\".v]\n"},
      {"[ a\\,x.ix.yenv=prod\\\". \". 0 .ix.y\"6$\\\". \". 0 a\\,x.ix.y.y.ix.y\"600}\\,x.ix.y.ix.y\"6 ]\n",
       "[a\\,x.ix.\"yenv=prod\\\\\\\"\".\". 0 .ix.y\"6$\\\".\"\\\". 0 a\\\\,x.ix.y.y.ix.y\\\"600}\\\\,x\".ix.y]\n"},
  };
  for (const auto& [source, header] : cases) {
    const std::optional<std::string> text = written_reading_back(source);
    if (text) EXPECT_NE(text->find(header), std::string::npos) << *text;
  }
}

// An inline key whose quotes the scanners still pair up when it is quoted
// as it is (here `c\" x "a\"b\`) is written so where nothing else holds it:
// a variable, an array item, a root block. Where a section can hold its
// dict, the section stays. Each source is written as it reads.
TEST(SerializeChecked, InlineKeysQuotedWhereNoSectionHolds) {
  const std::string key = "#{ \"c\\\" x \"a\\\"b\\\" = 1 }#";
  const std::pair<std::string, std::string> cases[] = {  // source, how it is written (empty: unchanged)
      {"[vars]\nv = " + key + "\n", ""},
      {"k = [" + key + "]\n", ""},
      {"[s]\nk = [1, " + key + "]\n", ""},
      {"\"[\" = #{\n  k = " + key + "\n}#\n", ""},
      {"[s]\nb = #{\n  k = " + key + "\n}#\n", "[s]\n\n[s.b]\nk = #{\n  \"c\\\\\\\" x \\\"a\\\\\\\"b\\\\\" = 1\n}#\n"},
  };
  for (const auto& [source, written] : cases) {
    const std::optional<std::string> text = written_reading_back(source);
    if (text) EXPECT_EQ(*text, written.empty() ? source : written);
  }
}

}  // namespace
}  // namespace brindle
