// Documents whose written text cannot read back yet, left out of the round
// trip until the serializer writes them faithfully: non-finite floats, the
// smallest integer, annotation arguments whose bare form reads as something
// else, nesting near the depth limits, strings holding a double quote and an
// operator byte (the expression splitter knows no escapes), annotations
// of entries that are not there (the keys an unclosed block swallowed), and
// annotations of entries four or more levels down, which are written inside
// an inline dict and lost.
// Everything else must round-trip. Returns the reason a document is left
// out, or nullptr.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <variant>

#include "model.h"

namespace brindle::fuzz {

inline const char* pending_value(const Value& v, int depth) {
  if (depth > 100) return "deep nesting";
  switch (v.tag()) {
    case Tag::String: {
      const std::string& s = v.as_string();
      return s.find('"') != s.npos && s.find_first_of("+-*/?") != s.npos ? "quote and operator" : nullptr;
    }
    case Tag::Float:
      return std::isfinite(v.as_float()) ? nullptr : "non-finite float";
    case Tag::Integer:
      return v.as_integer() == std::numeric_limits<int64_t>::min() ? "smallest integer" : nullptr;
    case Tag::Array:
      for (const Value& e : v.as_array()) {
        if (const char* why = pending_value(e, depth + 1)) return why;
      }
      return nullptr;
    case Tag::Dict:
      for (const auto& [k, e] : v.as_dict()) {
        if (const char* why = pending_value(e, depth + 1)) return why;
      }
      return nullptr;
    default:
      return nullptr;
  }
}

// A Text argument or List item that reads back as itself when written bare:
// starts and ends with a letter, holds no comment, quote, comma or break.
inline bool plain_text(const std::string& s) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  return !s.empty() && letter(s.front()) && letter(s.back()) && s.find_first_of("#,\"\n\r[]") == s.npos;
}

inline const char* pending_annotation(const Annotation& a) {
  if (const auto* text = std::get_if<std::string>(&a.arg)) return plain_text(*text) ? nullptr : "text argument";
  if (const auto* list = std::get_if<std::vector<std::string>>(&a.arg)) {
    for (const std::string& item : *list) {
      if (!plain_text(item)) return "list argument";
    }
  }
  if (const auto* d = std::get_if<double>(&a.arg)) {
    if (!std::isfinite(*d) || (*d == std::trunc(*d) && std::fabs(*d) < 0x1p63)) return "float argument";
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
  if (const char* why = pending_value(Value::dict(doc.config), 0)) return why;
  if (const char* why = pending_value(Value::dict(doc.vars), 0)) return why;
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
