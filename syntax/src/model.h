// The shared vocabulary of the language core: values, spans, annotations,
// diagnostics, variable references and the document one parse produces.
//
// Everything here is a plain owned value: copying is a deep copy, nothing is
// shared, nothing does I/O. Maps that carry values (`Dict`) keep byte-wise key
// order, and each entry the builder stored carries its key and value spans;
// the annotation table keeps a deterministic order of its own (see
// `AnnotationTable`).
#pragma once

#include <cstdint>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "dict.h"
#include "span.h"

namespace brindle {

class Value;

struct Null {
  friend bool operator==(Null, Null) { return true; }
};

using Array = std::vector<Value>;

// Fixed tag order; it is the variant index of Value::Storage.
enum class Tag : uint8_t {
  String = 0,
  Integer = 1,
  Float = 2,
  Bool = 3,
  Null = 4,
  Array = 5,
  Dict = 6,
};

class Value {
 public:
  using Storage = std::variant<std::string, int64_t, double, bool, Null, Array, Dict>;

  Value() : v_(Null{}) {}
  static Value string(std::string s) { return Value(std::in_place_index<0>, std::move(s)); }
  static Value integer(int64_t i) { return Value(std::in_place_index<1>, i); }
  static Value floating(double d) { return Value(std::in_place_index<2>, d); }
  static Value boolean(bool b) { return Value(std::in_place_index<3>, b); }
  static Value null() { return Value(); }
  static Value array(Array a) { return Value(std::in_place_index<5>, std::move(a)); }
  static Value dict(Dict d) { return Value(std::in_place_index<6>, std::move(d)); }

  Tag tag() const { return static_cast<Tag>(v_.index()); }
  bool is(Tag t) const { return tag() == t; }

  const std::string& as_string() const { return std::get<0>(v_); }
  std::string& as_string() { return std::get<0>(v_); }
  int64_t as_integer() const { return std::get<1>(v_); }
  double as_float() const { return std::get<2>(v_); }
  bool as_bool() const { return std::get<3>(v_); }
  const Array& as_array() const { return std::get<5>(v_); }
  Array& as_array() { return std::get<5>(v_); }
  const Dict& as_dict() const { return std::get<6>(v_); }
  Dict& as_dict() { return std::get<6>(v_); }

  const Storage& storage() const { return v_; }

  // Structural equality (floats by IEEE ==, so NaN != NaN).
  friend bool operator==(const Value& a, const Value& b) { return a.v_ == b.v_; }

 private:
  // Builds the alternative in place: no temporary variant to move from.
  template <size_t I, class... Args>
  explicit Value(std::in_place_index_t<I> index, Args&&... args)
      : v_(index, std::forward<Args>(args)...) {}
  Storage v_;
};

// One entry of a Dict. `first` and `second` read like a std::map entry (and
// structured bindings give those two); the spans are set when the builder
// stored the entry from the source, and are the last ones stored for its key.
struct DictEntry {
  std::string first;
  Value second;
  Span key_span;
  Span value_span;
  bool has_key_span = false;
  bool has_value_span = false;
};

template <size_t I>
decltype(auto) get(DictEntry& e) {
  if constexpr (I == 0) return (e.first); else return (e.second);
}
template <size_t I>
decltype(auto) get(const DictEntry& e) {
  if constexpr (I == 0) return (e.first); else return (e.second);
}

inline Dict::iterator Dict::begin() { return entries_.begin(); }
inline Dict::iterator Dict::end() { return entries_.end(); }
inline Dict::const_iterator Dict::begin() const { return entries_.begin(); }
inline Dict::const_iterator Dict::end() const { return entries_.end(); }
inline size_t Dict::size() const { return entries_.size(); }
inline bool Dict::empty() const { return entries_.empty(); }

// Argument of one annotation. Variant index order is the argument tag order:
// None 0, Text 1, Integer 2, Float 3, List 4.
using AnnotationArg =
    std::variant<std::monostate, std::string, int64_t, double, std::vector<std::string>>;

enum class ArgKind : uint8_t { None = 0, Text = 1, Integer = 2, Float = 3, List = 4 };
inline ArgKind arg_kind(const AnnotationArg& a) { return static_cast<ArgKind>(a.index()); }

struct Annotation {
  std::optional<Span> arg_span;   // present exactly when an argument was written
  AnnotationArg arg;              // std::monostate when there is none
  std::string name;               // without the '@'
  std::vector<Span> item_spans;   // one per List item
  Span span;                      // the whole annotation text, from its '@'
  Span name_span;                 // '@' through the end of the name
};

enum class DiagnosticKind : uint8_t {
  Syntax = 0,
  Variable = 1,
  Annotation = 2,
  Validation = 3,
  Deprecation = 4,
};

struct Diagnostic {
  std::string message;  // complete message, no position
  Span span;
  bool is_warning = false;
  DiagnosticKind kind = DiagnosticKind::Syntax;
  // Validation and deprecation findings: the key path, and the annotation
  // whose rule produced the finding.
  std::string path{};
  std::optional<Span> rule_span{};
};

enum class VariableKind : uint8_t { Document = 0, Builtin = 1, Environment = 2 };

struct VariableRef {
  std::string name;  // without '$'; for $ENV.X the name X
  Span span;         // the whole '$' operand
  VariableKind kind = VariableKind::Document;
};

// Read access to environment variables for `$ENV.` references.
class EnvLookup {
 public:
  virtual ~EnvLookup() = default;
  virtual std::optional<std::string> get(std::string_view name) const = 0;
};

// An environment with no variables; useful to callers that want none.
class EmptyEnv final : public EnvLookup {
 public:
  std::optional<std::string> get(std::string_view) const override { return std::nullopt; }
};

// Key path -> annotations, walked in a deterministic order: the order in
// which each path first appears in the source (the builder arranges that), so
// that the first finding of a walk is the first problem in the file.
//
// Each entry may also keep the segments of its path as they were parsed: a
// quoted name may hold a point, so the joined path alone does not say which
// entry the annotations belong to. Entries set without segments have none.
class AnnotationTable {
 public:
  using Entry = std::pair<std::string, std::vector<Annotation>>;
  using Segments = std::vector<std::string>;

  // Replaces the list of an existing path in place; appends a new path.
  void set(std::string path, std::vector<Annotation> list);
  // The same, recording the path's segments (replacing earlier ones).
  void set(std::string path, std::vector<Annotation> list, Segments segments);
  const std::vector<Annotation>* find(std::string_view path) const;
  // The segments recorded for `path`; null when the path has no entry or
  // was set without them.
  const Segments* find_segments(std::string_view path) const;
  // The segments of the entry at `index` in walk order; empty when the entry
  // was set without them.
  const Segments& segments(size_t index) const { return segments_[index]; }
  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }
  std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
  std::vector<Entry>::const_iterator end() const { return entries_.end(); }
  // Reorders the entries by the start of each list's first annotation
  // (stable; empty lists keep their relative place at the end).
  void sort_by_source_position();

 private:
  // The entry number of `path`, or size() when absent.
  size_t find_index(std::string_view path) const;
  void rebuild_index();

  std::vector<Entry> entries_;
  std::vector<Segments> segments_;  // beside entries_, index for index
  // Open addressing, at most half full: 0 when empty, else the high half of
  // the path's hash and the entry number + 1. No allocation per path.
  std::vector<uint64_t> slots_;
};

// The entry at a dotted key path, found the way the validator resolves
// paths: one '.'-separated piece per level, nothing unquoted. Null when
// absent.
const DictEntry* entry_at(const Dict& root, std::string_view path);
// The entry reached by following `segments` as they were parsed, one per
// level, so that a name holding a point stays one name. Null when absent.
const DictEntry* entry_at(const Dict& root, const std::vector<std::string>& segments);

struct Document {
  std::vector<VariableRef> variable_refs;
  std::vector<Diagnostic> diagnostics;
  AnnotationTable annotations;
  Dict config;  // entries carry their key and value spans
  Dict vars;    // likewise, for the variables sections
  uint64_t source_size = 0;  // bytes of the text it was built from

  // Positions recorded for paths whose entries were later replaced together
  // with the dict holding them (a section overwritten by a key of the same
  // name). A path whose entry was made again without positions of its own
  // (as a dict along a header's path, or inside an inline dict) still
  // reports these, the last ones recorded for it. Rare, so a plain map.
  struct ReplacedSpans {
    Span key_span;
    Span value_span;
    bool has_key_span = false;
    bool has_value_span = false;
  };
  std::unordered_map<std::string, ReplacedSpans> replaced_spans;

  // Positions by key path, read from the entries, else from replaced_spans
  // (empty when the path has none). A section header records the span of
  // its name as the key span.
  std::optional<Span> key_span(std::string_view path) const;
  std::optional<Span> value_span(std::string_view path) const;
  // The same by the segments of the path, for callers that have them: a
  // quoted name may hold a point, which the dotted form cannot tell apart.
  std::optional<Span> key_span(const std::vector<std::string>& segments) const;
  std::optional<Span> value_span(const std::vector<std::string>& segments) const;
  std::optional<Span> var_key_span(std::string_view name) const;
  std::optional<Span> var_value_span(std::string_view name) const;
  // Number of configuration paths that have a key span.
  size_t key_span_count() const;
};

}  // namespace brindle

template <>
struct std::tuple_size<brindle::DictEntry> : std::integral_constant<size_t, 2> {};
template <>
struct std::tuple_element<0, brindle::DictEntry> {
  using type = std::string;
};
template <>
struct std::tuple_element<1, brindle::DictEntry> {
  using type = brindle::Value;
};
