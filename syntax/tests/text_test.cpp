#include "text.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

TEST(Text, WhiteSpaceSetIsExactlyTheListedCodePoints) {
  const char32_t members[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680,
                              0x2000, 0x2005, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  for (char32_t cp : members) EXPECT_TRUE(is_white_space(cp)) << std::hex << static_cast<uint32_t>(cp);
  const char32_t others[] = {0x00, 0x08, 0x0E, 0x1F, 0x21, 0x84, 0x86, 0x180E,
                             0x200B, 0x2060, 0xFEFF, 0x3001};
  for (char32_t cp : others) EXPECT_FALSE(is_white_space(cp)) << std::hex << static_cast<uint32_t>(cp);
}

struct TrimCase {
  std::string in, both, start, end;
};

TEST(Text, TrimRemovesUnicodeWhiteSpaceFromTheNamedEnds) {
  const TrimCase cases[] = {
      {"", "", "", ""},
      {"  a b \t", "a b", "a b \t", "  a b"},
      {"\xC2\xA0x\xE3\x80\x80", "x", "x\xE3\x80\x80", "\xC2\xA0x"},  // NBSP, ideographic space
      {"\r\n", "", "", ""},
      {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx", "\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},  // ZWSP is not White_Space
      {"x\xC3\xA9", "x\xC3\xA9", "x\xC3\xA9", "x\xC3\xA9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(trim(c.in), c.both) << c.in;
    EXPECT_EQ(trim_start(c.in), c.start) << c.in;
    EXPECT_EQ(trim_end(c.in), c.end) << c.in;
  }
}

TEST(Text, MalformedBytesAreWalkedSafely) {
  // Truncated sequences, stray continuation bytes, overlong forms and
  // surrogates count one character per byte and never read past the end.
  const std::string cases[] = {"\xE3\x80", "\x80\x80", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                               "\xFF"};
  for (const auto& s : cases) {
    EXPECT_EQ(count_chars(s), s.size());
    EXPECT_FALSE(is_valid_utf8(s));
    EXPECT_EQ(trim(s), s);
  }
  EXPECT_EQ(trim_end(std::string("a\x80\x85")), "a\x80\x85");  // bare continuation bytes, not NEL
}

TEST(Text, CountsScalarValues) {
  EXPECT_EQ(count_chars(""), 0u);
  EXPECT_EQ(count_chars("h\xC3\xA9llo"), 5u);
  EXPECT_EQ(count_chars("\xF0\x9F\x98\x80!"), 2u);
  EXPECT_TRUE(is_valid_utf8("h\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD"));
}

TEST(Text, AppendUtf8RoundTrips) {
  for (char32_t cp : {char32_t{0x41}, char32_t{0xE9}, char32_t{0x20AC}, char32_t{0x1F600}}) {
    std::string s;
    append_utf8(s, cp);
    size_t i = 0;
    EXPECT_EQ(decode_utf8(s, i), cp);
    EXPECT_EQ(i, s.size());
  }
}

}  // namespace
}  // namespace brindle
