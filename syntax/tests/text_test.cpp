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
      {"a\x80\x85", "a\x80\x85", "a\x80\x85", "a\x80\x85"},  // bare continuation bytes, not NEL
  };
  for (const auto& c : cases) {
    EXPECT_EQ(trim(c.in), c.both) << c.in;
    EXPECT_EQ(trim_start(c.in), c.start) << c.in;
    EXPECT_EQ(trim_end(c.in), c.end) << c.in;
  }
}

TEST(Text, DecodesEachSequenceLengthAndRejectsMalformedBytes) {
  // Malformed bytes decode as U+FFFD one byte at a time, never reading past
  // the end; well-formed ones round-trip through append_utf8.
  const std::pair<std::string, char32_t> cases[] = {
      {"\x7F", 0x7F},
      {"\xC2\x80", 0x80},
      {"\xDF\xBF", 0x7FF},
      {"\xE0\xA0\x80", 0x800},
      {"\xEF\xBF\xBF", 0xFFFF},
      {"\xF0\x90\x80\x80", 0x10000},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF},
      {"\xE3\x80", 0xFFFD},          // truncated
      {"\x80\x80", 0xFFFD},          // stray continuation bytes
      {"\xC0\xAF", 0xFFFD},          // never a lead byte
      {"\xE0\x80\xAF", 0xFFFD},      // overlong
      {"\xED\xA0\x80", 0xFFFD},      // surrogate
      {"\xF4\x90\x80\x80", 0xFFFD},  // past U+10FFFF
      {"\xFF", 0xFFFD},
  };
  for (const auto& [bytes, cp] : cases) {
    const bool ok = cp != 0xFFFD;
    size_t i = 0;
    EXPECT_EQ(decode_utf8(bytes, i), cp) << bytes;
    EXPECT_EQ(i, ok ? bytes.size() : 1) << bytes;
    EXPECT_EQ(is_valid_utf8("a" + bytes), ok) << bytes;
    EXPECT_EQ(count_chars("a" + bytes), 1 + (ok ? 1 : bytes.size())) << bytes;
    EXPECT_EQ(trim(bytes), bytes) << bytes;
    if (!ok) continue;
    std::string out;
    append_utf8(out, cp);
    EXPECT_EQ(out, bytes) << bytes;
  }
}

}  // namespace
}  // namespace brindle
