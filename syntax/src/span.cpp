#include "span.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace brindle {

namespace {

uint64_t hash_of(std::string_view key) { return std::hash<std::string_view>{}(key); }

uint64_t slot_of(uint64_t hash, size_t index) { return (hash & ~uint64_t{0xFFFFFFFF}) | (index + 1); }
size_t index_of(uint64_t slot) { return static_cast<size_t>(slot & 0xFFFFFFFF) - 1; }

}  // namespace

size_t SpanMap::probe(std::string_view key, uint64_t hash) const {
  const size_t mask = slots_.size() - 1;
  const uint64_t tag = hash & ~uint64_t{0xFFFFFFFF};
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const uint64_t slot = slots_[i];
    if (slot == 0) return i;
    if ((slot & ~uint64_t{0xFFFFFFFF}) == tag && entries_[index_of(slot)].first == key) return i;
  }
}

void SpanMap::rehash(size_t slot_count) {
  slots_.assign(slot_count, 0);
  const size_t mask = slot_count - 1;
  for (size_t e = 0; e < hashes_.size(); ++e) {
    size_t i = hashes_[e] & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;  // keys are distinct: no compare
    slots_[i] = slot_of(hashes_[e], e);
  }
}

void SpanMap::reserve(size_t n) {
  size_t slots = 16;
  while (slots < 2 * n) slots *= 2;  // at most half full
  entries_.reserve(n);
  hashes_.reserve(n);
  if (slots > slots_.size()) rehash(slots);
}

SpanMap::iterator SpanMap::find(std::string_view key) {
  if (slots_.empty()) return end();
  const uint64_t slot = slots_[probe(key, hash_of(key))];
  return slot == 0 ? end() : entries_.begin() + static_cast<std::ptrdiff_t>(index_of(slot));
}

SpanMap::const_iterator SpanMap::find(std::string_view key) const {
  if (slots_.empty()) return end();
  const uint64_t slot = slots_[probe(key, hash_of(key))];
  return slot == 0 ? end() : entries_.begin() + static_cast<std::ptrdiff_t>(index_of(slot));
}

const Span& SpanMap::at(std::string_view key) const {
  auto it = find(key);
  if (it == end()) throw std::out_of_range("no span for key path");
  return it->second;
}

Span& SpanMap::operator[](std::string_view key) {
  return try_emplace(std::string(key), Span{}).first->second;
}

std::pair<SpanMap::iterator, bool> SpanMap::try_emplace(std::string key, Span span) {
  if (2 * (entries_.size() + 1) > slots_.size()) rehash(slots_.empty() ? 16 : 2 * slots_.size());
  const uint64_t hash = hash_of(key);
  const size_t i = probe(key, hash);
  if (slots_[i] != 0) {
    return {entries_.begin() + static_cast<std::ptrdiff_t>(index_of(slots_[i])), false};
  }
  slots_[i] = slot_of(hash, entries_.size());
  entries_.emplace_back(std::move(key), span);
  hashes_.push_back(hash);
  return {entries_.end() - 1, true};
}

LineIndex::LineIndex(std::string_view source) : size_(source.size()) {
  starts_.push_back(0);
  const char* base = source.data();
  const char* p = base;
  const char* end = base + source.size();
  while (p < end) {
    const void* nl = std::memchr(p, '\n', static_cast<size_t>(end - p));
    if (nl == nullptr) break;
    p = static_cast<const char*>(nl) + 1;
    starts_.push_back(static_cast<uint64_t>(p - base));
  }
}

LineColumn LineIndex::locate(uint64_t offset) const {
  offset = std::min(offset, size_);
  auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const auto line = static_cast<uint64_t>(it - starts_.begin());  // >= 1
  return {line, offset - starts_[line - 1] + 1};
}

LineColumn line_column(std::string_view source, uint64_t offset) {
  return LineIndex(source).locate(offset);
}

}  // namespace brindle
