// The literal shortcut of ordinary lines: a value that is one number,
// keyword or simple quoted string is read by parse_literal instead of the
// whole grammar. Whatever takes the shortcut must come out exactly as the
// grammar makes it, and whatever does not must still get the grammar's
// value or diagnostic, on the same spans, in a document too.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "builder.h"
#include "lexer.h"
#include "test_support.h"
#include "text.h"

namespace brindle {
namespace {

// The shortcut's reading of `text`, as brief() shows it, or "-" when it
// leaves the text to the grammar.
std::string literal(std::string_view text) {
  const std::optional<Value> v = parse_literal(text);
  return v ? brief(*v) : "-";
}

// When a shortcut (one literal, or a short array of them) reads a text,
// the grammar reads it to the same value and records no reference.
void expect_same_as_grammar(std::string_view text) {
  std::optional<Value> v = parse_literal(text);
  if (!v) v = parse_literal_array(text);
  if (!v) return;
  EXPECT_EQ(Session().run(text), brief(*v)) << "[" << text << "]";
}

TEST(Literal, ReadsOneLiteralAndLeavesEverythingElse) {
  const std::pair<std::string, std::string> cases[] = {
      // numbers in every form the grammar takes without an operator byte
      {"0", "0"}, {"42", "42"}, {"-7", "-7"}, {"-0", "0"}, {"007", "7"},
      {"999999999999999999", "999999999999999999"}, {"9223372036854775807", "9223372036854775807"},
      {"1_000", "1000"}, {"1__", "1"}, {"0x1F", "31"},
      {"0o17", "15"}, {"0b101", "5"}, {"-0x10", "-16"}, {"3.25", "3.25"}, {"-0.5", "-0.5"},
      {".5", "0.5"}, {"5.", "5.0"}, {"1e3", "1000.0"}, {"2E2", "200.0"}, {"-0.0", "-0.0"},
      {"1e999", "inf"}, {"1_0.2_5", "10.25"},
      // keywords
      {"true", "true"}, {"false", "false"}, {"null", "null"},
      // strings without a quote or backslash inside; operator, fallback,
      // comment and bracket bytes inside are text
      {R"("")", R"("")"}, {R"("a plain string value")", R"("a plain string value")"},
      {R"("a+b-c*d/e")", R"("a+b-c*d/e")"}, {R"("x ?? y")", R"("x ?? y")"},
      {R"("$host")", R"("$host")"}, {R"("[1, 2] #{ }# # not a comment")", R"("[1, 2] #{ }# # not a comment")"},
      {"\"tab\tand \xC3\xA9\"", "\"tab\\tand \xC3\xA9\""}, {R"("fifteen bytes!!")", R"("fifteen bytes!!")"},
      // left to the grammar: escapes, more than one string, operators,
      // references, fallbacks, brackets, blanks, bad texts
      {R"("a\"b")", "-"}, {R"("a\\b")", "-"}, {R"("a\nb")", "-"}, {R"("a" + "b")", "-"},
      {R"("a""b")", "-"}, {R"("abc)", "-"}, {R"(")", "-"}, {R"("abc"x)", "-"},
      {"1e-5", "-"}, {"+5", "-"}, {"1+2", "-"}, {"2*3", "-"}, {"6/3", "-"}, {"5-3", "-"}, {"--5", "-"},
      {"$x", "-"}, {"$ENV.HOME", "-"}, {"null ?? 1", "-"}, {"[1]", "-"}, {"#{ a = 1 }#", "-"},
      {"1 2", "-"}, {"tru", "-"}, {"True", "-"}, {"-true", "-"}, {"nan", "-"}, {"inf", "-"},
      {"1.2.3", "-"}, {"0x", "-"}, {"12abc", "-"}, {"9223372036854775808", "-"},
      {"-9223372036854775808", "-"}, {"-9223372036854775809", "-"}, {"_", "-"}, {"-", "-"}, {"", "-"}, {"é", "-"},
  };
  for (const auto& [text, want] : cases) {
    EXPECT_EQ(literal(text), want) << "[" << text << "]";
    expect_same_as_grammar(text);
  }
}

TEST(Literal, ArrayItemsReadTheSameEitherWay) {
  // Items take the shortcut one by one; the rest go through the grammar.
  const std::pair<std::string, std::string> cases[] = {
      {R"(["a", "b", "c", 1, 2, 3])", R"(["a", "b", "c", 1, 2, 3])"},
      {R"([ true ,null, -0.5 , 0x1F, "x\"y", "p" + "q", 2.5e1 ])",
       R"([true, null, -0.5, 31, "x\"y", "pq", 25.0])"},
      {R"(["a", bad, 3])", "cannot parse value: `bad` @6-9"},
      {R"(["a", "open, 3])", "unterminated string @6-14"},
      {R"([1, [2, "s"], #{ k = "v" }#])", R"([1, [2, "s"], {"k": "v"}])"},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(Session().run(text), want) << "[" << text << "]";
}

// Plain fractions (digits, one point, digits) are read by division; the
// grammar reads them with the library. Same bits, sign of zero included,
// on both sides of the fifteen digits the division takes.
TEST(Literal, PlainFractionsReadToTheSameBitsAsTheGrammar) {
  std::mt19937_64 rng(20261209);
  std::uniform_int_distribution<int> digit(0, 9);
  std::uniform_int_distribution<int> length(1, 17);
  for (int round = 0; round < 20000; ++round) {
    std::string text = rng() % 2 ? "-" : "";
    const int whole = length(rng);
    const int fraction = length(rng);
    for (int i = 0; i < whole; ++i) text += static_cast<char>('0' + digit(rng));
    text += '.';
    for (int i = 0; i < fraction; ++i) text += static_cast<char>('0' + digit(rng));
    const std::optional<Value> v = parse_literal(text);
    ASSERT_TRUE(v.has_value()) << text;
    Session s;
    s.run(text);
    ASSERT_TRUE(s.last.has_value()) << text;
    ASSERT_TRUE(v->is(Tag::Float) && s.last->is(Tag::Float)) << text;
    const double a = v->as_float();
    const double b = s.last->as_float();
    EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a)) << text << " " << a << " " << b;
  }
}

// A document as one short text: each value of the config (with its key
// and value spans as source text), the diagnostics with their spans, and the
// references.
std::string document(std::string_view src) {
  const EmptyEnv env;
  const Document doc = build_document(src, env);
  auto text = [&](const std::optional<Span>& s) {
    return s ? "[" + std::string(src.substr(s->start, s->end - s->start)) + "]" : std::string("[]");
  };
  std::string out = brief(Value::dict(doc.config));
  for (const auto& [key, v] : doc.config) {
    const DictEntry* e = entry_at(doc.config, key);
    out.append(" ").append(key).append(text(e->key_span())).append(text(e->value_span()));
  }
  for (const Diagnostic& d : doc.diagnostics) out.append(" !" + d.message + text(d.span));
  for (const VariableRefView r : doc.variable_refs) out.append(" $").append(r.name).append(text(r.span));
  return out;
}

TEST(Literal, LinesOfADocumentKeepTheirValuesSpansAndDiagnostics) {
  const std::pair<std::string, std::string> cases[] = {
      {"k = 1", R"({"k": 1} k[k][1])"},
      {"k=1\n", R"({"k": 1} k[k][1])"},
      {"  k   =   -2.5   # note\n", R"({"k": -2.5} k[k][-2.5   # note])"},
      {"k = \"s # not a comment\" # a comment", R"({"k": "s # not a comment"} k[k]["s # not a comment" # a comment])"},
      {"k = true\r\nj = null\r\n", R"({"j": null, "k": true} j[j][null] k[k][true])"},
      {"k = false\rj = 1", "{} !cannot parse value: `false\rj = 1`[false\rj = 1]"},
      {"\"a = b\" = \"c = d\"", R"({"a = b": "c = d"} a = b["a = b"]["c = d"])"},
      {"\"q\\\"k\" = 0x1F", R"({"q\"k": 31} q"k["q\"k"][0x1F])"},
      {"k = \"abcdefghijklmnopqrstuvwxyz\"", R"({"k": "abcdefghijklmnopqrstuvwxyz"} k[k]["abcdefghijklmnopqrstuvwxyz"])"},
      // not literals: the grammar's diagnostics, on their spans
      {"k = bad # c", R"({} !cannot parse value: `bad`[bad])"},
      {"k = 1.2.3", R"({} !cannot parse value: `1.2.3`[1.2.3])"},
      {"k = \"open", R"({} !unterminated string["open])"},
      {"k = \"a\" \"b\"", R"({"k": "a\" \"b"} k[k]["a" "b"])"},  // one string to the grammar
      {"k = 9223372036854775808", R"({} !cannot parse value: `9223372036854775808`[9223372036854775808])"},
      {"k = $nope", R"({} !undefined variable `$nope`[$nope])"},
      {"k = 1 +", R"({"k": 1} k[k][1 +])"},
      {"k = \"a\\tb\"", R"({"k": "a\tb"} k[k]["a\tb"])"},
      {"k = null ?? 4", R"({"k": 4} k[k][null ?? 4])"},
      {"k = 2 * 3", R"({"k": 6} k[k][2 * 3])"},
      {"k =", "{}"}, {"k = # only a comment", "{}"}, {"k 1", "{}"}, {"= 1", "{}"},
      // block entries may end with one comma
      {"b = #{\n  x = 1,\n  y = \"s\" ,\n  z = true\n}#",
       R"({"b": {"x": 1, "y": "s", "z": true}} b[b][b])"},
      {"b = #{\n  x = 1,,\n}#", R"({"b": {}} b[b][b] !cannot parse value: `1,`[1,])"},
  };
  for (const auto& [src, want] : cases) EXPECT_EQ(document(src), want) << "[" << src << "]";
}

// Random values from pieces that make literals and near-literals.
std::string random_value(std::mt19937_64& rng) {
  static const char* const kPieces[] = {
      "0", "1", "7", "42", "9", "-", "+", ".", "e", "E", "_", "x", "b", "o", "F", "\"", "\\", "$",
      "?", "??", " ", "true", "false", "null", "a", "[", "]", "#{", "}#", ",", "*", "/", "#", "\t",
      "9223372036854775807", "\xC3\xA9", "\"s\"", "\"a b\"", "\"x+y\"", "1.5", "0x1F", "1e3"};
  std::uniform_int_distribution<size_t> pick(0, std::size(kPieces) - 1);
  std::uniform_int_distribution<int> length(1, 4);
  std::string out;
  for (int n = length(rng); n > 0; --n) out += kPieces[pick(rng)];
  return out;
}

TEST(Literal, RandomValuesMatchTheGrammarInADocument) {
  std::mt19937_64 rng(20261206);
  int shortcut = 0;
  for (int round = 0; round < 4000; ++round) {
    const std::string value = random_value(rng);
    const std::string trimmed(trim(value));
    expect_same_as_grammar(trimmed);
    // In a document, whatever path the line takes, the entry holds what the
    // grammar makes of the value text the lexer cut, or the grammar's
    // diagnostic: the value is read at offset 4 of "k = ".
    const std::string src = "k = " + value + " # c\n";
    const EmptyEnv env;
    const Document doc = build_document(src, env);
    const DictEntry* e = entry_at(doc.config, "k");
    if (parse_literal(trimmed)) {
      ++shortcut;
      ASSERT_NE(e, nullptr) << "[" << value << "]";
      EXPECT_EQ(brief(e->second), brief(*parse_literal(trimmed))) << "[" << value << "]";
      EXPECT_TRUE(doc.diagnostics.empty()) << "[" << value << "]";
      // The same value through the grammar's fallback layer: same entry,
      // same key span, same value start.
      const Document full = build_document("k = " + value + " ?? null # c\n", env);
      const DictEntry* f = entry_at(full.config, "k");
      ASSERT_NE(f, nullptr) << "[" << value << "]";
      EXPECT_EQ(brief(f->second), brief(e->second)) << "[" << value << "]";
      EXPECT_EQ(f->key_span(), e->key_span());
      EXPECT_EQ(f->value_span()->start, e->value_span()->start);
      continue;
    }
    // Not a literal: the line is what the lexer and the grammar make of it.
    const std::string_view code = strip_comment(std::string_view(src).substr(0, src.size() - 1));
    const std::string_view text = trim(code.substr(3));
    if (text.empty() || bracket_depth(text) != 0) continue;  // no entry, or joined lines
    Session s;
    std::string want = s.run(text);
    if (const size_t refs = want.find(" | "); refs != std::string::npos) want.resize(refs);
    const size_t at = want.rfind(" @");
    if (e != nullptr) {
      EXPECT_EQ(brief(e->second), want) << "[" << value << "]";
    } else {
      ASSERT_EQ(doc.diagnostics.size(), 1u) << "[" << value << "]";
      ASSERT_NE(at, std::string::npos) << want;
      const uint64_t start = std::stoull(want.substr(at + 2));
      const uint64_t offset = static_cast<uint64_t>(text.data() - src.data());
      EXPECT_EQ(doc.diagnostics[0].message, want.substr(0, at)) << "[" << value << "]";
      EXPECT_EQ(doc.diagnostics[0].span.start, start + offset) << "[" << value << "]";
    }
  }
  // The shortcut is taken often enough for the comparison to mean something.
  EXPECT_GT(shortcut, 400);
}

}  // namespace
}  // namespace brindle
