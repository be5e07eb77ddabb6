#include "pattern_gate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brindle {
namespace {

struct MatchCase {
  std::string pattern;
  std::string text;
  bool matches;
};

// Every construct of the dialect compiles and means what it should.
TEST(PatternGate, AcceptedConstructsCompileAndMatch) {
  const MatchCase cases[] = {
      {"abc", "abc", true},
      {"a\\.b", "a.b", true},
      {"a\\.b", "axb", false},
      {"\\x41\\x{e9}\\x{1F600}", "A\xC3\xA9\xF0\x9F\x98\x80", true},
      {"\\t\\n", "\t\n", true},
      {"a.c", "abc", true},
      {"[a-c]+", "abcab", true},
      {"[^a-c]", "d", true},
      {"[^a-c]", "a", false},
      {"[]a]+", "]a]", true},
      {"[[:alpha:]]+[[:digit:]]", "ab1", true},
      {"[[:^digit:]]", "x", true},
      {"\\d\\w\\s\\D\\W\\S", "1_ x!y", true},
      {"\\bab\\b \\Bc", "ab xc", false},
      {"\\bab\\b c", "ab c", true},
      {"^abc$", "abc", true},
      {"\\Aabc\\z", "abc", true},
      {"abc|def", "def", true},
      {"(ab)+", "abab", true},
      {"(?P<y>\\d{4})-(?P<m>\\d\\d)", "2024-05", true},
      {"(?<y>\\d{4})-(?<m>\\d\\d)", "2024-05", true},
      {"(?<y>\\d{4})-(?<m>\\d\\d)", "24-05", false},
      {"(?:ab){2}", "abab", true},
      {"a{2,}", "aaaa", true},
      {"a{2,3}", "aaaa", false},
      {"a*?b+?c??", "aabbc", true},
      {"a{1,2}?", "aa", true},
      {"(?i)hello", "HeLLo", true},
      {"(?i:h)ello", "Hello", true},
      {"(?i:h)ello", "HELLO", false},
      {"hello", "HELLO", false},
      {"\\0", std::string(1, '\0'), true},
      {"", "", true},
  };
  for (const auto& c : cases) {
    Pattern p = Pattern::compile(c.pattern);
    ASSERT_TRUE(p.ok()) << c.pattern << ": " << p.error();
    EXPECT_EQ(p.full_match(c.text), c.matches) << c.pattern << " on " << c.text;
  }
}

struct RejectCase {
  std::string pattern;
  std::string message;
};

TEST(PatternGate, RejectedConstructsGiveOneCleanSentence) {
  const RejectCase cases[] = {
      {"(?=a)a", "look-around is not supported"},
      {"(?!a)b", "look-around is not supported"},
      {"(?<=a)b", "look-around is not supported"},
      {"(?<!a)b", "look-around is not supported"},
      {"(a)\\1", "backreferences are not supported"},
      {"(?<n>a)\\k<n>", "backreferences are not supported"},
      {"(?P<n>a)(?P=n)", "backreferences are not supported"},
      {"(a)\\g1", "backreferences are not supported"},
      {"\\p{L}", "Unicode property classes are not supported"},
      {"\\pN", "Unicode property classes are not supported"},
      {"\\P{Greek}", "Unicode property classes are not supported"},
      {"[\\p{L}]", "Unicode property classes are not supported"},
      {"[[a-z]]", "nested character classes are not supported"},
      {"[a[b]]", "nested character classes are not supported"},
      {"[a-z&&[^aeiou]]", "set operations inside character classes are not supported"},
      {"[a-z--b]", "set operations inside character classes are not supported"},
      {"[a~~b]", "set operations inside character classes are not supported"},
      {"[[:alfa:]]", "unknown POSIX class name in character class"},
      {"a\\Cb", "the escape \\C is not supported"},
      {"\\Qa.b\\E", "quoting with \\Q...\\E is not supported"},
      {"(", "found open group without closing ')'"},
      {"(?i", "found open group without closing ')'"},
      {"(?P<n", "found open group without closing ')'"},
      {")", "found unmatched ')'"},
      {"a)(b", "found unmatched ')'"},
      {"[abc", "found open character class without closing ']'"},
      {"[a\\", "found trailing backslash at end of pattern"},
      {"ab\\", "found trailing backslash at end of pattern"},
      {"\\q", "invalid escape sequence"},
      {"\\x{110000}", "invalid escape sequence"},
      {"[z-a]", "invalid character class range"},
      {"*a", "found repetition operator without anything to repeat"},
      {"a{1001}", "repetition count is invalid or larger than 1000"},
      {"a{3,2}", "repetition count is invalid or larger than 1000"},
      {"a**", "invalid repetition operator"},
      {"a*+", "invalid repetition operator"},
      {"(?>a)", "invalid or unsupported group syntax"},
      {"(?#note)", "invalid or unsupported group syntax"},
      {"(?P<a-b>x)", "invalid capture group name"},
      {"\xFF", "invalid UTF-8 in pattern"},
      // Truncated input is reported, never read past.
      {"[^", "found open character class without closing ']'"},
      {"(?<", "found open group without closing ')'"},
      {"[[:alpha", "nested character classes are not supported"},
      {"\\x{", "invalid escape sequence"},
      {"\xC3", "invalid UTF-8 in pattern"},
  };
  for (const auto& c : cases) {
    Pattern p = Pattern::compile(c.pattern);
    EXPECT_FALSE(p.ok()) << c.pattern;
    EXPECT_EQ(p.error(), c.message) << c.pattern;
    EXPECT_FALSE(p.full_match("a")) << c.pattern;
  }
}

// The anchoring wrapper must neither leak into messages nor be reachable
// from inside: a pattern that closes it early is rejected, not reinterpreted.
TEST(PatternGate, WrapperNeverLeaksOrBreaks) {
  const std::string patterns[] = {"(",   ")",    "a)|(b", "(?:", "[",      "(?i)(",
                                  "a\\", "\\8",  "(?P<", "((a)", "(?P<>a)", "\\x{zz}"};
  for (const auto& pattern : patterns) {
    Pattern p = Pattern::compile(pattern);
    ASSERT_FALSE(p.ok()) << pattern;
    EXPECT_EQ(p.error().find("(?:"), std::string::npos) << p.error();
    EXPECT_EQ(p.error().find('^'), std::string::npos) << p.error();
    EXPECT_EQ(p.error().find(")$"), std::string::npos) << p.error();
  }
  // Without the gate's balance check this would become ^(?:a)|(b)$ and
  // match "a" followed by anything.
  EXPECT_FALSE(Pattern::compile("a)|(b").ok());
}

TEST(PatternGate, NestingLimitCountsOnlyTheUsersPattern) {
  auto nested = [](int levels, const std::string& core) {
    return std::string(levels, '(') + core + std::string(levels, ')');
  };
  EXPECT_TRUE(Pattern::compile(nested(50, "a")).ok());
  EXPECT_TRUE(Pattern::compile(nested(49, "[a]")).ok());
  const std::string deep[] = {nested(51, "a"), nested(50, "[a]")};
  for (const auto& pattern : deep) {
    Pattern p = Pattern::compile(pattern);
    EXPECT_FALSE(p.ok());
    EXPECT_EQ(p.error(), "pattern is nested more than 50 levels deep");
  }
  // Depth is about nesting, not the number of groups.
  std::string wide;
  for (int i = 0; i < 200; ++i) wide += "(a)";
  EXPECT_TRUE(Pattern::compile(wide).ok());
  Pattern p = Pattern::compile(nested(50, "a"));
  EXPECT_TRUE(p.full_match("a"));
}

TEST(PatternGate, CompiledSizeLimit) {
  auto repeat = [](const std::string& piece, int times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += piece;
    return s;
  };
  EXPECT_TRUE(Pattern::compile(repeat(".{1000}", 20)).ok());
  Pattern big = Pattern::compile(repeat(".{1000}", 200));
  EXPECT_FALSE(big.ok());
  EXPECT_EQ(big.error(), "pattern is too large: its compiled form exceeds 10 MiB");
}

TEST(PatternGate, MatchingIsOnCharactersAndWholeText) {
  const MatchCase cases[] = {
      {".", "\xC3\xA9", true},              // one two-byte character
      {"..", "\xC3\xA9", false},
      {".", "\n", false},                   // dot stops at a line feed
      {"abc$", "abc\n", false},             // $ only at the very end
      {"abc", "abc\n", false},
      {"abc", "xabcx", false},
      {"\\d", "\xD9\xA3", false},           // U+0663 ARABIC-INDIC DIGIT THREE
      {"\\w", "\xC3\xA9", false},
      {"[^a]", "\xE2\x82\xAC", true},        // negated class takes a whole character
      {"(?i)\xC3\xA9", "\xC3\x89", true},   // case folding beyond ASCII
      {"(?s).", "\n", true},
  };
  for (const auto& c : cases) {
    Pattern p = Pattern::compile(c.pattern);
    ASSERT_TRUE(p.ok()) << c.pattern << ": " << p.error();
    EXPECT_EQ(p.full_match(c.text), c.matches) << c.pattern << " on " << c.text;
  }
}

TEST(PatternGate, PathologicalPatternRunsInLinearTime) {
  std::string text(100000, 'a');
  text += 'b';
  for (const std::string pattern : {"(a+)+$", "(a|aa)*", "(a*)*c"}) {
    Pattern p = Pattern::compile(pattern);
    ASSERT_TRUE(p.ok()) << pattern;
    EXPECT_FALSE(p.full_match(text)) << pattern;
  }
  EXPECT_TRUE(Pattern::compile("(a+)+b").full_match(text));
}

}  // namespace
}  // namespace brindle
