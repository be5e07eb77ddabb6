// The lossless tree: printing gives the input back byte for byte for any
// input (every file of the repository, its CRLF/BOM/tab variants, random
// bytes), tokens and nodes are well formed, and each construct gets the
// nodes and tokens it should.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "syntax_tree.h"

namespace brindle {
namespace {

// Tokens end to end and never empty; every node's span is the union of its
// tokens, lies inside its parent, and its subtree is contiguous.
void expect_well_formed(const SyntaxTree& t, std::string_view input) {
  ASSERT_EQ(t.print(), input);
  uint64_t at = 0;
  for (size_t i = 0; i < t.token_count(); ++i) {
    const Span s = t.token_span(i);
    ASSERT_EQ(s.start, at) << "token " << i;
    ASSERT_LT(s.start, s.end) << "token " << i;
    at = s.end;
  }
  ASSERT_EQ(at, input.size());
  const auto& nodes = t.nodes();
  ASSERT_FALSE(nodes.empty());
  EXPECT_EQ(nodes[0].end, nodes.size());
  EXPECT_EQ(nodes[0].span, (Span{0, input.size()}));
  for (size_t i = 1; i < nodes.size(); ++i) {
    const Node& n = nodes[i];
    const Node& p = nodes[n.parent];
    ASSERT_LT(n.parent, i);
    ASSERT_LE(n.end, p.end);
    ASSERT_GT(n.end, i);
    ASSERT_LE(p.first_token, n.first_token);
    ASSERT_LE(n.end_token, p.end_token);
    if (n.first_token < n.end_token) {
      ASSERT_EQ(n.span.start, t.token_span(n.first_token).start) << node_kind_name(n.kind);
      ASSERT_EQ(n.span.end, t.token_span(n.end_token - 1).end) << node_kind_name(n.kind);
    }
  }
}

// Nodes as Kind(children and structural tokens); trivia other than comments
// and text left out.
std::string outline(const SyntaxTree& t, size_t i) {
  const Node& n = t.node(i);
  std::string out(node_kind_name(n.kind));
  if (n.has(kNodeInvalid)) out += "!";
  if (n.has(kNodeUnclosed)) out += "~";
  std::string inner;
  size_t tok = n.first_token;
  auto tokens_until = [&](size_t stop) {
    for (; tok < stop; ++tok) {
      const TokenKind k = t.token_kind(tok);
      if (k == TokenKind::Whitespace || k == TokenKind::Newline) continue;
      if (!inner.empty()) inner += ' ';
      if (k == TokenKind::Equals || k == TokenKind::Comma || k == TokenKind::Operator ||
          k == TokenKind::Fallback) {
        inner += t.token_text(tok);
      } else {
        inner += token_kind_name(k);
      }
    }
  };
  for (size_t c = SyntaxTree::first_child(i); c < n.end; c = t.node(c).end) {
    tokens_until(t.node(c).first_token);
    if (!inner.empty()) inner += ' ';
    inner += outline(t, c);
    tok = t.node(c).end_token;
  }
  tokens_until(n.end_token);
  return out + "(" + inner + ")";
}

std::string outline(std::string_view source) {
  const SyntaxTree t = SyntaxTree::build(source);
  std::string out;
  for (size_t c = 1; c < t.node(0).end; c = t.node(c).end) {
    if (!out.empty()) out += ' ';
    out += outline(t, c);
  }
  return out;
}

struct Row {
  const char* source;
  const char* expected;
};

TEST(SyntaxTree, NodesAndTokensOfEachConstruct) {
  const Row rows[] = {
      {"", ""},
      {"\n\n", "BlankLine() BlankLine()"},
      {"# only\n", "CommentLine(Comment)"},
      {"a = 1\n", "KeyLine(Key = Value(Scalar))"},
      {"  \"q k\"=\"v\"  # c  \n", "KeyLine(Key = Value(String) Comment)"},
      {"a = 1 + $x * -2 # n", "KeyLine(Key = Value(Scalar + Variable * Scalar) Comment)"},
      {"a = $x ?? $y ?? 3", "KeyLine(Key = Value(Variable ?? Variable ?? Scalar))"},
      {"a = [1, [2], #{ k = \"v\", j }#,]",
       "KeyLine(Key = Value(Array(ArrayOpen Value(Scalar) , Value(Array(ArrayOpen Value(Scalar) "
       "ArrayClose)) , Value(InlineDict(DictOpen DictEntry(DictKey = Value(String)) , "
       "DictEntry(Text) DictClose)) , ArrayClose)))"},
      {"a = [1 # one\n  , 2]\n",
       "KeyLine(Key = Value(Array(ArrayOpen Value(Scalar) Join(Comment) , Value(Scalar) ArrayClose)))"},
      {"a = [\n\n]", "KeyLine(Key = Value(Array(ArrayOpen Join() Join() ArrayClose)))"},
      {"a = \"x\" + \"y # not a comment\"", "KeyLine(Key = Value(String + String))"},
      {"a = [1, 2", "KeyLine(Key = Value(Scalar))"},
      {"[server] # s\nport = 1\n",
       "Section(SectionHeader(HeaderOpen SectionName HeaderClose Comment) KeyLine(Key = Value(Scalar)))"},
      {"[vars]\nx = 1\n[a..b]\n",
       "Section(VarsHeader(HeaderOpen SectionName HeaderClose) KeyLine(Key = Value(Scalar))) "
       "Section(SectionHeader!(HeaderOpen SectionName HeaderClose))"},
      {"@min: 1 # c\n@ bad\nk = 1",
       "AnnotationLine(Annotation Comment) AnnotationLine!(Annotation) KeyLine(Key = Value(Scalar))"},
      {"b = #{\n  @min: 1\n  x = 1,\n  [not] \n}# # done\n",
       "Block(KeyLine(Key = BlockOpen) AnnotationLine(Annotation) KeyLine(Key = Value(Scalar) ,) "
       "IgnoredLine(Text) BlockCloseLine(BlockClose Comment))"},
      {"b = #{\nx = 1\n", "Block~(KeyLine(Key = BlockOpen) KeyLine(Key = Value(Scalar)))"},
      {"}#\nkey: value # c\n[x] y\n", "IgnoredLine(Text) IgnoredLine(Text Comment) IgnoredLine(Text)"},
      {"\xEF\xBB\xBF" "a = 1\r\n\r\n", "KeyLine(Key = Value(Scalar)) BlankLine()"},
      {"a = \xff\xfe\n", "KeyLine(Key = Value(Scalar))"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.source);
    EXPECT_EQ(outline(row.source), row.expected);
    expect_well_formed(SyntaxTree::build(row.source), row.source);
  }
}

TEST(SyntaxTree, HeadersNestedDeeperThanValuesAreInvalid) {
  std::string name = "a";
  for (int i = 1; i < 128; ++i) name += ".a";
  EXPECT_EQ(outline("[" + name + "]"), "Section(SectionHeader(HeaderOpen SectionName HeaderClose))");
  EXPECT_EQ(outline("[" + name + ".a]"), "Section(SectionHeader!(HeaderOpen SectionName HeaderClose))");
}

TEST(SyntaxTree, TokenTextsOfAJoinedValue) {
  const std::string source = "k = [\"a b\", # first\r\n\t\"c\"]  \r\n";
  const SyntaxTree t = SyntaxTree::build(source);
  std::vector<std::string> texts;
  for (size_t i = 0; i < t.token_count(); ++i) texts.emplace_back(t.token_text(i));
  const std::vector<std::string> expected = {"k", " ", "=", " ", "[", "\"a b\"", ",", " ", "# first",
                                             "\r\n", "\t", "\"c\"", "]", "  ", "\r\n"};
  EXPECT_EQ(texts, expected);
  EXPECT_TRUE(t.node(1).has(kNodeJoined));
}

// Every file of the repository, and the same text with CRLF line ends, a
// byte-order mark and tabs for indentation.
TEST(SyntaxTree, RoundTripsEveryRepositorySource) {
  namespace fs = std::filesystem;
  const fs::path root(BRINDLE_SOURCE_DIR);
  size_t files = 0;
  for (const char* dir : {"examples", "tests", "syntax", "python", "bench"}) {
    if (!fs::exists(root / dir)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / dir)) {
      if (!entry.is_regular_file() || entry.file_size() > (1u << 20)) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream buffer;
      buffer << in.rdbuf();
      const std::string text = buffer.str();
      std::string crlf;
      std::string tabs;
      for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
        tabs += c == ' ' ? '\t' : c;
      }
      for (const std::string& variant : {text, crlf, "\xEF\xBB\xBF" + text, tabs}) {
        SCOPED_TRACE(entry.path().string());
        expect_well_formed(SyntaxTree::build(variant), variant);
      }
      ++files;
    }
  }
  EXPECT_GT(files, 20u);
}

TEST(SyntaxTree, RoundTripsRandomBytes) {
  // Mostly the language's own bytes, so the random text reaches every rule.
  const std::string alphabet = "ab_= \t\"\\#{}[]()$@:,.+-*/?\n\r1x\xc3\xa9\xff";
  std::mt19937 rng(12);
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    const size_t n = rng() % 80;
    for (size_t i = 0; i < n; ++i) {
      text += rng() % 8 == 0 ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
    }
    SCOPED_TRACE(::testing::PrintToString(text));
    expect_well_formed(SyntaxTree::build(text), text);
    if (HasFatalFailure()) return;
  }
}

TEST(SyntaxTree, DeepNestingKeepsTheInnermostTextWhole) {
  const std::string source = "k = " + std::string(5000, '[') + std::string(5000, ']') + "\n";
  const SyntaxTree t = SyntaxTree::build(source);
  expect_well_formed(t, source);
  size_t arrays = 0;
  for (const Node& n : t.nodes()) arrays += n.kind == NodeKind::Array;
  EXPECT_EQ(arrays, 128u);
}

}  // namespace
}  // namespace brindle
