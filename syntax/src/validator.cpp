#include "validator.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "display.h"
#include "pattern_cache.h"
#include "pattern_gate.h"
#include "text.h"

namespace brindle {
namespace {

// Follows the segments of a path as they were parsed, one per level.
// Annotated keys come in source order, mostly several under one section:
// the dict reached by the last path's parents is kept for the next one.
class SegmentWalk {
 public:
  explicit SegmentWalk(const Dict& config) : config_(config) {}

  const DictEntry* entry(const std::vector<std::string>& segments) {
    if (segments.empty()) return nullptr;
    const size_t parents = segments.size() - 1;
    if (!same_parents(segments)) {
      parents_.assign(segments.begin(), segments.begin() + static_cast<std::ptrdiff_t>(parents));
      parent_dict_ = &config_;
      cached_ = true;
      for (size_t i = 0; i < parents && parent_dict_ != nullptr; ++i) {
        const DictEntry* e = find(parent_dict_, segments[i]);
        parent_dict_ = e != nullptr && e->second.is(Tag::Dict) ? &e->second.as_dict() : nullptr;
      }
    }
    return parent_dict_ == nullptr ? nullptr : find(parent_dict_, segments.back());
  }

 private:
  static const DictEntry* find(const Dict* table, std::string_view key) {
    auto it = table->find(key);
    return it == table->end() ? nullptr : &*it;
  }
  bool same_parents(const std::vector<std::string>& segments) const {
    if (!cached_ || parents_.size() + 1 != segments.size()) return false;
    for (size_t i = 0; i < parents_.size(); ++i) {
      if (parents_[i] != segments[i]) return false;
    }
    return true;
  }

  const Dict& config_;
  std::vector<std::string> parents_;
  const Dict* parent_dict_ = nullptr;
  bool cached_ = false;  // parents_ and parent_dict_ describe a walk
};

bool is_empty(const Value& v) {
  switch (v.tag()) {
    case Tag::Null: return true;
    case Tag::String: return v.as_string().empty();
    case Tag::Array: return v.as_array().empty();
    case Tag::Dict: return v.as_dict().empty();
    default: return false;
  }
}

std::string_view type_name(const Value& v) {
  switch (v.tag()) {
    case Tag::String: return "string";
    case Tag::Integer: return "int";
    case Tag::Float: return "float";
    case Tag::Bool: return "bool";
    case Tag::Null: return "null";
    case Tag::Array: return "list";
    case Tag::Dict: return "dict";
  }
  return "null";
}

bool is_number(const Value& v) { return v.is(Tag::Integer) || v.is(Tag::Float); }

bool all_elements(const Value& v, bool (*accept)(const Value&)) {
  if (!v.is(Tag::Array)) return false;
  const ArrayView a = v.as_array();
  if (a.packed_width() != 0 && !a.empty()) return accept(a.front());  // packed: integers alike
  for (const Value& e : a) {
    if (!accept(e)) return false;
  }
  return true;
}

bool is_email(std::string_view s) {
  if (s.empty() || s.front() == '@' || s.back() == '.' || s.back() == '@') return false;
  size_t at = s.find('@');
  if (at == std::string_view::npos || s.find('@', at + 1) != std::string_view::npos) return false;
  if (s.find('.', at + 1) == std::string_view::npos) return false;
  for (size_t i = 0; i < s.size();) {
    if (is_white_space(decode_utf8(s, i))) return false;
  }
  return true;
}

// Digits then one unit letter; all bytes before the last must be ASCII
// digits, so counting bytes here is counting characters.
bool is_duration(std::string_view s) {
  if (s.size() < 2) return false;
  char unit = s.back();
  if (unit != 'd' && unit != 'h' && unit != 'm' && unit != 's') return false;
  for (size_t i = 0; i + 1 < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

// Type names outside this list accept every value.
bool has_type(const Value& v, std::string_view name) {
  auto is_string = [](const Value& e) { return e.is(Tag::String); };
  auto is_int = [](const Value& e) { return e.is(Tag::Integer); };
  auto is_bool = [](const Value& e) { return e.is(Tag::Bool); };
  if (name == "string" || name == "path") return v.is(Tag::String);
  if (name == "int") return v.is(Tag::Integer);
  if (name == "float") return is_number(v);
  if (name == "bool") return v.is(Tag::Bool);
  if (name == "dict") return v.is(Tag::Dict);
  if (name == "list") return v.is(Tag::Array);
  if (name == "list[string]") return all_elements(v, is_string);
  if (name == "list[int]") return all_elements(v, is_int);
  if (name == "list[float]") return all_elements(v, is_number);
  if (name == "list[bool]") return all_elements(v, is_bool);
  if (name == "url") {
    if (!v.is(Tag::String)) return false;
    std::string_view s = v.as_string();
    return s.starts_with("http://") || s.starts_with("https://");
  }
  if (name == "email") return v.is(Tag::String) && is_email(v.as_string());
  if (name == "duration") return v.is(Tag::String) && is_duration(v.as_string());
  return true;
}

double as_double(const Value& v) {
  return v.is(Tag::Integer) ? static_cast<double>(v.as_integer()) : v.as_float();
}

// The numeric bound of min/max, or nothing when the argument is not a number.
bool numeric_bound(const AnnotationArg& arg, double& out) {
  if (auto* i = get_if<int64_t>(&arg)) {
    out = static_cast<double>(*i);
    return true;
  }
  if (auto* d = get_if<double>(&arg)) {
    out = *d;
    return true;
  }
  return false;
}

int64_t truncate_saturating(double d) {
  if (std::isnan(d)) return 0;
  // 2^63 is exactly representable; every double below it converts safely.
  constexpr double kLimit = 9223372036854775808.0;
  if (d >= kLimit) return std::numeric_limits<int64_t>::max();
  if (d <= -kLimit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(d);
}

bool length_bound(const AnnotationArg& arg, int64_t& out) {
  if (auto* i = get_if<int64_t>(&arg)) {
    out = *i;
    return true;
  }
  if (auto* d = get_if<double>(&arg)) {
    out = truncate_saturating(*d);
    return true;
  }
  return false;
}

bool length_of(const Value& v, uint64_t& out) {
  if (v.is(Tag::String)) {
    out = count_chars(v.as_string());
    return true;
  }
  if (v.is(Tag::Array)) {
    out = v.as_array().size();
    return true;
  }
  return false;
}

bool value_below(double v, double bound) { return v < bound; }
bool value_above(double v, double bound) { return v > bound; }

// Signed comparison of an unsigned length with a signed bound.
bool length_below(uint64_t len, int64_t bound) {
  return bound > 0 && len < static_cast<uint64_t>(bound);
}
bool length_above(uint64_t len, int64_t bound) {
  return bound < 0 || len > static_cast<uint64_t>(bound);
}

// Names that do not apply to a Dict value; they never enter its rule table.
bool excluded_for_dict(std::string_view name) {
  static constexpr std::string_view kNames[] = {"type",    "min",  "max",      "minlen", "maxlen",
                                                "pattern", "enum", "positive", "nonzero"};
  for (auto n : kNames) {
    if (n == name) return true;
  }
  return false;
}

constexpr std::string_view kPatternLimitWords =
    "@pattern not checked: the document's patterns exceed the compile limit";

class PathCheck {
 public:
  PathCheck(const Document& doc, std::string_view path,
            const AnnotationTable::Segments& segments, AnnotationList list,
            const DictEntry& entry, PatternCache& patterns, std::vector<Diagnostic>& out)
      : path_(path), list_(list), value_(entry.second), patterns_(patterns), out_(out) {
    if (const std::optional<Span> span = entry.key_span()) {
      key_span_ = *span;
    } else if (auto span = segments.empty() ? doc.key_span(path) : doc.key_span(segments)) {
      key_span_ = *span;
    }
  }

  void run() {
    if (auto* a = rule("required")) required(*a);
    if (auto* a = rule("type")) type(*a);
    if (auto* a = rule("min")) numeric_rule(*a, value_below, " is below @min: ");
    if (auto* a = rule("max")) numeric_rule(*a, value_above, " exceeds @max: ");
    if (auto* a = rule("minlen")) length_rule(*a, length_below, " is below @minlen: ");
    if (auto* a = rule("maxlen")) length_rule(*a, length_above, " exceeds @maxlen: ");
    if (auto* a = rule("pattern")) pattern(*a);
    if (auto* a = rule("enum")) enumeration(*a);
    if (auto* a = rule("positive")) positive(*a);
    if (auto* a = rule("nonzero")) nonzero(*a);
    if (auto* a = rule("nonempty")) nonempty(*a);
    if (auto* a = rule("deprecated")) deprecated(*a);
  }

 private:
  // The rule table lookup: the last annotation of that name wins.
  const Annotation* rule(std::string_view name) const {
    if (value_.is(Tag::Dict) && excluded_for_dict(name)) return nullptr;
    for (auto it = list_.rbegin(); it != list_.rend(); ++it) {
      if (it->name == name) return &*it;
    }
    return nullptr;
  }

  std::string prefix() const { return "[" + std::string(path_) + "] "; }

  // Carries the path and the annotation out, so that a report can point at
  // the rule as well as at the value.
  void violation(std::string message, const Annotation& a) {
    out_.push_back(Diagnostic{std::move(message), key_span_, false, DiagnosticKind::Validation,
                              std::string(path_), a.span});
  }

  void required(const Annotation& a) {
    if (is_empty(value_)) violation(prefix() + "value is @required but is empty or null", a);
  }

  void type(const Annotation& a) {
    auto* name = get_if<std::string>(&a.arg);
    if (name == nullptr || has_type(value_, *name)) return;
    violation(prefix() + "expected @type: " + *name + ", got " + std::string(type_name(value_)),
              a);
  }

  // min and max; `fails` compares the value with the bound.
  void numeric_rule(const Annotation& a, bool (*fails)(double, double), std::string_view words) {
    double bound = 0;
    if (!is_number(value_) || !numeric_bound(a.arg, bound)) return;
    double v = as_double(value_);
    if (fails(v, bound)) {
      violation(prefix() + "value " + shortest_form(v) + std::string(words) + shortest_form(bound),
                a);
    }
  }

  // minlen and maxlen; `fails` compares the length with the bound.
  void length_rule(const Annotation& a, bool (*fails)(uint64_t, int64_t), std::string_view words) {
    uint64_t len = 0;
    int64_t bound = 0;
    if (!length_of(value_, len) || !length_bound(a.arg, bound)) return;
    if (fails(len, bound)) {
      violation(prefix() + "length " + std::to_string(len) + std::string(words) +
                    decimal_form(bound),
                a);
    }
  }

  void pattern(const Annotation& a) {
    auto* source = get_if<std::string>(&a.arg);
    if (source == nullptr || !value_.is(Tag::String)) return;
    const Pattern* compiled = patterns_.get(*source);
    if (compiled == nullptr) {
      out_.push_back(Diagnostic{prefix() + std::string(kPatternLimitWords), a.span, false,
                                DiagnosticKind::Annotation, std::string(path_), a.span});
      return;
    }
    if (!compiled->ok()) {
      out_.push_back(Diagnostic{prefix() + "invalid @pattern regex: " + compiled->error(), a.span,
                                false, DiagnosticKind::Annotation, std::string(path_), a.span});
      return;
    }
    const std::string_view text = value_.as_string();
    if (!compiled->full_match(text)) {
      violation(prefix() + "value `" + std::string(text) + "` does not match @pattern: `" + *source + "`", a);
    }
  }

  void enumeration(const Annotation& a) {
    auto* items = get_if<std::vector<std::string>>(&a.arg);
    if (items == nullptr || !value_.is(Tag::String)) return;
    const std::string_view text = value_.as_string();
    for (const auto& item : *items) {
      if (item == text) return;
    }
    std::string joined;
    for (size_t i = 0; i < items->size(); ++i) {
      if (i > 0) joined += ", ";
      joined += (*items)[i];
    }
    violation(prefix() + "value `" + std::string(text) + "` not in @enum: [" + joined + "]", a);
  }

  void positive(const Annotation& a) {
    if (!is_number(value_)) return;
    double v = as_double(value_);
    if (v <= 0) violation(prefix() + "value " + shortest_form(v) + " must be @positive (> 0)", a);
  }

  void nonzero(const Annotation& a) {
    if (is_number(value_) && as_double(value_) == 0) violation(prefix() + "value must be @nonzero", a);
  }

  void nonempty(const Annotation& a) {
    if (is_empty(value_)) violation(prefix() + "value must be @nonempty", a);
  }

  void deprecated(const Annotation& a) {
    std::string message = "`" + std::string(path_) + "` is deprecated";
    if (auto* note = get_if<std::string>(&a.arg)) message += ": " + *note;
    out_.push_back(
        Diagnostic{std::move(message), key_span_, true, DiagnosticKind::Deprecation,
                   std::string(path_), a.span});
  }

  std::string_view path_;
  AnnotationList list_;
  const Value& value_;
  PatternCache& patterns_;
  std::vector<Diagnostic>& out_;
  Span key_span_{0, 0};
};

}  // namespace

std::vector<Diagnostic> validate_document(const Document& document) {
  return validate_document(document, ValidateOptions{});
}

std::vector<Diagnostic> validate_document(const Document& document, const ValidateOptions& options) {
  std::vector<Diagnostic> out;
  std::optional<PatternCache> own;
  PatternCache& patterns =
      options.patterns != nullptr ? *options.patterns : own.emplace(pattern_budget_for(document.source_size));
  const AnnotationTable& table = document.annotations;
  SegmentWalk walk(document.config);
  for (size_t i = 0; i < table.size(); ++i) {
    const auto [path, list] = table.entry(i);
    // Entries that came with their segments are reached by them; a path set
    // without them is cut at every point, nothing unquoted.
    const auto& segments = table.segments(i);
    const DictEntry* entry = segments.empty() ? entry_at(document.config, path)
                                              : walk.entry(segments);
    if (entry == nullptr || list.empty()) continue;
    const size_t before = out.size();
    PathCheck(document, path, segments, list, *entry, patterns, out).run();
    if (!options.stop_at_first_error) continue;
    for (size_t k = before; k < out.size(); ++k) {
      if (!out[k].is_warning) {
        out.resize(k + 1);
        return out;
      }
    }
  }
  return out;
}

}  // namespace brindle
