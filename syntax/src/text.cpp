#include "text.h"

#include <cstring>

namespace brindle {

bool is_white_space(char32_t cp) {
  if (cp <= 0x20) return cp == 0x20 || (cp >= 0x09 && cp <= 0x0D);
  switch (cp) {
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
    case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

namespace {

// Decodes one code point; `ok` tells whether the bytes were well formed.
char32_t decode(std::string_view s, size_t& i, bool& ok) {
  ok = false;
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    ok = true;
    return b0;
  }
  size_t len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) { len = 2; cp = b0 & 0x1F; min = 0x80; }
  else if (b0 >= 0xE0 && b0 <= 0xEF) { len = 3; cp = b0 & 0x0F; min = 0x800; }
  else if (b0 >= 0xF0 && b0 <= 0xF4) { len = 4; cp = b0 & 0x07; min = 0x10000; }
  if (len == 0 || i + len > s.size()) {
    ++i;
    return 0xFFFD;
  }
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += len;
  ok = true;
  return cp;
}

}  // namespace

char32_t decode_utf8(std::string_view s, size_t& i) {
  bool ok;
  return decode(s, i, ok);
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string_view trim_start_slow(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    // ASCII decides on its own byte; only other bytes need decoding.
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if (!is_ascii_blank(c)) break;
      ++i;
      continue;
    }
    size_t next = i;
    if (!is_white_space(decode_utf8(s, next))) break;
    i = next;
  }
  return s.substr(i);
}

// Walks back to the start of the last character; the White_Space characters
// are at most three bytes long, so a bounded look-back suffices.
std::string_view trim_end_slow(std::string_view s) {
  size_t end = s.size();
  while (end > 0) {
    const auto last = static_cast<unsigned char>(s[end - 1]);
    if (last < 0x80) {
      if (!is_ascii_blank(last)) break;
      --end;
      continue;
    }
    size_t start = end - 1;
    while (start > 0 && end - start < 4 &&
           (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80)
      --start;
    size_t i = start;
    const char32_t cp = decode_utf8(s, i);
    if (i != end || !is_white_space(cp)) break;
    end = start;
  }
  return s.substr(0, end);
}

size_t count_chars(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++n) decode_utf8(s, i);
  return n;
}

bool is_valid_utf8(std::string_view s) {
  bool ok = true;
  for (size_t i = 0; i < s.size() && ok;) {
    // Runs of ASCII, eight bytes at a time: most of a configuration file.
    uint64_t word = 0;
    while (i + 8 <= s.size()) {
      std::memcpy(&word, s.data() + i, 8);
      if ((word & 0x8080808080808080u) != 0) break;
      i += 8;
    }
    if (i < s.size()) decode(s, i, ok);
  }
  return ok;
}

}  // namespace brindle
