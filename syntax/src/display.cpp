#include "display.h"

#include <utf8proc.h>

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>
#include <vector>

#include "stable_values.h"
#include "text.h"

namespace brindle {

namespace {

// The shortest round-trip decimal digits of a finite double and the decimal
// exponent of the first digit: value = 0.d1d2... * 10^(exponent + 1).
struct Digits {
  bool negative = false;
  std::string digits;  // at least one digit, no leading zero unless "0"
  int exponent = 0;
};

Digits shortest_digits(double value) {
  // Scientific shortest form: "-d.ddde-XXX" fits easily in 32 bytes.
  std::array<char, 40> buf;
  const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                 std::chars_format::scientific);
  const std::string_view s(buf.data(), static_cast<size_t>(res.ptr - buf.data()));
  Digits d;
  size_t i = 0;
  if (i < s.size() && s[i] == '-') {
    d.negative = true;
    ++i;
  }
  while (i < s.size() && s[i] != 'e') {
    if (s[i] != '.') d.digits.push_back(s[i]);
    ++i;
  }
  if (i < s.size()) {
    ++i;  // 'e'
    int exp = 0;
    const auto* first = s.data() + i;
    if (*first == '+') ++first;
    std::from_chars(first, s.data() + s.size(), exp);
    d.exponent = exp;
  }
  return d;
}

std::string positional(const Digits& d) {
  std::string out;
  if (d.negative) out.push_back('-');
  const int n = static_cast<int>(d.digits.size());
  if (d.exponent < 0) {
    out.append("0.");
    out.append(static_cast<size_t>(-d.exponent - 1), '0');
    out.append(d.digits);
  } else if (d.exponent >= n - 1) {
    out.append(d.digits);
    out.append(static_cast<size_t>(d.exponent - (n - 1)), '0');
  } else {
    out.append(d.digits, 0, static_cast<size_t>(d.exponent) + 1);
    out.push_back('.');
    out.append(d.digits, static_cast<size_t>(d.exponent) + 1);
  }
  return out;
}

// Characters the debug form shows as \u{...}: Grapheme_Extend, and the
// control, format, surrogate, private-use, unassigned and separator
// categories (except the ASCII space).
bool needs_escape(char32_t cp) {
  const auto c = static_cast<utf8proc_int32_t>(cp);
  // The grapheme-break class Extend is Grapheme_Extend plus the emoji
  // modifiers, which are symbols shown as themselves.
  const bool emoji_modifier = cp >= 0x1F3FB && cp <= 0x1F3FF;
  if (!emoji_modifier && utf8proc_get_property(c)->boundclass == UTF8PROC_BOUNDCLASS_EXTEND)
    return true;
  switch (utf8proc_category(c)) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
      return true;
    case UTF8PROC_CATEGORY_ZS:
      return cp != U' ';
    default:
      return false;
  }
}

void append_hex_escape(std::string& out, char32_t cp) {
  std::array<char, 8> buf;
  const auto res = std::to_chars(buf.data(), buf.data() + buf.size(),
                                 static_cast<uint32_t>(cp), 16);
  out.append("\\u{");
  out.append(buf.data(), res.ptr);
  out.push_back('}');
}

void append_scalar(std::string& out, const Value& v) {
  switch (v.tag()) {
    case Tag::String:
      out.append("String(");
      out.append(debug_string(v.as_string()));
      out.push_back(')');
      break;
    case Tag::Integer:
      out.append("Integer(");
      out.append(decimal_form(v.as_integer()));
      out.push_back(')');
      break;
    case Tag::Float:
      out.append("Float(");
      out.append(debug_float(v.as_float()));
      out.push_back(')');
      break;
    case Tag::Bool:
      out.append(v.as_bool() ? "Bool(true)" : "Bool(false)");
      break;
    case Tag::Null:
      out.append("Null");
      break;
    case Tag::Array:
    case Tag::Dict:
      break;
  }
}

}  // namespace

std::string decimal_form(int64_t value) {
  std::array<char, 24> buf;
  const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value);
  return std::string(buf.data(), res.ptr);
}

std::string shortest_form(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  return positional(shortest_digits(value));
}

std::string debug_float(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  const Digits d = shortest_digits(value);
  const double m = std::fabs(value);
  if (m == 0.0 || (m >= 1e-4 && m < 1e16)) {
    std::string out = positional(d);
    if (out.find('.') == std::string::npos) out.append(".0");
    return out;
  }
  std::string out;
  if (d.negative) out.push_back('-');
  out.push_back(d.digits[0]);
  if (d.digits.size() > 1) {
    out.push_back('.');
    out.append(d.digits, 1);
  }
  out.push_back('e');
  out.append(decimal_form(d.exponent));
  return out;
}

std::string debug_string(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    const char32_t cp = decode_utf8(text, i);
    switch (cp) {
      case 0: out.append("\\0"); continue;
      case '\t': out.append("\\t"); continue;
      case '\r': out.append("\\r"); continue;
      case '\n': out.append("\\n"); continue;
      case '\\': out.append("\\\\"); continue;
      case '"': out.append("\\\""); continue;
      default: break;
    }
    if (needs_escape(cp)) {
      append_hex_escape(out, cp);
    } else if (cp == 0xFFFD && i - start == 1) {
      // A byte that is not well-formed UTF-8 shows as the replacement
      // character, so the result is always valid text.
      append_utf8(out, cp);
    } else {
      out.append(text.substr(start, i - start));
    }
  }
  out.push_back('"');
  return out;
}

std::string debug_text(const Value& value) {
  // Walked with an explicit stack so that no nesting depth can exhaust the
  // call stack.
  struct Frame {
    const Value* container;
    size_t index;                  // next element of an Array
    Dict::const_iterator next;     // next entry of a Dict
  };
  std::string out;
  std::vector<Frame> stack;
  // One per frame: its element being written when made on the spot, which
  // the frame opened next may hold as its container, so it must stay put.
  StableValues items;
  auto open = [&](const Value& v) {
    if (v.is(Tag::Array)) {
      out.append("Array([");
      stack.push_back({&v, 0, {}});
      items.push();
    } else if (v.is(Tag::Dict)) {
      out.append("Dict({");
      stack.push_back({&v, 0, v.as_dict().begin()});
      items.push();
    } else {
      append_scalar(out, v);
    }
  };
  open(value);
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.container->is(Tag::Array)) {
      const ArrayView a = f.container->as_array();
      if (f.index == a.size()) {
        out.append("])");
        stack.pop_back();
        items.pop();
        continue;
      }
      if (f.index > 0) out.append(", ");
      const Value& child = a.item(f.index++, items.top());
      open(child);  // may invalidate f
    } else {
      const Dict& d = f.container->as_dict();
      if (f.next == d.end()) {
        out.append("})");
        stack.pop_back();
        items.pop();
        continue;
      }
      if (f.next != d.begin()) out.append(", ");
      const auto& entry = *f.next++;
      out.append(debug_string(entry.first));
      out.append(": ");
      open(entry.second);  // may invalidate f
    }
  }
  return out;
}

std::string one_decimal_form(double value) {
  if (!std::isfinite(value)) return shortest_form(value);
  // The largest double has 309 integer digits.
  std::array<char, 400> buf;
  const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                 std::chars_format::fixed, 1);
  return std::string(buf.data(), res.ptr);
}

}  // namespace brindle
