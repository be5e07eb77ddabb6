// Text helpers shared by every unit of the core: UTF-8 decoding that never
// reads out of bounds, the White_Space set used for all trimming, and
// character counting.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brindle {

// True for the code points of the Unicode White_Space property.
bool is_white_space(char32_t cp);

// Decodes the code point starting at s[i] and advances i past it. A byte that
// does not start a well-formed sequence yields U+FFFD and advances by one, so
// any byte sequence is walked safely.
char32_t decode_utf8(std::string_view s, size_t& i);

// Appends the UTF-8 encoding of cp.
void append_utf8(std::string& out, char32_t cp);

// Remove White_Space characters from the named end(s).
std::string_view trim(std::string_view s);
std::string_view trim_start(std::string_view s);
std::string_view trim_end(std::string_view s);

// Number of Unicode scalar values (malformed bytes count one each).
size_t count_chars(std::string_view s);

// True when s is well-formed UTF-8.
bool is_valid_utf8(std::string_view s);

}  // namespace brindle
