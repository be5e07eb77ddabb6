#include "serializer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "builder.h"
#include "builtins.h"
#include "lexer.h"
#include "stable_values.h"
#include "text.h"
#include "value_parser.h"
#include "value_writer.h"

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

enum class SegmentStyle { Usual, Quoted, Bare };

// The header line of a section. Usual: each segment quoted only when it
// needs it (the one form written for most names). Quoted segments cannot
// end in a backslash (the closing quote would look escaped to the path
// splitter) and bare ones cannot hold a point, so the other two forms are
// tried when the usual one does not read back.
std::string header_text(const std::vector<std::string_view>& segments, SegmentStyle style) {
  std::string out = "[";
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) out += '.';
    const std::string_view s = segments[i];
    const bool quoted = style == SegmentStyle::Quoted ||
                        (style == SegmentStyle::Usual && header_needs_quotes(s) && header_reads_back(s));
    if (quoted) append_escaped_name(out, s);
    else out += s;
  }
  out += "]\n";
  return out;
}

bool header_line_reads_back(const std::string& line, const std::vector<std::string_view>& segments) {
  Lexer lexer(line);
  LineRecord rec;
  if (!lexer.next(rec) || rec.kind != LineKind::Section) return false;
  const std::vector<std::string> back = split_key_path(rec.section_name);
  return std::equal(back.begin(), back.end(), segments.begin(), segments.end());
}

// The forms one segment may take in a header, most usual first. The path
// splitter toggles its quote state at every double quote not preceded by a
// backslash, so a segment ending in a backslash cannot close an escaped
// quote; written with its quotes unescaped, the closing quote may be
// skipped yet the state still end closed (`". a.b"c\"` holds `. a.b"c\`).
std::vector<std::string> segment_forms(std::string_view s) {
  std::vector<std::string> forms;
  std::string quoted;
  append_escaped_name(quoted, s);
  if (header_needs_quotes(s)) {
    forms.push_back(std::move(quoted));
    forms.emplace_back(s);
  } else {
    forms.emplace_back(s);
    forms.push_back(std::move(quoted));
  }
  std::string raw = "\"";
  raw += s;
  raw += '"';
  forms.push_back(std::move(raw));
  return forms;
}

// Segments written one by one in the first form that reads back followed by
// a further segment (so that it leaves no quote open), the last alone.
std::optional<std::string> mixed_header_line(const std::vector<std::string_view>& segments) {
  std::string out = "[";
  for (size_t i = 0; i < segments.size(); ++i) {
    const bool last = i + 1 == segments.size();
    std::vector<std::string_view> expected{segments[i]};
    if (!last) expected.push_back("x");
    bool found = false;
    for (const std::string& form : segment_forms(segments[i])) {
      const std::string probe = "[" + form + (last ? "]\n" : ".x]\n");
      if (!header_line_reads_back(probe, expected)) continue;
      if (i > 0) out += '.';
      out += form;
      found = true;
      break;
    }
    if (!found) return std::nullopt;
  }
  out += "]\n";
  if (!header_line_reads_back(out, segments)) return std::nullopt;
  return out;
}

// The header line for `segments` in the first form the lexer reads back as
// those segments, or nothing when no header carries them (an empty name, a
// bracket, a line feed). With `mixed`, each segment may also take its own
// form when no one form for all of them reads back.
std::optional<std::string> header_line(const std::vector<std::string_view>& segments, bool mixed = false) {
  bool plain = true;
  for (std::string_view s : segments) {
    if (!header_reads_back(s)) return std::nullopt;
    plain = plain && is_bare_name(s) && s != "vars";
  }
  if (plain) return header_text(segments, SegmentStyle::Usual);
  for (SegmentStyle style : {SegmentStyle::Usual, SegmentStyle::Quoted, SegmentStyle::Bare}) {
    std::string line = header_text(segments, style);
    if (header_line_reads_back(line, segments)) return line;
  }
  if (mixed) return mixed_header_line(segments);
  return std::nullopt;
}

// `a.b` into `out`, reusing its storage: a loop over a dict's keys
// allocates once, not once per key.
void assign_path(std::string& out, std::string_view a, std::string_view b) {
  out.assign(a);
  out += '.';
  out += b;
}

std::string join_path(std::string_view a, std::string_view b) {
  std::string p;
  p.reserve(a.size() + 1 + b.size());
  p += a;
  p += '.';
  p += b;
  return p;
}

// A path's segments as one set key: each segment after its length, so that
// no name can run into the next.
void append_segment_key(std::string& key, std::string_view segment) {
  key += std::to_string(segment.size());
  key += ':';
  key += segment;
}

std::string segments_key(const std::vector<std::string_view>& segments) {
  std::string key;
  for (std::string_view s : segments) append_segment_key(key, s);
  return key;
}

// True when `segments` lead to an entry of `config`, one per level.
bool present(const Dict& config, const std::vector<std::string_view>& segments) {
  const Dict* table = &config;
  for (std::string_view segment : segments) {
    if (table == nullptr) return false;
    auto it = table->find(segment);
    if (it == table->end()) return false;
    table = it->second.is(Tag::Dict) ? &it->second.as_dict() : nullptr;
  }
  return true;
}

// Every proper prefix of an annotated path, by segments (as parsed where
// the table kept them, else cut at points): a dict at such a prefix has
// annotations inside it that an inline dict would lose. Annotations left by
// a replaced entry are not written, so they do not count.
using PathSet = std::unordered_set<std::string, KeyHash, std::equal_to<>>;

PathSet annotated_parents(const AnnotationTable& table, const Dict& config) {
  PathSet parents;
  size_t index = 0;
  for (const auto& [path, list] : table) {
    const auto& kept = table.segments(index++);
    if (list.empty()) continue;
    std::vector<std::string_view> segments(kept.begin(), kept.end());
    if (kept.empty()) {
      for (size_t start = 0;;) {
        const size_t point = path.find('.', start);
        segments.push_back(std::string_view(path).substr(start, point - start));
        if (point == std::string::npos) break;
        start = point + 1;
      }
    }
    if (!present(config, segments)) continue;
    std::string key;
    for (size_t i = 0; i + 1 < segments.size(); ++i) {
      append_segment_key(key, segments[i]);
      parents.insert(key);
    }
  }
  return parents;
}

// A variable of the document that holds exactly `"` and that a `$` operand
// reaches by its bare name (a built-in of the same name would win).
std::string quote_variable_of(const Dict& vars) {
  for (const auto& [name, value] : vars) {
    if (value.is(Tag::String) && value.as_string() == "\"" && is_bare_name(name) &&
        !builtin_value(name).has_value())
      return std::string(name);
  }
  return {};
}

// The name of the variable dumps defines for strings holding a quote when
// the data brings no variables of its own.
constexpr std::string_view kQuoteVariable = "quote";

// ---------------------------------------------------------------------------
// Document
//
// Sections at the root, one level of blocks in each, values inline below
// that. A dict that does not fit a block (an entry nested deeper than a value
// may be, a key no inline dict carries, annotations inside an entry) becomes
// a section of its own after its parent's entries, down to the deepest
// header the reader takes; a root dict that no header names is a block
// among the top-level keys. Every document the reader builds fits that
// layout except strings holding a quote, which need a variable holding `"`;
// what does not fit is written all the same and reported.

// Levels of arrays and dicts in `root` (0 for a scalar), counted no further
// than `cap` + 1; walked without recursion.
int value_depth(const Value& root, int cap) {
  if (!root.is(Tag::Array) && !root.is(Tag::Dict)) return 0;
  int deepest = 0;
  std::vector<std::pair<const Value*, int>> pending{{&root, 0}};
  StableValues decoded;  // items of compact arrays, kept while pending points at them
  while (!pending.empty() && deepest <= cap) {
    const auto [v, level] = pending.back();
    pending.pop_back();
    if (v->is(Tag::Array)) {
      deepest = std::max(deepest, level + 1);
      // Packed items are integers: they add no level.
      const ArrayView a = v->as_array();
      if (const Value* items = a.values()) {
        for (size_t i = 0; i < a.size(); ++i) pending.emplace_back(items + i, level + 1);
      } else if (a.is_compact()) {
        for (size_t i = 0; i < a.size(); ++i) pending.emplace_back(&a.item(i, decoded.push()), level + 1);
      }
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

using Problem = std::optional<SerializeFailure>;

Problem problem(SerializeFailure::Kind kind, std::string message) {
  return SerializeFailure{kind, std::move(message)};
}

struct Writer {
  explicit Writer(const Document& d) : doc(d) {}

  const Document& doc;
  std::string quote_var;        // a variable holding `"`, or empty
  bool defines_quote = false;   // quote_var is not one of the document's
  bool quote_used = false;
  bool quote_any_key = true;    // key lines may quote any inline key (append_line_value)
  // Made on first use: only a dict inside a block asks.
  std::optional<PathSet> annotated;
  std::string out;
  Problem failure;  // the first problem met

  void record(Problem p) {
    if (p && !failure) failure = std::move(p);
  }

  Problem annotations_of(std::string_view path, std::string_view indent) {
    const auto* list = doc.annotations.find(path);
    if (list == nullptr || write_annotations(out, *list, indent)) return std::nullopt;
    return problem(SerializeFailure::Kind::Unwritable,
                   "an annotation of `" + std::string(path) +
                       "` cannot be written on one line (a line feed, or a comma in a list item)");
  }

  Problem entry_line(std::string_view indent, std::string_view key, const Value& value,
                     std::string_view path) {
    Problem p;
    out += indent;
    append_key(out, key);
    if (key.find('\n') != std::string_view::npos)
      p = problem(SerializeFailure::Kind::Unwritable,
                  "the name `" + std::string(path) + "` holds a line feed, which no name can carry");
    out += " = ";
    if (!fits_a_line(value)) {
      append_value(out, value);
      if (!p) p = problem(SerializeFailure::Kind::TooDeep, "`" + std::string(path) + "` is nested too deeply");
    } else {
      switch (append_line_value(out, value, quote_var, quote_any_key)) {
        case LineValue::Written: break;
        case LineValue::WrittenWithQuote: quote_used = true; break;
        case LineValue::NeedsQuoteVariable:
          append_value(out, value);
          if (!p)
            p = problem(SerializeFailure::Kind::NeedsQuoteVariable,
                        "the value of `" + std::string(path) +
                            "` holds a text with a double quote that reads back only when joined with a "
                            "variable holding `\"`, and the document defines none");
          break;
        case LineValue::Unwritable:
          append_value(out, value);
          if (!p)
            p = problem(SerializeFailure::Kind::Unwritable,
                        "the value of `" + std::string(path) +
                            "` holds a dict key that no inline dict carries (a double quote, a "
                            "backslash or a line feed)");
          break;
      }
    }
    out += '\n';
    return p;
  }

  // A block at `path` (whose segments are `segments`); the first problem of
  // its lines, annotations inside its dict entries included. `inline_dicts`
  // is set when a dict entry is what does not read back (a section would
  // hold it).
  Problem block(std::vector<std::string_view>& segments, const std::string& path, std::string_view key,
                const Dict& dict, bool* inline_dicts = nullptr) {
    Problem first;
    if (!fits_a_block(dict))
      first = problem(SerializeFailure::Kind::TooDeep, "`" + path + "` is nested too deeply");
    if (key.find('\n') != std::string_view::npos)
      first = problem(SerializeFailure::Kind::Unwritable,
                      "the name `" + path + "` holds a line feed, which no name can carry");
    append_key(out, key);
    out += " = #{\n";
    std::string inner_path;
    for (const auto& [inner_key, inner_value] : dict) {
      assign_path(inner_path, path, inner_key);
      Problem p = annotations_of(inner_path, "  ");
      Problem line = entry_line("  ", inner_key, inner_value, inner_path);
      if (!line && inner_value.is(Tag::Dict) && !doc.annotations.empty()) {
        if (!annotated) annotated = annotated_parents(doc.annotations, doc.config);
        segments.push_back(inner_key);
        if (annotated->contains(segments_key(segments)))
          line = problem(SerializeFailure::Kind::Unwritable,
                         "annotations inside `" + inner_path + "` cannot be written below a block");
        segments.pop_back();
      }
      if (line && inner_value.is(Tag::Dict) && line->kind == SerializeFailure::Kind::Unwritable &&
          inner_key.find('\n') == std::string::npos && inline_dicts != nullptr)
        *inline_dicts = true;
      if (!p) p = std::move(line);
      if (!first) first = std::move(p);
    }
    out += "}#\n";
    return first;
  }

  // `segments` name the section; `path` is their join. Recursion is bounded
  // by the deepest header, kMaxSectionDepth.
  void section(std::vector<std::string_view>& segments, const std::string& path, const Dict& entries,
               const std::string& header) {
    record(annotations_of(path, ""));
    out += header;
    std::vector<std::pair<const DictEntry*, std::string>> deeper;
    std::string key_path;
    for (const auto& entry : entries) {
      const auto& [key, value] = entry;
      assign_path(key_path, path, key);
      if (!value.is(Tag::Dict)) {
        record(annotations_of(key_path, ""));
        record(entry_line("", key, value, key_path));
        continue;
      }
      // A block where one reads back, else a deeper section where a header
      // names it, else the block as it is (and its problem).
      std::optional<std::string> deeper_header;
      auto section_header = [&] {
        if (segments.size() < kMaxSectionDepth) {
          segments.push_back(entry.first);
          deeper_header = header_line(segments, true);
          segments.pop_back();
        }
        return deeper_header.has_value();
      };
      if (!fits_a_block(value.as_dict()) && section_header()) {
        deeper.emplace_back(&entry, std::move(*deeper_header));
        continue;
      }
      const size_t mark = out.size();
      bool inline_dicts = false;
      auto write_block = [&] {
        Problem p = annotations_of(key_path, "");
        segments.push_back(entry.first);
        Problem q = block(segments, key_path, entry.first, entry.second.as_dict(), &inline_dicts);
        segments.pop_back();
        if (!p) p = std::move(q);
        return p;
      };
      // Inline keys quoted against the odds only where no section holds
      // the dict: a section is the form these blocks were written in.
      quote_any_key = false;
      Problem p = write_block();
      quote_any_key = true;
      if (inline_dicts) {
        out.resize(mark);
        if (section_header()) {
          deeper.emplace_back(&entry, std::move(*deeper_header));
          continue;
        }
        p = write_block();
      }
      record(std::move(p));
    }
    out += '\n';
    for (auto& [entry, line] : deeper) {
      segments.push_back(entry->first);
      section(segments, join_path(path, entry->first), entry->second.as_dict(), line);
      segments.pop_back();
    }
  }

  // The variables section; a variable that other variables join with comes
  // first, as a variable is only seen by the lines below it.
  std::string variables() {
    std::string text = "[vars]\n";
    std::swap(out, text);
    const bool before = quote_used;
    quote_used = false;
    Problem first;
    auto write_all = [&](const std::string* skip) {
      for (const auto& [name, value] : doc.vars) {
        if (skip != nullptr && name == *skip) continue;
        Problem p = entry_line("", name, value, name);
        if (!first) first = std::move(p);
      }
    };
    write_all(nullptr);
    if (quote_used) {
      out.resize(7);  // "[vars]\n"
      first.reset();
      out += quote_var;
      out += " = \"\\\"\"\n";
      write_all(defines_quote ? nullptr : &quote_var);
    } else if (before && defines_quote) {
      out.insert(7, quote_var + " = \"\\\"\"\n");
    }
    quote_used = quote_used || before;
    record(std::move(first));
    out += '\n';
    std::swap(out, text);
    return text;
  }

  void document() {
    // Root dicts that no header names are blocks among the top-level keys.
    std::vector<std::optional<std::string>> headers;
    bool top_level = false;
    for (const auto& [name, value] : doc.config) {
      if (value.is(Tag::Dict)) headers.push_back(header_line({name}));
      top_level = top_level || !value.is(Tag::Dict) || !headers.back();
    }

    bool wrote_top_level = false;
    std::vector<std::string_view> segments;
    size_t index = 0;
    for (const auto& [key, value] : doc.config) {
      const bool dict = value.is(Tag::Dict);
      if (dict && headers[index++]) continue;
      record(annotations_of(key, ""));
      if (dict) {
        segments.assign(1, key);
        record(block(segments, std::string(key), key, value.as_dict()));
      } else {
        record(entry_line("", key, value, key));
      }
      wrote_top_level = true;
    }
    if (wrote_top_level) out += '\n';

    index = 0;
    for (const auto& [name, value] : doc.config) {
      if (!value.is(Tag::Dict) || !headers[index++]) continue;
      segments.assign(1, name);
      section(segments, std::string(name), value.as_dict(), *headers[index - 1]);
    }

    // Everything after `[vars]` up to the next section header reads back as
    // a variable, and annotation lines there are dropped. So the variables
    // go first only when the next thing written is a header that carries no
    // annotations; otherwise they go after every section.
    const std::string vars = doc.vars.empty() && !(defines_quote && quote_used) ? std::string() : variables();
    if (!vars.empty()) {
      bool first = !top_level;
      if (first && !doc.config.empty()) {
        const auto* list = doc.annotations.find(doc.config.begin()->first);
        first = list == nullptr || list->empty();
      }
      if (first) out.insert(0, vars);
      else out += vars;
    }

    out.resize(trim_end(out).size());
    out += '\n';
  }
};

Writer make_writer(const Document& document, bool may_define_quote) {
  Writer w(document);
  w.quote_var = quote_variable_of(document.vars);
  if (w.quote_var.empty() && may_define_quote && document.vars.empty()) {
    w.quote_var = kQuoteVariable;
    w.defines_quote = true;
  }
  w.out.reserve(256 + 48 * (document.vars.size() + document.config.size()));
  w.document();
  return w;
}

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

std::string serialize_document(const Document& document) { return make_writer(document, false).out; }

SerializeResult serialize_checked(const Document& document, SerializeOptions options) {
  Writer w = make_writer(document, options.may_define_quote);
  if (w.failure) return std::move(*w.failure);
  return std::move(w.out);
}

std::optional<std::string> serialize_within_limits(const Document& document) {
  Writer w = make_writer(document, false);
  if (w.failure && w.failure->kind == SerializeFailure::Kind::TooDeep) return std::nullopt;
  return std::move(w.out);
}

}  // namespace brindle
