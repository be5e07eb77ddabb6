// VariableRefList: the variable references of a document, 12 bytes each.
//
// Read like a vector (size, indexing, a walk in the order they were added)
// whose items are VariableRefView: each read makes the view afresh, its name
// pointing into the list, valid until the list is changed or destroyed. A
// record keeps its span as a 32-bit start and a 16-bit size and
// its name as an offset into one pool of names, where a name used again
// (the same few variables, referenced over and over) is found among the
// last ones added and shares their bytes. A reference whose offsets do not
// fit is kept whole beside the records, so positions stay exact for any
// source. Copies are deep.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "key.h"
#include "span.h"

namespace brindle {

enum class VariableKind : uint8_t { Document = 0, Builtin = 1, Environment = 2 };

struct VariableRef {
  Key name;          // without '$'; for $ENV.X the name X
  Span span;         // the whole '$' operand
  VariableKind kind = VariableKind::Document;
};

// One reference as read back from a list: the fields of VariableRef, the
// name a view.
struct VariableRefView {
  std::string_view name;
  Span span;
  VariableKind kind = VariableKind::Document;
};

class VariableRefList {
 public:
  class const_iterator;

  void push_back(const VariableRef& ref);
  // Room for at least `count` references, taken with an eighth to spare
  // when there is less (see AnnotationTable::foresee).
  void foresee(size_t count) {
    if (records_.capacity() < count) records_.reserve(count + count / 8);
  }
  size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  VariableRefView operator[](size_t i) const;
  const_iterator begin() const;
  const_iterator end() const;

 private:
  struct Record {
    uint32_t start;      // of the span
    uint32_t name_at;    // into names_; for a wide record, into wide_
    uint16_t size;       // of the span
    uint8_t name_size;
    uint8_t kind_wide;   // the kind, plus kWide when the reference is wide_[name_at]
  };
  static_assert(sizeof(Record) == 12);
  static constexpr uint8_t kWide = 0x80;
  // Where `name` sits in names_, adding it unless a recent name matches.
  uint64_t name_offset(std::string_view name);

  std::vector<Record> records_;
  std::string names_;
  std::vector<VariableRef> wide_;
  // Recent names by a hash of their bytes: offset << 16 | size, plus one;
  // 0 when empty.
  std::array<uint64_t, 8> recent_{};
};

class VariableRefList::const_iterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = VariableRefView;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = VariableRefView;

  const_iterator() = default;
  const_iterator(const VariableRefList* list, size_t at) : list_(list), at_(at) {}
  VariableRefView operator*() const { return (*list_)[at_]; }
  const_iterator& operator++() { ++at_; return *this; }
  const_iterator operator++(int) { const_iterator old = *this; ++at_; return old; }
  friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.at_ == b.at_; }

 private:
  const VariableRefList* list_ = nullptr;
  size_t at_ = 0;
};

inline VariableRefList::const_iterator VariableRefList::begin() const { return {this, 0}; }
inline VariableRefList::const_iterator VariableRefList::end() const { return {this, records_.size()}; }

}  // namespace brindle
