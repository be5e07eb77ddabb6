#include "annotation.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "byte_table.h"
#include "text.h"

namespace brindle {

namespace {

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_start(char c) { return is_ascii_letter(c) || c == '_'; }
// Letters, digits and '_': one load per byte of a name.
constexpr ByteTable kNameBytes = byte_table(kAsciiAlnum, "_");
bool is_name_byte(char c) { return kNameBytes[static_cast<unsigned char>(c)]; }

bool is_quoted(std::string_view s) { return s.size() >= 2 && s.front() == '"' && s.back() == '"'; }
std::string_view unquoted(std::string_view s) {
  return is_quoted(s) ? s.substr(1, s.size() - 2) : s;
}

// Position of `part` (a view into `whole`) as an absolute offset.
uint64_t offset_in(std::string_view whole, uint64_t whole_start, std::string_view part) {
  return whole_start + static_cast<uint64_t>(part.data() - whole.data());
}

// Optional single sign, then one or more decimal digits, fitting int64.
std::optional<int64_t> read_integer(std::string_view a) {
  size_t i = (a[0] == '+' || a[0] == '-') ? 1 : 0;
  if (i == a.size()) return std::nullopt;
  for (size_t k = i; k < a.size(); ++k)
    if (!is_digit(a[k])) return std::nullopt;
  // from_chars takes a minus sign but not a plus sign.
  const std::string_view text = a[0] == '+' ? a.substr(1) : a;
  int64_t v = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return v;
}

bool equals_ignoring_case(std::string_view a, std::string_view lower) {
  if (a.size() != lower.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// Decimal floating-point text: optional sign, digits with an optional
// fraction (at least one digit in all), optional exponent. Also the words
// inf, infinity and nan in any case, with an optional sign. Magnitudes beyond
// the double range give infinity, those below it zero.
std::optional<double> read_float(std::string_view a) {
  bool negative = false;
  std::string_view body = a;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity"))
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  if (equals_ignoring_case(body, "nan")) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return negative ? -nan : nan;
  }

  // Syntax check, noting where the first significant digit stands so that
  // an out-of-range result can be told to be an overflow or an underflow.
  size_t i = 0;
  const size_t n = body.size();
  size_t int_digits = 0;
  size_t frac_digits = 0;
  int64_t magnitude = 0;  // decimal exponent of the first non-zero digit
  bool seen_nonzero = false;
  while (i < n && is_digit(body[i])) {
    if (!seen_nonzero && body[i] != '0') seen_nonzero = true;
    if (seen_nonzero) ++magnitude;
    ++int_digits;
    ++i;
  }
  if (seen_nonzero) --magnitude;
  if (i < n && body[i] == '.') {
    ++i;
    while (i < n && is_digit(body[i])) {
      if (!seen_nonzero) {
        --magnitude;
        if (body[i] != '0') seen_nonzero = true;
      }
      ++frac_digits;
      ++i;
    }
  }
  if (int_digits + frac_digits == 0) return std::nullopt;
  int64_t exponent = 0;
  if (i < n && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < n && (body[i] == '+' || body[i] == '-')) {
      exp_negative = body[i] == '-';
      ++i;
    }
    const size_t exp_start = i;
    while (i < n && is_digit(body[i])) {
      // Saturate: anything this large is out of range either way.
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (body[i] - '0');
      ++i;
    }
    if (i == exp_start) return std::nullopt;
    if (exp_negative) exponent = -exponent;
  }
  if (i != n) return std::nullopt;

  double v = 0;
  const auto [ptr, ec] = std::from_chars(body.data(), body.data() + n, v);
  if (ec == std::errc::result_out_of_range) {
    v = magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc() || ptr != body.data() + n) {
    return std::nullopt;
  }
  return negative ? -v : v;
}

ParseFailure fail(std::string message, Span span) { return ParseFailure{std::move(message), span}; }

std::string invalid_syntax(std::string_view text) {
  std::string m = "invalid annotation syntax: `";
  m.append(text);
  m.push_back('`');
  return m;
}

}  // namespace

namespace {

// Fills `ann` (a fresh record) from the annotation text; a failure leaves
// it partly filled, for the caller to drop.
std::optional<ParseFailure> parse_into(std::string_view text, Span span, Annotation& ann) {
  const std::string_view t = trim(text);
  // Offsets are measured from the text as passed in; the builder passes it
  // trimmed, so `span.start` is the `@`.
  auto at = [&](std::string_view part) { return offset_in(text, span.start, part); };

  if (t.empty() || t[0] != '@') return fail("annotation must start with `@`", span);
  if (t.size() < 2 || !is_name_start(t[1])) return fail("annotation missing name", span);

  size_t name_end = 2;
  while (name_end < t.size() && is_name_byte(t[name_end])) ++name_end;

  ann.name.assign(t.substr(1, name_end - 1));
  ann.span = span;

  const std::string_view rest = trim_start(t.substr(name_end));
  if (rest.empty()) return std::nullopt;

  if (rest[0] == '(') {
    if (rest.back() != ')' || rest.size() < 2) return fail(invalid_syntax(text), span);
    const std::string_view inner_raw = rest.substr(1, rest.size() - 2);
    const std::string_view lead_trimmed = trim_start(inner_raw);
    const std::string_view inner = trim_end(lead_trimmed);
    const uint64_t inner_start = at(lead_trimmed);
    ann.arg_span = Span{inner_start, inner_start + inner.size()};
    ann.arg.emplace<std::string>(unquoted(inner));
    return std::nullopt;
  }

  if (rest[0] != ':') return fail(invalid_syntax(text), span);

  const std::string_view after_colon = rest.substr(1);
  const std::string_view a = trim(after_colon);
  if (a.empty()) {
    const uint64_t pos = at(after_colon);
    return fail("annotation argument is empty", Span{pos, pos});
  }
  const uint64_t a_start = at(a);
  ann.arg_span = Span{a_start, a_start + a.size()};

  if (a[0] == '"' && is_quoted(a)) {
    ann.arg.emplace<std::string>(unquoted(a));
  } else if (a.size() >= 2 && a.front() == '[' && a.back() == ']') {
    // Items are cut at every comma; quotes and brackets do not protect one.
    auto& items = ann.arg.emplace<std::vector<std::string>>();
    SpanList& item_spans = ann.arg.item_spans_of_list();
    const std::string_view inner = a.substr(1, a.size() - 2);
    // Room for the items of an ordinary list at once; a long one (or one of
    // mostly empty pieces) grows as usual rather than trusting its commas.
    constexpr size_t kReserved = 16;
    const size_t pieces = 1 + static_cast<size_t>(std::count(inner.begin(), inner.end(), ','));
    items.reserve(std::min(pieces, kReserved));
    item_spans.reserve(std::min(pieces, kReserved));
    size_t from = 0;
    while (true) {
      const size_t comma = inner.find(',', from);
      const std::string_view raw =
          inner.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from);
      const std::string_view item = trim(raw);
      if (!item.empty()) {
        const uint64_t item_start = at(item);
        item_spans.push_back({item_start, item_start + item.size()});
        items.emplace_back(unquoted(item));
      }
      if (comma == std::string_view::npos) break;
      from = comma + 1;
    }
  } else if (const auto i = read_integer(a)) {
    ann.arg = *i;
  } else if (const auto f = read_float(a)) {
    ann.arg = *f;
  } else {
    ann.arg.emplace<std::string>(a);
  }
  return std::nullopt;
}

}  // namespace

std::variant<Annotation, ParseFailure> parse_annotation(std::string_view text, Span span) {
  Annotation ann;
  if (auto failure = parse_into(text, span, ann)) return std::move(*failure);
  return ann;
}

std::optional<ParseFailure> parse_annotation(std::string_view text, Span span,
                                             std::vector<Annotation>& into) {
  Annotation& ann = into.emplace_back();
  auto failure = parse_into(text, span, ann);
  if (failure) into.pop_back();
  return failure;
}


bool is_validation(std::string_view name) {
  static constexpr std::array<std::string_view, 9> names = {
      "min", "max", "enum", "minlen", "maxlen", "pattern", "nonzero", "positive", "nonempty"};
  for (auto n : names)
    if (n == name) return true;
  return false;
}

bool is_metadata(std::string_view name) {
  static constexpr std::array<std::string_view, 5> names = {"required", "internal", "readonly",
                                                            "deprecated", "experimental"};
  for (auto n : names)
    if (n == name) return true;
  return false;
}

bool is_type_hint(std::string_view name) { return name == "type"; }

bool is_tag(std::string_view name) { return name == "tag"; }

}  // namespace brindle
