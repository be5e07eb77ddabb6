#include "arena.h"

#include <algorithm>
#include <new>
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace brindle {

namespace {

constexpr size_t kMinBlock = 4 * 1024;
// Past this a block no longer doubles: a huge document adds blocks of this
// size, so at most this much is taken and left unused at the end.
constexpr size_t kMaxGrowth = 64 * 1024 * 1024;
constexpr size_t kHugePage = 2 * 1024 * 1024;
constexpr size_t kHugeBlock = 8 * 1024 * 1024;

}  // namespace

struct Arena::Block {
  Block* previous;
  size_t size;  // bytes of the whole block, this header included
};

void advise_huge_pages(void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const uintptr_t first = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
  const uintptr_t last = (reinterpret_cast<uintptr_t>(data) + bytes) & ~uintptr_t(kHugePage - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

Arena::Arena(size_t expected) noexcept : next_block_(std::max(kMinBlock, expected)) {}

Arena::~Arena() {
  for (Block* b = head_; b != nullptr;) {
    Block* previous = b->previous;
    ::operator delete(static_cast<void*>(b));
    b = previous;
  }
}

bool Arena::holds(const void* p) const {
  const auto at = reinterpret_cast<uintptr_t>(p);
  for (const Block* b = head_; b != nullptr; b = b->previous) {
    const auto first = reinterpret_cast<uintptr_t>(b);
    if (at >= first && at < first + b->size) return true;
  }
  return false;
}

void* Arena::allocate_slow(size_t size, size_t align) {
  // A block is aligned for any type, and its header keeps that alignment.
  static_assert(sizeof(Block) % 16 == 0);
  const size_t need = sizeof(Block) + size + align;
  const size_t block_size = std::max(next_block_, need);
  auto* block = static_cast<Block*>(::operator new(block_size));
  block->previous = head_;
  block->size = block_size;
  head_ = block;
  reserved_ += block_size;
  ++blocks_;
  next_block_ = std::min(std::max(next_block_, kMinBlock) * 2, std::max(kMaxGrowth, next_block_));
  next_ = reinterpret_cast<char*>(block) + sizeof(Block);
  end_ = reinterpret_cast<char*>(block) + block_size;
  large_to_ = nullptr;
  if (block_size >= kHugeBlock) {
    large_to_ = reinterpret_cast<char*>(block);
    const size_t to_come = expected_used_ > used() ? expected_used_ - used() : 0;
    back_large_until(!hinted_ || to_come >= static_cast<size_t>(end_ - next_) ? end_ : next_ + to_come);
  }
  return allocate(size, align);
}

void Arena::back_large_until(char* to) {
  // Whole 2 MB pages only: the part of a page past `to` stays unadvised.
  const uintptr_t page_end = reinterpret_cast<uintptr_t>(to) & ~uintptr_t(kHugePage - 1);
  char* const until = to == end_ ? end_ : reinterpret_cast<char*>(page_end);
  if (until <= large_to_) return;
  advise_huge_pages(large_to_, static_cast<size_t>(until - large_to_));
  large_to_ = reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(until) & ~uintptr_t(kHugePage - 1));
}

void Arena::expect_more(size_t bytes) {
  hinted_ = true;
  expected_used_ = used() + bytes;
  if (large_to_ != nullptr) {
    back_large_until(bytes >= static_cast<size_t>(end_ - next_) ? end_ : next_ + bytes);
  }
}

}  // namespace brindle
