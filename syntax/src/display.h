// Text forms of numbers and values used in messages, serialised output and
// string concatenation. All are pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model.h"

namespace brindle {

// "-42"; the smallest int64 gives "-9223372036854775808".
std::string decimal_form(int64_t value);

// Shortest round-trip digits laid out positionally, never an exponent:
// 1.0 -> "1", 0.1 -> "0.1", 1e21 -> "1000000000000000000000", -0.0 -> "-0",
// NaN -> "NaN", infinities -> "inf" / "-inf".
std::string shortest_form(double value);

// Like shortest_form but with at least one fractional digit in
// [1e-4, 1e16) and for zero, scientific ("1e16", "1.5e-7") outside it.
std::string debug_float(double value);

// The text in double quotes with backslash escapes for NUL, tab, CR, LF,
// backslash and quote, and \u{hex} for Grapheme_Extend characters and the
// categories Cc, Cf, Cs, Co, Cn, Zl, Zp and Zs other than the space.
std::string debug_string(std::string_view text);

// One-line debug rendering of a value, e.g. Array([Integer(1), String("a")]).
std::string debug_text(const Value& value);

// Integral finite value with exactly one fractional digit, the exact decimal
// value (as printf "%.1f" prints it): 3.0 -> "3.0", 1e23 ->
// "99999999999999991611392.0".
std::string one_decimal_form(double value);

}  // namespace brindle
