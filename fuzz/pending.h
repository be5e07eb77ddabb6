// Documents whose written text cannot read back, left out of the round
// trip: a double quote in a string or name of a document that holds an
// operator byte anywhere, a minus sign included (the expression splitter
// knows no escapes, and a quoted key inside an inline dict is taken
// verbatim); a name holding a double quote or a backslash anywhere (inside
// an inline dict it is written bare, where a quote opens a quoted text that
// swallows the block's end and a trailing backslash escapes what follows);
// annotation arguments holding a line break, list
// items holding a comma, arguments with a `#` and a double quote or a
// backslash (the comment scanner's view of quotes changes); and, until the
// writer or the builder changes, annotations of entries four or more levels
// down, which are written inside an inline dict and lost, and annotations
// left behind by an entry that a later line replaced.
// Everything else must round-trip. Returns the reason a document is left
// out, or nullptr.
#pragma once

#include <cmath>
#include <set>
#include <string>
#include <variant>

#include "model.h"

namespace brindle::fuzz {

// Sets `quote` when a string holds a double quote, `op` when a string or
// name holds an operator byte or a number is negative.
inline void scan_value(const Value& v, bool& quote, bool& op) {
  auto text = [&](std::string_view s) {
    quote = quote || s.find('"') != s.npos;
    op = op || s.find_first_of("+-*/?") != s.npos;
  };
  switch (v.tag()) {
    case Tag::String: text(v.as_string()); break;
    case Tag::Integer: op = op || v.as_integer() < 0; break;
    case Tag::Float: op = op || std::signbit(v.as_float()); break;
    case Tag::Array:
      for (const Value& e : v.as_array()) scan_value(e, quote, op);
      break;
    case Tag::Dict:
      for (const auto& [k, e] : v.as_dict()) {
        text(k);
        scan_value(e, quote, op);
      }
      break;
    default: break;
  }
}

// True when a dict below `v` has a name holding a double quote or a
// backslash.
inline bool quote_name(const Value& v) {
  if (v.is(Tag::Array)) {
    for (const Value& e : v.as_array()) {
      if (quote_name(e)) return true;
    }
  } else if (v.is(Tag::Dict)) {
    for (const auto& [k, e] : v.as_dict()) {
      if (k.find_first_of("\"\\") != k.npos || quote_name(e)) return true;
    }
  }
  return false;
}

inline const char* pending_value(const Value& v) {
  bool quote = false, op = false;
  scan_value(v, quote, op);
  if (quote && op) return "quote and operator";
  return quote_name(v) ? "quote or backslash in a name" : nullptr;
}

inline const char* pending_annotation(const Annotation& a) {
  auto odd = [](const std::string& s) {
    return s.find_first_of("\n\r") != s.npos || (s.find('#') != s.npos && s.find_first_of("\"\\") != s.npos);
  };
  if (const auto* text = std::get_if<std::string>(&a.arg)) return odd(*text) ? "text argument" : nullptr;
  if (const auto* list = std::get_if<std::vector<std::string>>(&a.arg)) {
    for (const std::string& item : *list) {
      if (odd(item) || item.find(',') != item.npos) return "list argument";
    }
  }
  return nullptr;
}

// Paths of the entries that are written with their annotations: the root,
// a section and a block; deeper entries go into `inline_paths`.
inline void entry_paths(const Dict& dict, const std::string& prefix, int level, std::set<std::string>& out,
                        std::set<std::string>& inline_paths) {
  for (const auto& [key, value] : dict) {
    (level < 3 ? out : inline_paths).insert(prefix + key);
    if (value.is(Tag::Dict)) entry_paths(value.as_dict(), prefix + key + ".", level + 1, out, inline_paths);
  }
}

inline const char* pending(const Document& doc) {
  if (const char* why = pending_value(Value::dict(doc.config))) return why;
  if (const char* why = pending_value(Value::dict(doc.vars))) return why;
  std::set<std::string> paths, inline_paths;
  entry_paths(doc.config, "", 0, paths, inline_paths);
  entry_paths(doc.vars, "", 0, paths, inline_paths);
  for (const auto& [path, list] : doc.annotations) {
    if (!list.empty() && inline_paths.contains(path)) return "annotation inside an inline dict";
    if (!list.empty() && !paths.contains(path)) return "annotation of an absent entry";
    for (const Annotation& a : list) {
      if (const char* why = pending_annotation(a)) return why;
    }
  }
  return nullptr;
}

}  // namespace brindle::fuzz
