#include "builder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "display.h"
#include "value_parser.h"

namespace brindle {
namespace {

class MapEnv final : public EnvLookup {
 public:
  explicit MapEnv(std::map<std::string, std::string, std::less<>> vars) : vars_(std::move(vars)) {}
  std::optional<std::string> get(std::string_view name) const override {
    auto it = vars_.find(name);
    if (it == vars_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, std::string, std::less<>> vars_;
};

Document parse(std::string_view source) { return build_document(source, EmptyEnv{}); }

Value I(int64_t v) { return Value::integer(v); }
Value S(std::string s) { return Value::string(std::move(s)); }
Value D(std::initializer_list<Dict::value_type> entries) { return Value::dict(Dict(entries)); }

// The span of the n-th occurrence (0-based) of `needle` in `source`.
Span find_span(std::string_view source, std::string_view needle, int nth = 0) {
  size_t at = source.find(needle);
  for (int i = 0; i < nth && at != std::string_view::npos; ++i) at = source.find(needle, at + 1);
  if (at == std::string_view::npos) {
    ADD_FAILURE() << "`" << needle << "` not in source";
    return {};
  }
  return {at, at + needle.size()};
}

std::string show(Span s) { return "(" + std::to_string(s.start) + ", " + std::to_string(s.end) + ")"; }

std::string show(const std::vector<Diagnostic>& diagnostics) {
  std::string out;
  for (const Diagnostic& d : diagnostics) {
    out += "  " + d.message + " " + show(d.span) + " kind " +
           std::to_string(static_cast<int>(d.kind)) + "\n";
  }
  return out;
}

std::vector<std::string> names(const std::vector<Annotation>& list) {
  std::vector<std::string> out;
  for (const Annotation& a : list) out.push_back(a.name);
  return out;
}

// ---- structure of config and vars ------------------------------------

struct StructureCase {
  const char* source;
  Value config;
  Value vars = Value::dict({});
};

TEST(Builder, BuildsSectionsKeysAndBlocks) {
  const StructureCase cases[] = {
      {"", D({})},
      {"# only a comment\n\n   \n", D({})},
      {"a = 1\n", D({{"a", I(1)}})},
      {"[s]\n", D({{"s", D({})}})},
      {"[a.b]\n", D({{"a", D({{"b", D({})}})}})},
      {"[ a . \"x.y\" ]\nk = 1", D({{"a", D({{"x.y", D({{"k", I(1)}})}})}})},
      // a top-level key is replaced by the section of the same name
      {"a = 1\n[a]\n", D({{"a", D({})}})},
      {"[s]\nb = 1\n[s.b]\nc = 2", D({{"s", D({{"b", D({{"c", I(2)}})}})}})},
      // ...and a key replaces the section Dict of the same name
      {"[s.b]\nc = 2\n[s]\nb = 1", D({{"s", D({{"b", I(1)}})}})},
      // a header seen again merges with the earlier keys
      {"[s]\nx = 1\n[t]\ny = 2\n[s]\nz = 3",
       D({{"s", D({{"x", I(1)}, {"z", I(3)}})}, {"t", D({{"y", I(2)}})}})},
      // invalid headers leave the previous section current
      {"[a..b]\nk = 1", D({{"k", I(1)}})},
      {"[s]\n[.x]\nk = 1\n[x.]\nj = 2", D({{"s", D({{"j", I(2)}, {"k", I(1)}})}})},
      {"a = 1\na = 2\n", D({{"a", I(2)}})},
      {"[s]\nb = #{\n  x = 1,\n  y = \"a\"\n}#\n", D({{"s", D({{"b", D({{"x", I(1)}, {"y", S("a")}})}})}})},
      {"b = #{\n}#\n", D({{"b", D({})}})},
      // a second opener inside a block is ignored; its closer ends the block
      {"b = #{\nc = #{\nx = 1\n}#\ny = 2\n}#\n", D({{"b", D({{"x", I(1)}})}, {"y", I(2)}})},
      // unclosed block swallows the rest, section headers included
      {"a = 0\nb = #{\nx = 1\n[t]\ny = 2\n", D({{"a", I(0)}})},
      // stray closers and lines that fit no rule are ignored
      {"}#\na = 1\n[]\nx.y = 2\nz =\n", D({{"a", I(1)}})},
      // a block key replaces an earlier value and is replaced by later ones
      {"b = 1\nb = #{\nx = 1\n}#\n", D({{"b", D({{"x", I(1)}})}})},
      {"b = #{\nx = 1\n}#\nb = 2\n", D({{"b", I(2)}})},
      // variables: keys of [vars] go to vars only, usable everywhere below
      {"[vars]\nx = 1\ny = 2\n", D({}), D({{"x", I(1)}, {"y", I(2)}})},
      {"k = $x\n[vars]\nx = 1\n[s]\nj = $x + 1", D({{"k", I(1)}, {"s", D({{"j", I(2)}})}}),
       D({{"x", I(1)}})},
      {"[vars]\nx = 1\n[vars]\nx = $x + 1\n", D({}), D({{"x", I(2)}})},
      // a redefinition applies to everything evaluated after it
      {"[vars]\nx = 1\ny = $x\nx = 5\n[s]\nz = $x", D({{"s", D({{"z", I(5)}})}}),
       D({{"x", I(5)}, {"y", I(1)}})},
      // the entries of a block inside [vars] are plain variables (no comma removal)
      {"[vars]\nb = #{\nx = 1\ny = 2,\n}#\n", D({}), D({{"x", I(1)}})},
      // [vars] ended by a section header that is invalid
      {"[vars]\nx = 1\n[a..b]\nk = $x", D({{"k", I(1)}}), D({{"x", I(1)}})},
  };
  for (const auto& c : cases) {
    const Document doc = parse(c.source);
    EXPECT_EQ(Value::dict(doc.config), c.config)
        << c.source << "\n got " << debug_text(Value::dict(doc.config));
    EXPECT_EQ(Value::dict(doc.vars), c.vars)
        << c.source << "\n got " << debug_text(Value::dict(doc.vars));
  }
}

TEST(Builder, EmptyInputLeavesEveryFieldEmpty) {
  for (const char* source : {"", "\n\n", "# c\n  # d\r\n"}) {
    const Document doc = parse(source);
    EXPECT_TRUE(doc.variable_refs.empty() && doc.diagnostics.empty() && doc.annotations.empty() &&
                doc.key_spans.empty() && doc.value_spans.empty() && doc.var_key_spans.empty() &&
                doc.var_value_spans.empty() && doc.config.empty() && doc.vars.empty())
        << source;
  }
}

// ---- diagnostics -----------------------------------------------------

struct ExpectedDiagnostic {
  std::string message;
  const char* at;  // text whose first occurrence is the span
  DiagnosticKind kind;
  int nth = 0;
};

struct DiagnosticCase {
  const char* source;
  std::vector<ExpectedDiagnostic> expected;
};

TEST(Builder, ReportsDiagnosticsInBuilderOrder) {
  using K = DiagnosticKind;
  const DiagnosticCase cases[] = {
      // all variables first, then the second pass in source order
      {"[a..b]\nk = bad\n[vars]\nx = 1\ny = $later\nlater = 2\n",
       {{"undefined variable `$later`", "$later", K::Variable},
        {"invalid section name: `a..b`", "a..b", K::Syntax},
        {"cannot parse value: `bad`", "bad", K::Syntax}}},
      // an ordinary key above the variables section may use any variable
      {"k = $v\n[vars]\nw = $v\nv = 1\n", {{"undefined variable `$v`", "$v", K::Variable, 1}}},
      // the name's span starts right after the `[`, blanks or not
      {"[ .x ]\n", {{"invalid section name: `.x`", " .", K::Syntax}}},
      {"[\"\"]\n", {{"invalid section name: `\"\"`", "\"\"", K::Syntax}}},
      {"@min 5\na = 1\n  @\n", {{"invalid annotation syntax: `@min 5`", "@min 5", K::Annotation},
                              {"annotation missing name", "@", K::Annotation, 1}}},
      {"x = 1 / 0\n", {{"invalid operands for `/`", "/", K::Syntax}}},
      // a trailing comma reaches the value grammar at top level only
      {"a = 1,\nb = #{\nc = 1,\nd = 2,,\n}#\n",
       {{"cannot parse value: `1,`", "1,", K::Syntax},
        {"cannot parse value: `2,`", "2,", K::Syntax}}},
      // only a message that begins with the words is a variable error
      {"a = undefined variable\n",
       {{"cannot parse value: `undefined variable`", "undefined variable", K::Syntax}}},
  };
  for (const auto& c : cases) {
    const Document doc = parse(c.source);
    ASSERT_EQ(doc.diagnostics.size(), c.expected.size()) << c.source << "\n" << show(doc.diagnostics);
    for (size_t i = 0; i < c.expected.size(); ++i) {
      const Diagnostic& d = doc.diagnostics[i];
      const ExpectedDiagnostic& e = c.expected[i];
      EXPECT_EQ(d.message, e.message) << c.source;
      EXPECT_EQ(d.kind, e.kind) << c.source << " " << d.message;
      EXPECT_FALSE(d.is_warning);
      EXPECT_EQ(show(d.span), show(find_span(c.source, e.at, e.nth))) << c.source << " " << d.message;
    }
  }
}

// ---- annotations -----------------------------------------------------

struct AnnotationCase {
  const char* source;
  std::map<std::string, std::vector<std::string>> expected;  // the whole table
};

TEST(Builder, AttachesAnnotations) {
  const AnnotationCase cases[] = {
      {"@required\na = 1\nb = 2", {{"a", {"required"}}}},
      {"@a\n@b\n[s]\nk = 1", {{"s", {"a", "b"}}}},
      // lost with a failing key, not carried to the next one
      {"@a\nk = bad\nj = 1", {}},
      // a failed annotation line is dropped alone
      {"@a\n@min 5\nk = 1", {{"k", {"a"}}}},
      // waiting across a variables section, attached to the header ending it
      {"@x\n[vars]\nv = 1\n@y\nw = 2\n[s]\nk = 1", {{"s", {"x"}}}},
      // an invalid header leaves them waiting
      {"@a\n[a..b]\nk = 1", {{"k", {"a"}}}},
      // duplicates: earlier annotations survive unless replaced
      {"@r\na = 1\na = 2", {{"a", {"r"}}}},
      {"@r\na = 1\n@s\na = 2", {{"a", {"s"}}}},
      {"@r\n[s]\n@t\n[s]", {{"s", {"t"}}}},
      {"[s]\n@blk\nb = #{\n@e\nx = 1,\ny = 2\n}#",
       {{"s.b", {"blk"}}, {"s.b.x", {"e"}}}},
      // a failing block entry drops what waits for it
      {"b = #{\n@e\nx = bad\ny = 1\n}#", {}},
      // leftovers at the end of a block and of the input are discarded
      {"b = #{\nx = 1\n@e\n}#\nk = 1\n@z", {}},
      {"@a\nb = #{\n}#\nk = 1", {{"b", {"a"}}}},
      // an unclosed block keeps what its entries recorded
      {"@a\nb = #{\n@e\nx = 1", {{"b.x", {"e"}}}},
      // openers inside a block are ignored, annotations keep waiting
      {"b = #{\n@e\nc = #{\nx = 1\n}#", {{"b.x", {"e"}}}},
      // annotation lines at top level are not collected inside a block
      {"b = #{\n@e\n}#\n@f\nk = 1", {{"k", {"f"}}}},
  };
  for (const auto& c : cases) {
    const Document doc = parse(c.source);
    std::map<std::string, std::vector<std::string>> got;
    for (const auto& [path, list] : doc.annotations) got[path] = names(list);
    EXPECT_EQ(got, c.expected) << c.source << "\n" << show(doc.diagnostics);
  }
}

TEST(Builder, AnnotationSpansAndWalkOrder) {
  const std::string src =
      "@first\n"
      "[s]\n"
      "  @second: 5   # note\n"
      "k = 1\n"
      "@third\n"
      "[s]\n"
      "@fourth\n"
      "a = 1\n";
  const Document doc = parse(src);
  ASSERT_TRUE(doc.diagnostics.empty()) << show(doc.diagnostics);
  const std::vector<Annotation>* second = doc.annotations.find("s.k");
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(second->size(), 1u);
  EXPECT_EQ(show((*second)[0].span), show(find_span(src, "@second: 5")));
  EXPECT_EQ(show((*second)[0].name_span), show(find_span(src, "@second")));
  // the walk follows each list's first annotation in the source: s.k, then
  // s (its list replaced by the later @third), then s.a
  std::vector<std::string> order;
  for (const auto& entry : doc.annotations) order.push_back(entry.first);
  EXPECT_EQ(order, (std::vector<std::string>{"s.k", "s", "s.a"}));
  EXPECT_EQ(names(*doc.annotations.find("s")), std::vector<std::string>{"third"});
}

// ---- spans -----------------------------------------------------------

struct SpanCase {
  const char* source;
  const char* path;
  const char* key;    // text of key_spans[path] ...
  int key_nth;        // ... at this occurrence
  const char* value;  // text of value_spans[path] (first occurrence); null: no entry
};

TEST(Builder, RecordsKeyAndValueSpans) {
  const SpanCase cases[] = {
      {"[s]\n  key = 42  # c", "s.key", "key", 0, "42  # c"},
      {"[ a . b ]\n", "a.b", " a . ", 0, nullptr},
      {"\"q.k\" = 1\n", "q.k", "\"q.k\"", 0, "1"},
      {"[s]\nb = #{\n x = 1,\n}#\n", "s.b", "b", 0, "b"},
      {"[s]\nb = #{\n x = 1,\n}#\n", "s.b.x", "x", 0, "1,"},
      {"b = #{\n x = [1,\n   2]\n}#\n", "b.x", "x", 0, "[1,\n   2]"},
      // a header seen again, and a later definition of a key, win
      {"[s]\n[s]\n", "s", "s", 1, nullptr},
      {"a = 1\na   =   22\n", "a", "a", 1, "22"},
  };
  for (const auto& c : cases) {
    const Document doc = parse(c.source);
    ASSERT_TRUE(doc.diagnostics.empty()) << c.source << show(doc.diagnostics);
    auto key = doc.key_spans.find(std::string(c.path));
    ASSERT_NE(key, doc.key_spans.end()) << c.source << " " << c.path;
    EXPECT_EQ(show(key->second), show(find_span(c.source, c.key, c.key_nth))) << c.source << " " << c.path;
    auto value = doc.value_spans.find(std::string(c.path));
    if (c.value == nullptr) {
      EXPECT_EQ(value, doc.value_spans.end()) << c.source;
    } else {
      ASSERT_NE(value, doc.value_spans.end()) << c.source;
      EXPECT_EQ(show(value->second), show(find_span(c.source, c.value))) << c.source << " " << c.path;
    }
  }
}

TEST(Builder, RecordsVariableSpans) {
  const std::string src = "[vars]\n  port = 80  # http\nport = 8080\n";
  const Document doc = parse(src);
  ASSERT_TRUE(doc.diagnostics.empty()) << show(doc.diagnostics);
  EXPECT_EQ(show(doc.var_key_spans.at("port")), show(find_span(src, "port", 1)));
  EXPECT_EQ(show(doc.var_value_spans.at("port")), show(find_span(src, "8080")));
  EXPECT_TRUE(doc.key_spans.empty());
  EXPECT_TRUE(doc.value_spans.empty());
}

TEST(Builder, CollectsVariableRefsOfSuccessfulValuesOnly) {
  const std::string src =
      "k = $y ?? $ENV.HOME\n"
      "bad = $x + nope\n"
      "e = $ENV.FOO\n"
      "[vars]\n"
      "x = 1\n"
      "y = $x + $x\n"
      "z = $missing\n";
  const MapEnv env(std::map<std::string, std::string, std::less<>>{{"FOO", "bar"}});
  const Document doc = build_document(src, env);
  ASSERT_EQ(doc.diagnostics.size(), 2u) << show(doc.diagnostics);
  EXPECT_EQ(doc.config.at("e"), S("bar"));
  struct Ref {
    std::string name;
    VariableKind kind;
    Span span;
  };
  const std::vector<Ref> want = {
      {"x", VariableKind::Document, find_span(src, "$x", 1)},
      {"x", VariableKind::Document, find_span(src, "$x", 2)},
      {"y", VariableKind::Document, find_span(src, "$y")},
      {"FOO", VariableKind::Environment, find_span(src, "$ENV.FOO")},
  };
  ASSERT_EQ(doc.variable_refs.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(doc.variable_refs[i].name, want[i].name) << i;
    EXPECT_EQ(doc.variable_refs[i].kind, want[i].kind) << i;
    EXPECT_EQ(show(doc.variable_refs[i].span), show(want[i].span)) << i;
  }
}

// ---- values joined over several lines ---------------------------------

struct JoinedCase {
  const char* source;
  const char* message;  // expected single diagnostic, or null for none
  const char* at;       // its span, or the span of the one VariableRef
  int nth = 0;
};

TEST(Builder, MapsJoinedValuePositionsToTheSource) {
  const JoinedCase cases[] = {
      {"a = [1,\n     2,   # two\n     bad]\n", "cannot parse value: `bad`", "bad"},
      {"a = [1,   # one\n\t\t  2, [3,\n  4], oops, 5]\n", "cannot parse value: `oops`", "oops"},
      {"[vars]\nx = 1\n[s]\nk = [1,\n   $x]\n", nullptr, "$x"},
      {"[vars]\nx = [\n  1,\n  $nope\n]\n", "undefined variable `$nope`", "$nope"},
      {"b = #{\n  x = [1,\n    bad],\n}#\n", "cannot parse value: `bad`", "bad"},
      {"a = #{ k = 1,\n   j = 1 / 0 }#\n", "invalid operands for `/`", "/"},
  };
  for (const auto& c : cases) {
    const Document doc = parse(c.source);
    if (c.message == nullptr) {
      EXPECT_TRUE(doc.diagnostics.empty()) << c.source << show(doc.diagnostics);
      ASSERT_EQ(doc.variable_refs.size(), 1u) << c.source;
      EXPECT_EQ(show(doc.variable_refs[0].span), show(find_span(c.source, c.at, c.nth))) << c.source;
      continue;
    }
    ASSERT_EQ(doc.diagnostics.size(), 1u) << c.source << show(doc.diagnostics);
    EXPECT_EQ(doc.diagnostics[0].message, c.message) << c.source;
    EXPECT_EQ(show(doc.diagnostics[0].span), show(find_span(c.source, c.at, c.nth))) << c.source;
  }
}

// ---- insert_entry ----------------------------------------------------

TEST(Builder, InsertEntryCreatesPathAndKeepsAnnotationsUnlessReplaced) {
  Document doc;
  doc.config.emplace("a", I(1));
  Annotation note;
  note.name = "required";
  insert_entry(doc, {"a", "b"}, "k", {1, 2}, {3, 4}, I(5), {note});
  insert_entry(doc, {"a", "b"}, "k", {5, 6}, {7, 8}, I(6), {});
  insert_entry(doc, {}, "top", {9, 10}, {11, 12}, S("t"), {});
  EXPECT_EQ(Value::dict(doc.config), D({{"a", D({{"b", D({{"k", I(6)}})}})}, {"top", S("t")}}));
  EXPECT_EQ(show(doc.key_spans.at("a.b.k")), show(Span{5, 6}));
  EXPECT_EQ(show(doc.value_spans.at("a.b.k")), show(Span{7, 8}));
  EXPECT_EQ(show(doc.value_spans.at("top")), show(Span{11, 12}));
  ASSERT_NE(doc.annotations.find("a.b.k"), nullptr);
  EXPECT_EQ(names(*doc.annotations.find("a.b.k")), std::vector<std::string>{"required"});
  EXPECT_EQ(doc.annotations.find("top"), nullptr);
}

// ---- hostile and large inputs ------------------------------------------

std::string doubling_chain(int n) {
  std::string src = "[vars]\nv0 = \"xxxxxxxx\"\n";
  for (int i = 1; i <= n; ++i) {
    const std::string prev = std::to_string(i - 1);
    src.append("v").append(std::to_string(i)).append(" = $v").append(prev);
    src.append(" + $v").append(prev).append("\n");
  }
  return src;
}

std::string array_fanout_chain(int n) {
  std::string src = "[vars]\nv0 = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n";
  for (int i = 1; i <= n; ++i) {
    const std::string ref = "$v" + std::to_string(i - 1);
    src += "v" + std::to_string(i) + " = [";
    for (int j = 0; j < 10; ++j) {
      if (j > 0) src += ", ";
      src += ref;
    }
    src += "]\n";
  }
  return src;
}

TEST(Builder, ExpansionIsStoppedByTheBudget) {
  for (const std::string& chain : {doubling_chain(40), array_fanout_chain(10)}) {
    const std::string src = chain + "[s]\nk = 1\n";
    const Document doc = parse(src);
    ASSERT_FALSE(doc.diagnostics.empty());
    EXPECT_EQ(doc.diagnostics[0].message, "value too large");
    EXPECT_EQ(doc.diagnostics[0].kind, DiagnosticKind::Syntax);
    // the variables after the failing one are undefined in turn
    EXPECT_TRUE(doc.diagnostics[1].message.starts_with("undefined variable")) << show(doc.diagnostics);
    // a later honest key finds the parse's budget already spent; its section
    // is still created
    EXPECT_EQ(doc.diagnostics.back().message, "value too large");
    EXPECT_EQ(show(doc.diagnostics.back().span), show(Span{src.size() - 6, src.size() - 5}));
    EXPECT_EQ(doc.config.at("s"), D({}));
  }
}

TEST(Builder, NestingLimits) {
  struct Case {
    std::string source;
    const char* message;  // null: no diagnostic
  };
  const auto nested = [](int depth) {
    return "k = " + std::string(depth, '[') + std::string(depth, ']') + "\n";
  };
  const auto deep_header = [](int depth) {
    std::string name = "s";
    for (int i = 1; i < depth; ++i) name += ".s";
    return "[" + name + "]\nk = 1\n";
  };
  const Case cases[] = {
      {nested(128), nullptr},
      {nested(129), "value nested too deeply"},
      {deep_header(128), nullptr},
      {deep_header(129), "section nested too deeply: `s"},
  };
  for (const auto& c : cases) {
    const Document doc = parse(c.source);
    if (c.message == nullptr) {
      EXPECT_TRUE(doc.diagnostics.empty()) << show(doc.diagnostics);
      EXPECT_EQ(doc.key_spans.size(), c.source[0] == '[' ? 2u : 1u);
    } else {
      ASSERT_EQ(doc.diagnostics.size(), 1u) << show(doc.diagnostics);
      EXPECT_TRUE(doc.diagnostics[0].message.starts_with(c.message)) << doc.diagnostics[0].message;
    }
  }
  // a rejected header leaves the key at the root
  EXPECT_EQ(parse(deep_header(129)).config.count("k"), 1u);
}

TEST(Builder, LongFallbackChain) {
  std::string src = "k = ";
  for (int i = 0; i < 100000; ++i) src += "null ?? ";
  src += "7\n";
  const Document doc = parse(src);
  EXPECT_TRUE(doc.diagnostics.empty()) << show(doc.diagnostics);
  ASSERT_EQ(doc.config.count("k"), 1u);
  EXPECT_EQ(doc.config.at("k"), I(7));
}

TEST(Builder, LargeHonestDocument) {
  std::string src = "[vars]\nbase = \"http://example.org\"\nport = 8080\n";
  constexpr int kSections = 3400;
  constexpr int kKeys = 200;
  for (int s = 0; s < kSections; ++s) {
    src += "\n[section_" + std::to_string(s) + ".sub]\n";
    for (int k = 0; k < kKeys; ++k) {
      const std::string key = "key_" + std::to_string(k);
      switch (k % 5) {
        case 0: src += key + " = " + std::to_string(s * 1000 + k) + "\n"; break;
        case 1: src += "@min: 0\n" + key + " = 1.5  # a comment\n"; break;
        case 2: src += key + " = \"some text value with # inside\"\n"; break;
        case 3: src += key + " = [1, 2, \"three\", true]\n"; break;
        default: src += key + " = $base + \":\" + $port\n"; break;
      }
    }
  }
  ASSERT_GT(src.size(), 20u * 1000 * 1000);
  const Document doc = parse(src);
  EXPECT_TRUE(doc.diagnostics.empty()) << show(doc.diagnostics);
  EXPECT_EQ(doc.config.size(), static_cast<size_t>(kSections));
  const Dict& last =
      doc.config.at("section_" + std::to_string(kSections - 1)).as_dict().at("sub").as_dict();
  EXPECT_EQ(last.size(), static_cast<size_t>(kKeys));
  EXPECT_EQ(last.at("key_195"), I((kSections - 1) * 1000 + 195));
  EXPECT_EQ(last.at("key_199"), S("http://example.org:8080"));
  EXPECT_EQ(doc.key_spans.size(), static_cast<size_t>(kSections * (kKeys + 1)));
  EXPECT_EQ(doc.annotations.size(), static_cast<size_t>(kSections * kKeys / 5));
  EXPECT_EQ(doc.variable_refs.size(), static_cast<size_t>(kSections * kKeys / 5 * 2));
}

}  // namespace
}  // namespace brindle
