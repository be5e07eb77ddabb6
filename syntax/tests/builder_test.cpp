#include "builder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace brindle {
namespace {

Document parse(std::string_view source) {
  FakeEnv env;
  env.vars = {{"FOO", "bar"}};
  return build_document(source, env);
}

// A span as the source text it covers in brackets, then `#n` when that is
// the text's nth occurrence (n > 0); "-" for no span.
std::string at(std::string_view src, std::optional<Span> s) {
  if (!s) return "-";
  if (s->start > s->end || s->end > src.size()) return show(*s);
  const std::string_view text = src.substr(s->start, s->end - s->start);
  int nth = 0;
  for (size_t p = src.find(text); p < s->start; p = src.find(text, p + 1)) ++nth;
  std::string out(1, '[');
  return out.append(text).append(1, ']').append(nth ? "#" + std::to_string(nth) : "");
}

// The config (and vars when any), then diagnostics as `!kind message[at]`,
// annotation lists as `@path:names` in walk order, and references as
// `$name:kind[at]`.
std::string render(std::string_view src, const Document& doc) {
  std::string out = brief(Value::dict(doc.config));
  if (!doc.vars.empty()) out.append(" vars ").append(brief(Value::dict(doc.vars)));
  for (const Diagnostic& d : doc.diagnostics) {
    out.append(d.is_warning ? " warning!" : " !").append(std::to_string(int(d.kind))).append(" ");
    out.append(d.message).append(at(src, d.span));
  }
  for (const auto& [path, list] : doc.annotations) {
    out.append(" @").append(path).append(":");
    for (size_t i = 0; i < list.size(); ++i) out.append(i ? "," : "").append(list[i].name);
  }
  for (const VariableRef& r : doc.variable_refs) {
    out.append(" $").append(r.name).append(":").append(std::to_string(int(r.kind))).append(at(src, r.span));
  }
  return out;
}

TEST(Builder, BuildsTheDocumentInOrder) {
  const int k = kMaxValueDepth;
  const std::string name = "s" + repeat(".s", k);  // one section too many
  const std::pair<std::string, std::string> cases[] = {
      {"", "{}"}, {"\n\n# c\n  # d\r\n", "{}"},
      {"a = 1\n", R"({"a": 1})"},
      {"[a.b]\n", R"({"a": {"b": {}}})"},
      {"[ a . \"x.y\" ]\nk = 1", R"({"a": {"x.y": {"k": 1}}})"},
      // a section replaces a key of its name and the other way round
      {"a = 1\n[a]\n", R"({"a": {}})"},
      {"[s]\nb = 1\n[s.b]\nc = 2", R"({"s": {"b": {"c": 2}}})"},
      {"[s.b]\nc = 2\n[s]\nb = 1", R"({"s": {"b": 1}})"},
      {"[s]\nx = 1\n[t]\ny = 2\n[s]\nz = 3", R"({"s": {"x": 1, "z": 3}, "t": {"y": 2}})"},  // headers merge
      {"a = 1\na = 2\n", R"({"a": 2})"},
      {"[s]\nb = #{\n  x = 1,\n  y = \"a\"\n}#\n", R"({"s": {"b": {"x": 1, "y": "a"}}})"},
      {"b = 1\nb = #{\n}#\n", R"({"b": {}})"},
      // a second opener inside a block is ignored; its closer ends the block
      {"b = #{\nc = #{\nx = 1\n}#\ny = 2\n}#\n", R"({"b": {"x": 1}, "y": 2})"},
      // an unclosed block swallows the rest, section headers included
      {"a = 0\nb = #{\nx = 1\n[t]\ny = 2\n", R"({"a": 0})"},
      {"}#\na = 1\n[]\nx.y = 2\nz =\n", R"({"a": 1})"},  // lines that fit no rule are ignored
      // variables: all of them first, usable everywhere, above too; a
      // redefinition applies to everything evaluated after it
      {"k = $x\n[vars]\nx = 1\n[s]\nj = $x + 1",
       R"({"k": 1, "s": {"j": 2}} vars {"x": 1} $x:0[$x] $x:0[$x]#1)"},
      {"[vars]\nx = 1\n[vars]\nx = $x + 1\n", R"({} vars {"x": 2} $x:0[$x])"},
      {"[vars]\nx = 1\ny = $x\nx = 5\n[s]\nz = $x",
       R"({"s": {"z": 5}} vars {"x": 5, "y": 1} $x:0[$x] $x:0[$x]#1)"},
      // the entries of a block inside [vars] are plain variables (no comma removal)
      {"[vars]\nb = #{\nx = 1\ny = 2,\n}#\n", R"({} vars {"x": 1} !0 cannot parse value: `2,`[2,])"},
      {"[vars]\nx = 1\n[a..b]\nk = $x",  // ended by an invalid header
       R"({"k": 1} vars {"x": 1} !0 invalid section name: `a..b`[a..b] $x:0[$x])"},
      {"[a..b]\nk = bad\n[vars]\nx = 1\ny = $later\nlater = 2\n",
       R"({} vars {"later": 2, "x": 1} !1 undefined variable `$later`[$later] )"
       R"(!0 invalid section name: `a..b`[a..b] !0 cannot parse value: `bad`[bad])"},
      {"k = $v\n[vars]\nw = $v\nv = 1\n",
       R"({"k": 1} vars {"v": 1} !1 undefined variable `$v`[$v]#1 $v:0[$v])"},
      // an invalid header leaves the previous section current; the name's
      // span starts right after the `[`, as long as the trimmed name
      {"[s]\n[ .x ]\nk = 1\n[\"\"]\nj = 2",
       R"({"s": {"j": 2, "k": 1}} !0 invalid section name: `.x`[ .] !0 invalid section name: `""`[""])"},
      {"@min 5\na = 1\n  @\n",
       R"({"a": 1} !2 invalid annotation syntax: `@min 5`[@min 5] !2 annotation missing name[@]#1)"},
      // a trailing comma reaches the value grammar at top level only
      {"a = 1,\nb = #{\nc = 1,\nd = 2,,\n}#\n",
       R"({"b": {"c": 1}} !0 cannot parse value: `1,`[1,] !0 cannot parse value: `2,`[2,])"},
      // only a message that begins with the words is a variable error
      {"a = undefined variable\n", "{} !0 cannot parse value: `undefined variable`[undefined variable]"},
      // positions inside values joined over several lines map back to the source
      {"a = [1,   # one\n\t\t  2, [3,\n  4], oops, 5]\n", "{} !0 cannot parse value: `oops`[oops]"},
      {"[vars]\nx = 1\n[s]\nk = [1,\n   $x]\n", R"({"s": {"k": [1, 1]}} vars {"x": 1} $x:0[$x])"},
      {"[vars]\nx = [\n  1,\n  $nope\n]\n", "{} !1 undefined variable `$nope`[$nope]"},
      {"b = #{\n  x = [1,\n    bad],\n}#\n", R"({"b": {}} !0 cannot parse value: `bad`[bad])"},
      {"a = #{ k = 1,\n   j = 1 / 0 }#\n", "{} !0 invalid operands for `/`[/]"},
      {"k = " + repeat("[", k) + repeat("]", k) + "\n", R"({"k": )" + repeat("[", k) + repeat("]", k) + "}"},
      {"k = " + repeat("[", k + 1) + repeat("]", k + 1) + "\n", "{} !0 value nested too deeply[[]]"},
      {"[" + name.substr(2) + "]\nk = 1\n", "{" + repeat(R"("s": {)", k) + R"("k": 1)" + repeat("}", k + 1)},
      {"[" + name + "]\nk = 1\n", R"({"k": 1} !0 section nested too deeply: `)" + name + "`[" + name + "]"},
      // annotations wait for the next key or section and are lost with a failing one
      {"@required\na = 1\nb = 2", R"({"a": 1, "b": 2} @a:required)"},
      {"@a\n@b\n[s]\nk = 1", R"({"s": {"k": 1}} @s:a,b)"},
      {"@a\nk = bad\nj = 1", R"({"j": 1} !0 cannot parse value: `bad`[bad])"},
      {"@a\n@min 5\nk = 1", R"({"k": 1} !2 invalid annotation syntax: `@min 5`[@min 5] @k:a)"},
      // waiting across a variables section, attached to the header ending it
      {"@x\n[vars]\nv = 1\n@y\nw = 2\n[s]\nk = 1", R"({"s": {"k": 1}} vars {"v": 1, "w": 2} @s:x)"},
      {"@a\n[a..b]\nk = 1", R"({"k": 1} !0 invalid section name: `a..b`[a..b] @k:a)"},
      // a repeated key or header keeps earlier annotations unless it brings its own;
      // the walk follows each list's first annotation in the source
      {"@r\na = 1\na = 2\n@q\nb = 1\n@s\nb = 2", R"({"a": 2, "b": 2} @a:r @b:s)"},
      {"@f\n[s]\n@t\nk = 1\n@u\n[s]", R"({"s": {"k": 1}} @s.k:t @s:u)"},
      {"[s]\n@blk\nb = #{\n@e\nx = 1,\ny = 2\n}#", R"({"s": {"b": {"x": 1, "y": 2}}} @s.b:blk @s.b.x:e)"},
      {"b = #{\n@e\nx = bad\ny = 1\n}#", R"({"b": {"y": 1}} !0 cannot parse value: `bad`[bad])"},
      // leftovers at the end of a block and of the input are discarded
      {"@a\nb = #{\nx = 1\n@e\n}#\nk = 1\n@z", R"({"b": {"x": 1}, "k": 1} @b:a)"},
      // an unclosed block keeps what its entries recorded; openers inside it are ignored
      {"@a\nb = #{\n@e\nc = #{\nx = 1", R"({} @b.x:e)"},
      // references of failing values are not kept
      {"k = $y ?? $ENV.HOME\nbad = $x + nope\ne = $ENV.FOO\n[vars]\nx = 1\ny = $x + $x\nz = $missing\n",
       R"({"e": "bar", "k": 2} vars {"x": 1, "y": 2} !1 undefined variable `$missing`[$missing] )"
       R"(!0 cannot parse value: `nope`[nope] $x:0[$x]#1 $x:0[$x]#2 $y:0[$y] $FOO:2[$ENV.FOO])"},
  };
  for (const auto& [source, want] : cases) {
    EXPECT_EQ(render(source, parse(source)), want) << source.substr(0, 60);
  }
}

TEST(Builder, RecordsSpansAndAnnotationPositions) {
  const std::tuple<std::string, std::string, std::string> cases[] = {  // source, path, spans
      {"[s]\n  key = 42  # c", "s.key", "key[key] value[42  # c]"},
      {"[ a . b ]\n", "a.b", "key[ a . ] value-"},
      {"\"q.k\" = 1\n", "q.k", "key[\"q.k\"] value[1]"},
      {"[s]\nb = #{\n x = 1,\n}#\n", "s.b", "key[b] value[b]"},
      {"[s]\nb = #{\n x = 1,\n}#\n", "s.b.x", "key[x] value[1,]"},
      {"b = #{\n x = [1,\n   2]\n}#\n", "b.x", "key[x] value[[1,\n   2]]"},
      {"[s]\n[s]\n", "s", "key[s]#1 value-"},  // a header seen again wins
      {"a = 1\na   =   22\n", "a", "key[a]#1 value[22]"},
      {"[vars]\n  port = 80  # http\nport = 8080\n", "port", "key- value- var[port]#1 = [8080]"},
      {"[s]\n  @second: 5   # note\nk = 1", "s.k", "key[k] value[1] @[@second: 5] name[@second]"},
  };
  for (const auto& [source, path, want] : cases) {
    const Document doc = parse(source);
    const auto of = [&](const SpanMap& map) {
      const auto it = map.find(path);
      return at(source, it == map.end() ? std::nullopt : std::optional<Span>(it->second));
    };
    std::string got = std::string("key").append(of(doc.key_spans));
    got.append(" value").append(of(doc.value_spans));
    if (doc.var_key_spans.contains(path)) {
      got.append(" var").append(of(doc.var_key_spans)).append(" = ").append(of(doc.var_value_spans));
    }
    if (const auto* list = doc.annotations.find(path)) {
      for (const Annotation& a : *list) {
        got.append(" @").append(at(source, a.span)).append(" name").append(at(source, a.name_span));
      }
    }
    EXPECT_EQ(got + (doc.diagnostics.empty() ? "" : render(source, doc)), want) << source;
  }
}

TEST(Builder, InsertEntryCreatesPathAndKeepsAnnotationsUnlessReplaced) {
  Document doc;
  doc.config.emplace("a", I(1));
  Annotation note;
  note.name = "required";
  insert_entry(doc, {"a", "b"}, "k", {1, 2}, {3, 4}, I(5), {note});
  insert_entry(doc, {"a", "b"}, "k", {5, 6}, {7, 8}, I(6), {});
  insert_entry(doc, {}, "top", {9, 10}, {11, 12}, S("t"), {});
  EXPECT_EQ(render("", doc), R"({"a": {"b": {"k": 6}}, "top": "t"} @a.b.k:required)");
  EXPECT_EQ(show(doc.key_spans.at("a.b.k")) + show(doc.value_spans.at("a.b.k")), "@5-6@7-8");
  EXPECT_EQ(show(doc.key_spans.at("top")) + show(doc.value_spans.at("top")), "@9-10@11-12");
}

TEST(Builder, ExpansionIsStoppedByTheBudget) {
  // A string doubled through 40 variables, and ten values multiplied by ten
  // through 40 more; an honest key follows.
  std::string doubling = "[vars]\nv0 = \"xxxxxxxx\"\n";
  std::string tenfold = "[vars]\nv0 = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n";
  for (int i = 1; i <= 40; ++i) {
    const std::string v = std::to_string(i), ref = "$v" + std::to_string(i - 1);
    doubling.append("v" + v + " = " + ref + " + " + ref + "\n");
    tenfold.append("v" + v + " = [" + repeat(ref + ", ", 10) + "]\n");
  }
  const std::tuple<std::string, int, int> cases[] = {  // source, range of the first variable to fail
      {doubling + "[s]\nk = 1\n", 21, 26},  // 8 MiB by v20 must fit, v26 alone is the whole budget
      {tenfold + "[s]\nk = 1\n", 5, 7},     // 10^5 values fit, 10^8 exceed it
  };
  for (const auto& [source, first, last] : cases) {
    const Document doc = parse(source);
    ASSERT_GE(doc.diagnostics.size(), 3u) << render("", doc);
    const int failed_at = std::stoi(source.substr(source.rfind('\n', doc.diagnostics[0].span.start) + 2));
    EXPECT_TRUE(first <= failed_at && failed_at <= last) << failed_at;
    // the variables after it are undefined in turn; the later honest key
    // finds the budget spent, but its section is still created
    EXPECT_EQ(doc.diagnostics[0].message, "value too large");
    EXPECT_TRUE(doc.diagnostics[1].message.starts_with("undefined variable `$v")) << render("", doc);
    const Diagnostic& spent = doc.diagnostics.back();
    EXPECT_EQ(spent.message + at(source, spent.span) + " " + brief(Value::dict(doc.config)),
              R"(value too large[k] {"s": {}})");
  }
}

TEST(Builder, LargeHonestDocument) {
  std::string src = "[vars]\nbase = \"http://example.org\"\nport = 8080\n";
  constexpr int kSections = 1000, kGroups = 40;  // of five keys each
  for (int s = 0; s < kSections; ++s) {
    src.append("\n[section_").append(std::to_string(s)).append(".sub]\n");
    for (int g = 0; g < kGroups; ++g) {
      const std::string n = std::to_string(g);
      src.append("a" + n + " = " + std::to_string(s * 1000 + g) + "\n")
          .append("@min: 0\nb" + n + " = 1.5  # a comment\n")
          .append("c" + n + " = \"some text value with # inside\"\nd" + n + " = [1, 2, \"three\", true]\n")
          .append("e" + n + " = $base + \":\" + $port\n");
    }
  }
  ASSERT_GT(src.size(), 5u << 20);
  const Document doc = parse(src);
  EXPECT_TRUE(doc.diagnostics.empty()) << render(src, doc).substr(0, 400);
  ASSERT_EQ(doc.config.size(), size_t{kSections});
  const Dict& last = doc.config.at("section_999").as_dict().at("sub").as_dict();
  EXPECT_EQ(last.size(), size_t{kGroups * 5});
  EXPECT_EQ(brief(last.at("a39")) + " " + brief(last.at("b39")) + " " + brief(last.at("e39")),
            R"(999039 1.5 "http://example.org:8080")");
  EXPECT_EQ(doc.key_spans.size(), size_t{kSections * (kGroups * 5 + 1)});
  EXPECT_EQ(doc.annotations.size(), size_t{kSections * kGroups});
  EXPECT_EQ(doc.variable_refs.size(), size_t{kSections * kGroups * 2});
}

}  // namespace
}  // namespace brindle
