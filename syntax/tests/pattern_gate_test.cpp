#include "pattern_gate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brindle {
namespace {

std::string repeat(const std::string& piece, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += piece;
  return s;
}

std::string nested(int levels, const std::string& core) {
  return std::string(levels, '(') + core + std::string(levels, ')');
}

// Every construct of the dialect compiles and means what it should; matching
// is on whole texts, by character, in linear time; the depth limit counts
// the user's own groups and classes, not the wrapper nor groups side by side.
TEST(PatternGate, AcceptedPatternsMatchWholeTextsByCharacter) {
  const std::string long_text = std::string(100000, 'a') + 'b';
  const struct {
    std::string pattern, text;
    bool matches;
  } cases[] = {
      {"", "", true},
      {"a\\.b", "axb", false},
      {"\\x41\\x{e9}\\x{1F600}", "A\xC3\xA9\xF0\x9F\x98\x80", true},
      {"\\0", std::string(1, '\0'), true},
      {"[^a-c]", "a", false},
      {"[]a(]+", "](a", true},
      {"[[:alpha:]]+[[:digit:]][[:^digit:]]", "ab1x", true},
      {"\\d\\w\\s\\D\\W\\S", "1_ x!y", true},
      {"\\bab\\b x\\Bc", "ab xc", true},
      {"\\A^abc$\\z", "abc", true},
      {"abc|def", "def", true},
      {"abc|def", "abcdef", false},
      {"(?P<y>\\d{4})-(?<m>\\d\\d)", "2024-05", true},
      {"(?:ab){2}a{2,}b{1,2}", "ababaaabb", true},
      {"a*?b+?c??d{1,2}?", "aabbcdd", true},
      {"(?i)hello", "HeLLo", true},
      {"(?i:h)ello", "HELLO", false},
      {"hello", "HELLO", false},
      {"abc", "xabcx", false},
      {"abc$", "abc\n", false},
      {".", "\xC3\xA9", true},
      {".", "\n", false},
      {"(?s).", "\n", true},
      {"\\d", "\xD9\xA3", false},  // ARABIC-INDIC DIGIT THREE
      {"\\w", "\xC3\xA9", false},
      {"[^a]", "\xE2\x82\xAC", true},
      {"(?i)\xC3\xA9", "\xC3\x89", true},
      {"(a+)+$", long_text, false},
      {"(a+)+b", long_text, true},
      {nested(50, "a"), "a", true},
      {nested(49, "[a]"), "a", true},
      {repeat("(a)", 200), std::string(200, 'a'), true},
      {repeat(".{1000}", 20), std::string(20000, 'x'), true},
  };
  for (const auto& c : cases) {
    Pattern p = Pattern::compile(c.pattern);
    ASSERT_TRUE(p.ok()) << c.pattern.substr(0, 80) << ": " << p.error();
    EXPECT_EQ(p.full_match(c.text), c.matches)
        << c.pattern.substr(0, 80) << " on " << c.text.substr(0, 80);
  }
}

// Exact sentences also prove that the anchoring wrapper never shows in a
// message; a pattern that would close the wrapper early is rejected.
TEST(PatternGate, RejectedPatternsGiveOneCleanSentence) {
  const struct {
    std::string sentence;
    std::vector<std::string> patterns;
  } cases[] = {
      {"look-around is not supported", {"(?=a)a", "(?!a)b", "(?<=a)b", "(?<!a)b"}},
      {"backreferences are not supported",
       {"(a)\\1", "(?<n>a)\\k<n>", "(?P<n>a)(?P=n)", "(a)\\g1"}},
      {"Unicode property classes are not supported", {"\\p{L}", "\\P{Greek}", "[\\p{L}]"}},
      {"nested character classes are not supported", {"[a[b]]", "[[:alpha"}},
      {"set operations inside character classes are not supported",
       {"[a&&b]", "[a-z--b]", "[a~~b]"}},
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
      {"pattern is nested more than 50 levels deep", {nested(51, "a"), nested(50, "[a]")}},
      {"pattern is too large: its compiled form exceeds 10 MiB", {repeat(".{1000}", 200)}},
  };
  for (const auto& c : cases) {
    for (const auto& pattern : c.patterns) {
      Pattern p = Pattern::compile(pattern);
      EXPECT_EQ(p.error(), c.sentence) << pattern.substr(0, 80);
      EXPECT_FALSE(p.ok() || p.full_match("a")) << pattern.substr(0, 80);
    }
  }
}

}  // namespace
}  // namespace brindle
