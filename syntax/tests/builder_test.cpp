#include "builder.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace brindle {
namespace {

const FakeEnv kEnv = [] { FakeEnv env; env.vars.emplace("FOO", "bar"); return env; }();

// A span as the source text it covers in brackets, then `#n` when that is
// the text's nth occurrence (n > 0). A span past the source throws.
std::string at(std::string_view src, Span s) {
  const std::string_view text = src.substr(s.start, s.end - s.start);
  int nth = 0;
  for (size_t p = src.find(text); p < s.start; p = src.find(text, p + 1)) ++nth;
  return std::string(1, '[').append(text).append(1, ']').append(nth ? 1 : 0, '#').append(nth ? std::to_string(nth) : "");
}

// The config (and vars when any), then diagnostics as `!kind message[at]`,
// annotation lists as `@path:names` in walk order, and references as
// `$name:kind[at]`.
std::string render(std::string_view src, const Document& doc) {
  std::string out = brief(Value::dict(doc.config));
  if (!doc.vars.empty()) out.append(" vars ").append(brief(Value::dict(doc.vars)));
  for (const Diagnostic& d : doc.diagnostics) out.append(" !" + std::to_string(int(d.kind)) + " " + d.message + at(src, d.span));
  for (const auto& [path, list] : doc.annotations)
    for (size_t i = 0; i < list.size(); ++i) out.append(i ? "," : " @" + std::string(path) + ":").append(list[i].name);
  for (const VariableRefView r : doc.variable_refs) out.append(" $").append(r.name).append(":" + std::to_string(int(r.kind)) + at(src, r.span));
  return out;
}

// The first pass reads on to the last variables header, wherever it falls
// in the text (every offset from its end, as the search reads it backwards
// in blocks), past look-alikes: `s]` pairs, "[vars" and "vars]" split up, the
// header's text inside values after it.
TEST(Builder, FindsTheLastVariablesHeaderAnywhere) {
  for (size_t pad = 0; pad < 140; ++pad) {
    for (const bool decoy_after : {false, true}) {
      SCOPED_TRACE(std::to_string(pad) + (decoy_after ? " decoy" : ""));
      std::string src = "a = $v\n[s]\nk = [\"s]\", \"[vars\", \"vars]\"]\n";
      src.append("# ").append(pad % 7, 's').append(pad % 3, ']').append(200, '-').append("\n");
      src.append("[vars]\nv = ").append(std::to_string(pad)).append("\n[t]\n");
      if (decoy_after) src.append("j = \"[vars]\"\n");
      src.append(pad, 'x' + static_cast<char>(pad % 2)).insert(src.size() - pad, "# ").append("\n");
      const Document doc = build_document(src, kEnv);
      EXPECT_TRUE(doc.diagnostics.empty()) << doc.diagnostics.front().message;
      ASSERT_TRUE(doc.config.contains("a"));
      EXPECT_EQ(doc.config.at("a").as_integer(), static_cast<int64_t>(pad));
    }
  }
}

TEST(Builder, BuildsTheDocumentInOrder) {
  const int k = kMaxValueDepth;
  const std::string name = repeat("s.", k) + "s";  // one section too many
  const std::pair<std::string, std::string> cases[] = {
      {"[ a . \"x.y\" ]\nk = 1", R"({"a": {"x.y": {"k": 1}}})"},
      // a section replaces a key of its name and the other way round
      {"[s]\nb = 1\n[s.b]\nc = 2", R"({"s": {"b": {"c": 2}}})"}, {"[s.b]\nc = 2\n[s]\nb = 1", R"({"s": {"b": 1}})"},
      // a second opener inside a block is ignored; its closer ends the block
      {"b = #{\nc = #{\nx = 1\n}#\ny = 2\n}#\n", R"({"b": {"x": 1}, "y": 2})"},
      // an unclosed block swallows the rest, section headers included, and
      // says so first, on its key, whatever else the file reports
      {"a = 0\nb = #{\nx = 1\n[t]\ny = 2\n", R"({"a": 0} !0 unclosed block: `b = #{` has no closing `}#`[b])"},
      {"x = bad\n[s]\n  \"p q\"   =   #{   # pool\nk = 1\n",
       R"({"s": {}} !0 unclosed block: `"p q"   =   #{` has no closing `}#`["p q"] !0 cannot parse value: `bad`[bad])"},
      {"[vars]\nb = #{\nx = 1\n[s]\nk = $x\n", R"({"s": {"k": 1}} vars {"x": 1} $x:0[$x])"},  // not swallowed there
      {"\n# c\n  # d\r\n}#\na = 1\n[]\nx.y = 2\nz =\n", R"({"a": 1})"},  // lines that fit no rule are ignored
      // variables: all of them first, usable everywhere, above too; a
      // redefinition applies to everything evaluated after it
      {"k = $x\n[vars]\nx = 1\n[s]\nj = $x + 1", R"({"k": 1, "s": {"j": 2}} vars {"x": 1} $x:0[$x] $x:0[$x]#1)"},
      {"[vars]\nx = 1\ny = $x\nx = 5\n[s]\nz = $x", R"({"s": {"z": 5}} vars {"x": 5, "y": 1} $x:0[$x] $x:0[$x]#1)"},
      // the variables pass ends after the last header's text, wherever that
      // text is: in a value, a comment, or a last section at the very end
      {"[vars]\nx = 1\n[s]\nk = \"[vars]\"\nj = $x\n", R"({"s": {"j": 1, "k": "[vars]"}} vars {"x": 1} $x:0[$x])"},
      {"[vars]\nx = 1\n[s]\nk = [1, # [vars]\n 2]\n[vars]\ny = 2\n[t]\nz = $y\n",
       R"({"s": {"k": [1, 2]}, "t": {"z": 2}} vars {"x": 1, "y": 2} $y:0[$y])"},
      {"k = $x\n[s]\nj = 1\n[vars]\nx = 3", R"({"k": 3, "s": {"j": 1}} vars {"x": 3} $x:0[$x])"},
      // the entries of a block inside [vars] are plain variables (no comma removal)
      {"[vars]\nb = #{\nx = 1\ny = 2,\n}#\n", R"({} vars {"x": 1} !0 cannot parse value: `2,`[2,])"},
      {"@a\n[vars]\nx = 1\n[a..b]\nk = $x",  // ended by an invalid header, which an annotation waits past
       R"({"k": 1} vars {"x": 1} !0 invalid section name: `a..b`[a..b] @k:a $x:0[$x])"},
      {"[a..b]\nk = bad\n[vars]\nx = 1\ny = $later\nlater = 2\n",
       R"({} vars {"later": 2, "x": 1} !1 undefined variable `$later`[$later] )"
       R"(!0 invalid section name: `a..b`[a..b] !0 cannot parse value: `bad`[bad])"},
      // an invalid header leaves the previous section current; the name's
      // span starts right after the `[`, as long as the trimmed name
      {"[s]\n[ .x ]\nk = 1\n[\"\"]\nj = 2",
       R"({"s": {"j": 2, "k": 1}} !0 invalid section name: `.x`[ .] !0 invalid section name: `""`[""])"},
      // a trailing comma reaches the value grammar at top level only
      {"a = 1,\nb = #{\nc = 1,\nd = 2,,\n}#\n",
       R"({"b": {"c": 1}} !0 cannot parse value: `1,`[1,] !0 cannot parse value: `2,`[2,])"},
      // only a message that begins with the words is a variable error
      {"a = undefined variable\n", "{} !0 cannot parse value: `undefined variable`[undefined variable]"},
      // positions inside values joined over several lines map back to the source
      {"a = [1,   # one\n\t\t  2, [3,\n  4], oops, 5]\n", "{} !0 cannot parse value: `oops`[oops]"},
      {"[vars]\nx = 1\n[s]\nk = [1,\n   $x]\n", R"({"s": {"k": [1, 1]}} vars {"x": 1} $x:0[$x])"},
      {"k = " + repeat("[", k + 1) + repeat("]", k + 1) + "\n", "{} !0 value nested too deeply[[]]"},
      {std::string(1, '[').append(name, 2) + "]\nk = 1\n", repeat(R"({"s": )", k).append(R"({"k": 1)") + repeat("}", k + 1)},
      {std::string(1, '[').append(name) + "]\nk = 1\n", R"({"k": 1} !0 section nested too deeply: `)" + name + "`[" + name + "]"},
      // annotations wait for the next key or section and are lost with a failing one
      {"@a\nk = bad\n@b\n@min 5\nj = 1",
       R"({"j": 1} !0 cannot parse value: `bad`[bad] !2 invalid annotation syntax: `@min 5`[@min 5] @j:b)"},
      // waiting across a variables section, attached to the header ending it
      {"@x\n@z\n[vars]\nv = 1\n@y\nw = 2\n[s]\nk = 1", R"({"s": {"k": 1}} vars {"v": 1, "w": 2} @s:x,z)"},
      // a repeated key or header keeps earlier annotations unless it brings its own;
      // the walk follows each list's first annotation in the source
      {"@r\na = 1\na = 2\n@q\nb = 1\n@s\nb = 2", R"({"a": 2, "b": 2} @a:r @b:s)"},
      {"@f\n[s]\n@t\nk = 1\n@u\n[s]", R"({"s": {"k": 1}} @s.k:t @s:u)"},  // and headers merge
      {"[s]\n@blk\nb = #{\n@e\nx = 1,\ny = 2\n}#", R"({"s": {"b": {"x": 1, "y": 2}}} @s.b:blk @s.b.x:e)"},
      // leftovers at the end of a block and of the input are discarded
      {"@a\nb = #{\nx = 1\n@e\n}#\nk = 1\n@z", R"({"b": {"x": 1}, "k": 1} @b:a)"},
      // an unclosed block keeps what its entries recorded; openers inside it are ignored
      {"@a\nb = #{\n@e\nc = #{\nx = 1", R"({} !0 unclosed block: `b = #{` has no closing `}#`[b] @b.x:e)"},
      // references of failing values are not kept
      {"k = $y ?? $ENV.HOME\nbad = $x + nope\ne = $ENV.FOO\n[vars]\nx = 1\ny = $x + $x\nz = $missing\n",
       R"({"e": "bar", "k": 2} vars {"x": 1, "y": 2} !1 undefined variable `$missing`[$missing] )"
       R"(!0 cannot parse value: `nope`[nope] $x:0[$x]#1 $x:0[$x]#2 $y:0[$y] $FOO:2[$ENV.FOO])"},
  };
  for (const auto& [source, want] : cases) EXPECT_EQ(render(source, build_document(source, kEnv)), want) << source.substr(0, 60);
}

// The spans recorded for one path, with the positions of its annotations.
TEST(Builder, RecordsSpansAndAnnotationPositions) {
  const std::tuple<std::string, std::string, std::string> cases[] = {  // source, path, spans
      {"[s]\n  key = 42  # c", "s.key", "key[key] value[42  # c] "},
      {"[s]\nb = #{\n x = 1,\n}#\n", "s.b", "key[b] value[b] "},
      {"[s]\nb = #{\n x = 1,\n}#\n", "s.b.x", "key[x] value[1,] "},
      {"a = 1\na   =   22\n", "a", "key[a]#1 value[22] "},  // the last definition wins
      {"[vars]\n  port = 80  # http\nport = 8080\n", "port", "var[port]#1 =[8080] "},
      {"[s]\n  @second: 5   # note\nk = 1", "s.k", "key[k] value[1] @[@second: 5] name[@second]"},
  };
  for (const auto& [source, path, want] : cases) {
    const Document doc = build_document(source, kEnv);
    std::string got;
    for (const auto& [label, span] : {std::pair<std::string, std::optional<Span>>{"key", doc.key_span(path)}, {"value", doc.value_span(path)},
                                      {"var", doc.var_key_span(path)}, {"=", doc.var_value_span(path)}})
      if (span) got.append(label + at(source, *span) + " ");
    const auto* notes = doc.annotations.find(path);
    for (const Annotation& a : notes ? *notes : std::vector<Annotation>{})
      got.append(1, '@').append(at(source, a.span) + " name" + at(source, a.name_span()));
    EXPECT_EQ(got + (doc.diagnostics.empty() ? "" : render(source, doc)), want) << source;
  }
}

// Positions by segments: a quoted name holding a point is one level, told
// apart from the nested path that joins to the same dotted text.
TEST(Builder, RecordsSpansBySegments) {
  using Path = std::vector<std::string>;
  const std::tuple<std::string, Path, std::string> cases[] = {  // source, segments, spans
      {"[a]\n\"x.y\" = 5\n", {"a", "x.y"}, "key[\"x.y\"] value[5] "},
      {"[a]\n\"x.y\" = 5\n", {"a", "x", "y"}, ""},
      {"\"x.y\" = 1\n", {"x.y"}, "key[\"x.y\"] value[1] "},
      {"[a.\"b.c\".d]\n\"e.f\" = 2\n", {"a", "b.c", "d", "e.f"}, "key[\"e.f\"] value[2] "},
      {"[a.\"b.c\".d]\n\"e.f\" = 2\n", {"a", "b.c", "d"}, "key[a.\"b.c\".d] "},
      {"[\"s.t\"]\n\"b.c\" = #{\n  \"p.q\" = 7,\n}#\n", {"s.t", "b.c", "p.q"},
       "key[\"p.q\"] value[7,] "},
      {"[\"s.t\"]\n\"b.c\" = #{\n  \"p.q\" = 7,\n}#\n", {"s.t", "b.c"},
       "key[\"b.c\"] value[\"b.c\"] "},
      // Inline dict entries have no positions of their own.
      {"k = #{\"u.v\" = 1}#\n", {"k", "u.v"}, ""},
      {"k = #{\"u.v\" = 1}#\n", {"k"}, "key[k] value[#{\"u.v\" = 1}#] "},
      // Both spellings present: each reaches its own entry.
      {"[a]\n\"x.y\" = 1\n[a.x]\ny = 2\n", {"a", "x.y"}, "key[\"x.y\"] value[1] "},
      {"[a]\n\"x.y\" = 1\n[a.x]\ny = 2\n", {"a", "x", "y"}, "key[y]#1 value[2] "},
      // A section replaced by a key keeps its old positions aside.
      {"[a.\"b.c\"]\nk = 1\n[a]\n\"b.c\" = 2\n\"b.c\" = 3\n", {"a", "b.c", "k"},
       "key[k] value[1] "},
      {"", {}, ""},
  };
  for (const auto& [source, segments, want] : cases) {
    const Document doc = build_document(source, kEnv);
    std::string got;
    if (const auto span = doc.key_span(segments)) got.append("key" + at(source, *span) + " ");
    if (const auto span = doc.value_span(segments)) got.append("value" + at(source, *span) + " ");
    EXPECT_EQ(got, want) << source;
  }
}

// A section replaced by a key keeps its old positions aside however many
// keys share its parent: a large parent that is looked up by hash replaces
// the entry on the spot, where a small one drops the repeat when sealed.
TEST(Builder, ReplacedPositionsDoNotDependOnTheParentsSize) {
  // PAD is that many plain keys of the parent; each form replaces the
  // section `big.sub` (its key `z`) by a later value of the key `sub`.
  const std::string forms[] = {
      "[big]\nPAD[big.sub]\nz = 1\n[big]\nsub = 2\n",
      "[big]\nPAD[big.sub]\nz = 1\n[big.other]\nq = 1\n[big]\nsub = 2\n",
      "[big]\nPAD[big.sub]\nz = 1\n[big.other]\nq = 1\n[big]\nsub = 2\nsub = 3\n",
      "[big]\nPAD[big.sub]\nz = 1\n[big.other]\nq = 1\n[big]\nsub = #{\n  w = 1,\n}#\n",
      "PAD[big.sub]\nz = 1\n[big.other]\nq = 1\n[big]\nsub = 2\n",
  };
  for (const std::string& form : forms) {
    for (const size_t pad : {size_t{2}, size_t{15}, size_t{16}, size_t{17}, size_t{40}, size_t{3000}}) {
      std::string keys;
      for (size_t i = 0; i < pad; ++i) keys += "p" + std::to_string(i) + " = " + std::to_string(i) + "\n";
      std::string source = form;
      source.replace(source.find("PAD"), 3, keys);
      const Document doc = build_document(source, kEnv);
      const std::string what = std::to_string(pad) + " keys: " + form;
      ASSERT_TRUE(doc.diagnostics.empty()) << what;
      const uint64_t z = source.find("z = 1");
      EXPECT_EQ(doc.key_span("big.sub.z"), std::optional<Span>(Span{z, z + 1})) << what;
      EXPECT_EQ(doc.value_span("big.sub.z"), std::optional<Span>(Span{z + 4, z + 5})) << what;
      const uint64_t sub = source.rfind("sub = ");
      EXPECT_EQ(doc.key_span("big.sub"), std::optional<Span>(Span{sub, sub + 3})) << what;
    }
  }
}

// A string doubled through 40 variables, and ten values multiplied by ten
// through 40 more; an honest key follows.
TEST(Builder, ExpansionIsStoppedByTheBudget) {
  std::string doubling = "[vars]\nv0 = \"xxxxxxxx\"\n", tenfold = "[vars]\nv0 = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n";
  for (int i = 1; i <= 40; ++i) {
    const std::string def = std::string(1, 'v').append(std::to_string(i)).append(" = ");
    const std::string ref = std::string("$v").append(std::to_string(i - 1));
    doubling += def + ref + " + " + ref + "\n";
    tenfold += def + "[" + repeat(ref + ", ", 10) + "]\n";
  }
  const std::tuple<std::string, int, int> cases[] = {  // source, range of the first variable to fail
      {doubling + "[s]\nk = 1\n", 21, 22},  // 8 MiB by v20 must fit, v22 alone is the whole budget
      {tenfold + "[s]\nk = 1\n", 5, 7},     // 10^5 values fit, 10^8 exceed it
  };
  for (const auto& [source, first, last] : cases) {
    const Document doc = build_document(source, kEnv);
    ASSERT_GE(doc.diagnostics.size(), 3u);
    const int failed_at = std::stoi(source.substr(source.rfind('\n', doc.diagnostics[0].span.start) + 2));
    EXPECT_TRUE(first <= failed_at && failed_at <= last) << failed_at;
    // the variables after it are undefined in turn; the later honest key
    // finds the budget spent, but its section is still created
    const Diagnostic& spent = doc.diagnostics.back();
    EXPECT_EQ(doc.diagnostics[0].message + "; " + doc.diagnostics[1].message.substr(0, 22) + "; " + spent.message +
                  at(source, spent.span) + " " + brief(Value::dict(doc.config)),
              R"(value too large; undefined variable `$v; value too large[k] {"s": {}})");
  }
}

TEST(Builder, LargeHonestDocument) {
  constexpr size_t kSections = 1000, kGroups = 40;  // of five keys each
  std::string body, src = "[vars]\nbase = \"http://example.org\"\nport = 8080\n";
  for (size_t g = 0; g < kGroups; ++g) {
    const std::string n = std::to_string(g);
    body.append("a" + n + " = " + n + "\n@min: 0\nb" + n + " = 1.5  # a comment\nc" + n + " = \"some text, # inside\"\n")
        .append("d" + n + " = [1, 2, \"three\", true, #{x = null}#]\ne" + n + " = $base + \":\" + $port\n");
  }
  for (size_t s = 0; s < kSections; ++s) src.append("\n[section_" + std::to_string(s) + ".sub]\n" + body);
  ASSERT_GT(src.size(), 5u << 20);
  const Document doc = build_document(src, kEnv);
  const Dict& last = doc.config.at("section_999").as_dict().at("sub").as_dict();
  EXPECT_EQ(brief(last.at("a39")) + " " + brief(last.at("d39")) + " " + brief(last.at("e39")),
            R"(39 [1, 2, "three", true, {"x": null}] "http://example.org:8080")");
  EXPECT_EQ((std::vector<size_t>{doc.diagnostics.size(), doc.config.size(), last.size(), doc.key_span_count(),
                                 doc.annotations.size(), doc.variable_refs.size()}),
            (std::vector<size_t>{0, kSections, kGroups * 5, kSections * (kGroups * 5 + 1), kSections * kGroups,
                                 kSections * kGroups * 2}));
}

}  // namespace
}  // namespace brindle
