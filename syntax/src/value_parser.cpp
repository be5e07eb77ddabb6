// Operands of the value grammar, and the two scanners that look at text
// outside quotes and brackets.
#include "value_parser.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <system_error>

#include "array_builder.h"
#include "byte_match.h"
#include "integer_run.h"
#include "quoting.h"
#include "text.h"

namespace brindle {

namespace {

ParseFailure failure(std::string message, uint64_t offset, size_t length) {
  return ParseFailure{std::move(message), Span{offset, offset + length}};
}

ParseFailure quoted_failure(std::string_view prefix, std::string_view subject, uint64_t offset,
                            size_t length) {
  std::string message;
  message.reserve(prefix.size() + subject.size() + 1);
  message.append(prefix).append(subject).push_back('`');
  return failure(std::move(message), offset, length);
}

// Number of bytes trim_start() removes from `s`.
// The common cases (spaces, then printable ASCII, or nothing else) are
// decided here; anything else goes to trim_start, which knows every blank.
size_t leading_blank_slow(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i == s.size()) return i;
  const auto c = static_cast<unsigned char>(s[i]);
  if (c > ' ' && c < 0x80) return i;
  return s.size() - trim_start(s).size();
}

// Most items start right away, or after the one space that follows a
// comma: those are decided inline.
inline size_t leading_blank(std::string_view s) {
  const auto printable = [&](size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    return c > ' ' && c < 0x80;
  };
  if (!s.empty() && printable(0)) return 0;
  if (s.size() > 1 && s[0] == ' ' && printable(1)) return 1;
  return leading_blank_slow(s);
}

// trim_end, with a printable ASCII last byte decided here.
std::string_view trim_end_quick(std::string_view s) {
  if (!s.empty()) {
    const auto c = static_cast<unsigned char>(s.back());
    if (c > ' ' && c < 0x80) return s;
  }
  return trim_end(s);
}

// Marks one level of array/dict nesting for as long as it lives.
class NestingLevel {
 public:
  explicit NestingLevel(ValueContext& ctx) : ctx_(ctx) { ++ctx_.depth; }
  ~NestingLevel() { --ctx_.depth; }
  NestingLevel(const NestingLevel&) = delete;
  NestingLevel& operator=(const NestingLevel&) = delete;

 private:
  ValueContext& ctx_;
};

ParseFailure too_deep(uint64_t offset, size_t length) {
  return failure("value nested too deeply", offset, length);
}

// ---- strings ------------------------------------------------------------

// The byte an escape `\c` stands for, or 0 when `c` makes no escape (the
// backslash then stays, and `c` is read as ordinary text).
constexpr std::array<char, 256> kEscaped = [] {
  std::array<char, 256> table{};
  table['n'] = '\n';
  table['r'] = '\r';
  table['t'] = '\t';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}();

// The content of a quoted string with its escapes replaced. Unknown escapes
// (and a final backslash) keep the backslash; the byte after it is read as
// it is.
//
// Long contents go 64 bytes at a time: a window is copied whole, then each
// of its backslashes is settled and the rest of the window copied again at
// its new place, so that a window costs one unpredictable branch however
// many escapes it holds. The last bytes go sixteen at a time up to each
// backslash. The output never runs ahead of the input, so every block
// stored stays within content.size() bytes of `out`. Returns the number of
// bytes written.
size_t unescape_into(std::string_view content, char* out) {
  constexpr size_t kWindow = 4 * kMatchWidth;
  const char* from = content.data();
  const char* const end = from + content.size();
  char* to = out;
  const auto settle = [&]() {  // the escape at `from`; false for a final backslash
    if (end - from < 2) return false;
    const char escaped = kEscaped[static_cast<unsigned char>(from[1])];
    *to++ = escaped != '\0' ? escaped : '\\';
    from += escaped != '\0' ? 2 : 1;
    return true;
  };
  // A window, one more and a byte: every copy of 64 bytes starts at most
  // one byte past its window, and stays inside the content.
  while (end - from > static_cast<ptrdiff_t>(2 * kWindow)) {
    const char* const window = from;
    uint64_t backslashes = match64(window, '\\');
    std::memcpy(to, from, kWindow);
    while (backslashes != 0) {
      const int k = std::countr_zero(backslashes);
      to += window + k - from;
      from = window + k;
      // Byte k + 1 starts no escape: a known escape takes it along (even
      // a backslash), and after an unknown one it is no backslash.
      backslashes &= ~(uint64_t{3} << k);
      settle();
      std::memcpy(to, from, kWindow);
    }
    if (from < window + kWindow) {
      to += window + kWindow - from;
      from = window + kWindow;
    }
  }
  for (;;) {
    // Copy whole blocks up to the next backslash; the bytes stored past it
    // are overwritten by what follows.
    while (end - from >= static_cast<ptrdiff_t>(kMatchWidth)) {
      std::memcpy(to, from, kMatchWidth);
      const uint32_t mask = match16(from, '\\');
      if (mask != 0) {
        const int k = std::countr_zero(mask);
        from += k;
        to += k;
        break;
      }
      from += kMatchWidth;
      to += kMatchWidth;
    }
    while (from < end && *from != '\\') *to++ = *from++;
    if (from == end) break;
    if (!settle()) {
      *to++ = '\\';
      break;
    }
  }
  return static_cast<size_t>(to - out);
}

ValueResult parse_string(const ValueContext& ctx, std::string_view t, uint64_t offset) {
  if (t.size() == 1 || t.back() != '"') return failure("unterminated string", offset, t.size());
  const std::string_view content = t.substr(1, t.size() - 2);
  if (content.find('\\') == std::string_view::npos) return Value::string_in(content, ctx.arena);
  // Not zeroed: every byte read back is written first.
  const std::unique_ptr<char[]> out(new char[content.size()]);
  return Value::string_in(std::string_view(out.get(), unescape_into(content, out.get())), ctx.arena);
}

// `v` as a level of the value being built holds it: in the context's arena
// when there is one. What is arena-held already was built in that arena
// (a variable's value, from the same document, arrives as a heap copy).
inline Value held(const ValueContext& ctx, Value v) {
  if (ctx.arena == nullptr || v.in_arena()) return v;
  return Value::into_arena(std::move(v), *ctx.arena);
}

// ---- numbers ------------------------------------------------------------

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// An optional single sign, then one or more digits of `base`, fitting a
// signed 64-bit integer once the sign is applied.
std::optional<int64_t> read_integer(std::string_view s, int base) {
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  // The unsigned overload accepts no sign, so a second one fails here.
  uint64_t magnitude = 0;
  const char* end = s.data() + s.size();
  const auto [ptr, ec] = std::from_chars(s.data(), end, magnitude, base);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  constexpr uint64_t kMaxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (negative) {
    if (magnitude > kMaxPositive + 1) return std::nullopt;
    return static_cast<int64_t>(uint64_t{0} - magnitude);
  }
  if (magnitude > kMaxPositive) return std::nullopt;
  return static_cast<int64_t>(magnitude);
}

// Optional sign, digits with an optional fraction (at least one digit in
// all), optional exponent with at least one digit. Checked up front because
// std::from_chars would also take "nan(...)", "inf" and partial texts.
bool is_decimal_float(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < n && is_digit(s[i])) ++i, ++digits;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && is_digit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exponent_digits = 0;
    while (i < n && is_digit(s[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == n;
}

// For a well-formed decimal float that std::from_chars found out of range:
// true when it is too large for a double, false when too small. The value
// lies in [10^(m-1), 10^m) with m the count of significant integer digits
// (or minus the zeros that open the fraction) plus the exponent.
bool exceeds_double_range(std::string_view s) {
  constexpr int64_t kClamp = int64_t{1} << 40;
  size_t i = 0;
  const size_t n = s.size();
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < n && s[i] == '0') ++i;
  int64_t magnitude = 0;
  bool integral_part = false;
  while (i < n && is_digit(s[i])) {
    integral_part = true;
    if (magnitude < kClamp) ++magnitude;
    ++i;
  }
  if (i < n && s[i] == '.') {
    ++i;
    if (!integral_part) {
      while (i < n && s[i] == '0') {
        if (magnitude > -kClamp) --magnitude;
        ++i;
      }
    }
    while (i < n && is_digit(s[i])) ++i;
  }
  int64_t exponent = 0;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    while (i < n && is_digit(s[i])) {
      if (exponent < kClamp) exponent = exponent * 10 + (s[i] - '0');
      ++i;
    }
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent > 0;
}

std::optional<double> read_float(std::string_view s) {
  if (!is_decimal_float(s)) return std::nullopt;
  const bool negative = s[0] == '-';
  // std::from_chars takes '-' but not '+'.
  if (s[0] == '+') s.remove_prefix(1);
  double value = 0.0;
  const char* end = s.data() + s.size();
  const auto [ptr, ec] = std::from_chars(s.data(), end, value);
  if (ec == std::errc::result_out_of_range) {
    value = exceeds_double_range(s) ? std::numeric_limits<double>::infinity() : 0.0;
    if (negative) value = -value;
  } else if (ec != std::errc() || ptr != end) {
    return std::nullopt;
  }
  return value;
}

// The common case, an optional minus and at most 18 decimal digits, which
// cannot overflow and needs none of the checks of the general path.
std::optional<int64_t> plain_decimal(std::string_view t) {
  const bool negative = !t.empty() && t[0] == '-';
  const size_t first = negative ? 1 : 0;
  if (t.size() == first || t.size() - first > 18) return std::nullopt;
  int64_t magnitude = 0;
  for (size_t i = first; i < t.size(); ++i) {
    const auto digit = static_cast<unsigned char>(t[i] - '0');
    if (digit > 9) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  return negative ? -magnitude : magnitude;
}

// Ten to the powers a plain fraction divides by; each is exact in a double.
constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// The common float, an optional minus and digits on both sides of one
// point, fifteen at most, as parse_number reads it: the integer of its digits
// and the power of ten are exact, so their quotient is the correctly rounded
// value of the text, the one std::from_chars gives. The sign applies last,
// as there.
std::optional<double> plain_fraction(std::string_view t) {
  const bool negative = !t.empty() && t[0] == '-';
  constexpr size_t kNoPoint = static_cast<size_t>(-1);
  size_t point = kNoPoint;
  size_t digits = 0;
  int64_t mantissa = 0;
  for (size_t i = negative ? 1 : 0; i < t.size(); ++i) {
    if (t[i] == '.' && point == kNoPoint) {
      point = digits;
      continue;
    }
    const auto digit = static_cast<unsigned char>(t[i] - '0');
    if (digit > 9 || ++digits > 15) return std::nullopt;
    mantissa = mantissa * 10 + digit;
  }
  if (point == kNoPoint || point == 0 || point == digits) return std::nullopt;
  const double value = static_cast<double>(mantissa) / kPowersOfTen[digits - point];
  return value * (negative ? -1.0 : 1.0);
}

ValueResult parse_number(std::string_view t, uint64_t offset) {
  if (const auto plain = plain_decimal(t)) return Value::integer(*plain);
  const auto reject = [&] { return quoted_failure("cannot parse value: `", t, offset, t.size()); };
  bool negative = false;
  std::string_view rest = t;
  if (!rest.empty() && rest[0] == '-') {
    negative = true;
    rest.remove_prefix(1);
  }
  // Underscores are dropped wherever they stand.
  std::string scratch;
  std::string_view c = rest;
  if (rest.find('_') != std::string_view::npos) {
    scratch.reserve(rest.size());
    for (char ch : rest) {
      if (ch != '_') scratch.push_back(ch);
    }
    c = scratch;
  }

  int base = 10;
  if (c.size() >= 2 && c[0] == '0') {
    switch (c[1]) {
      case 'x': case 'X': base = 16; break;
      case 'o': case 'O': base = 8; break;
      case 'b': case 'B': base = 2; break;
      default: break;
    }
  }
  if (base != 10) {
    c.remove_prefix(2);
  } else if (c.find_first_of(".eE") != std::string_view::npos) {
    const auto d = read_float(c);
    if (!d) return reject();
    return Value::floating(*d * (negative ? -1.0 : 1.0));
  }
  const auto i = read_integer(c, base);
  if (!i) return reject();
  // The sign applies with two's-complement wrap-around.
  const auto magnitude = static_cast<uint64_t>(*i);
  return Value::integer(negative ? static_cast<int64_t>(uint64_t{0} - magnitude) : *i);
}

// ---- arrays and inline dicts -------------------------------------------

template <class Fn>
bool for_each_piece(std::string_view text, uint64_t offset, GroupIndex* groups, Fn fn);

// The group index, for every level nested inside another (the index is
// built once per value and its storage reused, so even short levels gain).
// The outermost level uses it too when it is long and holds nested arrays
// or dicts: the index is then needed anyway, and it saves that level's own
// walk.
GroupIndex* nested_groups(const ValueContext& ctx, std::string_view t) {
  if (ctx.depth >= 2) return ctx.groups;
  if (t.size() < kIndexWorthBytes) return nullptr;
  const std::string_view inner = t.substr(1);
  const bool nests = inner.find('[') != std::string_view::npos ||
                     inner.find("#{") != std::string_view::npos;
  return nests ? ctx.groups : nullptr;
}

// The non-blank items of a bracketed level are found before any of them is
// parsed, so the array or dict is allocated once at its final size. A few
// are kept here; more go on the context's stack of pieces, above those of
// the levels around it, and are taken off again when the level is done.
class Items {
 public:
  // At most kChunk items are taken; more() then tells that the level goes
  // on at rest() of `text`, so a huge level never holds all its pieces.
  Items(ValueContext& ctx, std::string_view text, uint64_t offset, GroupIndex* groups)
      : spill_(ctx.pieces), first_(spill_.size()) {
    for_each_piece(text, offset, groups, [&](const Piece& piece) {
      const std::string_view item = trim_end_quick(piece.text);
      if (leading_blank(item) == item.size()) return true;
      if (count_ == kChunk) {
        rest_ = static_cast<size_t>(piece.offset - offset);
        return false;
      }
      add(Piece{item, piece.offset});
      return true;
    });
  }
  ~Items() {
    if (count_ > kKept) spill_.resize(first_);
  }
  Items(const Items&) = delete;
  Items& operator=(const Items&) = delete;

  size_t size() const { return count_; }
  bool more() const { return rest_ != kNoRest; }
  size_t rest() const { return rest_; }
  static constexpr size_t kChunk = 4096;

  // The non-blank items of `text` (a whole level, or its rest).
  static size_t count(std::string_view text, GroupIndex* groups) {
    size_t n = 0;
    for_each_piece(text, 0, groups, [&](const Piece& piece) {
      const std::string_view item = trim_end_quick(piece.text);
      if (leading_blank(item) < item.size()) ++n;
      return true;
    });
    return n;
  }
  // Item k with its trailing blanks gone, at the offset of its raw piece
  // (leading blanks kept); by value, as parsing an item pushes the pieces
  // of its own levels.
  Piece operator[](size_t k) const {
    if (count_ > kKept) return spill_[first_ + k];
    return Piece{std::string_view(kept_data_[k], kept_size_[k]), kept_offset_[k]};
  }

 private:
  static constexpr size_t kKept = 8;

  void add(const Piece& piece) {
    if (count_ < kKept) {
      kept_data_[count_] = piece.text.data();
      kept_size_[count_] = piece.text.size();
      kept_offset_[count_++] = piece.offset;
      return;
    }
    if (count_ == kKept) {
      for (size_t k = 0; k < kKept; ++k) spill_.push_back((*this)[k]);
    }
    spill_.push_back(piece);
    ++count_;
  }

  // Plain arrays rather than Pieces, which would be zeroed on every level.
  const char* kept_data_[kKept];
  size_t kept_size_[kKept];
  uint64_t kept_offset_[kKept];
  static constexpr size_t kNoRest = static_cast<size_t>(-1);
  size_t count_ = 0;
  size_t rest_ = kNoRest;
  std::vector<Piece>& spill_;
  size_t first_;
};

// The items of a bracketed level's inner text, chunk by chunk, in order:
// `start(total)` once with the number of items, then `item(piece)` for each
// until one returns a failure, which is returned. With `guess`, a level of
// more than one chunk is not counted first (a second walk over all of it):
// `total` then guesses from the bytes of the first chunk, and may be off
// either way.
template <class Start, class Item>
std::optional<ValueResult> for_each_item(ValueContext& ctx, std::string_view text, uint64_t offset,
                                         GroupIndex* groups, Start start, Item item, bool guess = false) {
  for (bool first = true;; first = false) {
    const Items items(ctx, text, offset, groups);
    if (first && !items.more()) {
      start(items.size());
    } else if (first && guess) {
      // As many per byte in the rest as in the first chunk, and an eighth more.
      const double per_byte = static_cast<double>(items.size()) / static_cast<double>(items.rest());
      start(items.size() + static_cast<size_t>(per_byte * 1.125 * static_cast<double>(text.size() - items.rest())));
    } else if (first) {
      start(items.size() + Items::count(text.substr(items.rest()), groups));
    }
    for (size_t k = 0; k < items.size(); ++k) {
      if (auto failure = item(items[k])) return failure;
    }
    if (!items.more()) return std::nullopt;
    // The rest starts after a top-level comma, outside quotes, where a scan
    // may begin afresh.
    text = text.substr(items.rest());
    offset += items.rest();
  }
}

// The items of an array as the parser makes them: straight into the arena
// when there is one, where the array takes exactly the room of its items,
// else into a heap Array.
class ArrayOut {
 public:
  explicit ArrayOut(Arena* arena) {
    if (arena != nullptr) {
      held_.emplace(*arena);
    } else {
      heap_ = Value::array(Array{});
    }
  }
  void reserve(size_t total) {
    if (held_) {
      held_->reserve(total);
    } else {
      heap_.as_array().reserve(total);
    }
  }
  void push_back(Value v) {
    if (held_) {
      held_->push_back(std::move(v));
    } else {
      heap_.as_array().push_back(std::move(v));
    }
  }
  size_t size() const { return held_ ? held_->size() : heap_.as_array().size(); }
  // Integers go straight into a packed array's room.
  void push_integer(int64_t i) {
    if (held_) {
      held_->push_integer(i);
    } else {
      heap_.as_array().push_back(Value::integer(i));
    }
  }
  Value finish() { return held_ ? held_->finish() : std::move(heap_); }

 private:
  std::optional<ArenaArrayBuilder> held_;
  Value heap_;
};

ValueResult parse_array(ValueContext& ctx, std::string_view t, uint64_t offset) {
  if (t.size() < 2 || t.back() != ']') return failure("malformed array", offset, t.size());
  if (ctx.depth >= kMaxValueDepth) return too_deep(offset, t.size());
  NestingLevel level(ctx);
  ArrayOut out(ctx.arena);
  // Integers first, the commonest items of a long array, straight into
  // their packed room; the grammar goes on where they stop. Their room
  // doubles as they come, in place while nothing else goes into the arena;
  // in an arena, room guessed short grows and room left over goes back (see
  // ArenaArrayBuilder); a heap array is counted, its buffer being its own.
  const std::string_view inner = t.substr(1, t.size() - 2);
  const size_t done = read_integer_run(inner, [&](int64_t i) { out.push_integer(i); });
  if (done == inner.size()) return out.finish();
  auto failure = for_each_item(
      ctx, inner.substr(done), offset + 1 + done, nested_groups(ctx, t),
      [&](size_t total) { out.reserve(out.size() + total); },
      [&](const Piece& piece) -> std::optional<ValueResult> {
        const size_t lead = leading_blank(piece.text);
        const std::string_view item = piece.text.substr(lead);
        // A nested array, when the whole value has no operator and no
        // fallback: parse_value would hand the trimmed item to parse_operand.
        // (No literal opens with a bracket, so it is looked for first.)
        const bool bare = !ctx.may_have_operators && !ctx.may_have_fallbacks;
        if (bare && item.starts_with('[')) {
          ValueResult r = parse_array(ctx, item, piece.offset + lead);
          if (failed(r)) return r;
          out.push_back(held(ctx, std::get<Value>(std::move(r))));
          return std::nullopt;
        }
        // A literal is what parse_value would make of it, without the
        // layers that look for fallbacks, operators and other operand kinds.
        // Plain integers, the most common items, are read right here.
        if (const auto plain = plain_decimal(item)) {
          out.push_integer(*plain);
          return std::nullopt;
        }
        if (std::optional<Value> literal = parse_literal(item, ctx.arena)) {
          out.push_back(std::move(*literal));
          return std::nullopt;
        }
        ValueResult r = parse_value(ctx, item, piece.offset + lead);
        if (failed(r)) return r;
        out.push_back(held(ctx, std::get<Value>(std::move(r))));
        return std::nullopt;
      },
      ctx.arena != nullptr);
  if (failure) return std::move(*failure);
  return out.finish();
}

ValueResult parse_inline_dict(ValueContext& ctx, std::string_view t, uint64_t offset) {
  // A text opening with "#{" and closing with "}#" is at least 4 bytes.
  if (!t.ends_with("}#")) return failure("malformed inline dict", offset, t.size());
  if (ctx.depth >= kMaxValueDepth) return too_deep(offset, t.size());
  NestingLevel level(ctx);
  GroupIndex* groups = nested_groups(ctx, t);
  Value result = Value::dict(Dict{});
  Dict& out = result.as_dict();
  auto failure = for_each_item(
      ctx, t.substr(2, t.size() - 4), offset + 2, groups, [&](size_t total) { out.reserve(total); },
      [&](const Piece& piece) -> std::optional<ValueResult> {
        const size_t lead = leading_blank(piece.text);
        const std::string_view entry = piece.text.substr(lead);
        const auto eq = find_top_level(entry, "=", groups);
        if (!eq) {
          // The span starts at the raw piece (possibly on blanks) but is as
          // long as the trimmed entry.
          return quoted_failure("inline dict entry missing `=`: `", entry, piece.offset, entry.size());
        }
        const std::string_view key = inline_dict_key(trim(entry.substr(0, *eq)));
        const std::string_view after = entry.substr(*eq + 1);
        const size_t value_lead = leading_blank(after);
        const std::string_view value_text = after.substr(value_lead);  // entry is trimmed already
        ValueResult r = parse_value(ctx, value_text, piece.offset + lead + *eq + 1 + value_lead);
        if (failed(r)) return r;
        out.append(key).second = std::get<Value>(std::move(r));  // the last one wins
        return std::nullopt;
      });
  if (failure) return std::move(*failure);
  out.seal();
  return held(ctx, std::move(result));
}

// ---- scanners -----------------------------------------------------------

// The one walk behind both scanners: calls `stop(i, depth)` for every byte
// outside quotes that is not half of a `#{` or `}#` pair, after a bracket
// byte has moved the depth, and returns the first i for which it is true.
//
// With `groups`, a group opened at depth 0 is skipped whole: inside it the
// depth never returns to 0, and its closer (the one byte where it does) is
// no stop for any caller, so nothing is missed.
//
// `stop` can only be true on a byte of `stops`, which holds the bytes that
// move state (scan_stops makes it), so the others are passed over without
// calling it.
constexpr ByteTable scan_stops(char stop_byte) {
  const char wanted[] = {'#', '(', ')', '{', '}', '[', ']', stop_byte};
  return stop_bytes(std::string_view(wanted, sizeof wanted));
}

template <class Stop>
std::optional<size_t> scan_top_level(std::string_view text, const ByteTable& stops, Stop stop,
                                     GroupIndex* groups) {
  const size_t n = text.size();
  const bool jump = groups != nullptr && groups->covers(text);
  int64_t depth = 0;
  QuoteState<QuoteRule::Escapes> quotes;
  for (size_t i = 0; i < n; ++i) {
    // The bulk of any text: a loop of its own, small enough that its speed
    // does not hang on where the code around it happens to land.
    if (!quotes.escaped) {
      while (i < n && !stops[static_cast<unsigned char>(text[i])]) ++i;
      if (i == n) break;
    }
    const char c = text[i];
    if (quotes.structural(c)) {
      const char next = i + 1 < n ? text[i + 1] : '\0';
      if (jump && depth == 0 && ((c == '#' && next == '{') || c == '(' || c == '[' || c == '{')) {
        const size_t resume = groups->resume(text, i);
        if (resume != GroupIndex::kNone) {
          if (resume >= n) return std::nullopt;
          i = resume - 1;
          continue;
        }
      }
      if ((c == '#' && next == '{') || (c == '}' && next == '#')) {
        depth += c == '#' ? 1 : -1;
        ++i;
        continue;
      }
      if (c == '(' || c == '[' || c == '{') ++depth;
      if (c == ')' || c == ']' || c == '}') --depth;
      if (stop(i, depth)) return i;
    }
  }
  return std::nullopt;
}

// The pieces of split_top_level one at a time, in order, without a list:
// `fn(piece)` returns false to stop, and then so does this.
template <class Fn>
bool for_each_piece(std::string_view text, uint64_t offset, GroupIndex* groups, Fn fn) {
  // Without a comma there is nothing to cut; memchr is far cheaper than the
  // scan, which matters for deeply nested brackets, scanned once per level.
  // With a group index the scan itself touches only this level's bytes.
  if (groups == nullptr && text.find(',') == std::string_view::npos) {
    return text.empty() || fn(Piece{text, offset});
  }
  size_t start = 0;
  bool go_on = true;
  static constexpr ByteTable kCommaStops = scan_stops(',');
  scan_top_level(text, kCommaStops, [&](size_t i, int64_t depth) {
    if (text[i] == ',' && depth == 0) {
      go_on = fn(Piece{text.substr(start, i - start), offset + start});
      start = i + 1;
    }
    return !go_on;
  }, groups);
  if (go_on && start < text.size()) go_on = fn(Piece{text.substr(start), offset + start});
  return go_on;
}

}  // namespace

std::string_view inline_dict_key(std::string_view written) {
  if (written.size() >= 2 && written.front() == '"' && written.back() == '"') {
    return written.substr(1, written.size() - 2);
  }
  return written;
}

ValueResult parse_operand(ValueContext& ctx, std::string_view text, uint64_t offset) {
  const std::string_view t = trim(text);
  if (t.starts_with('"')) return parse_string(ctx, t, offset);
  if (t.starts_with('$')) return resolve_variable(ctx, t, offset);
  if (t == "true") return Value::boolean(true);
  if (t == "false") return Value::boolean(false);
  if (t == "null") return Value::null();
  if (t.starts_with("#{")) return parse_inline_dict(ctx, t, offset);
  if (t.starts_with('[')) return parse_array(ctx, t, offset);
  return parse_number(t, offset);
}

std::optional<Value> parse_literal(std::string_view t, Arena* arena) {
  if (t.empty()) return std::nullopt;
  if (t[0] == '"') {
    // One string, closed by the last byte, with nothing escaped inside.
    if (t.size() < 2 || t.back() != '"' || next_quote_or_backslash(t, 1) != t.size() - 1) {
      return std::nullopt;
    }
    const std::string_view inner = t.substr(1, t.size() - 2);
    return Value::string_in(inner, arena);
  }
  if (const auto plain = plain_decimal(t)) return Value::integer(*plain);
  // Letters, digits, points and underscores after an optional leading
  // minus: no operator, fallback, reference, bracket, quote or blank, so
  // the text is one operand, a keyword or a number.
  static constexpr ByteTable kWordBytes = byte_table(kAsciiAlnum, "._");
  for (size_t i = t[0] == '-' ? 1 : 0; i < t.size(); ++i) {
    if (!kWordBytes[static_cast<unsigned char>(t[i])]) return std::nullopt;
  }
  if (t == "true") return Value::boolean(true);
  if (t == "false") return Value::boolean(false);
  if (t == "null") return Value::null();
  if (const auto fraction = plain_fraction(t)) return Value::floating(*fraction);
  ValueResult r = parse_number(t, 0);
  if (failed(r)) return std::nullopt;
  return std::get<Value>(std::move(r));
}

std::vector<Piece> split_top_level(std::string_view text, uint64_t offset, GroupIndex* groups) {
  std::vector<Piece> pieces;
  for_each_piece(text, offset, groups, [&](const Piece& piece) {
    pieces.push_back(piece);
    return true;
  });
  return pieces;
}

std::optional<size_t> find_top_level(std::string_view text, std::string_view needle,
                                     GroupIndex* groups) {
  // A memchr first is far cheaper than the scan; with a group index the
  // scan touches only this level's bytes, and the memchr would not.
  if ((groups == nullptr || !groups->covers(text)) && text.find(needle) == std::string_view::npos) {
    return std::nullopt;
  }
  const auto scan = [&](const ByteTable& stops) {
    return scan_top_level(text, stops, [&](size_t i, int64_t depth) {
      return depth == 0 && text.substr(i).starts_with(needle);
    }, groups);
  };
  // The two needles in use have tables of their own.
  static constexpr ByteTable kEqualsStops = scan_stops('=');
  static constexpr ByteTable kFallbackStops = scan_stops('?');
  const char first = needle.empty() ? '\0' : needle[0];
  if (first == '=') return scan(kEqualsStops);
  if (first == '?') return scan(kFallbackStops);
  return scan(scan_stops(first));
}

}  // namespace brindle
