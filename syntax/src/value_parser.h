// The value grammar: one value text (an expression with `??` fallbacks over
// operands: strings, numbers, keywords, arrays, inline dicts and `$`
// references) evaluates to a Value or fails with a ParseFailure.
//
// Layers: parse_value (fallbacks) -> evaluate_expression (split and fold) ->
// parse_operand (one operand; arrays and inline dicts recurse into
// parse_value, `$` operands go to resolve_variable). parse_literal reads a
// value that is one plain literal without any of them.
//
// Every text comes with `offset`, the absolute source position of its first
// byte; all spans are computed from it. Nothing throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "group_index.h"
#include "model.h"

namespace brindle {

struct ParseFailure {
  std::string message;
  Span span;
};

using ValueResult = std::variant<Value, ParseFailure>;

inline bool failed(const ValueResult& r) { return r.index() == 1; }

// Arrays and inline dicts may nest this deep; the operand that would open
// the next level fails with "value nested too deeply". A variable copied
// into a value brings its own nesting along; when the sum would pass the
// limit, its `$` operand fails the same way.
inline constexpr int kMaxValueDepth = 128;

// Bytes of value data one parse may materialise beyond its source: copies of
// variables and the results of concatenation are charged against it, so a
// small file cannot expand exponentially. See value_budget_for(). When a
// charge fails the value fails with "value too large": at the `$` operand
// for a copy, over the whole expression for a concatenation.
struct ValueBudget {
  uint64_t remaining = 0;
  // Charges `bytes`; false once the budget is exhausted.
  bool charge(uint64_t bytes) {
    if (bytes > remaining) {
      remaining = 0;
      return false;
    }
    remaining -= bytes;
    return true;
  }
};

// Budget for a source of `source_size` bytes: generous for any honest
// document (a floor of 32 MiB, or 64 bytes per source byte beyond it), and
// small enough that a file of a few kilobytes cannot make the parser hold
// much more than that.
uint64_t value_budget_for(uint64_t source_size);

// Approximate number of bytes a value occupies (node overhead plus text).
uint64_t value_footprint(const Value& value);

// One piece of split_top_level: its text and the offset of its first byte.
struct Piece {
  std::string_view text;
  uint64_t offset = 0;
};

// Levels at least this long, nested inside another, are scanned through the
// value's GroupIndex rather than byte by byte.
inline constexpr size_t kIndexWorthBytes = 64;

struct ValueContext {
  std::vector<VariableRef>& variable_refs;  // resolution appends here
  const Dict& vars;                         // variables defined so far
  const EnvLookup& env;
  Span span;                                // the whole value text (not read)
  ValueBudget* budget = nullptr;            // null: unlimited
  int depth = 0;                            // current array/dict nesting
  GroupIndex* groups = nullptr;             // of the whole value text; null: none
  // False when the whole value text has no `+-*/` byte, or no `??`: then
  // no part of it has either, and the levels of a nested value need not
  // look again.
  bool may_have_operators = true;
  bool may_have_fallbacks = true;
  // The items of the bracketed levels being parsed, innermost last (scratch
  // reused by every level of one value).
  std::vector<Piece> pieces{};
  // The arena of the document the value goes into: arrays and long strings
  // are built there, and what a level is given is moved there, so storing
  // the result moves nothing. What a failed or discarded evaluation built
  // there stays until the document goes (no more than its text's worth).
  // Null: the result is heap-owned, for callers outside a document.
  Arena* arena = nullptr;
};

// Sets the context's may_have_operators and may_have_fallbacks from one
// walk over the whole value text, so that its nested levels need not look
// again. Worth it only for a long text; a short one is left alone.
void look_over_long_value(ValueContext& ctx, std::string_view text);
inline void look_over_value(ValueContext& ctx, std::string_view text) {
  if (text.size() > kIndexWorthBytes) look_over_long_value(ctx, text);
}

// A value text (trimmed) that is one literal needing nothing from a
// context: a number, `true`, `false`, `null`, or a quoted string with no
// quote or backslash inside. Its value is the one parse_value gives, read
// without the fallback, operator and operand layers. Nullopt for any other
// text, and for a literal that does not parse: parse_value then reads it and
// reports what is wrong. With an arena, a long string is made there.
std::optional<Value> parse_literal(std::string_view text, Arena* arena = nullptr);

// A value text (trimmed) that is one array of such literals, with no
// array, dict, reference or operator inside: `[1, "a", true]`. Its value is
// the one parse_value gives, read in one walk without splitting the text
// first. Nullopt for any other text (parse_value then reads it), for more
// items than a short array holds, and when an item does not parse.
std::optional<Value> parse_literal_array(std::string_view text, Arena* arena = nullptr);

// The whole value text, with `??` fallbacks. `text` is trimmed.
ValueResult parse_value(ValueContext& ctx, std::string_view text, uint64_t offset);

// One expression without `??`: split into operands and operators, folded
// strictly left to right.
ValueResult evaluate_expression(ValueContext& ctx, std::string_view text, uint64_t offset);

// The same, when the text is `a + b + ...` with a string first or second,
// so that every `+` concatenates, and each operand is a `$` reference to a
// document variable, a quoted string without backslashes or a word: the
// value the fold makes of it, with the same references recorded and the same
// bytes charged, made in one walk without copying any variable. Nullopt, with
// nothing recorded or charged, for any other text and whenever the fold
// would fail; evaluate_expression then folds it.
std::optional<Value> evaluate_concatenation(ValueContext& ctx, std::string_view text, uint64_t offset);

// The fold of evaluate_expression: the text split into operands and
// operators, combined left to right.
ValueResult fold_expression(ValueContext& ctx, std::string_view text, uint64_t offset);

// One operand (trimmed).
ValueResult parse_operand(ValueContext& ctx, std::string_view text, uint64_t offset);

// An operand beginning with '$'.
ValueResult resolve_variable(ValueContext& ctx, std::string_view text, uint64_t offset);

// The text cut at every comma outside quotes and brackets. Pieces are views
// into `text`.
// `groups`, when given, lets the scan jump over nested groups (the result is
// the same).
std::vector<Piece> split_top_level(std::string_view text, uint64_t offset,
                                   GroupIndex* groups = nullptr);

// The key an inline dict entry's key text (trimmed) makes: one pair of
// surrounding double quotes goes, nothing else changes.
std::string_view inline_dict_key(std::string_view written);

// Index of the first occurrence of `needle` outside quotes and brackets.
std::optional<size_t> find_top_level(std::string_view text, std::string_view needle,
                                     GroupIndex* groups = nullptr);

}  // namespace brindle
