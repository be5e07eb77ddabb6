// The expression splitter passes over quoted text and bracketed runs in
// searches; the tokens it yields must be exactly those of a reading of its
// rules one byte at a time, written out below.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "expression_split.h"
#include "text.h"

namespace brindle {
namespace {

using Token = std::tuple<std::string, size_t, bool>;

std::vector<Token> split(std::string_view text) {
  std::vector<Token> out;
  split_expression(text, [&](std::string_view token, size_t at, bool op) {
    out.emplace_back(std::string(token), at, op);
    return true;
  });
  return out;
}

// One byte at a time: any double quote toggles, brackets and `#{ }#` nest,
// `+ * /` (not a slash before a slash) and a `-` that follows an operand
// split at depth 0 outside quotes.
std::vector<Token> reference(std::string_view text) {
  std::vector<Token> out;
  const size_t n = text.size();
  size_t start = 0;
  bool expect_operand = true;
  bool in_quotes = false;
  size_t quote_open = 0;
  int depth = 0;
  const auto flush = [&](size_t end) {
    const std::string_view raw = text.substr(start, end - start);
    const std::string_view body = trim_start(raw);
    const std::string_view operand = trim_end(body);
    if (!operand.empty()) out.emplace_back(std::string(operand), start + raw.size() - body.size(), false);
  };
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '"') {
      if (!in_quotes) quote_open = i;
      else if (i > quote_open + 1) expect_operand = false;
      in_quotes = !in_quotes;
      continue;
    }
    if (in_quotes) continue;
    const char next = i + 1 < n ? text[i + 1] : '\0';
    if (c == '#' && next == '{') {
      ++depth, ++i;
      continue;
    }
    if (c == '(' || c == '[' || c == '{') { ++depth; continue; }
    if (c == ')' || c == ']') { --depth; continue; }
    if (c == '}') { --depth; i += next == '#'; continue; }
    bool op = depth == 0 && (c == '+' || c == '*' || (c == '/' && next != '/'));
    if (depth == 0 && c == '-') {
      const bool blank = trim_start(text.substr(start, i - start)).empty();
      if (expect_operand || blank) {
        expect_operand = false;
        continue;
      }
      op = true;
    }
    if (op) {
      flush(i);
      out.emplace_back(std::string(1, c), i, true);
      start = i + 1;
      expect_operand = true;
      continue;
    }
    expect_operand = false;
  }
  flush(n);
  return out;
}

TEST(ExpressionSplit, MatchesAByteByByteReading) {
  const std::string cases[] = {
      "", "1 + 2", "\"a\" + \"b\"", "\"a+b\" + c", "\"a \\\"q+\\\" b\"", "-1 - -2", "[1, -2] - 3",
      "#{a = 1 + 2}# + x", "\"\" - 1", "a//b", "\"" + std::string(100, 'x') + "\" * 2",
      "\"unterminated + " + std::string(40, 'y'),
  };
  for (const std::string& text : cases) EXPECT_EQ(split(text), reference(text)) << text;
  // Random texts, with quoted runs long enough to be passed over in blocks.
  std::mt19937 rng(23);
  const char pieces[] = {'"', '+', '-', '*', '/', ' ', '[', ']', '#', '{', '}', '(', ')', '\\', 'a', '1'};
  for (int round = 0; round < 5000; ++round) {
    std::string text(rng() % 120, 'a');
    const unsigned spread = 1 + rng() % 20;
    for (char& c : text) c = rng() % spread == 0 ? pieces[rng() % 16] : (rng() % 4 == 0 ? ' ' : 'w');
    ASSERT_EQ(split(text), reference(text)) << text;
  }
}

}  // namespace
}  // namespace brindle
