// The leading run of plain decimal integers in the inner text of an array
// (`1, -20, 300`), read in one walk without cutting the text into pieces.
//
// An item of the run is ASCII blanks, an optional minus, one to eighteen
// digits, blanks, then a comma or the end of the text; a blank item (two
// commas with only blanks between) is passed over. Each is the integer the
// item grammar reads from it. The walk stops before the first item of any
// other form; what it returns is where that item's raw piece starts (just
// after a comma), a place where the grammar may go on, or the text's size
// when every item was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text.h"

namespace brindle {

// Calls `push(int64_t)` for each integer of the run; returns where it ends.
template <class Push>
size_t read_integer_run(std::string_view text, Push push) {
  const size_t n = text.size();
  const char* const s = text.data();
  size_t restart = 0;  // start of the raw piece of the item being read
  size_t i = 0;
  for (;;) {
    while (i < n && is_ascii_blank(s[i])) ++i;
    if (i == n) return n;
    if (s[i] == ',') {  // a blank item
      restart = ++i;
      continue;
    }
    const bool negative = s[i] == '-';
    if (negative) ++i;
    const size_t digits_from = i;
    int64_t magnitude = 0;
    while (i < n && static_cast<unsigned char>(s[i] - '0') <= 9) {
      if (i - digits_from == 18) return restart;  // eighteen digits cannot overflow; more are left
      magnitude = magnitude * 10 + (s[i] - '0');
      ++i;
    }
    if (i == digits_from) return restart;
    while (i < n && is_ascii_blank(s[i])) ++i;
    if (i < n && s[i] != ',') return restart;
    push(negative ? -magnitude : magnitude);
    if (i == n) return n;
    restart = ++i;
  }
}

}  // namespace brindle
