#include "value_writer.h"

#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "display.h"
#include "lexer.h"
#include "text.h"
#include "stable_values.h"
#include "value_parser.h"

namespace brindle {
namespace {

// Keys inside `#{ ... }#`: an entry is cut at top-level commas and its key at
// the first top-level `=`, then trimmed; quotes, brackets and backslashes
// change what those scanners see, and `#` may start a comment. Any other
// key, the empty one included, reads back bare.
bool inline_needs_quotes(std::string_view key) {
  return trim(key).size() != key.size() ||
         key.find_first_of(",=\"#\\()[]{}") != std::string_view::npos;
}

// A quoted key there is taken verbatim, without escapes, so it cannot hold a
// double quote, and a trailing odd run of backslashes would escape the
// closing quote for the comma and `=` scanners. Such keys, and keys with a
// line feed, are written as stored.
bool inline_quotable(std::string_view key) {
  if (key.find_first_of("\"\n") != std::string_view::npos) return false;
  size_t backslashes = 0;
  for (size_t i = key.size(); i > 0 && key[i - 1] == '\\'; --i) ++backslashes;
  return backslashes % 2 == 0;
}

// With `any_quoted`, a key that needs quotes is quoted even when it holds a
// quote or ends in backslashes: the scanners may still pair its quotes up,
// which only the reader can tell.
void append_inline_key(std::string& out, std::string_view key, bool any_quoted) {
  if (inline_needs_quotes(key) && key.find('\n') == std::string_view::npos &&
      (any_quoted || inline_quotable(key))) {
    out += '"';
    out += key;
    out += '"';
  } else {
    out += key;
  }
}

// ---------------------------------------------------------------------------
// Values

// Runs of bytes that need no escape go out in one append each.
void append_string(std::string& out, std::string_view text) {
  out += '"';
  size_t plain = 0;  // start of the run not yet written
  for (size_t i = 0; i < text.size(); ++i) {
    const char* escape = nullptr;
    switch (text[i]) {
      case '\\': escape = "\\\\"; break;
      case '"': escape = "\\\""; break;
      case '\n': escape = "\\n"; break;
      case '\r': escape = "\\r"; break;
      case '\t': escape = "\\t"; break;
      default: continue;
    }
    out.append(text.substr(plain, i - plain));
    out += escape;
    plain = i + 1;
  }
  out.append(text.substr(plain));
  out += '"';
}

// A string holding a quote, as plain quoted pieces and `$quote_var` joined
// with `+`: no piece holds a quote, so every scanner agrees on where each
// piece ends, and an operator byte in a piece stays inside it.
void append_joined_string(std::string& out, std::string_view text, std::string_view quote_var) {
  if (text.find('"') == std::string_view::npos) {
    append_string(out, text);
    return;
  }
  bool first = true;
  auto join = [&] {
    if (!first) out += " + ";
    first = false;
  };
  size_t start = 0;
  for (;;) {
    const size_t quote = text.find('"', start);
    const std::string_view piece = text.substr(start, quote - start);
    if (!piece.empty()) {
      join();
      append_string(out, piece);
    }
    if (quote == std::string_view::npos) return;
    join();
    out += '$';
    out += quote_var;
    start = quote + 1;
  }
}

void append_float(std::string& out, double d) {
  // No literal names the non-finite values, so they are written as the
  // divisions that give them. Integral values keep one fractional digit so
  // that they read back as floats, not integers.
  if (std::isnan(d))
    out += "0.0 / 0.0";
  else if (std::isinf(d))
    out += d > 0 ? "1.0 / 0.0" : "-1.0 / 0.0";
  else if (d == std::trunc(d))
    out += one_decimal_form(d);
  else
    out += shortest_form(d);
}

// The smallest integer has no literal: its digits without the sign do not
// fit. It is written as the subtraction that gives it.
void append_integer(std::string& out, int64_t i) {
  if (i == std::numeric_limits<int64_t>::min())
    out += "-9223372036854775807 - 1";
  else
    out += decimal_form(i);
}

// Appends a scalar; returns false for an array or a dict. With a
// `quote_var`, strings holding a quote are joined around it.
bool append_scalar(std::string& out, const Value& value, std::string_view quote_var) {
  switch (value.tag()) {
    case Tag::String:
      if (quote_var.empty()) append_string(out, value.as_string());
      else append_joined_string(out, value.as_string(), quote_var);
      return true;
    case Tag::Integer: append_integer(out, value.as_integer()); return true;
    case Tag::Float: append_float(out, value.as_float()); return true;
    case Tag::Bool: out += value.as_bool() ? "true" : "false"; return true;
    case Tag::Null: out += "null"; return true;
    case Tag::Array:
    case Tag::Dict: return false;
  }
  return true;
}

// Values may nest deeper than any stack we want to commit to (dicts handed
// in from outside the parser), so nesting is walked with an explicit stack
// of open containers instead of recursion.
struct OpenContainer {
  const Value* container;
  size_t index;               // next element of an array
  Dict::const_iterator next;  // next entry of a dict
};

void append_value_with(std::string& out, const Value& root, std::string_view quote_var,
                       bool any_quoted = false) {
  std::vector<OpenContainer> open;
  // One per open container: the item being written when it was made on
  // the spot, which the next container opened may be and so must stay put.
  StableValues items;
  const Value* pending = &root;  // value to write next, or null to close/advance
  for (;;) {
    if (pending != nullptr) {
      const Value& v = *pending;
      pending = nullptr;
      if (!append_scalar(out, v, quote_var)) {
        if (v.is(Tag::Array)) {
          const ArrayView a = v.as_array();
          if (a.empty()) {
            out += "[]";
          } else if (a.packed_width() != 0) {
            // Integers only: written at once, as each would be on its own.
            out += '[';
            for (size_t i = 0; i < a.size(); ++i) {
              if (i != 0) out += ", ";
              append_integer(out, a.integer_at(i));
            }
            out += ']';
          } else {
            out += '[';
            open.push_back({&v, 1, {}});
            pending = &a.item(0, items.push());
            continue;
          }
        } else {
          const Dict& d = v.as_dict();
          if (d.empty()) {
            out += "#{  }#";
          } else {
            out += "#{ ";
            auto first = d.begin();
            append_inline_key(out, first->first, any_quoted);
            out += " = ";
            open.push_back({&v, 0, std::next(first)});
            items.push();
            pending = &first->second;
            continue;
          }
        }
      }
    }
    // The value just written is complete: move on in the innermost container.
    if (open.empty()) return;
    OpenContainer& top = open.back();
    if (top.container->is(Tag::Array)) {
      const ArrayView a = top.container->as_array();
      if (top.index < a.size()) {
        out += ", ";
        pending = &a.item(top.index++, items.top());
      } else {
        out += ']';
        open.pop_back();
        items.pop();
      }
    } else {
      const Dict& d = top.container->as_dict();
      if (top.next != d.end()) {
        out += ", ";
        append_inline_key(out, top.next->first, any_quoted);
        out += " = ";
        pending = &top.next->second;
        ++top.next;
      } else {
        out += " }#";
        open.pop_back();
        items.pop();
      }
    }
  }
}


// Pushes the items of `a` for a walk looking for strings; packed items are
// integers, with none to find. Items decoded from a compact array are kept
// in `decoded` for as long as the walk may point at them.
void push_values(std::vector<const Value*>& pending, StableValues& decoded, ArrayView a) {
  if (const Value* items = a.values()) {
    for (size_t i = 0; i < a.size(); ++i) pending.push_back(items + i);
  } else if (a.is_compact()) {
    for (size_t i = 0; i < a.size(); ++i) pending.push_back(&a.item(i, decoded.push()));
  }
}

// Values whose fixed form might not read back: a string holding a quote, or
// an inline key holding a quote, a backslash or a line feed. Walked without
// recursion.
bool needs_check(const Value& root) {
  // Scalars, the common case, without the walk's stack.
  if (root.is(Tag::String)) return root.as_string().find('"') != std::string::npos;
  if (!root.is(Tag::Array) && !root.is(Tag::Dict)) return false;
  std::vector<const Value*> pending{&root};
  StableValues decoded;
  while (!pending.empty()) {
    const Value* v = pending.back();
    pending.pop_back();
    if (v->is(Tag::String)) {
      if (v->as_string().find('"') != std::string::npos) return true;
    } else if (v->is(Tag::Array)) {
      push_values(pending, decoded, v->as_array());
    } else if (v->is(Tag::Dict)) {
      for (const auto& [key, e] : v->as_dict()) {
        if (key.find_first_of("\"\\\n") != std::string::npos) return true;
        pending.push_back(&e);
      }
    }
  }
  return false;
}

// True when `text` reads back, as a key line's value, as `value`: the line
// keeps all of it (no `#` the comment scanner takes for a comment, no open
// bracket that joins the next line), and the value reader gives `value`.
// debug_text keeps tags, the sign of zero and every digit.
bool reads_back(std::string_view text, const Value& value, const Dict& vars) {
  if (text.find('\n') != std::string_view::npos) return false;  // it must stay on its line
  std::string line = "k = ";
  line += text;
  if (strip_comment(line).size() != line.size() || bracket_depth(text) > 0) return false;
  const EmptyEnv env;
  std::vector<VariableRef> refs;
  ValueContext ctx{refs, vars, env, Span{0, text.size()}};
  const ValueResult back = parse_value(ctx, text, 0);
  const Value* v = std::get_if<Value>(&back);
  return v != nullptr && debug_text(*v) == debug_text(value);
}

}  // namespace

void append_value(std::string& out, const Value& value) { append_value_with(out, value, {}); }

bool holds_quote(const Value& root) {
  std::vector<const Value*> pending{&root};
  StableValues decoded;
  while (!pending.empty()) {
    const Value* v = pending.back();
    pending.pop_back();
    if (v->is(Tag::String) && v->as_string().find('"') != std::string::npos) return true;
    if (v->is(Tag::Array)) {
      push_values(pending, decoded, v->as_array());
    } else if (v->is(Tag::Dict)) {
      for (const auto& [key, e] : v->as_dict()) pending.push_back(&e);
    }
  }
  return false;
}

LineValue append_line_value(std::string& out, const Value& value, std::string_view quote_var, bool any_key_quoted) {
  const size_t mark = out.size();
  append_value_with(out, value, {});
  if (!needs_check(value)) return LineValue::Written;
  if (reads_back(std::string_view(out).substr(mark), value, Dict{})) return LineValue::Written;
  out.resize(mark);
  const bool quoted_string = holds_quote(value);
  // Without a variable, the joined form is still tried (under a stand-in
  // name) to tell "needs the variable" from "cannot be written at all".
  const std::string_view name = quote_var.empty() ? std::string_view("quote") : quote_var;
  const Dict vars{{std::string(name), Value::string("\"")}};
  auto joined = [&](bool any_quoted) {
    append_value_with(out, value, name, any_quoted);
    if (reads_back(std::string_view(out).substr(mark), value, vars)) return true;
    out.resize(mark);
    return false;
  };
  // The forms with every inline key quoted come last, so that what was
  // written before in another form keeps that form.
  bool with_quote = quoted_string && joined(false);
  if (!with_quote && any_key_quoted) {
    append_value_with(out, value, {}, true);
    if (reads_back(std::string_view(out).substr(mark), value, Dict{})) return LineValue::Written;
    out.resize(mark);
    with_quote = quoted_string && joined(true);
  }
  if (with_quote && !quote_var.empty()) return LineValue::WrittenWithQuote;
  out.resize(mark);
  return with_quote ? LineValue::NeedsQuoteVariable : LineValue::Unwritable;
}

}  // namespace brindle
