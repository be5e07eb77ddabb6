// Short arrays of literals, the commonest value that is not one literal,
// read in one walk: each item is found and read where it stands, rather
// than the text being cut at its commas first and each piece then going
// through the fallback, operator and operand layers.
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string_view>

#include "array_builder.h"
#include "byte_table.h"
#include "quoting.h"
#include "text.h"
#include "value_parser.h"

namespace brindle {

namespace {

// Bytes of a word item: a number or a keyword (after an optional minus).
// None of them is a quote, a backslash, a bracket, a comma, a blank or an
// operator other than that minus, so a word ends where the item does.
constexpr ByteTable kWordBytes = byte_table(kAsciiAlnum, "._");

// Items a short array holds; a longer one goes through the grammar.
constexpr size_t kMostItems = 16;

}  // namespace

std::optional<Value> parse_literal_array(std::string_view t, Arena* arena) {
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return std::nullopt;
  // Scalars are read at once; a string is only located, and made once
  // every item has been read, so that a text left to the grammar has
  // placed nothing in the arena. The slots are left unset until used, and
  // a scalar needs no destructor, so a text given up leaves nothing to undo.
  union Slot {
    Slot() {}
    ~Slot() {}
    Value scalar;
  };
  Slot scalars[kMostItems];
  const char* string_data[kMostItems];
  size_t string_size[kMostItems];
  uint32_t is_string = 0;  // bit k: item k is a string
  static_assert(kMostItems <= 32);
  size_t count = 0;
  const size_t end = t.size() - 1;
  size_t i = 1;
  for (;;) {
    while (i < end && is_ascii_blank(t[i])) ++i;
    if (i == end) break;
    const char c = t[i];
    if (c == ',') {  // a blank item: the grammar skips it too
      ++i;
      continue;
    }
    if (count == kMostItems) return std::nullopt;
    if (c == '"') {
      // The string closes at the first quote, and holds no backslash: then
      // every quote rule reads it alike.
      const size_t close = next_quote_or_backslash(t, i + 1);
      if (close >= end || t[close] != '"') return std::nullopt;
      string_data[count] = t.data() + i + 1;
      string_size[count] = close - i - 1;
      is_string |= uint32_t{1} << count;
      ++count;
      i = close + 1;
    } else {
      const size_t from = i;
      if (c == '-') ++i;
      // Short decimal integers, the commonest words, are read on the way;
      // eighteen digits cannot overflow.
      int64_t magnitude = 0;
      const size_t digits_from = i;
      while (i < end && static_cast<unsigned char>(t[i] - '0') <= 9 && i - digits_from < 18) {
        magnitude = magnitude * 10 + (t[i] - '0');
        ++i;
      }
      const bool digits_only = i > digits_from && (i == end || !kWordBytes[static_cast<unsigned char>(t[i])]);
      if (digits_only) {
        new (&scalars[count++].scalar) Value(Value::integer(c == '-' ? -magnitude : magnitude));
      } else {
        while (i < end && kWordBytes[static_cast<unsigned char>(t[i])]) ++i;
        std::optional<Value> word = parse_literal(t.substr(from, i - from));
        if (!word) return std::nullopt;  // not a word, or one the grammar rejects
        new (&scalars[count++].scalar) Value(std::move(*word));
      }
    }
    while (i < end && is_ascii_blank(t[i])) ++i;
    if (i == end) break;
    if (t[i] != ',') return std::nullopt;
    ++i;
  }
  auto item = [&](size_t k) {
    return (is_string >> k) & 1 ? Value::string_in(std::string_view(string_data[k], string_size[k]), arena)
                                : std::move(scalars[k].scalar);
  };
  if (arena != nullptr) {
    ArenaArrayBuilder out(*arena);
    out.reserve(count);
    for (size_t k = 0; k < count; ++k) out.push_back(item(k));
    return out.finish();
  }
  Array out;
  out.reserve(count);
  for (size_t k = 0; k < count; ++k) out.push_back(item(k));
  return Value::array(std::move(out));
}

}  // namespace brindle
