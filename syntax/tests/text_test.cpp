#include "text.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

TEST(Text, WhiteSpaceSetIsExactlyTheListedCodePoints) {
  for (char32_t cp : {0x09, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000})
    EXPECT_TRUE(is_white_space(cp)) << std::hex << uint32_t(cp);
  for (char32_t cp : {0x08, 0x0E, 0x21, 0x84, 0x86, 0x180E, 0x200B, 0x2060, 0xFEFF, 0x3001})
    EXPECT_FALSE(is_white_space(cp)) << std::hex << uint32_t(cp);
}

TEST(Text, TrimRemovesUnicodeWhiteSpaceFromTheNamedEnds) {
  // Each row: input, then trim | trim_start | trim_end.
  const std::pair<std::string, std::string> cases[] = {
      {"  a b \t", "a b|a b \t|  a b"},
      {"\xC2\xA0x\xE3\x80\x80", "x|x\xE3\x80\x80|\xC2\xA0x"},  // NBSP, ideographic space
      {"\r\n", "||"},
      {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx|\xE2\x80\x8Bx|\xE2\x80\x8Bx"},  // ZWSP is not White_Space
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(std::string(trim(in)) + "|" + std::string(trim_start(in)) + "|" + std::string(trim_end(in)), out) << in;
}

TEST(Text, AsciiBlankTableAgreesWithTheWhiteSpaceSet) {
  // The one-load test of a byte against the general code point test: every
  // ASCII byte it claims is White_Space and no other; bytes from 0x80 on
  // start sequences and are left to the general path. Trims around an 'x'
  // then remove exactly the blanks.
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    EXPECT_EQ(is_ascii_blank(c), b < 0x80 && is_white_space(static_cast<char32_t>(b))) << b;
    const std::string padded = std::string(2, c) + "x" + std::string(3, c);
    const bool blank = b < 0x80 && is_white_space(static_cast<char32_t>(b));
    EXPECT_EQ(trim_start(padded), blank ? "x" + std::string(3, c) : padded) << b;
    EXPECT_EQ(trim_end(padded), blank ? std::string(2, c) + "x" : padded) << b;
  }
}

TEST(Text, DecodesEachSequenceLengthAndRejectsMalformedBytes) {
  // Malformed bytes decode as U+FFFD one byte at a time, are not trimmed as
  // NEL, and count one character each; well-formed ones round-trip.
  const std::pair<std::string, char32_t> cases[] = {
      {"\x7F", 0x7F}, {"\xC2\x80", 0x80}, {"\xDF\xBF", 0x7FF}, {"\xE0\xA0\x80", 0x800},
      {"\xF0\x90\x80\x80", 0x10000}, {"\xF4\x8F\xBF\xBF", 0x10FFFF},
      {"\xE3\x80", 0xFFFD}, {"\x80\x85", 0xFFFD},  // truncated, stray continuation bytes
      {"\xC0\xAF", 0xFFFD}, {"\xE0\x80\xAF", 0xFFFD},  // never a lead byte, overlong
      {"\xED\xA0\x80", 0xFFFD}, {"\xF4\x90\x80\x80", 0xFFFD},  // surrogate, past U+10FFFF
  };
  for (const auto& [bytes, cp] : cases) {
    const bool ok = cp != 0xFFFD;
    size_t i = 0;
    std::string out;
    if (ok) append_utf8(out, cp);
    EXPECT_EQ(decode_utf8(bytes, i), cp) << bytes;
    EXPECT_EQ(i, ok ? bytes.size() : 1) << bytes;
    EXPECT_EQ(is_valid_utf8("a" + bytes), ok) << bytes;
    EXPECT_EQ(count_chars("a" + bytes), 1 + (ok ? 1 : bytes.size())) << bytes;
    EXPECT_EQ(trim(bytes), bytes) << bytes;
    EXPECT_EQ(out, ok ? bytes : "") << bytes;
  }
}

// ASCII is skipped in runs: a malformed byte is found wherever a run of
// ASCII ends, and a sequence cut by the end of the text is malformed.
TEST(Text, ValidityDoesNotDependOnTheAsciiAroundIt) {
  const std::pair<std::string, bool> cases[] = {
      {"", true}, {"\xC3\xA9", true}, {"\xF0\x90\x80\x80", true}, {"\x7F", true},
      {"\xFF", false}, {"\x80", false}, {"\xC3", false}, {"\xE2\x82", false}, {"\xED\xA0\x80", false},
  };
  for (const auto& [bytes, ok] : cases) {
    for (size_t before = 0; before <= 17; ++before) {
      for (const size_t after : {0, 1, 7, 8, 9}) {
        const std::string text = std::string(before, 'a') + bytes + std::string(after, 'b');
        EXPECT_EQ(is_valid_utf8(text), ok) << before << " + " << bytes << " + " << after;
      }
    }
  }
}

}  // namespace
}  // namespace brindle
