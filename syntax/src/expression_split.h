// The expression splitter: cuts one expression (no `??`) into operand and
// operator tokens. The evaluator folds what it yields; the syntax tree
// records it. Quoted text protects operators under the Plain quote rule (any
// double quote closes), brackets and `#{ }#` protect them by depth, and a
// `-` where an operand is expected is a sign kept with its operand.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "byte_match.h"
#include "byte_table.h"
#include "quote_rules.h"
#include "text.h"

namespace brindle {

// Bytes that can change the splitter's quote or bracket state.
inline constexpr ByteTable kGroupBytes = byte_table("\"#()[]{}");

// Those and the operator bytes: what the splitter looks at outside brackets.
inline constexpr ByteTable kTopLevelBytes = byte_table("\"#()[]{}", "+-*/");

// Calls visit(token, index, is_operator) for every token of `text` in order:
// operands trimmed, with `index` the position of their first byte in `text`;
// operators as one byte. A blank operand yields nothing, so operators may
// follow each other. Stops early when visit returns false.
template <class Visit>
void split_expression(std::string_view text, Visit&& visit) {
  const size_t n = text.size();

  // The operand being collected is always text[start, i): every byte that is
  // not an operator belongs to it. Whether it is still blank is cached so a
  // long run of blanks is examined once.
  size_t start = 0;
  size_t blank_until = 0;
  bool has_content = false;
  const auto buffer_blank = [&](size_t i) {
    if (has_content) return false;
    if (trim_start(text.substr(blank_until, i - blank_until)).empty()) {
      blank_until = i;
      return true;
    }
    has_content = true;
    return false;
  };
  const auto flush = [&](size_t i) {
    const std::string_view raw = text.substr(start, i - start);
    const std::string_view body = trim_start(raw);
    const size_t lead = raw.size() - body.size();
    const std::string_view operand = trim_end(body);
    return operand.empty() || visit(operand, start + lead, false);
  };

  int64_t depth = 0;
  QuoteState<QuoteRule::Plain> quotes;  // no escapes: any double quote closes
  size_t quote_open = 0;
  bool expect_operand = true;
  size_t i = 0;
  while (i < n) {
    if (depth > 0 && !quotes.in_quotes) {
      // Inside brackets only quotes and brackets move the state; the bytes
      // between them are operand text and are passed over in one go.
      const size_t from = i;
      while (i < n && !kGroupBytes[static_cast<unsigned char>(text[i])]) ++i;
      if (i > from) {
        expect_operand = false;
        continue;
      }
    } else if (depth == 0 && !quotes.in_quotes) {
      // So it is at the top level, where operator bytes matter too.
      const size_t from = i;
      while (i < n && !kTopLevelBytes[static_cast<unsigned char>(text[i])]) ++i;
      if (i > from) {
        expect_operand = false;
        continue;
      }
    }
    if (quotes.in_quotes) {
      // Inside quotes only the closing quote moves the state: the bytes
      // before it are passed over in one search.
      i = find_byte(text, i, '"');
      if (i == n) break;
    }
    const char c = text[i];
    const bool was_quoted = quotes.in_quotes;
    if (!quotes.structural(c)) {
      if (c == '"') {
        if (!was_quoted) {
          quote_open = i;
        } else if (i > quote_open + 1) {
          expect_operand = false;
        }
      }
      ++i;
      continue;
    }
    const char next = i + 1 < n ? text[i + 1] : '\0';
    bool is_operator = false;
    switch (c) {
      case '#':
        if (next == '{') {
          ++depth;
          i += 2;
          continue;
        }
        break;
      case '(': case '[': case '{':
        ++depth;
        ++i;
        continue;
      case ')': case ']':
        --depth;
        ++i;
        continue;
      case '}':
        --depth;
        i += next == '#' ? 2 : 1;
        continue;
      case '+': case '*':
        is_operator = depth == 0;
        break;
      case '/':
        // In `a//b` the first slash is text and the second one divides.
        is_operator = depth == 0 && next != '/';
        break;
      case '-':
        if (depth == 0) {
          if (expect_operand || buffer_blank(i)) {
            expect_operand = false;  // a sign, kept with its operand
            ++i;
            continue;
          }
          is_operator = true;
        }
        break;
      default:
        break;
    }
    if (is_operator) {
      if (!flush(i) || !visit(text.substr(i, 1), i, true)) return;
      start = blank_until = ++i;
      has_content = false;
      expect_operand = true;
      continue;
    }
    expect_operand = false;
    ++i;
  }
  flush(n);
}

}  // namespace brindle
