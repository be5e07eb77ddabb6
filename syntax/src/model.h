// The shared vocabulary of the language core: values, spans, annotations,
// diagnostics, variable references and the document one parse produces.
//
// Everything here is a plain owned value: copying is a deep copy, nothing is
// shared, nothing does I/O. Maps that carry values (`Dict`) keep byte-wise key
// order; the tables that carry positions are hash maps, and the annotation
// table keeps a deterministic order of its own (see `AnnotationTable`).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "span.h"

namespace brindle {

class Value;

struct Null {
  friend bool operator==(Null, Null) { return true; }
};

using Array = std::vector<Value>;
// std::string compares through char_traits<char>, which orders as unsigned
// bytes, so this map iterates in byte-wise key order.
using Dict = std::map<std::string, Value, std::less<>>;

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
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::vector<Entry> entries_;
  std::vector<Segments> segments_;  // beside entries_, index for index
  std::unordered_map<std::string, size_t, Hash, std::equal_to<>> index_;
};

struct Document {
  std::vector<VariableRef> variable_refs;
  std::vector<Diagnostic> diagnostics;
  AnnotationTable annotations;
  SpanMap key_spans;
  SpanMap value_spans;
  SpanMap var_key_spans;
  SpanMap var_value_spans;
  Dict config;
  Dict vars;
  uint64_t source_size = 0;  // bytes of the text it was built from
};

}  // namespace brindle
