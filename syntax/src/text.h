// Text helpers shared by every unit of the core: UTF-8 decoding that never
// reads out of bounds, the White_Space set used for all trimming, and
// character counting.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "byte_table.h"

namespace brindle {

// True for the code points of the Unicode White_Space property.
bool is_white_space(char32_t cp);

// Decodes the code point starting at s[i] and advances i past it. A byte that
// does not start a well-formed sequence yields U+FFFD and advances by one, so
// any byte sequence is walked safely.
char32_t decode_utf8(std::string_view s, size_t& i);

// Appends the UTF-8 encoding of cp.
void append_utf8(std::string& out, char32_t cp);

// Remove White_Space characters from the named end(s). ASCII bytes are
// decided inline; only a non-ASCII byte at an end goes out of line.
std::string_view trim_start_slow(std::string_view s);
std::string_view trim_end_slow(std::string_view s);

// Tab, line feed, vertical tab, form feed, carriage return and space: the
// ASCII White_Space bytes, tested with one load (trims run on every line).
inline constexpr ByteTable kAsciiBlank = byte_table("\t\n\v\f\r ");

inline bool is_ascii_blank(char c) { return kAsciiBlank[static_cast<unsigned char>(c)]; }

inline std::string_view trim_start(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && is_ascii_blank(s[i])) ++i;
  if (i < s.size() && static_cast<unsigned char>(s[i]) >= 0x80) return trim_start_slow(s.substr(i));
  return s.substr(i);
}

inline std::string_view trim_end(std::string_view s) {
  size_t end = s.size();
  while (end > 0 && is_ascii_blank(s[end - 1])) --end;
  if (end > 0 && static_cast<unsigned char>(s[end - 1]) >= 0x80) return trim_end_slow(s.substr(0, end));
  return s.substr(0, end);
}

inline std::string_view trim(std::string_view s) { return trim_end(trim_start(s)); }

// Number of Unicode scalar values (malformed bytes count one each).
size_t count_chars(std::string_view s);

// True when s is well-formed UTF-8.
bool is_valid_utf8(std::string_view s);

}  // namespace brindle
