// Deeply nested values read the same with the group index as without it:
// the index only lets inner levels skip groups, never changes a result.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>
#include <tuple>
#include <utility>

#include "group_index.h"
#include "test_support.h"

namespace brindle {
namespace {

std::string nest(const std::string& open, const std::string& inner, const std::string& close, int levels) {
  return repeat(open, static_cast<size_t>(levels)) + inner + repeat(close, static_cast<size_t>(levels));
}

TEST(GroupIndex, SameResultsAsPlainScans) {
  const std::pair<std::string, std::string> cases[] = {  // text, what it reads as
      {nest("[1, ", "[\"x]\\\"[\", 2]", "]", 6), "[1, [1, [1, [1, [1, [1, [\"x]\\\"[\", 2]]]]]]]"},
      {nest("[", "\"a,b\", \"]\", \"[\"", "]", 5), "[[[[[\"a,b\", \"]\", \"[\"]]]]]"},
      {nest("#{k = ", "1", "}#", 5), "{\"k\": {\"k\": {\"k\": {\"k\": {\"k\": 1}}}}}"},
      {nest("[#{a = ", "[\"=\", \"}#\"]", "}#]", 3), "[{\"a\": [{\"a\": [{\"a\": [\"=\", \"}#\"]}]}]}]"},
      {nest("[", "null ?? [1, [2]]", "]", 5), "[[[[[[1, [2]]]]]]]"},
      {nest("[", "#{b = 2, a = [1, #{c = [3]}#], b = 4}#", "]", 4), "[[[[{\"a\": [1, {\"c\": [3]}], \"b\": 4}]]]]"},
      {nest("[", "[1]], [2", "]", 5), "[[[[[[1]], [2]]]]]"},
      {nest("[", "[1, 2", "]", 5), "malformed array @5-10"},
      {nest("[", "\\[1, [2]]", "]", 4), "cannot parse value: `\\[1` @4-7"},
      {nest("[", "\"a\\\" + [[1]]\"", "]", 4), "malformed array @11-17"},
      {nest("[", "1 + [[2]]", "]", 4), "invalid operands for `+` @6-7"},
      {nest("[", "(1, [2])", "]", 4), "cannot parse value: `(1, [2])` @4-12"},
      {nest("[", "[}#], [2]", "]", 4), "malformed array @4-7"},
  };
  for (const auto& [text, want] : cases) {
    Session plain, indexed;
    indexed.indexed = true;
    EXPECT_EQ(indexed.run(text), plain.run(text)) << text;
    EXPECT_EQ(plain.run(text), want) << text;
  }
}

// Every suffix of a deep text that starts right after a bracket or comma,
// scanned with and without the index.
TEST(GroupIndex, EverySplitPointAgrees) {
  const std::string text = nest("[1, #{k = ", "[\"a]\", \"\\\"\", (2, [3])], x\\, y", "}#]", 6);
  GroupIndex groups(text);
  const std::string_view all(text);
  for (size_t i = 1; i < text.size(); ++i) {
    const char before = text[i - 1];
    if (before != '[' && before != ',' && before != '{' && before != '=') continue;
    const std::string_view sub = all.substr(i);
    const auto pieces = [](const std::vector<Piece>& v) {
      std::string out;
      for (const Piece& p : v) out.append(std::to_string(p.offset)).append(":").append(p.text).append("|");
      return out;
    };
    EXPECT_EQ(pieces(split_top_level(sub, i, &groups)), pieces(split_top_level(sub, i))) << i;
    EXPECT_EQ(find_top_level(sub, "=", &groups), find_top_level(sub, "=")) << i;
    EXPECT_EQ(find_top_level(sub, "??", &groups), find_top_level(sub, "??")) << i;
  }
}

// Whether a text is one bracketed group depends on the quote rule: under
// Escapes a backslash keeps a quote open, under Plain any quote closes.
// An index reset to another text answers as a fresh one would.
TEST(GroupIndex, GroupEndsUnderEachQuoteRule) {
  const std::tuple<std::string, bool, bool> cases[] = {  // text, one group under Escapes, under Plain
      {"[1, [2]]", true, true}, {"#{a = [1]}#", true, true}, {"(1)", true, true}, {"{1}", true, true},
      {"[1] + [2]", false, false}, {"[1, 2", false, false}, {"[1}", true, true}, {"1", false, false},
      {R"(["a\"]", 1])", true, false}, {R"(["a\"+[1]"])", true, false}, {R"(["]"])", true, true},
      {R"([\"]"])", false, true}, {R"(["\\"])", true, true}, {"[}#", true, true}, {"#{]", true, true},
      {"]", false, false}, {"[1]]", false, false},
  };
  // Followed by two more bytes, so that a group still open at the text's
  // end resumes past it.
  std::string reused_text = "[unrelated text (long enough) to leave tables behind]";
  GroupIndex reused(reused_text);
  ASSERT_EQ(reused.covers(reused_text, QuoteRule::Plain), true);
  ASSERT_EQ(reused.resume(reused_text, 0, QuoteRule::Plain), reused_text.size());
  for (const auto& [text, escapes, plain] : cases) {
    const std::string padded = text + "  ";
    const std::string_view sub = std::string_view(padded).substr(0, text.size());
    const auto one_group = [&](GroupIndex& g, QuoteRule rule) {
      EXPECT_TRUE(g.covers(sub, rule)) << text;
      return g.resume(sub, 0, rule) == sub.size();
    };
    GroupIndex fresh(padded);
    EXPECT_EQ(one_group(fresh, QuoteRule::Escapes), escapes) << text;
    EXPECT_EQ(one_group(fresh, QuoteRule::Plain), plain) << text;
    reused.reset(padded);
    EXPECT_EQ(one_group(reused, QuoteRule::Plain), plain) << text;
    EXPECT_EQ(one_group(reused, QuoteRule::Escapes), escapes) << text;
  }
}

// Where a scan may start (covers) under each rule, for every byte of random
// texts of quotes, backslashes and brackets, against a walk that steps
// through every byte: a two-byte bracket's second byte is never a start.
TEST(GroupIndex, StartsAgreeWithAByteByByteWalk) {
  const auto reference = [](const std::string& text, auto quotes) {
    std::vector<bool> clean(text.size(), false);
    for (size_t i = 0; i < text.size(); ++i) {
      clean[i] = quotes.clean();
      const char c = text[i];
      if (!quotes.structural(c)) continue;
      const char next = i + 1 < text.size() ? text[i + 1] : '\0';
      if ((c == '#' && next == '{') || (c == '}' && next == '#')) ++i;
    }
    return clean;
  };
  std::mt19937 rng(18);
  const std::string_view alphabet = "[]{}()##\"\\\\,a 1";
  for (int round = 0; round < 400; ++round) {
    std::string text(rng() % 150, ' ');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    GroupIndex groups(text);
    const std::vector<bool> escapes = reference(text, QuoteState<QuoteRule::Escapes>{});
    const std::vector<bool> plain = reference(text, QuoteState<QuoteRule::Plain>{});
    const std::string_view all(text);
    for (size_t i = 0; i < text.size(); ++i) {
      ASSERT_EQ(groups.covers(all.substr(i), QuoteRule::Escapes), escapes[i]) << text << " @" << i;
      ASSERT_EQ(groups.covers(all.substr(i), QuoteRule::Plain), plain[i]) << text << " @" << i;
    }
  }
}

}  // namespace
}  // namespace brindle
