#include "lexer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace brindle {
namespace {

// Spans are relative to the line here; the lines are lexed as one source, with
// LF and with CRLF ends, so that every record also proves its offsets absolute.
struct KindCase {
  std::string line;
  LineKind kind;
  std::string key = "", value = "";
  Span key_at = {};
  uint64_t value_at = 0;  // the value's span runs from here through the comment
  std::string name = "";
  Span name_at = {};
  std::string annotation = "";
};

TEST(Lexer, ClassifiesEachLineByItsFirstMatchingRule) {
  const KindCase cases[] = {
      {"  [vars]  # variables", LineKind::VarsHeader},
      {"[ vars ]", LineKind::Section, "", "", {}, 0, "vars", {1, 5}},  // starts right after `[`
      {"  [server.http] # c", LineKind::Section, "", "", {}, 0, "server.http", {3, 14}},
      {"[a] x", LineKind::Other},
      {"[]", LineKind::Other},
      {"[a[b]]", LineKind::Other},
      {"[a]b]", LineKind::Other},
      {"@min: 1 # low", LineKind::AnnotationLine, "", "", {}, 0, "", {}, "@min: 1"},
      {"  }#  # end", LineKind::BlockClose},
      {"}#,", LineKind::Other},
      {"key = #{   # entries follow", LineKind::BlockOpen, "key", "", {0, 3}},
      {"key = #{}#", LineKind::KeyValue, "key", "#{}#", {0, 3}, 6},
      {"  a-b_C9 =  1  # one", LineKind::KeyValue, "a-b_C9", "1", {2, 8}, 12},
      {"k = \"#not a comment\" # but this is", LineKind::KeyValue, "k", "\"#not a comment\"", {0, 1}, 4},
      {"\"a.b\" = 1", LineKind::KeyValue, "a.b", "1", {0, 5}, 8},
      {"\"a\\\"b\" = 1", LineKind::KeyValue, "a\"b", "1", {0, 6}, 9},  // quotes in the span
      {"\"open = 1", LineKind::Other},
      {"a.b = 1", LineKind::Other},
      {"k =   # nothing", LineKind::Other},
      {"\xC2\xA0k\xE3\x80\x80=\xC2\xA0v\xC2\xA0", LineKind::KeyValue, "k", "v", {2, 3}, 9},
      {"\xC3\xA9 = 1", LineKind::Other},
  };
  for (const std::string eol : {"\n", "\r\n"}) {
    std::string src;
    for (const auto& c : cases) src += c.line + eol;
    const auto recs = lex(src);
    ASSERT_EQ(recs.size(), std::size(cases));
    uint64_t at = 0;
    auto shift = [&](Span s) { return s == Span{} ? s : Span{at + s.start, at + s.end}; };
    for (size_t i = 0; i < recs.size(); at += cases[i++].line.size() + eol.size()) {
      const LineRecord& r = recs[i];
      const KindCase& c = cases[i];
      EXPECT_EQ(std::tuple(r.kind, r.raw, r.key, r.value, r.section_name, r.annotation_text),
                std::tuple(c.kind, c.line, c.key, c.value, c.name, c.annotation))
          << c.line;
      EXPECT_EQ(r.line_span, (Span{at, at + c.line.size()})) << c.line;
      EXPECT_EQ(r.key_span, shift(c.key_at)) << c.line;
      EXPECT_EQ(r.value_span, c.value_at ? (Span{at + c.value_at, at + c.line.size()}) : Span{}) << c.line;
      EXPECT_EQ(r.name_span, shift(c.name_at)) << c.line;
      EXPECT_TRUE(r.joins.empty()) << c.line;
    }
  }
}

TEST(Lexer, PhysicalLinesAndJoins) {
  struct Case {
    std::string src;
    std::vector<std::string> raws;  // one per record
    std::string first_value = "";
    size_t joins = 0;
  };
  const Case cases[] = {
      {"", {}},
      {"\n\n", {"", ""}},
      {"a = 1\n\nb = 2\n\n", {"a = 1", "", "b = 2", ""}, "1"},
      {"a = 1", {"a = 1"}, "1"},
      {"a = 1\r", {"a = 1\r"}, "1"},  // a CR without a following LF stays
      {"\r\n", {""}},
      // An inline dict continues like any bracket; a quoted one does not open.
      {"d = #{ a = 1,\n b = \"]\" }#\nx = \"[\"\n", {"d = #{ a = 1,\n b = \"]\" }#", "x = \"[\""},
       "#{ a = 1, b = \"]\" }#", 2},
      // A bracket that never closes swallows every remaining line.
      {"a = [\n[x]\n@min: 1\nb = 2", {"a = [\n[x]\n@min: 1\nb = 2"}, "[ [x] @min: 1 b = 2", 4},
      // Extra closers on a continuation line end the join.
      {"a = ((\n)))\nb = 1\n", {"a = ((\n)))", "b = 1"}, "(( )))", 2},
      {"a = [1", {"a = [1"}, "[1"},
  };
  for (const auto& c : cases) {
    const auto r = lex(c.src);
    ASSERT_EQ(r.size(), c.raws.size()) << c.src;
    for (size_t i = 0; i < r.size(); ++i) {
      EXPECT_EQ(r[i].raw, c.raws[i]) << c.src;
      EXPECT_EQ(c.src.substr(r[i].line_span.start, r[i].line_span.end - r[i].line_span.start), r[i].raw) << c.src;
      EXPECT_EQ(r[i].joins.size(), i == 0 ? c.joins : 0) << c.src;
    }
    if (!r.empty()) { EXPECT_EQ(r[0].value, c.first_value) << c.src; }
  }
  // Records move without invalidating their owned texts.
  std::vector<LineRecord> moved = lex("\"q\\\"k\" = [1,\n2]\n");
  moved.resize(200);
  EXPECT_EQ(std::tuple(moved[0].key, moved[0].value, moved[0].raw),
            std::tuple("q\"k", "[1, 2]", "\"q\\\"k\" = [1,\n2]"));
}

TEST(Lexer, JoinedValuesMapBackToTheirSource) {
  const std::string src =
      "v = [1,\n"          // 0..7
      "   \"ab\", # c\n"   // 8..20
      "\n"                 // 21..21
      "  3]\n"             // 22..26
      "w = 2\n";           // 27..32
  const auto r = lex(src);
  ASSERT_EQ(r.size(), 2u);
  const LineRecord& v = r[0];
  EXPECT_EQ(v.value, "[1, \"ab\",  3]");
  EXPECT_EQ(v.line_span, (Span{0, 26}));
  EXPECT_EQ(v.value_span, (Span{4, 26}));
  EXPECT_EQ(r[1].key_span, (Span{27, 28}));

  // Index into the value -> source offset, as a start and as an exclusive end.
  struct MapCase {
    uint64_t index;
    bool is_end;
    uint64_t source;
  };
  const MapCase cases[] = {
      {2, false, 6},     // inside the first piece
      {3, false, 7},     // joining blank -> end of its line
      {4, false, 11},    // next piece, after its leading blanks
      {9, false, 20},    // blank before the empty line
      {13, false, 26},   // past the text: clamped
      {0, true, 4},
      {4, true, 7},      // end just after the blank stays on line 1
      {9, true, 16},     // end of "\"ab\"," stays on line 2
      {13, true, 26},
      {400, true, 26},
  };
  for (const auto& c : cases)
    EXPECT_EQ(v.map_offset(4 + c.index, c.is_end), c.source) << c.index << " end=" << c.is_end;
  EXPECT_EQ(v.map_offset(2), 2u);  // before the value: untouched
  EXPECT_EQ(v.map_span({4 + 4, 4 + 9}), (Span{11, 16}));
  EXPECT_EQ(v.map_span({4 + 11, 4 + 11}), (Span{24, 24}));  // empty range keeps start <= end

  // With CRLF ends each line starts one byte later per earlier line, and the
  // joined value ends before its CR.
  std::string crlf;
  for (char c : src) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const auto w = lex(crlf);
  EXPECT_EQ(w[0].value, v.value);
  EXPECT_EQ(w[0].line_span, (Span{0, 29}));
  EXPECT_EQ(w[0].map_span({4 + 11, 4 + 13}), (Span{27, 29}));
  EXPECT_EQ(w[0].map_offset(4 + 9), 21u);  // the blank before the empty line
}

TEST(Lexer, LineHelpers) {
  using Helper = std::string (*)(std::string_view);
  const Helper strip = [](std::string_view s) { return std::string(strip_comment(s)); };
  const Helper depth = [](std::string_view s) { return std::to_string(bracket_depth(s)); };
  const Helper unquote = [](std::string_view s) { return unquote_key(s); };
  const Helper split = [](std::string_view s) {
    std::string out;
    for (const auto& seg : split_key_path(s)) out += "<" + seg + ">";
    return out;
  };
  struct Case {
    Helper helper;
    std::string in, out;
  };
  const Case cases[] = {
      {strip, "a = 1 # c", "a = 1"},
      {strip, "# whole", ""},
      {strip, "a = \"x # y\" # z", "a = \"x # y\""},
      {strip, "a = \"x \\\" # y\" # z", "a = \"x \\\" # y\""},
      {strip, "a = #{ b = 1 }# # z", "a = #{ b = 1 }#"},
      {strip, "a = } # x # y", "a = } # x"},  // `} #` closes a dict
      {strip, "a = \\# b # c", "a = \\# b"},
      {strip, "a = \\\\# b", "a = \\\\"},
      {strip, "a = \"open # still string", "a = \"open # still string"},
      {strip, "a\xC2\xA0# c", "a"},
      {depth, "#{ a = [", "2"},
      {depth, "} #", "-1"},
      {depth, "({[", "3"},
      {depth, "\"[(\"", "0"},
      {depth, "\"\\\"[\"", "0"},
      {depth, "\\[", "0"},
      {depth, "}#}#]", "-3"},
      {unquote, "\"\"", ""},
      {unquote, "\"", "\""},
      {unquote, "x\"", "x\""},
      {unquote, "\"a\\\"b\"", "a\"b"},
      {unquote, "\"a\\\\b\"", "a\\b"},
      {unquote, "\"a\\\\\"b\"", "a\\\"b"},  // \\" : the \" pair is replaced first
      {unquote, "\"a\\nb\"", "a\\nb"},        // other escapes stay as written
      {split, "", "<>"},
      {split, "a.b.c", "<a><b><c>"},
      {split, "a..b", "<a><><b>"},
      {split, "\"a.b\".c", "<a.b><c>"},
      {split, "\"x\\\".y\".z", "<x\".y><z>"},
      {split, "a.\"b", "<a><\"b>"},
      {split, "\xC2\xA0" "a\xC2\xA0.b", "<a><b>"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.helper(c.in), c.out) << c.in;
}

TEST(Lexer, RandomBytesNeverBreakTheLexer) {
  std::mt19937_64 rng(20240611);
  const char alphabet[] = "[]{}()#\"\\=@ .\n\r\tab1-_,:}";
  for (int round = 0; round < 1500; ++round) {
    std::string src;
    for (size_t i = 0, n = rng() % 120; i < n; ++i)
      src.push_back(rng() % 3 == 0 ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % (sizeof(alphabet) - 1)]);
    uint64_t prev_end = 0;
    for (const auto& r : lex(src)) {
      ASSERT_GE(r.line_span.start, prev_end) << src;
      prev_end = r.line_span.end;
      for (Span s : {r.line_span, r.key_span, r.value_span, r.name_span})
        ASSERT_TRUE(s.start <= s.end && s.end <= src.size()) << src;
      for (uint64_t p = r.value_span.start; p <= r.value_span.start + r.value.size(); ++p) {
        const Span m = r.map_span({r.value_span.start, p});
        ASSERT_TRUE(m.start <= m.end && m.end <= r.value_span.end) << src;
      }
      // Past the text: the identity when nothing joined, else clamped to the value.
      const uint64_t past = r.value_span.start + r.value.size() + 5;
      if (r.joins.empty()) { ASSERT_EQ(r.map_offset(past, true), past) << src; }
      else { ASSERT_LE(r.map_offset(past, true), r.value_span.end) << src; }
      (void)split_key_path(r.raw);
    }
  }
}

}  // namespace
}  // namespace brindle
