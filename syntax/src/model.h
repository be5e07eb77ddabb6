// The shared vocabulary of the language core: values, spans, annotations,
// diagnostics, variable references and the document one parse produces.
//
// Everything here is a plain owned value: copying is a deep copy, nothing is
// shared, nothing does I/O. Maps that carry values (`Dict`) keep byte-wise key
// order, and each entry the builder stored carries its key and value spans;
// the annotation table keeps a deterministic order of its own (see
// `AnnotationTable`).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>
#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "annotation_arg.h"
#include "arena.h"
#include "dict.h"
#include "entry_spans.h"
#include "key.h"
#include "key_hash.h"
#include "optional_span.h"
#include "span.h"
#include "span_list.h"
#include "variable_refs.h"

namespace brindle {

class Value;

struct Null {
  friend bool operator==(Null, Null) { return true; }
};

// A vector of values: how an array is built, and what a heap-owned array
// value holds. An arena-held array keeps its items alone (see Value); both
// are read through an ArrayView.
using Array = std::vector<Value, ArenaAllocator<Value>>;
class ArrayView;
class ArenaArrayBuilder;
class CompactItems;

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

// A value is 16 bytes: its tag and either the scalar itself, a string of up
// to 14 bytes, or a pointer to an owned string, array or dict. Small values
// keep arrays and dict entries compact, and most strings of a configuration
// need no allocation. Copies are deep; a moved-from value is null.
//
// Ownership. A value is heap-owned (made by the factories without an arena,
// or a copy of any value) or arena-held (made by `into_arena`, as the builder
// does for every value it stores, by the factories given an arena, or by an
// ArenaArrayBuilder, as the value parser does inside a build): then its
// string, its dict header, its array's items and their buffers live in an
// Arena and are not freed by the value; the value still destroys what it
// holds that is not in the arena. Copying any value gives a heap-owned deep
// copy. Moving a value moves its payload as it is: a value moved out of a
// document stays tied to that document's arena and must not outlive the
// document; copy it to keep it longer.
//
// An arena-held array is its items alone, exactly as many as it has, with
// their number kept in the value: no header, no spare room. When every item
// is an integer they are packed: each kept in 1, 2, 4 or 8 bytes, the fewest
// that hold them all. A short array of small items (at most 8, each a
// number, a bool, null, an inline string or another such array) is kept
// compact instead: a record of a few bytes per item, a nested one named by
// its distance from the entry (see CompactItems). Reading it
// (`as_array() const`) gives a view of them, in whichever form. Changing it (`as_array()`) first moves its items into a
// heap-owned Array, which the value then owns; the items themselves stay as
// they were (arena-held payloads included).
class Value {
 public:
  Value() noexcept { raw_[0] = static_cast<unsigned char>(Tag::Null); }
  static Value string(std::string_view s);
  static Value integer(int64_t i) { return Value(Tag::Integer, i); }
  static Value floating(double d) { return Value(Tag::Float, d); }
  static Value boolean(bool b) { return Value(Tag::Bool, b); }
  static Value null() { return Value(); }
  static Value array(Array a);
  static Value dict(Dict d);
  // An empty dictionary whose header is arena-held when `arena` is given
  // (heap-owned otherwise); its entry array starts on the heap, where it
  // grows until sealing with the arena moves it in.
  static Value dict_in(Arena* arena);
  // A string, arena-held when `arena` is given and it is too long to sit
  // inline; heap-owned as `string` makes it otherwise.
  // Inline here: most strings of a configuration are short.
  static Value string_in(std::string_view s, Arena* arena) {
    if (s.size() > kInline) return arena != nullptr ? arena_string(s, *arena) : string(s);
    Value v;
    v.raw_[0] = static_cast<unsigned char>(Tag::String);
    v.raw_[1] = static_cast<unsigned char>(s.size() + 1);
    if (!s.empty()) std::memcpy(v.raw_ + 2, s.data(), s.size());
    return v;
  }
  // The same value with its payloads (recursively) moved into `arena`;
  // scalars and inline strings are unchanged. Nesting is bounded by the
  // parser, which bounds the recursion.
  static Value into_arena(Value v, Arena& arena) {
    if (!v.owns()) return v;  // moved, not copied: a copy would be heap-owned
    return move_payload_into(std::move(v), arena);
  }
  // Whether destroying the value has nothing to do: it owns nothing, or
  // only arena-held parts that hold nothing to destroy either.
  bool nothing_to_destroy() const {
    if (!is(Tag::Dict)) return holds_nothing_to_destroy();
    return raw_[1] == kArenaHeader && as_dict().nothing_to_destroy();
  }
  // Whether the payload is held by an arena rather than owned.
  bool in_arena() const {
    switch (tag()) {
      case Tag::String: return raw_[1] == kArenaString;
      case Tag::Array:
      case Tag::Dict: return raw_[1] != 0;
      default: return false;
    }
  }

  Value(const Value& other);
  Value(Value&& other) noexcept {
    std::memcpy(raw_, other.raw_, sizeof raw_);
    other.raw_[0] = static_cast<unsigned char>(Tag::Null);
  }
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      release();
      std::memcpy(raw_, other.raw_, sizeof raw_);
      other.raw_[0] = static_cast<unsigned char>(Tag::Null);
    }
    return *this;
  }
  ~Value() {
    if (owns()) release();
  }

  Tag tag() const { return static_cast<Tag>(raw_[0]); }
  bool is(Tag t) const { return tag() == t; }

  // Each accessor requires the matching tag. A string's view lasts as long
  // as the value is neither changed nor destroyed; so does an array's.
  std::string_view as_string() const;
  int64_t as_integer() const { return load<int64_t>(); }
  double as_float() const { return load<double>(); }
  bool as_bool() const { return load<uint64_t>() != 0; }
  ArrayView as_array() const;
  Array& as_array() {
    if (raw_[1] != 0) make_heap_array();
    return *load<Array*>();
  }
  const Dict& as_dict() const { return *load<Dict*>(); }
  Dict& as_dict() { return *load<Dict*>(); }

  // Structural equality (floats by IEEE ==, so NaN != NaN).
  friend bool operator==(const Value& a, const Value& b);

 private:
  friend class ArenaArrayBuilder;
  friend class ArrayView;
  friend class CompactItems;
  // Byte 0: the tag. Bytes 8-15: the scalar or pointer. A string keeps in
  // byte 1 its length plus one when it sits in bytes 2-15, else 0 (owned:
  // a pointer to a block holding its length then its bytes) or kArenaString
  // (arena-held: its length in bytes 2-7 and a pointer to its bytes, or, for
  // a length too large for them, 0 there and a block as an owned one). A
  // dict keeps in byte 1 kArenaHeader when its header is arena-held
  // (destroyed in place, never deleted), else 0. An array keeps
  // in byte 1 0 and a pointer to its heap Array, or else kArenaItems or
  // kArenaTree, its number of items in bytes 2-7 and a pointer to them;
  // kArenaTree marks items that hold nothing needing destruction (scalars,
  // strings inline or in an arena, arrays so marked), which destroying the
  // array then does not walk. Packed integers have in byte 1
  // kPackedBase + log2 of their width in bytes, and are counted and pointed
  // to likewise; a compact record has kCompact, and likewise. Both hold
  // nothing needing destruction.
  static constexpr size_t kInline = 14;
  static constexpr unsigned char kArenaString = 0xFF;
  static constexpr unsigned char kArenaHeader = 1;
  static constexpr unsigned char kArenaItems = 1;
  static constexpr unsigned char kArenaTree = 2;
  static constexpr unsigned char kPackedBase = 3;
  static constexpr unsigned char kCompact = 7;  // above the four packed widths
  static constexpr uint64_t kMaxArenaItems = (uint64_t{1} << 48) - 1;
  template <class T>
  Value(Tag t, T payload) {
    raw_[0] = static_cast<unsigned char>(t);
    store(payload);
  }
  template <class T>
  T load() const {
    T out;
    std::memcpy(&out, raw_ + 8, sizeof out);
    return out;
  }
  template <class T>
  void store(T in) {
    if constexpr (sizeof(T) < 8) std::memset(raw_ + 8, 0, 8);
    std::memcpy(raw_ + 8, &in, sizeof in);
  }
  uint64_t arena_items() const {
    uint64_t n = 0;
    std::memcpy(&n, raw_ + 2, 6);
    return n;
  }
  // An arena-held array of the `count` items at `items`.
  static Value arena_array(Value* items, uint64_t count, bool tree) {
    Value out(Tag::Array, items);
    out.raw_[1] = tree ? kArenaTree : kArenaItems;
    std::memcpy(out.raw_ + 2, &count, 6);
    return out;
  }
  // An arena-held array of `count` integers packed `width` bytes each.
  static Value packed_array(void* items, uint64_t count, unsigned width) {
    Value out(Tag::Array, items);
    out.raw_[1] = static_cast<unsigned char>(kPackedBase + std::countr_zero(width));
    std::memcpy(out.raw_ + 2, &count, 6);
    return out;
  }
  // An arena-held array of `count` items in the compact record at `record`.
  static Value compact_array(const void* record, uint64_t count) {
    Value out(Tag::Array, record);
    out.raw_[1] = kCompact;
    std::memcpy(out.raw_ + 2, &count, 6);
    return out;
  }
  bool compact() const { return raw_[1] == kCompact; }
  // Makes `v` the integer `i` (what it held is let go first).
  static void set_integer(Value& v, int64_t i) {
    if (v.owns()) v.release();
    v.raw_[0] = static_cast<unsigned char>(Tag::Integer);
    v.store(i);
  }
  // Whether destroying the value has nothing to do.
  bool holds_nothing_to_destroy() const { return !owns() || (is(Tag::Array) && raw_[1] >= kArenaTree); }
  bool owns() const {
    const Tag t = tag();
    return t == Tag::Array || t == Tag::Dict || (t == Tag::String && raw_[1] == 0);
  }
  bool inline_string() const { return static_cast<unsigned char>(raw_[1] - 1) < kInline + 1; }
  // Moves the items of an arena-held array into a heap-owned Array.
  void make_heap_array();
  void release() noexcept;
  static Value move_payload_into(Value v, Arena& arena);
  // A string too long to sit inline, its bytes in `arena`.
  static Value arena_string(std::string_view s, Arena& arena);

  alignas(8) unsigned char raw_[16] = {};
};

// The items of an array, read in place: a view, valid while the array is
// neither changed nor destroyed. An Array reads as one. The items are
// Values (`values()` gives them), packed integers or a compact record
// (`values()` is null for both), and read alike through `item`, indexing
// and iteration. Indexing gives a copy; iteration and `item` give a
// reference that, for a packed or compact item, is to a Value made on the
// spot and lasts only until the next step (or the next call with the same
// scratch): a walk that keeps addresses of items takes them from
// `values()`, and keeps what it decodes from a compact record (a nested
// array there decodes to a view that owns nothing, cheap to keep).
class ArrayView {
 public:
  class iterator;
  using value_type = Value;
  using const_iterator = iterator;

  ArrayView() = default;
  ArrayView(const Value* data, size_t size) : data_(data), size_(size) {}
  ArrayView(const Array& a) : data_(a.data()), size_(a.size()) {}  // NOLINT: reads as the array
  // `size` integers of `width` bytes each (1, 2, 4 or 8) at `data`.
  static ArrayView packed(const void* data, size_t size, unsigned width) {
    ArrayView out;
    out.data_ = data;
    out.size_ = size;
    out.width_ = static_cast<uint8_t>(width);
    return out;
  }
  // `size` items in the compact record at `data`.
  static ArrayView compact(const void* data, size_t size) {
    ArrayView out;
    out.data_ = data;
    out.size_ = size;
    out.compact_ = true;
    return out;
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The items when they are Values; null when they are packed or compact.
  const Value* values() const { return width_ == 0 && !compact_ ? static_cast<const Value*>(data_) : nullptr; }
  // Whether the items are a compact record.
  bool is_compact() const { return compact_; }
  // Bytes per packed item; 0 when the items are Values.
  unsigned packed_width() const { return width_; }
  // Where the items are kept, packed or not.
  const void* storage() const { return data_; }
  // Packed item `i`; requires a packed view.
  int64_t integer_at(size_t i) const {
    switch (width_) {
      case 1: return static_cast<const int8_t*>(data_)[i];
      case 2: return static_cast<const int16_t*>(data_)[i];
      case 4: return static_cast<const int32_t*>(data_)[i];
      default: return static_cast<const int64_t*>(data_)[i];
    }
  }
  // Item `i`: in place, or made in `scratch` when packed or compact.
  const Value& item(size_t i, Value& scratch) const {
    if (compact_) return compact_item(i, scratch);
    if (width_ == 0) return static_cast<const Value*>(data_)[i];
    Value::set_integer(scratch, integer_at(i));
    return scratch;
  }
  Value operator[](size_t i) const {
    Value scratch;
    return item(i, scratch);
  }
  Value front() const { return (*this)[0]; }
  Value back() const { return (*this)[size_ - 1]; }
  iterator begin() const;
  iterator end() const;

  friend bool operator==(ArrayView a, ArrayView b);

 private:
  const Value& compact_item(size_t i, Value& scratch) const;

  const void* data_ = nullptr;
  size_t size_ = 0;
  uint8_t width_ = 0;
  bool compact_ = false;
};

// Reads items in order; `*it` is valid until the iterator steps or goes.
class ArrayView::iterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = Value;
  using difference_type = std::ptrdiff_t;
  using pointer = const Value*;
  using reference = const Value&;

  iterator() = default;
  iterator(const ArrayView* view, size_t at)
      : data_(view->data_), at_(at), width_(view->width_), compact_(view->compact_) {}
  const Value& operator*() const {
    if (compact_) return decode();
    if (width_ == 0) return static_cast<const Value*>(data_)[at_];
    Value::set_integer(current_, ArrayView::packed(data_, 0, width_).integer_at(at_));
    return current_;
  }
  const Value* operator->() const { return &**this; }
  iterator& operator++() {
    if (compact_) step();
    ++at_;
    return *this;
  }
  void operator++(int) { ++*this; }
  friend bool operator==(const iterator& a, const iterator& b) { return a.at_ == b.at_; }

 private:
  // A compact record is read entry by entry: `data_` is the entry at `at_`.
  const Value& decode() const;
  void step();

  const void* data_ = nullptr;
  size_t at_ = 0;
  uint8_t width_ = 0;
  bool compact_ = false;
  mutable Value current_;
};

inline ArrayView::iterator ArrayView::begin() const { return iterator(this, 0); }
inline ArrayView::iterator ArrayView::end() const { return iterator(this, size_); }

inline ArrayView Value::as_array() const {
  if (raw_[1] == 0) return ArrayView(*load<const Array*>());
  if (raw_[1] == kCompact) return ArrayView::compact(load<const void*>(), arena_items());
  if (raw_[1] >= kPackedBase) return ArrayView::packed(load<const void*>(), arena_items(), 1u << (raw_[1] - kPackedBase));
  return ArrayView(load<const Value*>(), arena_items());
}

// One entry of a Dict. `first` and `second` read like a std::map entry (and
// structured bindings give those two); the spans are set when the builder
// stored the entry from the source, and are the last ones stored for its key.
// The key of an entry the builder stored is held by the document's arena, as
// its value is; a copied entry owns its key.
struct DictEntry {
  Key first;
  Value second;

  std::optional<Span> key_span() const { return spans_.key_span(); }
  std::optional<Span> value_span() const { return spans_.value_span(); }
  bool has_key_span() const { return spans_.has_key_span(); }
  bool has_value_span() const { return spans_.has_value_span(); }
  void set_key_span(Span s) { spans_.set_key_span(s); }
  void set_value_span(Span s) { spans_.set_value_span(s); }
  void set_spans(Span key, Span value) { spans_.set_spans(key, value); }
  // Whether destroying the entry has nothing to do: its key is inline or
  // arena-held, its spans sit in their word, its value holds nothing to
  // destroy.
  bool nothing_to_destroy() const {
    return (first.is_inline() || first.in_arena()) && !spans_.wide() && second.nothing_to_destroy();
  }

 private:
  EntrySpans spans_;
};
static_assert(sizeof(DictEntry) == 40);
// A Value moves as its 16 bytes, leaving a null that owns nothing; inline
// strings are read by offset, never through a pointer into the value.
template <>
struct Relocatable<Value> : std::true_type {};
// An entry is nothing but its members, each relocatable: a dictionary's
// entry array grows and sorts by moving bytes.
template <>
struct Relocatable<DictEntry>
    : std::bool_constant<relocatable_v<Key> && relocatable_v<Value> && relocatable_v<EntrySpans>> {};
static_assert(relocatable_v<DictEntry>);
static_assert(sizeof(DictEntry) == sizeof(Key) + sizeof(Value) + sizeof(EntrySpans));
static_assert(!std::is_polymorphic_v<DictEntry>);
static_assert(std::endian::native == std::endian::little);

template <size_t I>
decltype(auto) get(DictEntry& e) {
  if constexpr (I == 0) return (e.first); else return (e.second);
}
template <size_t I>
decltype(auto) get(const DictEntry& e) {
  if constexpr (I == 0) return (e.first); else return (e.second);
}

// Mutable iteration may change any entry.
inline Dict::iterator Dict::begin() {
  inert_ = false;
  return entries_.begin();
}
inline Dict::iterator Dict::end() {
  inert_ = false;
  return entries_.end();
}
inline Dict::const_iterator Dict::begin() const { return entries_.begin(); }
inline Dict::const_iterator Dict::end() const { return entries_.end(); }
inline size_t Dict::size() const { return entries_.size(); }
inline bool Dict::empty() const { return entries_.empty(); }

// 48 bytes; a large document holds one per annotation. A name is short
// (inline in its Key); an argument holding a number needs no allocation.
struct Annotation {
  OptionalSpan arg_span;          // present exactly when an argument was written
  AnnotationArg arg;              // holds nothing when there is none
  Key name;                       // without the '@'
  PackedSpan span;                // the whole annotation text, from its '@'

  // '@' through the end of the name, which follows the '@' directly.
  Span name_span() const { return {span.start(), span.start() + 1 + name.size()}; }
  // One per List item, as parsed; empty for any other argument.
  const SpanList& item_spans() const { return arg.item_spans(); }
};
static_assert(sizeof(Annotation) == 48);

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

// The annotations of one path, in the order they were written. A view into
// the table: valid until the table is changed or destroyed.
using AnnotationList = std::span<const Annotation>;

// Key path -> annotations, walked in a deterministic order: the order in
// which each path first appears in the source (the builder arranges that), so
// that the first finding of a walk is the first problem in the file.
//
// Each entry may also keep the segments of its path as they were parsed: a
// quoted name may hold a point, so the joined path alone does not say which
// entry the annotations belong to. Entries set without segments have none;
// the builder sets them only when a segment holds a point, as otherwise the
// path cut at every point gives the same segments.
//
// Storage is flat: the paths sit end to end in one string, the annotations
// of every path in a few large blocks that never move, and each entry is a
// small record pointing into both. A document with many annotated keys thus
// costs no allocation per key. Lookups by path scan the few entries of a
// small table and use a hash index once it grows.
class AnnotationTable {
 public:
  using Segments = std::vector<std::string>;
  // One entry as walked: its path and its list (structured bindings give
  // the two, as they did for a pair).
  struct Entry {
    std::string_view first;
    AnnotationList second;
  };
  class const_iterator;

  AnnotationTable() = default;
  AnnotationTable(const AnnotationTable& other);
  AnnotationTable& operator=(const AnnotationTable& other);
  AnnotationTable(AnnotationTable&&) noexcept = default;
  AnnotationTable& operator=(AnnotationTable&&) noexcept = default;

  // Replaces the list of an existing path in place; appends a new path.
  void set(std::string_view path, std::vector<Annotation> list) {
    take(path, list, Segments{});
  }
  // The same, recording the path's segments (replacing earlier ones).
  void set(std::string_view path, std::vector<Annotation> list, Segments segments) {
    take(path, list, std::move(segments));
  }
  // The same, moving the annotations out of `list`, which is left empty with
  // its capacity, ready to collect the next path's.
  void take(std::string_view path, std::vector<Annotation>& list, Segments segments);
  // Appends like `take` without looking the path up, for a builder that
  // sets many paths and then calls `finish`: a path appended again then
  // keeps its first place and takes the last list and segments, as `set`
  // would have done. Until `finish`, the walk shows each append and a
  // lookup finds the first of a repeated path.
  void append(std::string_view path, std::vector<Annotation>& list, Segments segments);
  // Merges the repeats of the paths appended since the last call into the
  // entries before them, and indexes them. One pass over those entries,
  // where a lookup per append would wait on memory once per annotated key.
  void finish();
  // The list of `path`; null when the path has no entry.
  const AnnotationList* find(std::string_view path) const;
  // The segments recorded for `path`; null when the path has no entry or
  // was set without them.
  const Segments* find_segments(std::string_view path) const;
  // The segments of the entry at `index` in walk order; empty when the entry
  // was set without them.
  const Segments& segments(size_t index) const;
  Entry entry(size_t index) const {
    const Slot& s = slots_[index];
    return {std::string_view(paths_).substr(s.path_at, s.path_size), s.list};
  }
  bool empty() const { return slots_.empty(); }
  size_t size() const { return slots_.size(); }
  const_iterator begin() const;
  const_iterator end() const;
  // Reorders the entries by the start of each list's first annotation
  // (stable; empty lists keep their relative place at the end). Calls
  // `finish` first.
  void sort_by_source_position();
  // Room for at least `entries` entries whose paths take `path_bytes` in
  // all, taken with an eighth to spare when there is less: a builder that
  // can foresee a large table grows it a few times rather than by doubling
  // (which leaves the old buffers behind in the heap). Changes nothing a
  // reader sees.
  void foresee(size_t entries, size_t path_bytes) {
    if (slots_.capacity() < entries) slots_.reserve(entries + entries / 8);
    if (paths_.capacity() < path_bytes) paths_.reserve(path_bytes + path_bytes / 8);
  }
  size_t path_bytes() const { return paths_.size(); }
  // The path index (none while the table is small: all zero): the entries
  // it holds and their probe steps. Entries appended since `finish` are not
  // in it yet.
  ProbeLoad index_load() const;

 private:
  // 32 bytes. The hash of a path lives in the index alone: growing the
  // index moves the hashes it holds, and only reordering rehashes paths.
  struct Slot {
    AnnotationList list;
    uint64_t path_at;    // into paths_
    uint32_t path_size;
    uint32_t segments;   // index into segments_ + 1; 0: none
  };
  // The entry number of `path`, or size() when absent.
  size_t find_index(std::string_view path) const;
  size_t find_index_below(std::string_view path, uint32_t hash, size_t count) const;
  // The first of the first `count` entries whose path is `path`, else
  // count.
  size_t scan(std::string_view path, size_t count) const;
  std::string_view path_of(const Slot& s) const { return std::string_view(paths_).substr(s.path_at, s.path_size); }
  void index_slot(size_t at, uint32_t hash);
  // Sizes the index for every entry. What the index held is kept; without
  // an index, the first `count` entries are hashed and indexed.
  void grow_index(size_t count);
  // Before the first entry: room for a small file's entries at once, where
  // growing one doubling at a time would allocate and copy at every step.
  void make_room();
  // Moves `list` into the blocks and returns where it now lives.
  AnnotationList store(std::vector<Annotation>& list);
  void set_segments(Slot& slot, Segments segments);

  std::vector<Slot> slots_;
  std::string paths_;
  std::vector<Segments> segments_;  // only for the entries that have them
  // Each block is reserved once and filled without ever growing, so the
  // lists pointing into it stay put. A replaced list stays as dead records
  // until the table is copied (which packs the live ones).
  std::vector<std::vector<Annotation>> blocks_;
  // Open addressing, at most half full, used once the table is larger than
  // a scan is cheap: 0 when empty, else the path's hash (high half) and the
  // entry number + 1 (low half).
  std::vector<uint64_t> index_;
  // The leading entries that are merged and indexed; those after them were
  // appended and wait for `finish`.
  size_t merged_ = 0;
  // Whether the entries are known to stand in source order, and where the
  // last one starts: a builder appends in source order, so reordering then
  // has nothing to check (reading each list's first record is a wait on
  // memory per entry in a large document).
  bool ordered_ = true;
  uint64_t last_start_ = 0;
  void note_appended(const Slot& slot);
};

class AnnotationTable::const_iterator {
 public:
  using iterator_category = std::random_access_iterator_tag;
  using value_type = Entry;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = Entry;

  const_iterator() = default;
  const_iterator(const AnnotationTable* table, size_t at) : table_(table), at_(at) {}
  Entry operator*() const { return table_->entry(at_); }
  const_iterator& operator++() { ++at_; return *this; }
  const_iterator operator++(int) { const_iterator old = *this; ++at_; return old; }
  const_iterator operator+(difference_type n) const {
    return {table_, at_ + static_cast<size_t>(n)};
  }
  difference_type operator-(const const_iterator& o) const {
    return static_cast<difference_type>(at_) - static_cast<difference_type>(o.at_);
  }
  friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.at_ == b.at_; }

 private:
  const AnnotationTable* table_ = nullptr;
  size_t at_ = 0;
};

inline AnnotationTable::const_iterator AnnotationTable::begin() const { return {this, 0}; }
inline AnnotationTable::const_iterator AnnotationTable::end() const { return {this, slots_.size()}; }

// The entry at a dotted key path, found the way the validator resolves
// paths: one '.'-separated piece per level, nothing unquoted. Null when
// absent.
const DictEntry* entry_at(const Dict& root, std::string_view path);
// The entry reached by following `segments` as they were parsed, one per
// level, so that a name holding a point stays one name. Null when absent.
const DictEntry* entry_at(const Dict& root, const std::vector<std::string>& segments);

struct Document {
  // Holds the payloads of the values the builder stored (see Value): moving
  // a value out of `config` or `vars` ties it to this document's lifetime.
  // Declared first, so that it goes last.
  ArenaHolder arena;
  VariableRefList variable_refs;
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
  std::unordered_map<std::string, ReplacedSpans, KeyHash, std::equal_to<>> replaced_spans;

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
  using type = brindle::Key;
};
template <>
struct std::tuple_element<1, brindle::DictEntry> {
  using type = brindle::Value;
};
