// Positions: a span is a half-open byte range into the source of one parse;
// the position tables of a document map key paths to spans; line and column
// are computed only when a problem is shown to a user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brindle {

// Half-open byte range into the source text of one parse.
struct Span {
  uint64_t start = 0;
  uint64_t end = 0;
  friend bool operator==(const Span&, const Span&) = default;
};

// Key path -> Span, the position tables of a document.
//
// Entries live in one dense vector in insertion order and an open-addressing
// index of entry numbers points into it, so an insert is one hash, a short
// probe through a compact array and an append: no node allocations, and
// freeing a table costs a couple of frees plus one per long key. A parse
// fills two of these with one entry per key, so this is on the hot path.
class SpanMap {
 public:
  using Entry = std::pair<std::string, Span>;
  using iterator = std::vector<Entry>::iterator;
  using const_iterator = std::vector<Entry>::const_iterator;

  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  void reserve(size_t n);
  iterator find(std::string_view key);
  const_iterator find(std::string_view key) const;
  bool contains(std::string_view key) const { return find(key) != end(); }
  // The span of a key that must be present (std::out_of_range otherwise;
  // for callers outside the core's entry points, such as tests).
  const Span& at(std::string_view key) const;
  // The span of `key`, inserting an empty one first when absent.
  Span& operator[](std::string_view key);
  // Inserts when absent; the bool tells whether it did.
  std::pair<iterator, bool> try_emplace(std::string key, Span span);

 private:
  // The slot holding `key`, or the empty slot where it would go.
  size_t probe(std::string_view key, uint64_t hash) const;
  void rehash(size_t slot_count);

  std::vector<Entry> entries_;
  std::vector<uint64_t> hashes_;  // hash of each entry's key, for rehashing
  // 0: empty; otherwise the high half of the key's hash (compared before the
  // key itself, so a probe rarely touches an entry that does not match) and
  // the entry index + 1. Far more than 2^32 keys would exhaust memory first.
  std::vector<uint64_t> slots_;
};

struct LineColumn {
  uint64_t line = 1;    // 1-based
  uint64_t column = 1;  // 1-based, counted in bytes
};

// Line starts of a source: 0 and the offset after every line feed. Built in
// one pass; each lookup is a binary search.
class LineIndex {
 public:
  explicit LineIndex(std::string_view source);
  // The offset is clamped to the source length first.
  LineColumn locate(uint64_t offset) const;

 private:
  std::vector<uint64_t> starts_;
  uint64_t size_;
};

// One-off form of LineIndex::locate.
LineColumn line_column(std::string_view source, uint64_t offset);

}  // namespace brindle
