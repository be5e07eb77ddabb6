// The quoting rules of a line, in one place: which bytes stand inside a
// double-quoted string. A backslash escapes the byte after it, inside and
// outside strings. Comment stripping, bracket counting and the lints all
// walk text through the functions below.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "byte_table.h"

namespace brindle {

// Calls visit(i) for each byte of `text` outside double-quoted strings that
// a backslash does not escape, and on_quote(i, opens) for each quote that
// opens or closes a string. visit may advance i over bytes it consumes;
// either callback returns false to stop the walk.
// Inside a string only a quote or a backslash matters: the first at or
// after `i`, found eight bytes at a time (text.size() when there is none).
inline size_t next_quote_or_backslash(std::string_view text, size_t i) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighs = 0x8080808080808080u;
  const size_t n = text.size();
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    const uint64_t q = word ^ (kOnes * '"');
    const uint64_t b = word ^ (kOnes * '\\');
    // A zero byte in q or b marks a match (the classic exact test).
    const uint64_t hit = ((q - kOnes) & ~q & kHighs) | ((b - kOnes) & ~b & kHighs);
    if (hit != 0) return i + static_cast<size_t>(std::countr_zero(hit) / 8);
  }
  for (; i < n; ++i) {
    if (text[i] == '"' || text[i] == '\\') return i;
  }
  return n;
}

template <class Visit, class OnQuote>
void walk_quoting(std::string_view text, Visit visit, OnQuote on_quote) {
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (in_string) {
      i = next_quote_or_backslash(text, i);
      if (i == text.size()) return;
    }
    const char c = text[i];
    if (c == '\\') {
      ++i;  // skip the escaped byte
    } else if (c == '"') {
      in_string = !in_string;
      if (!on_quote(i, in_string)) return;
    } else if (!in_string && !visit(i)) {
      return;
    }
  }
}

template <class Visit>
void walk_unquoted(std::string_view text, Visit visit) {
  walk_quoting(text, visit, [](size_t, bool) { return true; });
}

// A table of the bytes a walk stops at: those of `wanted`, and always the
// quote and the backslash, which the walk itself needs.
constexpr ByteTable stop_bytes(std::string_view wanted) { return byte_table(wanted, "\"\\"); }

// As walk_unquoted, but visit(i) is called only for the bytes `stops` marks
// (made by stop_bytes); the bytes between them outside strings are passed
// over in a tight loop.
template <class Visit>
void walk_unquoted_stops(std::string_view text, const ByteTable& stops, Visit visit) {
  bool in_string = false;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    if (in_string) {
      i = next_quote_or_backslash(text, i);
    } else {
      while (i < n && !stops[static_cast<unsigned char>(text[i])]) ++i;
    }
    if (i == n) return;
    const char c = text[i];
    if (c == '\\') {
      ++i;  // skip the escaped byte
    } else if (c == '"') {
      in_string = !in_string;
    } else if (!visit(i)) {
      return;
    }
  }
}

}  // namespace brindle
