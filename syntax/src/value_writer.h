// Source text of values, as the serializer writes them on key lines.
//
// `append_value` writes the one fixed form of every value. A key line
// reads that back as the same value except in two corners, which
// `append_line_value` checks with the real value reader: a string holding a
// double quote (the expression splitter takes any quote, escaped or not,
// as the end of quoted text, so an operator byte after it splits the
// string), and an inline-dict key holding a quote, a backslash or a line
// feed (inline keys are taken verbatim, without escapes). There the value
// is written again with every quote-holding string joined from plain
// pieces and a variable that holds `"`, when the caller has one, and then,
// when the caller allows it, with every inline key that needs quotes quoted
// even where a quote or a trailing backslash inside makes that a gamble;
// what still does not read back is reported, not written.
#pragma once

#include <string>
#include <string_view>

#include "model.h"

namespace brindle {

// The fixed form (what format_value returns).
void append_value(std::string& out, const Value& value);

enum class LineValue : uint8_t {
  Written,            // the fixed form, or a checked form without the variable
  WrittenWithQuote,   // joined with `$quote_var`, which the text must define
  NeedsQuoteVariable, // only the joined form would read back, and no variable was given
  Unwritable,         // no form reads back (an inline key no quoting carries)
};

// Appends the text of `value` for a key line. `quote_var` names a variable
// holding exactly `"` (a bare name, no built-in), or is empty. With
// `any_key_quoted`, the forms quoting every such inline key are tried last.
// On the last two results nothing is appended.
LineValue append_line_value(std::string& out, const Value& value, std::string_view quote_var,
                            bool any_key_quoted = false);

// True when some string below `value` holds a double quote.
bool holds_quote(const Value& value);

}  // namespace brindle
