// SpanList: a list of spans in one pointer, read like a std::vector<Span>.
//
// Most annotations have no list argument, so their item spans cost the
// pointer alone; a list keeps its size and room in front of its spans, in
// one heap block. Copies are deep; a moved-from list is empty. Relocatable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "relocatable.h"
#include "span.h"

namespace brindle {

class SpanList {
 public:
  SpanList() noexcept = default;
  SpanList(const SpanList& other) {
    if (other.empty()) return;
    reserve(other.size());
    std::memcpy(spans(), other.spans(), other.size() * sizeof(Span));
    block_->size = other.block_->size;
  }
  SpanList(SpanList&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
  SpanList& operator=(const SpanList& other) {
    if (this != &other) *this = SpanList(other);
    return *this;
  }
  SpanList& operator=(SpanList&& other) noexcept {
    if (this != &other) {
      std::free(block_);
      block_ = std::exchange(other.block_, nullptr);
    }
    return *this;
  }
  ~SpanList() { std::free(block_); }

  size_t size() const { return block_ == nullptr ? 0 : block_->size; }
  bool empty() const { return size() == 0; }
  const Span& operator[](size_t i) const { return spans()[i]; }
  const Span* begin() const { return block_ == nullptr ? nullptr : spans(); }
  const Span* end() const { return begin() + size(); }

  void reserve(size_t n) {
    if (n <= capacity()) return;
    if (n > UINT32_MAX) throw std::bad_alloc();
    void* const grown = std::realloc(block_, sizeof(Block) + n * sizeof(Span));
    if (grown == nullptr) throw std::bad_alloc();
    const bool fresh = block_ == nullptr;
    block_ = static_cast<Block*>(grown);
    if (fresh) block_->size = 0;
    block_->capacity = static_cast<uint32_t>(n);
  }
  void push_back(Span s) {
    if (size() == capacity()) reserve(capacity() == 0 ? 4 : 2 * size_t{capacity()});
    spans()[block_->size++] = s;
  }

  friend bool operator==(const SpanList& a, const SpanList& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (!(a[i] == b[i])) return false;
    }
    return true;
  }

 private:
  struct Block {
    uint32_t size;
    uint32_t capacity;
    uint64_t padding;  // the spans after it start 16 bytes in
  };
  uint32_t capacity() const { return block_ == nullptr ? 0 : block_->capacity; }
  Span* spans() const { return reinterpret_cast<Span*>(block_ + 1); }

  Block* block_ = nullptr;
};
static_assert(sizeof(SpanList) == 8);

// The list is one pointer to a heap block: no byte points into the object.
template <>
struct Relocatable<SpanList> : std::true_type {};

}  // namespace brindle
