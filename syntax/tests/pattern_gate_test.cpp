#include "pattern_gate.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace brindle {
namespace {

std::string times(int n, const std::string& piece) { return n > 0 ? piece + times(n - 1, piece) : ""; }

// Every construct of the dialect compiles and means what it should; matching
// is on whole texts, by character, in linear time; the depth limit counts
// the user's own groups and classes, not the wrapper nor groups side by side.
TEST(PatternGate, AcceptedPatternsMatchWholeTextsByCharacter) {
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"", "", true},
      {"a\\.b", "axb", false},
      {"\\x41\\x{e9}\\x{1F600}\\0[]a(]+[^a-c][[:alpha:]][[:digit:]][[:^digit:]]",
       std::string("A\xC3\xA9\xF0\x9F\x98\x80\0](a\xE2\x82\xAC" "b1x", 17), true},
      {"\\A^\\d\\w\\s\\D\\W\\S \\bab\\b x\\Bc$\\z", "1_ x!y ab xc", true},
      {"(?P<y>\\d{4})-(?<m>\\d\\d)(?:ab){2}a{2,}b{1,2}(?:x|yz)a*?b+?c??d{1,2}?", "2024-05ababaaabbyzaabbcdd", true},
      {"abc|def", "abcdef", false},
      {"(?i)hello\xC3\xA9", "HeLLo\xC3\x89", true},
      {"(?i:h)ello", "HELLO", false},
      {"abc", "xabcx", false},
      {"abc$", "abc\n", false},
      {".", "\n", false},
      {"(?s)..", "\xC3\xA9\n", true},
      {"\\d", "\xD9\xA3", false},  // ARABIC-INDIC DIGIT THREE
      {"\\w", "\xC3\xA9", false},
      {"(a+)+$", std::string(100000, 'a') + 'b', false},
      {times(50, "(") + "a" + times(50, ")"), "a", true},
      {times(49, "(") + "[a]" + times(49, ")"), "a", true},
      {times(200, "(a)"), std::string(200, 'a'), true},
      {times(20, ".{1000}"), std::string(20000, 'x'), true},
  };
  for (const auto& [pattern, text, matches] : cases) {
    Pattern p = Pattern::compile(pattern);
    ASSERT_TRUE(p.ok()) << pattern.substr(0, 80) << ": " << p.error();
    EXPECT_EQ(p.full_match(text), matches) << pattern.substr(0, 80) << " on " << text.substr(0, 9);
  }
}

// Exact sentences also prove that the anchoring wrapper never shows in a
// message; a pattern that would close the wrapper early is rejected.
TEST(PatternGate, RejectedPatternsGiveOneCleanSentence) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"look-around is not supported", {"(?=a)a", "(?!a)b", "(?<=a)b", "(?<!a)b"}},
      {"backreferences are not supported", {"(a)\\1", "(?<n>a)\\k<n>", "(?P<n>a)(?P=n)", "(a)\\g1"}},
      {"Unicode property classes are not supported", {"\\p{L}", "\\P{Greek}", "[\\p{L}]"}},
      {"nested character classes are not supported", {"[a[b]]", "[[:alpha"}},
      {"set operations inside character classes are not supported", {"[a&&b]", "[a-z--b]", "[a~~b]"}},
      {"unknown POSIX class name in character class", {"[[:alfa:]]"}},
      {"the escape \\C is not supported", {"a\\Cb"}},
      {"quoting with \\Q...\\E is not supported", {"\\Qa.b\\E"}},
      {"found open group without closing ')'", {"(", "(?<"}},
      {"found unmatched ')'", {"a)|(b"}},
      {"found open character class without closing ']'", {"[abc", "[^"}},
      {"found trailing backslash at end of pattern", {"[a\\", "ab\\"}},
      {"invalid escape sequence", {"\\q"}},
      {"invalid character class range", {"[z-a]"}},
      {"found repetition operator without anything to repeat", {"*a"}},
      {"repetition count is invalid or larger than 1000", {"a{1001}"}},
      {"invalid repetition operator", {"a*+"}},
      {"invalid or unsupported group syntax", {"(?>a)"}},
      {"invalid capture group name", {"(?P<a-b>x)"}},
      {"invalid UTF-8 in pattern", {"\xFF"}},
      {"pattern is nested more than 50 levels deep", {times(51, "(") + "a" + times(51, ")"), times(50, "(") + "[a]" + times(50, ")")}},
      {"pattern is too large: its compiled form exceeds 10 MiB", {times(200, ".{1000}")}},
  };
  for (const auto& [sentence, patterns] : cases)
    for (const auto& pattern : patterns) {
      Pattern p = Pattern::compile(pattern);
      EXPECT_EQ(p.error(), sentence) << pattern.substr(0, 80);
      EXPECT_FALSE(p.ok() || p.full_match("a")) << pattern.substr(0, 80);
    }
}

}  // namespace
}  // namespace brindle
