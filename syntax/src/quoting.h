// The quoting rules of a line, in one place: which bytes stand inside a
// double-quoted string. A backslash escapes the byte after it, inside and
// outside strings. Comment stripping, bracket counting and the lints all
// walk text through these two functions.
#pragma once

#include <cstddef>
#include <string_view>

namespace brindle {

// Calls visit(i) for each byte of `text` outside double-quoted strings that
// a backslash does not escape, and on_quote(i, opens) for each quote that
// opens or closes a string. visit may advance i over bytes it consumes;
// either callback returns false to stop the walk.
template <class Visit, class OnQuote>
void walk_quoting(std::string_view text, Visit visit, OnQuote on_quote) {
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
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

}  // namespace brindle
