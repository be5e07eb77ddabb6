// StableValues: a stack of Values that stay where they are while more are
// pushed, for walks that keep pointers to items made on the spot (a packed
// or compact array's items are decoded, not stored as Values).
//
// The first kInline sit in the object itself, made only when pushed, so a
// walk over a small value allocates nothing and a stack left empty costs
// nothing; later ones go in heap chunks that are never moved and are kept
// for reuse until the stack goes. Not copyable.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

#include "model.h"

namespace brindle {

class StableValues {
 public:
  StableValues() = default;
  StableValues(const StableValues&) = delete;
  StableValues& operator=(const StableValues&) = delete;
  ~StableValues() {
    for (size_t i = 0; i < size_ && i < kInline; ++i) inline_at(i).~Value();
  }

  // A null Value pushed on top, valid until it is popped.
  Value& push() {
    const size_t i = size_++;
    if (i < kInline) return *new (inline_ + i * sizeof(Value)) Value();
    if ((i - kInline) / kChunk == chunks_.size()) chunks_.push_back(std::make_unique<Value[]>(kChunk));
    return chunk_at(i);
  }
  // Drops the top Value (letting go of what it held).
  void pop() {
    const size_t i = --size_;
    if (i < kInline) {
      inline_at(i).~Value();
    } else {
      chunk_at(i) = Value();
    }
  }
  Value& top() { return size_ <= kInline ? inline_at(size_ - 1) : chunk_at(size_ - 1); }
  size_t size() const { return size_; }

 private:
  static constexpr size_t kInline = 16;
  static constexpr size_t kChunk = 64;

  Value& inline_at(size_t i) { return *std::launder(reinterpret_cast<Value*>(inline_ + i * sizeof(Value))); }
  Value& chunk_at(size_t i) { return chunks_[(i - kInline) / kChunk][(i - kInline) % kChunk]; }

  alignas(Value) unsigned char inline_[kInline * sizeof(Value)];
  size_t size_ = 0;
  std::vector<std::unique_ptr<Value[]>> chunks_;
};

}  // namespace brindle
