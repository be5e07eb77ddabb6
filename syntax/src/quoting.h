// The quoting rules of a line, in one place: which bytes stand inside a
// double-quoted string. A backslash escapes the byte after it, inside and
// outside strings. Comment stripping, bracket counting and the lints all
// walk text through the functions below.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "byte_match.h"
#include "byte_table.h"

namespace brindle {

// Calls visit(i) for each byte of `text` outside double-quoted strings that
// a backslash does not escape, and on_quote(i, opens) for each quote that
// opens or closes a string. visit may advance i over bytes it consumes;
// either callback returns false to stop the walk.
// Inside a string only a quote or a backslash matters: the first at or
// after `i`, found sixteen bytes at a time (text.size() when there is none).
inline size_t next_quote_or_backslash(std::string_view text, size_t i) {
  return find_either(text, i, '"', '\\');
}

// Of the 64 bytes whose backslashes `backslashes` marks (bit k for byte k),
// those a backslash escapes: each byte after an odd run of backslashes.
// `carry` is 1 when the first byte is escaped by a backslash before the
// block, and is set for the block after this one. The runs are told apart
// with one addition rather than a step per backslash.
inline uint64_t escaped_bytes(uint64_t backslashes, uint64_t& carry) {
  constexpr uint64_t kEven = 0x5555555555555555u;
  backslashes &= ~carry;  // an escaped backslash escapes nothing
  const uint64_t follows = (backslashes << 1) | carry;
  // Runs that start on an odd bit; adding the run to its start carries
  // out of its end, which flips the parity that decides what it escapes.
  const uint64_t odd_starts = backslashes & ~kEven & ~follows;
  uint64_t sums = 0;
  carry = __builtin_add_overflow(odd_starts, backslashes, &sums) ? 1 : 0;
  return (kEven ^ (sums << 1)) & follows;
}

// The quote that closes a string whose content starts at `i`, a byte no
// backslash escapes: the first quote at or after `i` that no backslash
// escapes, or text.size() when there is none. Long strings are read 64
// bytes at a time with every escape of a block settled at once, so that
// escapes cost no more than other bytes.
inline size_t closing_quote(std::string_view text, size_t i) {
  const size_t n = text.size();
  uint64_t carry = 0;
  for (; i + 4 * kMatchWidth <= n; i += 4 * kMatchWidth) {
    const uint64_t quotes = match64(text.data() + i, '"');
    const uint64_t backslashes = match64(text.data() + i, '\\');
    const uint64_t closing = (backslashes | carry) == 0 ? quotes : quotes & ~escaped_bytes(backslashes, carry);
    if (closing != 0) return i + static_cast<size_t>(std::countr_zero(closing));
  }
  i += carry;
  while (i < n) {
    i = next_quote_or_backslash(text, i);
    if (i == n || text[i] == '"') return i;
    i += 2;
  }
  return n;
}

template <class Visit, class OnQuote>
void walk_quoting(std::string_view text, Visit visit, OnQuote on_quote) {
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (in_string) {
      i = closing_quote(text, i);
      if (i >= text.size()) return;
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
      i = closing_quote(text, i);
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
