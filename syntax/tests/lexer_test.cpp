#include "lexer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace brindle {
namespace {

// Kind, then each non-empty field as name<text>@span relative to `base`, and
// the number of joined pieces when there are any.
std::string render(const LineRecord& r, uint64_t base) {
  static const char* const kinds[] = {"Other", "Section", "Vars", "Annotation", "KeyValue", "Open", "Close"};
  std::string out = kinds[int(r.kind)];
  auto field = [&](const char* name, std::string_view text, Span s) {
    if (!text.empty() || s != Span{}) out.append(" ").append(name).append("<").append(text).append(">").append(show(s, base));
  };
  field("key", r.key, r.key_span);
  field("value", r.value, r.value_span);
  field("name", r.section_name, r.name_span);
  if (!r.annotation_text.empty()) out.append(" ann<").append(r.annotation_text).append(">");
  return r.joins.empty() ? out : out.append(" joins=").append(std::to_string(r.joins.size()));
}

TEST(Lexer, ClassifiesEachLineByItsFirstMatchingRule) {
  // Lexed as one source, with LF and with CRLF ends, so every offset is absolute.
  const std::pair<std::string, std::string> cases[] = {
      {"  [vars]  # variables", "Vars"}, {"  }#  # end", "Close"},
      {"[ vars ]", "Section name<vars>@1-5"}, {"  [a.b] # c", "Section name<a.b>@3-6"},  // right after `[`
      {"[a] x", "Other"}, {"[a]b]", "Other"}, {"\"open = 1", "Other"},
      {"@min: 1 # low", "Annotation ann<@min: 1>"}, {"}#,", "Other"},
      {"key = #{   # entries follow", "Open key<key>@0-3"}, {"k = #{}#", "KeyValue key<k>@0-1 value<#{}#>@4-8"},
      {"  a-b_C9 =  1  # one", "KeyValue key<a-b_C9>@2-8 value<1>@12-20"},  // the value's span takes the comment
      {"k = \"#not a comment\" # but this is", "KeyValue key<k>@0-1 value<\"#not a comment\">@4-34"},
      {"\"a\\\"b\" = 1", "KeyValue key<a\"b>@0-6 value<1>@9-10"},  // quotes in the span
      {"\xC2\xA0k\xE3\x80\x80=\xC2\xA0v\xC2\xA0", "KeyValue key<k>@2-3 value<v>@9-12"}, {"\xC3\xA9 = 1", "Other"},
  };
  for (const std::string eol : {"\n", "\r\n"}) {
    std::string src;
    for (const auto& c : cases) src += c.first + eol;
    const auto recs = lex(src);
    ASSERT_EQ(recs.size(), std::size(cases));
    for (size_t i = 0, base = 0; i < recs.size(); base += cases[i++].first.size() + eol.size()) {
      const bool line_ok = recs[i].raw == cases[i].first && recs[i].line_span == Span{base, base + cases[i].first.size()};
      EXPECT_EQ(render(recs[i], base) + (line_ok ? "" : " BAD-LINE"), cases[i].second) << cases[i].first;
    }
  }
}

TEST(Lexer, PhysicalLinesAndJoins) {
  // Each record as its raw text, then its value and pieces when joined.
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"\n\r\n", "<> <>"},
      {"a = 1\r", "<a = 1\r>"},  // a CR without a following LF stays
      // An inline dict continues like any bracket; a quoted one does not open.
      {"d = #{ a = 1,\n b = \"]\" }#\nx = \"[\"\n", "<d = #{ a = 1,\n b = \"]\" }#>=#{ a = 1, b = \"]\" }#/2 <x = \"[\">"},
      // A bracket that never closes swallows every remaining line.
      {"a = [\n[x]\n@min: 1\nb = 2", "<a = [\n[x]\n@min: 1\nb = 2>=[ [x] @min: 1 b = 2/4"},
      // Extra closers on a continuation line end the join.
      {"a = ((\n)))\nb = 1\n", "<a = ((\n)))>=(( )))/2 <b = 1>"},
  };
  for (const auto& [src, want] : cases) {
    std::string got;
    for (const auto& r : lex(src)) {
      got.append(got.empty() ? "<" : " <").append(r.raw).append(">");
      if (!r.joins.empty()) got.append("=").append(r.value).append("/").append(std::to_string(r.joins.size()));
      if (src.substr(r.line_span.start, r.line_span.end - r.line_span.start) != r.raw) got += " BAD-LINE";
    }
    EXPECT_EQ(got, want) << src;
  }
  // Records move without invalidating their owned texts.
  std::vector<LineRecord> moved = lex("\"q\\\"k\" = [1,\n2]\n");
  moved.resize(200);
  EXPECT_EQ(render(moved[0], 0), "KeyValue key<q\"k>@0-6 value<[1, 2]>@9-15 joins=2");
}

TEST(Lexer, JoinedValuesMapBackToTheirSource) {
  // "v = [1,\n   \"ab\", # c\n\n  3]\n": lines at 0, 8, 21 and 22; the value is
  // "[1, \"ab\",  3]" from offset 4. With CRLF ends each line starts one byte
  // later per earlier line, and the value ends before its CR.
  for (const std::string eol : {"\n", "\r\n"}) {
    const size_t n = eol.size() - 1;
    const std::string src = "v = [1," + eol + "   \"ab\", # c" + eol + eol + "  3]" + eol;
    const auto recs = lex(src);
    const LineRecord& v = recs[0];
    EXPECT_EQ(render(v, 0), "KeyValue key<v>@0-1 value<[1, \"ab\",  3]>@4-" + std::to_string(26 + 3 * n) + " joins=4");
    // Index into the value -> source offset, as a start and as an exclusive end.
    const struct { uint64_t index; bool is_end; uint64_t source; } cases[] = {
        {2, false, 6}, {3, false, 7},  // inside the first piece; joining blank -> end of its line
        {4, false, 11 + n}, {9, false, 20 + n},  // next piece after its leading blanks; blank before the empty line
        {13, false, 26 + 3 * n}, {400, true, 26 + 3 * n},  // past the text: clamped
        {4, true, 7}, {9, true, 16 + n},  // an end just after a piece stays on its line
    };
    for (const auto& c : cases) EXPECT_EQ(v.map_offset(4 + c.index, c.is_end), c.source) << c.index << eol.size();
    EXPECT_EQ(v.map_offset(2), 2u);  // before the value: untouched
    EXPECT_EQ(show(v.map_span({4 + 11, 4 + 11}), 0), show({24 + 3 * n, 24 + 3 * n}, 0));  // empty range keeps start <= end
  }
}

TEST(Lexer, LineHelpers) {
  // The helper's letter, its input, its output; s: strip_comment,
  // d: bracket_depth, u: unquote_key, p: split_key_path as <segment>s.
  const std::tuple<char, std::string, std::string> cases[] = {
      {'s', "a = \"x \\\" # y\" # z", "a = \"x \\\" # y\""},
      {'s', "a = #{ b = 1 }# # z", "a = #{ b = 1 }#"}, {'s', "a = } # x # y", "a = } # x"},  // `} #` closes a dict
      {'s', "a = \\# b # c", "a = \\# b"}, {'s', "a = \\\\# b", "a = \\\\"},
      {'s', "a = \"open # still string", "a = \"open # still string"},
      {'s', "a\xC2\xA0# c", "a"},
      {'d', "#{ a = ({", "3"}, {'d', "\"\\\"[(\" \\[", "0"}, {'d', "}#}#]", "-3"},
      {'u', "\"", "\""}, {'u', "x\"", "x\""},
      {'u', "\"a\\\\\"b\"", "a\\\"b"},  // \\" : the \" pair is replaced first
      {'u', "\"a\\nb\"", "a\\nb"},  // other escapes stay as written
      {'p', "", "<>"}, {'p', "a..b", "<a><><b>"},
      {'p', "\"x\\\".y\".z", "<x\".y><z>"}, {'p', "a.\"b", "<a><\"b>"},
      {'p', "\xC2\xA0" "a\xC2\xA0.b", "<a><b>"},
  };
  for (const auto& [helper, in, out] : cases) {
    std::string got = helper == 's' ? std::string(strip_comment(in))
                    : helper == 'd' ? std::to_string(bracket_depth(in))
                    : helper == 'u' ? unquote_key(in) : "";
    if (helper == 'p') for (const auto& seg : split_key_path(in)) got += "<" + seg + ">";
    EXPECT_EQ(got, out) << in;
  }
}

TEST(Lexer, RandomBytesNeverBreakTheLexer) {
  std::mt19937_64 rng(20240611);
  const char alphabet[] = "[]{}()#\"\\=@ .\n\r\tab1-_,:}";
  for (int round = 0; round < 800; ++round) {
    std::string src;
    for (size_t i = 0, n = rng() % 120; i < n; ++i)
      src.push_back(rng() % 3 == 0 ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % (sizeof(alphabet) - 1)]);
    uint64_t prev_end = 0;
    for (const auto& r : lex(src)) {
      ASSERT_GE(r.line_span.start, std::exchange(prev_end, r.line_span.end)) << src;
      for (Span s : {r.line_span, r.key_span, r.value_span, r.name_span}) ASSERT_TRUE(s.start <= s.end && s.end <= src.size());
      for (uint64_t p = r.value_span.start; p <= r.value_span.start + r.value.size(); ++p) {
        const Span m = r.map_span({r.value_span.start, p});
        ASSERT_TRUE(m.start <= m.end && m.end <= r.value_span.end) << src;
      }
      // Past the text: the identity when nothing joined, else clamped to the value.
      const uint64_t past = r.value_span.start + r.value.size() + 5;
      ASSERT_TRUE(r.joins.empty() ? r.map_offset(past, true) == past : r.map_offset(past, true) <= r.value_span.end);
    }
  }
}

}  // namespace
}  // namespace brindle
