#include "lexer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace brindle {
namespace {

struct KindCase {
  std::string line;
  LineKind kind;
  std::string key = "";        // KeyValue, BlockOpen
  std::string value = "";      // KeyValue
  std::string name = "";       // Section
  std::string annotation = ""; // AnnotationLine
};

TEST(Lexer, ClassifiesEachLineByItsFirstMatchingRule) {
  const KindCase cases[] = {
      {"[vars]", LineKind::VarsHeader},
      {"  [vars]  # variables", LineKind::VarsHeader},
      {"[ vars ]", LineKind::Section, "", "", "vars"},
      {"[server.http]", LineKind::Section, "", "", "server.http"},
      {"[a] # comment", LineKind::Section, "", "", "a"},
      {"[a] x", LineKind::Other},
      {"[]", LineKind::Other},
      {"[a[b]]", LineKind::Other},
      {"[a]b]", LineKind::Other},
      {"", LineKind::Other},
      {"# only a comment", LineKind::Other},
      {"@min: 1 # low", LineKind::AnnotationLine, "", "", "", "@min: 1"},
      {"}#", LineKind::BlockClose},
      {"  }#  # end", LineKind::BlockClose},
      {"}#,", LineKind::Other},
      {"key = #{", LineKind::BlockOpen, "key"},
      {"key = #{   # entries follow", LineKind::BlockOpen, "key"},
      {"key = #{}#", LineKind::KeyValue, "key", "#{}#"},
      {"k = v", LineKind::KeyValue, "k", "v"},
      {"a-b_C9 =  1  # one", LineKind::KeyValue, "a-b_C9", "1"},
      {"k = \"#not a comment\" # but this is", LineKind::KeyValue, "k", "\"#not a comment\""},
      {"k = #{a = 1}# # note", LineKind::KeyValue, "k", "#{a = 1}#"},
      {"k = #{a = 1} # kept", LineKind::KeyValue, "k", "#{a = 1} # kept"},
      {"k = \\# hidden", LineKind::KeyValue, "k", "\\# hidden"},
      {"k = \"a\\\"#b\" # c", LineKind::KeyValue, "k", "\"a\\\"#b\""},
      {"\"a.b\" = 1", LineKind::KeyValue, "a.b", "1"},
      {"\"a\\\"b\" = 1", LineKind::KeyValue, "a\"b", "1"},
      {"\"open = 1", LineKind::Other},
      {"a.b = 1", LineKind::Other},
      {"k =   # nothing", LineKind::Other},
      {"k = #x", LineKind::Other},
      {"\xC2\xA0k\xE3\x80\x80=\xC2\xA0v\xC2\xA0", LineKind::KeyValue, "k", "v"},
      {"\xC3\xA9 = 1", LineKind::Other},
  };
  for (const auto& c : cases) {
    const auto recs = lex(c.line);
    if (c.line.empty()) {
      EXPECT_TRUE(recs.empty());
      continue;
    }
    ASSERT_EQ(recs.size(), 1u) << c.line;
    const LineRecord& r = recs[0];
    EXPECT_EQ(r.kind, c.kind) << c.line;
    EXPECT_EQ(r.raw, c.line);
    EXPECT_EQ(r.key, c.key) << c.line;
    EXPECT_EQ(r.value, c.value) << c.line;
    EXPECT_EQ(r.section_name, c.name) << c.line;
    EXPECT_EQ(r.annotation_text, c.annotation) << c.line;
    EXPECT_EQ(r.line_span, (Span{0, c.line.size()})) << c.line;
    EXPECT_TRUE(r.joins.empty());
    if (c.kind != LineKind::KeyValue) {
      EXPECT_EQ(r.value_span, Span{}) << c.line;
    }
    if (c.kind != LineKind::Section) {
      EXPECT_EQ(r.name_span, Span{}) << c.line;
    }
  }
}

TEST(Lexer, SpansAreAbsoluteByteRanges) {
  const std::string src =
      "[ server ]\n"           // 0..10
      "  port = 80 # http\n"   // 11..29
      "\"a\\\"b\" = x\n"       // 30..40
      "blk = #{\n"             // 41..49
      "@min: 1\n";             // 50..57
  const auto r = lex(src);
  ASSERT_EQ(r.size(), 5u);

  EXPECT_EQ(r[0].kind, LineKind::Section);
  EXPECT_EQ(r[0].section_name, "server");
  // Starts right after `[`, so the blank before the name shifts it.
  EXPECT_EQ(r[0].name_span, (Span{1, 7}));
  EXPECT_EQ(r[0].line_span, (Span{0, 10}));

  EXPECT_EQ(r[1].line_span, (Span{11, 29}));
  EXPECT_EQ(r[1].key_span, (Span{13, 17}));
  EXPECT_EQ(r[1].value, "80");
  EXPECT_EQ(r[1].value_span, (Span{20, 29}));  // through the comment

  EXPECT_EQ(r[2].key, "a\"b");
  EXPECT_EQ(r[2].key_span, (Span{30, 36}));  // quotes included
  EXPECT_EQ(r[2].value_span, (Span{39, 40}));

  EXPECT_EQ(r[3].kind, LineKind::BlockOpen);
  EXPECT_EQ(r[3].key_span, (Span{41, 44}));
  EXPECT_EQ(r[3].value_span, Span{});

  EXPECT_EQ(r[4].line_span, (Span{50, 57}));
  for (const auto& rec : r) EXPECT_EQ(src.substr(rec.line_span.start, rec.line_span.end - rec.line_span.start), rec.raw);
}

TEST(Lexer, PhysicalLinesAndLineEnds) {
  EXPECT_TRUE(lex("").empty());
  EXPECT_EQ(lex("a = 1\n").size(), 1u);
  EXPECT_EQ(lex("a = 1").size(), 1u);
  EXPECT_EQ(lex("\n\n").size(), 2u);
  EXPECT_EQ(lex("a = 1\n\nb = 2\n\n").size(), 4u);

  // A carriage return without a following line feed stays in the line.
  const auto last = lex("a = 1\r");
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].raw, "a = 1\r");
  EXPECT_EQ(last[0].value, "1");
  EXPECT_EQ(last[0].value_span, (Span{4, 6}));

  // A lone carriage return line is an empty line once its CR is dropped.
  const auto crlf_only = lex("\r\n");
  ASSERT_EQ(crlf_only.size(), 1u);
  EXPECT_EQ(crlf_only[0].raw, "");
  EXPECT_EQ(crlf_only[0].line_span, (Span{0, 0}));
}

TEST(Lexer, CrlfGivesTheSameRecordsAsLf) {
  const std::string lf =
      "[vars]\nx = 1 # one\n[sec.sub]\n@min: 0\nk = [1,\n  2]\nb = #{\n  e = 1\n}#\n";
  std::string crlf;
  for (char c : lf) {
    if (c == '\n') crlf.push_back('\r');
    crlf.push_back(c);
  }
  const auto a = lex(lf);
  const auto b = lex(crlf);
  ASSERT_EQ(a.size(), b.size());
  ASSERT_EQ(a.size(), 8u);
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].kind, b[i].kind) << i;
    EXPECT_EQ(a[i].raw, b[i].raw) << i;
    EXPECT_EQ(a[i].key, b[i].key) << i;
    EXPECT_EQ(a[i].value, b[i].value) << i;
    EXPECT_EQ(a[i].section_name, b[i].section_name) << i;
    EXPECT_EQ(a[i].annotation_text, b[i].annotation_text) << i;
  }
  // Offsets shift by one byte per earlier line: the value on line 2.
  EXPECT_EQ(a[1].value_span, (Span{11, 18}));
  EXPECT_EQ(b[1].value_span, (Span{12, 19}));
  // The joined value's second line ends before its CR.
  EXPECT_EQ(b[4].line_span.end, crlf.find("2]") + 2);
}

TEST(Lexer, OpenBracketsJoinTheFollowingLines) {
  const std::string src =
      "v = [1,\n"          // 0..7
      "   \"ab\", # c\n"   // 8..20
      "\n"                 // 21..21
      "  3]\n"             // 22..26
      "w = 2\n";           // 27..32
  const auto r = lex(src);
  ASSERT_EQ(r.size(), 2u);
  const LineRecord& v = r[0];
  EXPECT_EQ(v.kind, LineKind::KeyValue);
  EXPECT_EQ(v.value, "[1, \"ab\",  3]");
  EXPECT_EQ(v.raw, "v = [1,\n   \"ab\", # c\n\n  3]");
  EXPECT_EQ(v.line_span, (Span{0, 26}));
  EXPECT_EQ(v.value_span, (Span{4, 26}));
  EXPECT_EQ(v.key_span, (Span{0, 1}));
  ASSERT_EQ(v.joins.size(), 4u);
  const JoinPiece expected[] = {{0, 3, 4, 7}, {4, 5, 11, 20}, {10, 0, 21, 21}, {11, 2, 24, 26}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(v.joins[i].text_start, expected[i].text_start) << i;
    EXPECT_EQ(v.joins[i].length, expected[i].length) << i;
    EXPECT_EQ(v.joins[i].source_start, expected[i].source_start) << i;
    EXPECT_EQ(v.joins[i].line_end, expected[i].line_end) << i;
  }
  EXPECT_EQ(r[1].key, "w");
  EXPECT_EQ(r[1].line_span, (Span{27, 32}));

  // Positions in value coordinates (value_span.start + index).
  struct MapCase {
    uint64_t index;
    bool is_end;
    uint64_t source;
  };
  const MapCase cases[] = {
      {0, false, 4},  {2, false, 6},                  // inside the first piece
      {3, false, 7},                                  // joining blank -> end of line 1
      {4, false, 11}, {8, false, 15},                 // second piece, after its leading blanks
      {9, false, 20},                                 // blank before the empty line
      {10, false, 21},                                // blank after the empty line
      {11, false, 24}, {12, false, 25},
      {13, false, 26}, {500, false, 26},              // beyond the text: clamped
      {0, true, 4},
      {3, true, 7},                                   // end of "[1,"
      {4, true, 7},                                   // end just after the blank
      {9, true, 16},                                  // end of "\"ab\"," stays on line 2
      {11, true, 21},
      {13, true, 26}, {400, true, 26},
  };
  for (const auto& c : cases)
    EXPECT_EQ(v.map_offset(4 + c.index, c.is_end), c.source) << c.index << " end=" << c.is_end;
  EXPECT_EQ(v.map_offset(2), 2u);  // before the value: untouched
  EXPECT_EQ(v.map_span({4 + 4, 4 + 9}), (Span{11, 16}));
  EXPECT_EQ(src.substr(11, 5), "\"ab\",");
  // An empty range at the start of a piece never ends before it starts.
  EXPECT_EQ(v.map_span({4 + 11, 4 + 11}), (Span{24, 24}));
  EXPECT_EQ(v.map_span({4, 4 + 13}), (Span{4, 26}));
}

TEST(Lexer, JoiningDetails) {
  // A dict opened inline continues like any bracket; a quoted bracket does not.
  auto r = lex("d = #{ a = 1,\n b = \"]\" }#\nx = \"[\"\ny = 1\n");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].value, "#{ a = 1, b = \"]\" }#");
  EXPECT_EQ(r[1].value, "\"[\"");
  EXPECT_TRUE(r[1].joins.empty());

  // A bracket that never closes swallows every remaining line.
  r = lex("a = [\n[x]\n@min: 1\nb = 2");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].value, "[ [x] @min: 1 b = 2");
  EXPECT_EQ(r[0].line_span.end, 23u);
  EXPECT_EQ(r[0].joins.size(), 4u);

  // Extra closers on a continuation line end the join.
  r = lex("a = ((\n)))\nb = 1\n");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].value, "(( )))");

  // An open bracket on the very last line: nothing to join.
  r = lex("a = [1");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].value, "[1");
  EXPECT_TRUE(r[0].joins.empty());

  // Records move without invalidating their owned texts.
  std::vector<LineRecord> moved;
  {
    auto tmp = lex("\"q\\\"k\" = [1,\n2]\n");
    moved = std::move(tmp);
  }
  moved.emplace_back();
  moved.resize(200);
  EXPECT_EQ(moved[0].key, "q\"k");
  EXPECT_EQ(moved[0].value, "[1, 2]");
  EXPECT_EQ(moved[0].raw, "\"q\\\"k\" = [1,\n2]");
}

TEST(Lexer, LongUnclosedBracketStaysOneRecord) {
  std::string src = "a = [\n";
  const int lines = 5000;
  for (int i = 0; i < lines; ++i) src += "  " + std::to_string(i) + ", # n\n";
  const auto r = lex(src);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].joins.size(), static_cast<size_t>(lines) + 1);
  EXPECT_EQ(r[0].line_span.end, src.size() - 1);
  // Every piece maps back to its own text in the source.
  for (size_t k = 1; k < r[0].joins.size(); k += 997) {
    const JoinPiece& p = r[0].joins[k];
    EXPECT_EQ(r[0].value.substr(p.text_start, p.length), src.substr(p.source_start, p.length));
    EXPECT_EQ(r[0].map_offset(r[0].value_span.start + p.text_start), p.source_start);
  }
}

struct StripCase {
  std::string line, expected;
};

TEST(Lexer, StripComment) {
  const StripCase cases[] = {
      {"", ""},
      {"a = 1", "a = 1"},
      {"a = 1 # c", "a = 1"},
      {"# whole", ""},
      {"a = \"x # y\" # z", "a = \"x # y\""},
      {"a = \"x \\\" # y\" # z", "a = \"x \\\" # y\""},
      {"a = #{ b = 1 }# # z", "a = #{ b = 1 }#"},
      {"a = #{ b = 1 }   # z", "a = #{ b = 1 }   # z"},
      {"a = } # x # y", "a = } # x"},
      {"a = \\# b # c", "a = \\# b"},
      {"a = \\\\# b", "a = \\\\"},
      {"a = \"open # still string", "a = \"open # still string"},
      {"a = ## c", "a ="},
      {"}#", "}#"},
      {"a\xC2\xA0# c", "a"},
  };
  for (const auto& c : cases) EXPECT_EQ(strip_comment(c.line), c.expected) << c.line;
}

TEST(Lexer, BracketDepth) {
  const std::pair<std::string, int32_t> cases[] = {
      {"", 0},
      {"[1,", 1},
      {"#{ a = [", 2},
      {"}#", -1},
      {"} #", -1},
      {"({[", 3},
      {"\"[(\"", 0},
      {"\"\\\"[\"", 0},
      {"\\[", 0},
      {"\"abc", 0},
      {"#{#{", 2},
      {"}#}#]", -3},
  };
  for (const auto& [text, depth] : cases) EXPECT_EQ(bracket_depth(text), depth) << text;
}

TEST(Lexer, UnquoteKey) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"\"q\"", "q"},
      {"\"\"", ""},
      {"\"", "\""},
      {"\"a\\\"b\"", "a\"b"},
      {"\"a\\\\b\"", "a\\b"},
      {"\"a\\\\\"b\"", "a\\\"b"},   // \\" : the \" pair is replaced first
      {"\"a\\nb\"", "a\\nb"},       // other escapes stay as written
      {"x\"", "x\""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(unquote_key(in), out) << in;
}

TEST(Lexer, SplitKeyPath) {
  using V = std::vector<std::string>;
  const std::pair<std::string, V> cases[] = {
      {"a", {"a"}},
      {"a.b.c", {"a", "b", "c"}},
      {"\"a.b\".c", {"a.b", "c"}},
      {"a..b", {"a", "", "b"}},
      {".", {"", ""}},
      {"", {""}},
      {"\"x\\\".y\".z", {"x\".y", "z"}},
      {"a.\"b", {"a", "\"b"}},
      {"\xC2\xA0" "a\xC2\xA0.b", {"a", "b"}},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(split_key_path(in), out) << in;
}

TEST(Lexer, RandomBytesNeverBreakTheLexer) {
  std::mt19937_64 rng(20240611);
  const char alphabet[] = "[]{}()#\"\\=@ .\n\r\tab1-_,:}";
  for (int round = 0; round < 3000; ++round) {
    std::string src;
    const size_t n = rng() % 120;
    for (size_t i = 0; i < n; ++i) {
      if (rng() % 3 == 0)
        src.push_back(static_cast<char>(rng() & 0xFF));
      else
        src.push_back(alphabet[rng() % (sizeof(alphabet) - 1)]);
    }
    const auto recs = lex(src);
    uint64_t prev_end = 0;
    for (const auto& r : recs) {
      ASSERT_LE(r.line_span.start, r.line_span.end);
      ASSERT_LE(r.line_span.end, src.size());
      ASSERT_GE(r.line_span.start, prev_end);
      prev_end = r.line_span.end;
      for (Span s : {r.key_span, r.value_span, r.name_span}) {
        ASSERT_LE(s.start, s.end);
        ASSERT_LE(s.end, src.size());
      }
      for (uint64_t p = r.value_span.start; p <= r.value_span.start + r.value.size(); ++p) {
        const Span m = r.map_span({r.value_span.start, p});
        ASSERT_LE(m.start, m.end);
        ASSERT_LE(m.end, r.value_span.end);
      }
      if (r.joins.empty()) {
        ASSERT_EQ(r.map_offset(r.value_span.end, true), r.value_span.end);
      } else {
        ASSERT_LE(r.map_offset(r.value_span.start + r.value.size() + 5), r.value_span.end);
      }
      (void)strip_comment(r.raw);
      (void)split_key_path(r.raw);
    }
  }
}

}  // namespace
}  // namespace brindle
