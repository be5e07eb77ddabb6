// How the value grammar's scanners read double quotes, one byte at a time.
// Two rules are in use, and each lives only here:
//   Escapes  the comma, `=` and `??` scanner (and the line rules of
//            quoting.h): a backslash escapes the next byte inside and
//            outside quotes, a quote toggles.
//   Plain    the expression splitter: any double quote toggles, and a
//            backslash is an ordinary byte.
// The scanners and the group index all step through QuoteState, so they
// agree on which bytes stand outside quotes.
#pragma once

#include <cstdint>

namespace brindle {

enum class QuoteRule : uint8_t { Escapes, Plain };

template <QuoteRule Rule>
struct QuoteState {
  bool in_quotes = false;
  bool escaped = false;

  // Takes byte `c`; true when it stands outside quotes, is not escaped and
  // is neither a quote nor (under Escapes) a backslash.
  bool structural(char c) {
    if constexpr (Rule == QuoteRule::Escapes) {
      if (escaped) {
        escaped = false;
        return false;
      }
      if (c == '\\') {
        escaped = true;
        return false;
      }
    }
    if (c == '"') {
      in_quotes = !in_quotes;
      return false;
    }
    return !in_quotes;
  }

  // True before a byte that a fresh scan would read the same way.
  bool clean() const { return !in_quotes && !escaped; }
};

}  // namespace brindle
