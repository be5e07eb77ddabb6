// The array shortcut of ordinary lines (parse_literal_array) and the forms a
// document stores arrays in, against the value grammar: strings holding
// escapes and quotes beside the bytes the scanners stop at (`]`, `,`, `#{`,
// `}#`, `#`), nested arrays and inline dicts, blank items, and the lengths
// where the compact form ends. What the shortcut reads, the grammar reads
// alike; a line holds what the grammar makes of its value text, at the same
// spans; and a stored array writes and reads back as its plain copy does.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "builder.h"
#include "copy_agreement.h"
#include "lexer.h"
#include "serializer.h"
#include "value_writer.h"
#include "test_support.h"

namespace brindle {
namespace {

// The shortcut's reading, heap-held, as brief() shows it; "-" when it
// leaves the text to the grammar. The arena-held reading must agree.
std::string shortcut(std::string_view text) {
  const std::optional<Value> heap = parse_literal_array(text);
  Arena arena;
  const std::optional<Value> held = parse_literal_array(text, &arena);
  EXPECT_EQ(heap.has_value(), held.has_value()) << text;
  if (!heap || !held) return "-";
  EXPECT_EQ(brief(*heap), brief(*held)) << text;
  return brief(*heap);
}

TEST(LiteralArray, ReadsShortArraysOfLiteralsAndLeavesTheRest) {
  const std::string sixteen = "[" + repeat("1, ", 15) + "\"s\"]";
  const std::string seventeen = "[" + repeat("1, ", 16) + "\"s\"]";
  const std::pair<std::string, std::string> cases[] = {
      {"[]", "[]"}, {"[,]", "[]"}, {"[ , 1,, 2 , ]", "[1, 2]"}, {"[\t1 ,\"a\"\t]", R"([1, "a"])"},
      {R"(["]", ",", "#{", "}#", "# c", "[1]"])", R"(["]", ",", "#{", "}#", "# c", "[1]"])"},
      {"[1_000, 0x1F, -0.0, 1e999, .5, true, null]", "[1000, 31, -0.0, inf, 0.5, true, null]"},
      {"[999999999999999999, 9223372036854775807, -16, 111]", "[999999999999999999, 9223372036854775807, -16, 111]"},
      {"[\"\xC3\xA9\", \"a+b\", \"x ?? y\", \"$v\"]", "[\"\xC3\xA9\", \"a+b\", \"x ?? y\", \"$v\"]"},
      {sixteen, "[" + repeat("1, ", 15) + "\"s\"]"},
      // left to the grammar: escapes, more items than a short array holds,
      // nesting, operators, references, and items the grammar rejects
      {seventeen, "-"}, {R"(["a\"b"])", "-"}, {R"(["a\\"])", "-"}, {R"(["#{\"x}]"])", "-"},
      {R"(["a" "b"])", "-"}, {"[1 2]", "-"}, {"[1, [2]]", "-"}, {"[#{ a = 1 }#]", "-"}, {"[1 + 2]", "-"},
      {"[1-2]", "-"}, {"[-]", "-"}, {"[- 1]", "-"}, {"[1e-5]", "-"}, {"[$v]", "-"}, {"[bad]", "-"},
      {"[9223372036854775808]", "-"}, {"[\"open]", "-"}, {"[1,\xC2\xA0 2]", "-"}, {"[1]]", "-"}, {"[", "-"},
      {"[null ?? 1]", "-"},
  };
  for (const auto& [text, want] : cases) {
    EXPECT_EQ(shortcut(text), want) << text;
    if (want != "-") {
      EXPECT_EQ(Session().run(text), want) << text;
    }
  }
}

// A line as one short text: the entry's value with its value span, or the
// diagnostic with its span (as offsets into the line).
std::string line(std::string_view src) {
  const Document doc = build_document(src, EmptyEnv{});
  std::string out;
  if (const DictEntry* e = entry_at(doc.config, "k")) out = brief(e->second) + " " + show(*e->value_span());
  for (const Diagnostic& d : doc.diagnostics) out.append(out.empty() ? "" : " ").append(d.message + " " + show(d.span));
  return out;
}

// Escaped quotes in arrays: the comma and `=` scanners and the lexer honour
// backslashes, the operator splitter takes every quote as it comes. So an
// escaped quote closes quoted text for the splitter alone, and an operator
// byte it then sees outside quotes and brackets cuts the value there.
TEST(LiteralArray, EscapedQuotesInArraysReadAsTheScannersCutThem) {
  const std::pair<std::string, std::string> cases[] = {
      {R"(k = ["#{\"x}]"])", R"(["#{\"x}]"] @4-15)"},
      {R"(k = [#{ b = "#{\"x}]" }#])", R"([{"b": "#{\"x}]"}] @4-25)"},
      {R"(k = ["a\\", "b"])", R"(["a\\", "b"] @4-16)"},
      {R"(k = ["\\\"", "]", ",", "\"]"])", R"(["\\\"", "]", ",", "\"]"] @4-29)"},
      {R"(k = ["\"", "}#", #{ "k" = "\\" }#])", R"(["\"", "}#", {"k": "\\"}] @4-34)"},
      {R"(k = [["\"]"], "#"] # c)", R"([["\"]"], "#"] @4-22)"},
      {R"(k = ["x\"]", -1])", R"(["x\"]", -1] @4-16)"},
      {R"(k = ["a\"+b"])", "cannot parse value: `b\"` @10-12"},
      {R"(k = ["\"-["])", "malformed array @9-11"},
      {R"(k = ["x\"]", "+"])", "malformed array @4-14"},
      {R"(k = ["\"]", "*", 1])", "malformed array @4-13"},
      {R"(k = [#{ b = "\"}#-" }#])", "unterminated string @18-22"},
  };
  for (const auto& [src, want] : cases) EXPECT_EQ(line(src), want) << src;
}

// ---- generated arrays ---------------------------------------------------

// Items as written: strings (escapes, quotes next to the bytes the scanners
// stop at, the 14/15/16 bytes around the inline limit), numbers on both
// sides of the compact and packed widths, keywords, and item texts the
// grammar rejects.
const char* const kItems[] = {
    R"("")", R"("a")", R"("\"")", R"("\\")", R"("\\\"")", R"("a\"]")", R"("\"]")", R"("]\"")",
    R"("\",")", R"(",\"")", R"("\"#{")", R"("}#\"")", R"("#")", R"("a # b")", R"("\\"")", R"("\t\n")",
    R"("\q")", R"("a\"+b")", R"("fourteen bytes")", R"("fifteen bytes!!")", R"("sixteen bytes!!!")",
    R"("fourteen\"byte")", "\"\xC3\xA9\"", R"("??")", R"("-")", "0", "-16", "111", "112", "-17", "127",
    "128", "-129", "32767", "32768", "2147483648", "999999999999999999", "9223372036854775807", "1.5",
    "-0.0", "1e999", "true", "false", "null", "0x1F", "1_000", "bad", "1 2",
};
const char* const kSeparators[] = {",", ", ", " , ", ",\t", ", ,", ",,"};

std::string random_array(std::mt19937_64& rng, int depth);

std::string random_item(std::mt19937_64& rng, int depth) {
  const unsigned r = rng() % 16;
  if (depth < 2 && r == 0) return random_array(rng, depth + 1);
  if (depth < 2 && r == 1) return "#{ k = " + random_item(rng, depth + 1) + ", \"q\\\"\" = 1 }#";
  return kItems[rng() % std::size(kItems)];
}

// 0 to 10 items, now and then a blank one at either end.
std::string random_array(std::mt19937_64& rng, int depth) {
  std::string out = rng() % 8 == 0 ? "[ , " : "[";
  const unsigned count = rng() % 11;
  for (unsigned k = 0; k < count; ++k) {
    if (k) out += kSeparators[rng() % std::size(kSeparators)];
    out += random_item(rng, depth);
  }
  return out + (rng() % 8 == 0 ? ", ]" : "]");
}

// The entry `k` of a built document, in whatever form its arrays were
// stored, writes as its plain heap copy does, and what it writes reads back
// as `want` (through a variable holding `"` where a string needs one). The
// whole document, unless it would need such a variable, agrees with its
// copy in every reader.
void expect_stored_form_agrees(const Document& doc, const std::string& src, const std::string& want) {
  const Document copy = doc;
  std::string stored;
  std::string plain;
  const LineValue how = append_line_value(stored, entry_at(doc.config, "k")->second, "q");
  EXPECT_EQ(append_line_value(plain, entry_at(copy.config, "k")->second, "q"), how) << src;
  EXPECT_EQ(stored, plain) << src;
  if (how == LineValue::Written || how == LineValue::WrittenWithQuote) {
    Session back;
    back.vars["q"] = Value::string("\"");
    std::string read = back.run(stored);
    read.resize(std::min(read.size(), read.find(" | ")));
    EXPECT_EQ(read, want) << src << "\n" << stored;
  } else {
    // Only a dict key holding a quote or backslash has no line form.
    EXPECT_NE(src.find(R"("q\"")"), std::string::npos) << src;
  }
  const SerializeResult checked = serialize_checked(doc);
  if (const auto* failure = std::get_if<SerializeFailure>(&checked)) {
    EXPECT_EQ(failure->kind, SerializeFailure::Kind::NeedsQuoteVariable) << src;
    EXPECT_EQ(serialize_document(doc), serialize_document(copy)) << src;
    return;
  }
  expect_copy_agrees(doc, src);
}

TEST(LiteralArray, GeneratedArraysAgreeWithTheGrammarInEveryForm) {
  std::mt19937_64 rng(20261207);
  int shortcuts = 0, compact = 0, packed = 0, plain = 0, failures = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string text = random_array(rng, 0);
    // The value text as the lexer cut it: a string item like "\\"" flips
    // the quoting of what follows, so a later `#` may start a comment.
    const std::string src = "k = " + text;
    const std::vector<LineRecord> records = lex(src);
    ASSERT_EQ(records.size(), 1u) << src;
    const std::string_view value = records[0].value;
    const uint64_t offset = static_cast<uint64_t>(value.data() - src.data());
    Session grammar;
    const std::string want = grammar.run(value);
    const std::string read = shortcut(value);
    if (read != "-") {
      ++shortcuts;
      EXPECT_EQ(read, want) << text;
    }
    // The line holds what the grammar makes of that text, whichever path
    // the builder took, at the grammar's spans.
    const Document doc = build_document(src, EmptyEnv{});
    const DictEntry* e = entry_at(doc.config, "k");
    if (!grammar.last) {
      ++failures;
      ASSERT_EQ(e, nullptr) << src;
      ASSERT_EQ(doc.diagnostics.size(), 1u) << src;
      const size_t at = want.rfind(" @");
      const uint64_t start = std::stoull(want.substr(at + 2));
      const uint64_t end = std::stoull(want.substr(want.find('-', at) + 1));
      EXPECT_EQ(doc.diagnostics[0].message, want.substr(0, at)) << src;
      EXPECT_EQ(doc.diagnostics[0].span, (Span{start + offset, end + offset})) << src;
      continue;
    }
    ASSERT_NE(e, nullptr) << src;
    EXPECT_TRUE(doc.diagnostics.empty()) << src;
    EXPECT_EQ(brief(e->second), want) << src;
    EXPECT_EQ(e->value_span(), (Span{offset, src.size()})) << src;
    const ArrayView stored = e->second.as_array();
    stored.is_compact() ? ++compact : stored.packed_width() != 0 ? ++packed : ++plain;
    expect_stored_form_agrees(doc, src, want);
  }
  // Every path and form is taken often enough for the comparison to mean
  // something.
  EXPECT_GT(shortcuts, 100);
  EXPECT_GT(compact, 100);
  EXPECT_GT(packed, 20);
  EXPECT_GT(plain, 100);
  EXPECT_GT(failures, 100);
}

}  // namespace
}  // namespace brindle
