// Edges of the lexer's line walk: where lines end, which bytes start a
// comment or count as brackets, and how a key line is read, at buffer ends,
// with CR and CRLF, tabs, NUL and non-ASCII bytes, and very long lines.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "lexer.h"
#include "text.h"

namespace brindle {
namespace {

using namespace std::string_literals;

std::string repeat(std::string_view piece, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += piece;
  return out;
}

std::string at(Span s) { return "@" + std::to_string(s.start) + "-" + std::to_string(s.end); }

// Every record: kind and line span, then each non-empty field with its span
// (a text past 40 bytes by its size), and the number of joined pieces.
std::string render_all(std::string_view src) {
  static const char* const kinds[] = {"Other", "Section", "Vars", "Annotation", "KeyValue", "Open", "Close"};
  std::string out;
  for (const LineRecord& r : lex(src)) {
    out += out.empty() ? "" : " | ";
    out += kinds[int(r.kind)] + at(r.line_span);
    auto field = [&](const char* name, std::string_view text, Span s) {
      if (text.empty() && s == Span{}) return;
      const std::string shown = text.size() > 40 ? std::to_string(text.size()) + " bytes" : std::string(text);
      out.append(" ").append(name).append("<").append(shown).append(">").append(at(s));
    };
    field("key", r.key, r.key_span);
    field("value", r.value, r.value_span);
    field("name", r.section_name, r.name_span);
    if (!r.annotation_text.empty()) out.append(" ann<").append(r.annotation_text).append(">");
    if (!r.joins.empty()) out.append(" joins=").append(std::to_string(r.joins.size()));
  }
  return out;
}

TEST(LexerEdges, LinesBytesAndCommentsReadAsBefore) {
  const std::pair<std::string, std::string> cases[] = {
      // last line without a line feed
      {"k = 1",
       "KeyValue@0-5 key<k>@0-1 value<1>@4-5"},
      // a CR at the very end stays in the line
      {"k = 1\r",
       "KeyValue@0-6 key<k>@0-1 value<1>@4-6"},
      // a lone CR does not end a line
      {"a = 1\rb = 2\r\n",
       "KeyValue@0-11 key<a>@0-1 value<1\x0D""b = 2>@4-11"},
      // a join over CRLF ends
      {"k = [1,\r\n  2]\r\n",
       "KeyValue@0-13 key<k>@0-1 value<[1, 2]>@4-13 joins=2"},
      // open bracket on the last line
      {"k = [\n",
       "KeyValue@0-5 key<k>@0-1 value<[>@4-5"},
      // joined with a last line without a line feed
      {"k = [\n2",
       "KeyValue@0-7 key<k>@0-1 value<[ 2>@4-7 joins=2"},
      // empty lines inside a join
      {"k = (\n\n\n)",
       "KeyValue@0-9 key<k>@0-1 value<(   )>@4-9 joins=4"},
      // tabs around everything
      {"\tk\t=\t\"a # b\"\t# c\t",
       "KeyValue@0-17 key<k>@1-2 value<\"a # b\">@5-17"},
      // an escaped quote does not end the string
      {"k = \"x\\\"#\" # c",
       "KeyValue@0-14 key<k>@0-1 value<\"x\\\"#\">@4-14"},
      // an escaped `#` is not a comment
      {"k = a\\#b # c",
       "KeyValue@0-12 key<k>@0-1 value<a\\#b>@4-12"},
      // NUL bytes are ordinary bytes
      {"k = a\0b # c\0"s,
       "KeyValue@0-12 key<k>@0-1 value<a\0b>@4-12"s},
      // ... and do not start a key
      {"\0k = 1"s,
       "Other@0-6"},
      // a non-ASCII key byte
      {"\xC3\xA9 = 1",
       "Other@0-6"},
      // non-ASCII inside and after a string
      {"k = \"\xC3\xA9#\" # \xC3\xBC",
       "KeyValue@0-14 key<k>@0-1 value<\"\xC3""\xA9""#\">@4-14"},
      // Unicode blanks around `=` and after the value
      {"k\xE3\x80\x80=\xC2\xA0" "1\xC2\xA0",
       "KeyValue@0-10 key<k>@0-1 value<1>@7-10"},
      // a comment after a Unicode blank
      {"\xC2\xA0# comment",
       "Other@0-11"},
      // a comment's brackets do not count
      {"  # comment [ {",
       "Other@0-15"},
      // `#{` does not start a comment
      {"#{ a = 1 }#",
       "Other@0-11"},
      // `}#` closes a dict, not a comment
      {"k = 1 }# c",
       "KeyValue@0-10 key<k>@0-1 value<1 }# c>@4-10"},
      // ... also with blanks between
      {"k = } \xC2\xA0# c",
       "KeyValue@0-11 key<k>@0-1 value<} \xC2""\xA0""# c>@4-11"},
      // a block opener with a comment
      {"k = #{ # entries",
       "Open@0-16 key<k>@0-1"},
      {"k=#{}#",
       "KeyValue@0-6 key<k>@0-1 value<#{}#>@2-6"},
      // `#` inside a quoted key
      {"\"k#\" = 1",
       "KeyValue@0-8 key<k#>@0-4 value<1>@7-8"},
      // a quoted key ending in an escaped backslash opens a join
      {"\"k\\\\\" = [",
       "KeyValue@0-9 key<k\\>@0-5 value<[>@8-9"},
      {"x",
       "Other@0-1"},
      // an unclosed quoted key
      {"\"k = 1",
       "Other@0-6"},
      // a comment before `=`
      {"k # = 1",
       "Other@0-7"},
      // nothing before the comment
      {"k = # c",
       "Other@0-7"},
      {"k =",
       "Other@0-3"},
      // brackets in comments do not count when joining
      {"k = [1, # ]\n 2] # [",
       "KeyValue@0-19 key<k>@0-1 value<[1, 2]>@4-19 joins=2"},
      {"k = #{ a = 1,\n}# # c\nx = 1",
       "KeyValue@0-20 key<k>@0-1 value<#{ a = 1, }#>@4-20 joins=2 | KeyValue@21-26 key<x>@21-22 value<1>@25-26"},
      // quoted brackets do not open a join
      {"k = \"[\" + \"(\"\ny = 2",
       "KeyValue@0-13 key<k>@0-1 value<\"[\" + \"(\">@4-13 | KeyValue@14-19 key<y>@14-15 value<2>@18-19"},
      // a string that holds a line feed in a join
      {"k = [1,\n\"]\n\", 2]\nz = 3",
       "KeyValue@0-22 key<k>@0-1 value<[1, \"] \", 2] z = 3>@4-22 joins=4"},
      // a very long line
      {"k = [" + repeat("1, ", 3000) + "2]",
       "KeyValue@0-9007 key<k>@0-1 value<9003 bytes>@4-9007"},
      {"k = \"" + repeat("x", 200) + "#\" # " + repeat("y", 100) + "\nn = 1",
       "KeyValue@0-310 key<k>@0-1 value<203 bytes>@4-310 | KeyValue@311-316 key<n>@311-312 value<1>@315-316"},
      {"# " + repeat("#", 300) + "\n[s]",
       "Other@0-302 | Section@303-306 name<s>@304-305"},
      {repeat(" ", 100) + "k = 1",
       "KeyValue@0-105 key<k>@100-101 value<1>@104-105"},
      {"k = [" + repeat(" ", 90) + "\n1]",
       "KeyValue@0-98 key<k>@0-1 value<[ 1]>@4-98 joins=2"},
      {"[vars]\n[ vars ]\n  [vars]  # v\n[\"a.b\".c] # s\n@min: 1 # low\n  }#  # end",
       "Vars@0-6 | Section@7-15 name<vars>@8-12 | Vars@16-29 | Section@30-43 name<\"a.b\".c>@31-38 | Annotation@44-57 ann<@min: 1> | Close@58-69"},
  };
  for (const auto& [src, want] : cases) EXPECT_EQ(render_all(src), want) << src;
}

// Line ends are found a word at a time near a line's start and by a library
// scan past it: every length across those words, with LF, CRLF and a lone
// CR, and a last line with and without its end.
TEST(LexerEdges, EveryLineLengthEndsWhereItsLineFeedIs) {
  for (size_t len = 0; len <= 150; ++len) {
    for (const std::string eol : {"\n", "\r\n"}) {
      // Lines of len, len + 3 and 3 bytes; a lone CR sits inside the second.
      const std::string lines[] = {repeat("a", len), "b\r" + repeat("c", len + 1), "x=1"};
      for (const bool closed : {true, false}) {
        std::string src;
        for (const std::string& l : lines) src += l + eol;
        if (!closed) src.resize(src.size() - eol.size());
        const std::vector<LineRecord> records = lex(src);
        ASSERT_EQ(records.size(), 3u) << len;
        for (size_t i = 0, start = 0; i < 3; start += lines[i++].size() + eol.size()) {
          EXPECT_EQ(records[i].raw, lines[i]) << len << " line " << i;
          EXPECT_EQ(records[i].line_span, (Span{start, start + lines[i].size()})) << len << " line " << i;
        }
      }
    }
  }
}

// The lexer reads key lines and comment lines on a path of its own; the
// public helpers walk the same rules another way. Whatever the bytes, both
// must agree on where a value's code ends and whether its brackets join.
TEST(LexerEdges, RecordsAgreeWithTheCommentAndBracketHelpers) {
  std::mt19937_64 rng(91);
  const std::string pieces[] = {"[", "]", "{", "}", "(", ")", "#", "#{", "}#", "\"", "\\", "=", " = ", "@",
                                " ", "\t", "\n", "\r\n", "\r", "k", "a1", "-", "_", ".", ",", "[vars]",
                                "\xC2\xA0", "\xE3\x80\x80", "\xC3\xA9", "\0"s, "\xFF", repeat("x", 70)};
  for (int round = 0; round < 4000; ++round) {
    std::string src;
    for (size_t i = 0, n = rng() % 30; i < n; ++i) src += pieces[rng() % std::size(pieces)];
    const std::vector<LineRecord> records = lex(src);
    for (const LineRecord& r : records) {
      const bool last = &r == &records.back();
      const std::string_view code = trim(strip_comment(r.raw));
      if (r.kind == LineKind::Other && !code.empty()) {
        // Only a line that is neither a header nor a key line is Other.
        const char c = code.front();
        ASSERT_TRUE(c != '@' && code != "[vars]" && code != "}#") << src;
        continue;
      }
      if (r.kind == LineKind::BlockOpen) {
        ASSERT_TRUE(code.ends_with("#{")) << src;
        continue;
      }
      if (r.kind != LineKind::KeyValue) continue;
      ASSERT_FALSE(r.value.empty()) << src;
      if (r.joins.empty()) {
        // The value ends where the helper's code ends; a value still open
        // joins unless no line follows.
        ASSERT_EQ(r.value.data() + r.value.size(), code.data() + code.size()) << src;
        ASSERT_TRUE(bracket_depth(r.value) < 1 || last) << src;
        continue;
      }
      // Each piece is the code of its line; the join stops once the pieces
      // close, or at the end of the source.
      int64_t depth = 0;
      for (size_t k = 0; k < r.joins.size(); ++k) {
        const JoinPiece& p = r.joins[k];
        const std::string_view piece = std::string_view(r.value).substr(p.text_start, p.length);
        if (k > 0) {
          const std::string_view line = std::string_view(src).substr(p.source_start, p.line_end - p.source_start);
          ASSERT_EQ(piece, trim(strip_comment(line))) << src;
        }
        ASSERT_GE(depth += bracket_depth(piece), k + 1 < r.joins.size() ? 1 : INT64_MIN) << src;
      }
      ASSERT_TRUE(depth < 1 || last) << src;
    }
  }
}

// A joined record's raw text is its physical lines joined by line feeds,
// whatever ended them (a view of the source when nothing was dropped).
TEST(LexerEdges, JoinedRecordsKeepTheirLinesJoinedByLineFeeds) {
  std::mt19937_64 rng(92);
  const std::string eols[] = {"\n", "\r\n", "\r\r\n"};
  const std::string items[] = {"1", " \"a\"", "[", "]", "\r", " # c", "#{", "}#", ""};
  int joined = 0;
  for (int round = 0; round < 2000; ++round) {
    std::string src = "k = [";
    for (size_t i = 0, n = 1 + rng() % 6; i < n; ++i) {
      src += items[rng() % std::size(items)] + "," + eols[rng() % std::size(eols)];
    }
    src += "]" + eols[rng() % std::size(eols)] + "j = 2\n";
    for (const LineRecord& r : lex(src)) {
      std::string want;
      const std::string_view written = std::string_view(src).substr(r.line_span.start, r.line_span.end - r.line_span.start);
      for (size_t i = 0; i < written.size(); ++i) {
        if (written[i] == '\r' && i + 1 < written.size() && written[i + 1] == '\n') continue;
        want += written[i];
      }
      ASSERT_EQ(r.raw, want) << src;
      if (!r.joins.empty()) ++joined;
    }
  }
  EXPECT_GT(joined, 1000);
}

// Key lines read on their own fast path agree with the general helpers:
// the value is the trimmed code after the `=` (strip_comment walks the whole
// line), whether or not its bytes stop the walk, and is placed by its span.
TEST(LexerEdges, KeyLineValuesAgreeWithTheCommentHelper) {
  std::mt19937_64 rng(17);
  const std::string blanks[] = {"", " ", "  ", "\t", "\xC2\xA0", "\xE3\x80\x80 ", " \x0B"};
  const std::string pieces[] = {"1", "x", "-", "+", "$v", ",", "\"", "\\", "#", "#{", "}#", "[", "]", "(",
                                ")", "{", "}", " ", "\t", "\xC2\xA0", "\xC3\xA9", "\"a # b\"", "??", "."};
  for (int round = 0; round < 20000; ++round) {
    std::string line = rng() % 2 ? "key_1" : "\"q k\"";
    line += blanks[rng() % std::size(blanks)] + "=" + blanks[rng() % std::size(blanks)];
    const size_t value_from = line.size();
    for (size_t i = 0, n = rng() % 6; i < n; ++i) line += pieces[rng() % std::size(pieces)];
    line += blanks[rng() % std::size(blanks)];
    const std::vector<LineRecord> records = lex(line);
    ASSERT_EQ(records.size(), 1u) << line;
    const LineRecord& r = records[0];
    const std::string_view after_eq = std::string_view(line).substr(line.find('=') + 1);
    const std::string_view want = trim(strip_comment(after_eq));
    if (want.empty()) {
      ASSERT_EQ(r.kind, LineKind::Other) << line;
      continue;
    }
    if (want == "#{") {
      ASSERT_EQ(r.kind, LineKind::BlockOpen) << line;
      continue;
    }
    ASSERT_EQ(r.kind, LineKind::KeyValue) << line;
    ASSERT_TRUE(r.joins.empty()) << line;  // no line follows to join
    ASSERT_EQ(r.value, want) << line;
    ASSERT_EQ(r.value_span.start, static_cast<uint64_t>(want.data() - line.data())) << line;
    ASSERT_GE(r.value_span.start, value_from) << line;
    ASSERT_EQ(r.value_span.end, line.size()) << line;
  }
}

}  // namespace
}  // namespace brindle
