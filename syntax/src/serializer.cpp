#include "serializer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "builder.h"
#include "display.h"
#include "text.h"
#include "value_parser.h"

namespace brindle {
namespace {

// ---------------------------------------------------------------------------
// Names
//
// Keys, variable names and section names are stored unquoted. Written bare,
// anything outside the bare-key alphabet would read back as something else
// (or not at all), so such names are quoted in the form each reader accepts.
// A name that no form can carry is written as stored.

bool is_bare_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

bool is_bare_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!is_bare_byte(c)) return false;
  return true;
}

// Quoted with the two escapes that the key unquoting undoes (\" and \\).
void append_escaped_name(std::string& out, std::string_view name) {
  out += '"';
  for (char c : name) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

// Key lines and variable lines. Every byte but a line feed survives inside
// escaped quotes; a line feed would end the line.
void append_key(std::string& out, std::string_view name) {
  if (is_bare_name(name) || name.find('\n') != std::string_view::npos)
    out += name;
  else
    append_escaped_name(out, name);
}

// A header cannot hold a bracket, rejects an empty segment and ends at a
// line feed, so no form carries those names.
bool header_reads_back(std::string_view name) {
  return !name.empty() && name.find_first_of("[]\n") == std::string_view::npos;
}

// A header is trimmed and cut into segments at points, a double quote opens
// a quoted segment, `#` may start a comment, and a bare `vars` opens a
// variables section. Any other name reads back bare, as written.
bool header_needs_quotes(std::string_view name) {
  return name == "vars" || trim(name).size() != name.size() ||
         name.find_first_of(".\"#") != std::string_view::npos;
}

// The whole stored name goes into one quoted segment when it needs quotes,
// so that a point in it does not open a deeper section. Names no header
// carries are written as stored.
void append_section_header(std::string& out, std::string_view name) {
  out += '[';
  if (header_needs_quotes(name) && header_reads_back(name))
    append_escaped_name(out, name);
  else
    out += name;
  out += "]\n";
}

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

void append_inline_key(std::string& out, std::string_view key) {
  if (inline_needs_quotes(key) && inline_quotable(key)) {
    out += '"';
    out += key;
    out += '"';
  } else {
    out += key;
  }
}

// ---------------------------------------------------------------------------
// Values

void append_string(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  out += '"';
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

// Appends a scalar; returns false for an array or a dict.
bool append_scalar(std::string& out, const Value& value) {
  switch (value.tag()) {
    case Tag::String: append_string(out, value.as_string()); return true;
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

void append_value(std::string& out, const Value& root) {
  std::vector<OpenContainer> open;
  const Value* pending = &root;  // value to write next, or null to close/advance
  for (;;) {
    if (pending != nullptr) {
      const Value& v = *pending;
      pending = nullptr;
      if (!append_scalar(out, v)) {
        if (v.is(Tag::Array)) {
          const Array& a = v.as_array();
          if (a.empty()) {
            out += "[]";
          } else {
            out += '[';
            open.push_back({&v, 1, {}});
            pending = &a.front();
            continue;
          }
        } else {
          const Dict& d = v.as_dict();
          if (d.empty()) {
            out += "#{  }#";
          } else {
            out += "#{ ";
            auto first = d.begin();
            append_inline_key(out, first->first);
            out += " = ";
            open.push_back({&v, 0, std::next(first)});
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
      const Array& a = top.container->as_array();
      if (top.index < a.size()) {
        out += ", ";
        pending = &a[top.index++];
      } else {
        out += ']';
        open.pop_back();
      }
    } else {
      const Dict& d = top.container->as_dict();
      if (top.next != d.end()) {
        out += ", ";
        append_inline_key(out, top.next->first);
        out += " = ";
        pending = &top.next->second;
        ++top.next;
      } else {
        out += " }#";
        open.pop_back();
      }
    }
  }
}

// Everything after `[vars]` up to the next section header reads back as a
// variable, and annotation lines there are dropped. So the variables go
// first only when the next thing written is a header that carries no
// annotations; otherwise they go after every section.
bool vars_go_first(const Document& doc) {
  for (const auto& [key, value] : doc.config)
    if (!value.is(Tag::Dict)) return false;
  if (doc.config.empty()) return true;
  // Every root value is a dict here, so the first entry is the first section.
  const std::string& first = doc.config.begin()->first;
  const auto* list = doc.annotations.find(first);
  return (list == nullptr || list->empty()) && header_reads_back(first);
}

std::string join_path(std::string_view a, std::string_view b) {
  std::string p;
  p.reserve(a.size() + 1 + b.size());
  p += a;
  p += '.';
  p += b;
  return p;
}

// ---------------------------------------------------------------------------
// Document
//
// Sections at the root, one level of blocks in each, values inline below
// that. A dict that does not fit a block (an entry nested deeper than a value
// may be) becomes a section of its own after its parent's entries, down to
// the deepest header the reader takes. Every document the reader builds fits
// that layout; what does not fit is written all the same and reported.

// Levels of arrays and dicts in `root` (0 for a scalar), counted no further
// than `cap` + 1; walked without recursion.
int value_depth(const Value& root, int cap) {
  int deepest = 0;
  std::vector<std::pair<const Value*, int>> pending{{&root, 0}};
  while (!pending.empty() && deepest <= cap) {
    const auto [v, level] = pending.back();
    pending.pop_back();
    if (v->is(Tag::Array)) {
      deepest = std::max(deepest, level + 1);
      for (const Value& e : v->as_array()) pending.emplace_back(&e, level + 1);
    } else if (v->is(Tag::Dict)) {
      deepest = std::max(deepest, level + 1);
      for (const auto& [key, e] : v->as_dict()) pending.emplace_back(&e, level + 1);
    }
  }
  return deepest;
}

bool fits_a_line(const Value& value) { return value_depth(value, kMaxValueDepth) <= kMaxValueDepth; }

bool fits_a_block(const Dict& dict) {
  for (const auto& [key, value] : dict)
    if (!fits_a_line(value)) return false;
  return true;
}

struct Writer {
  const Document& doc;
  std::string& out;
  bool fits = true;  // false once something was nested deeper than it reads back

  void annotations_of(std::string_view path, std::string_view indent) {
    if (const auto* list = doc.annotations.find(path)) write_annotations(out, *list, indent);
  }

  void entry_line(std::string_view indent, std::string_view key, const Value& value) {
    if (!fits_a_line(value)) fits = false;
    out += indent;
    append_key(out, key);
    out += " = ";
    append_value(out, value);
    out += '\n';
  }

  void vars() {
    out += "[vars]\n";
    for (const auto& [name, value] : doc.vars) entry_line("", name, value);
    out += '\n';
  }

  void block(std::string_view path, std::string_view key, const Dict& dict) {
    append_key(out, key);
    out += " = #{\n";
    for (const auto& [inner_key, inner_value] : dict) {
      annotations_of(join_path(path, inner_key), "  ");
      entry_line("  ", inner_key, inner_value);
    }
    out += "}#\n";
  }

  // A header of several segments, each quoted where it needs it.
  void header(const std::vector<std::string_view>& segments) {
    if (segments.size() == 1) {
      append_section_header(out, segments.front());
      return;
    }
    out += '[';
    for (size_t i = 0; i < segments.size(); ++i) {
      if (i > 0) out += '.';
      if (header_needs_quotes(segments[i]) && header_reads_back(segments[i]))
        append_escaped_name(out, segments[i]);
      else
        out += segments[i];
    }
    out += "]\n";
  }

  // `segments` name the section; `path` is their join. Recursion is bounded
  // by the deepest header, kMaxSectionDepth.
  void section(std::vector<std::string_view>& segments, const std::string& path,
               const Dict& entries) {
    annotations_of(path, "");
    header(segments);
    std::vector<const Dict::value_type*> deeper;
    for (const auto& entry : entries) {
      const auto& [key, value] = entry;
      if (value.is(Tag::Dict) && !fits_a_block(value.as_dict()) &&
          segments.size() < kMaxSectionDepth) {
        deeper.push_back(&entry);
        continue;
      }
      const std::string key_path = join_path(path, key);
      annotations_of(key_path, "");
      if (!value.is(Tag::Dict)) {
        entry_line("", key, value);
        continue;
      }
      if (!fits_a_block(value.as_dict())) fits = false;
      block(key_path, key, value.as_dict());
    }
    out += '\n';
    for (const auto* entry : deeper) {
      segments.push_back(entry->first);
      section(segments, join_path(path, entry->first), entry->second.as_dict());
      segments.pop_back();
    }
  }

  void document() {
    const bool vars_first = !doc.vars.empty() && vars_go_first(doc);
    if (vars_first) vars();

    bool wrote_top_level = false;
    for (const auto& [key, value] : doc.config) {
      if (value.is(Tag::Dict)) continue;
      annotations_of(key, "");
      entry_line("", key, value);
      wrote_top_level = true;
    }
    if (wrote_top_level) out += '\n';

    std::vector<std::string_view> segments;
    for (const auto& [name, value] : doc.config) {
      if (!value.is(Tag::Dict)) continue;
      segments.assign(1, name);
      section(segments, name, value.as_dict());
    }

    if (!doc.vars.empty() && !vars_first) vars();

    out.resize(trim_end(out).size());
    out += '\n';
  }
};

}  // namespace

std::string quote_name(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  append_key(out, name);
  return out;
}

std::string format_value(const Value& value) {
  std::string out;
  append_value(out, value);
  return out;
}


std::string serialize_document(const Document& document) {
  std::string out;
  // A rough first guess; the buffer grows geometrically beyond it.
  out.reserve(256 + 48 * (document.vars.size() + document.config.size()));
  Writer{document, out}.document();
  return out;
}

std::optional<std::string> serialize_within_limits(const Document& document) {
  std::string out;
  out.reserve(256 + 48 * (document.vars.size() + document.config.size()));
  Writer writer{document, out};
  writer.document();
  if (!writer.fits) return std::nullopt;
  return out;
}

}  // namespace brindle
