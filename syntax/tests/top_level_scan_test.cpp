// The comma and needle scanners against a byte-by-byte reading of their
// rules, on random texts of the bytes that matter to them, with and without
// a group index: quotes with backslash escapes, brackets of every kind
// counted together, `#{` and `}#` as one bracket each.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "group_index.h"
#include "value_parser.h"

namespace brindle {
namespace {

// Calls at(i, depth) for every byte outside quotes and escapes, after the
// byte has moved the depth; a `#{` or `}#` pair moves it once and is no
// such byte. Stops when at() returns true.
template <class At>
void walk_reference(std::string_view t, At at) {
  bool in_quotes = false;
  bool escaped = false;
  int64_t depth = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (escaped) {
      escaped = false;
      continue;
    }
    if (c == '\\') {
      escaped = true;
      continue;
    }
    if (c == '"') {
      in_quotes = !in_quotes;
      continue;
    }
    if (in_quotes) continue;
    const char next = i + 1 < t.size() ? t[i + 1] : '\0';
    if ((c == '#' && next == '{') || (c == '}' && next == '#')) {
      depth += c == '#' ? 1 : -1;
      ++i;
      continue;
    }
    if (c == '(' || c == '[' || c == '{') ++depth;
    if (c == ')' || c == ']' || c == '}') --depth;
    if (at(i, depth)) return;
  }
}

std::vector<std::string> reference_split(std::string_view t) {
  std::vector<std::string> out;
  size_t start = 0;
  walk_reference(t, [&](size_t i, int64_t depth) {
    if (t[i] == ',' && depth == 0) {
      out.emplace_back(t.substr(start, i - start));
      start = i + 1;
    }
    return false;
  });
  if (start < t.size()) out.emplace_back(t.substr(start));
  return out;
}

std::optional<size_t> reference_find(std::string_view t, std::string_view needle) {
  std::optional<size_t> found;
  walk_reference(t, [&](size_t i, int64_t depth) {
    if (depth == 0 && t.substr(i).starts_with(needle)) found = i;
    return found.has_value();
  });
  return found;
}

std::vector<std::string> texts(const std::vector<Piece>& pieces) {
  std::vector<std::string> out;
  for (const Piece& p : pieces) out.emplace_back(p.text);
  return out;
}

TEST(TopLevelScan, AgreesWithAByteByByteReading) {
  // Long runs of plain bytes between the ones that stop a scan, and every
  // stop byte, so that runs end on each of them and at the end of the text.
  const std::string alphabet = "aaaaaaaa0123    ,,,==??::\"\\[](){}#";
  // Each needle's first byte: one with a table of its own, or one without.
  const std::string needles[] = {"=", "??", "?", ":", "a", "0 "};
  std::mt19937 rng(20261207);
  for (int round = 0; round < 4000; ++round) {
    std::string t(rng() % 48, ' ');
    for (char& c : t) c = alphabet[rng() % alphabet.size()];
    GroupIndex groups(t);
    const std::vector<std::string> want = reference_split(t);
    EXPECT_EQ(texts(split_top_level(t, 0)), want) << t;
    EXPECT_EQ(texts(split_top_level(t, 0, &groups)), want) << t;
    for (const std::string& needle : needles) {
      EXPECT_EQ(find_top_level(t, needle), reference_find(t, needle)) << t << " / " << needle;
      EXPECT_EQ(find_top_level(t, needle, &groups), reference_find(t, needle)) << t << " / " << needle;
    }
  }
}

}  // namespace
}  // namespace brindle
