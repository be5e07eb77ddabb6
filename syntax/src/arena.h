// Arena: bump allocation for the values of one document.
//
// Memory is handed out from a few large blocks and is never given back one
// piece at a time: destroying the arena frees its blocks, whatever was
// placed in them. Nothing placed in an arena has its destructor run by the
// arena; what needs one (a long key, a heap buffer) is destroyed by its
// owner, as usual. An arena is not thread-safe and keeps no global state.
//
// `ArenaAllocator` lets standard containers take their buffers from an
// arena (or from the heap, when made without one). A copy of such a
// container is always a heap one; moving it keeps its buffer where it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace brindle {

class Arena {
 public:
  // `expected` guesses the bytes the arena will hold (the source length is a
  // good guess); the first block is sized from it, later ones grow.
  explicit Arena(size_t expected = 0) noexcept;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  // `size` bytes aligned to `align` (a power of two, at most 16). Never
  // null: running out of memory throws std::bad_alloc, as operator new does.
  void* allocate(size_t size, size_t align) {
    const uintptr_t at = (reinterpret_cast<uintptr_t>(next_) + (align - 1)) & ~uintptr_t(align - 1);
    if (at + size <= reinterpret_cast<uintptr_t>(end_) && next_ != nullptr) {
      next_ = reinterpret_cast<char*>(at + size);
      return reinterpret_cast<void*>(at);
    }
    return allocate_slow(size, align);
  }

  // Resizes in place the last piece handed out, `p` of `size` bytes, to
  // `new_size`: true when `p` is that piece and its block has the room
  // (shrinking always has). Otherwise nothing changes.
  bool resize_last(void* p, size_t size, size_t new_size) {
    if (static_cast<char*>(p) + size != next_ || next_ == nullptr) return false;
    if (new_size > size && new_size - size > static_cast<size_t>(end_ - next_)) return false;
    next_ = static_cast<char*>(p) + new_size;
    return true;
  }

  // Whether `p` points into one of the arena's blocks. Walks them: there
  // are few, each twice the last.
  bool holds(const void* p) const;

  // Bytes of the blocks taken so far (what the arena costs, used or not).
  size_t reserved() const { return reserved_; }
  size_t block_count() const { return blocks_; }
  // Bytes handed out so far, with their padding and the unused ends of the
  // blocks left behind.
  size_t used() const { return reserved_ - static_cast<size_t>(end_ - next_); }

  // A hint from whoever fills the arena: about `bytes` more will be placed.
  // A big block is backed by large pages (see advise_huge_pages) only as
  // far as the hints say it will be filled, so that the last 2 MB region a
  // document starts costs the pages written rather than the whole region;
  // without any hint, a big block is backed whole. A system call only when
  // the hinted end passes a new region.
  void expect_more(size_t bytes);

 private:
  struct Block;
  void* allocate_slow(size_t size, size_t align);
  // Advises large pages for the newest block up to `to` (within it).
  void back_large_until(char* to);

  Block* head_ = nullptr;  // newest block; each links to the one before
  char* next_ = nullptr;   // free space of the newest block
  char* end_ = nullptr;
  size_t next_block_ = 0;  // size of the next block to take
  size_t reserved_ = 0;
  size_t blocks_ = 0;
  // Where large-page advice of the newest block stops; null when that block
  // gets none (it is small).
  char* large_to_ = nullptr;
  // What used() is expected to reach, by the last hint; 0 without one.
  size_t expected_used_ = 0;
  bool hinted_ = false;
};

// Asks the system to back the whole 2 MB pages inside [data, data + bytes)
// with large pages, so that filling a big block faults once per 2 MB rather
// than per 4 KB. Only a hint: it does nothing where the system has no such
// pages.
void advise_huge_pages(void* data, size_t bytes);

// The arena of a document, made on first use. It follows the document it
// belongs to: moving a document moves the arena (whose blocks stay where
// they are); a copy of a document has its own, empty one, since copies of
// values are heap-owned. Assigning swaps (by move) or keeps (by copy) the
// arena, so that the values a document held before the assignment are
// destroyed while their arena still exists. Declare it before the values it
// holds, so that it is destroyed after them.
class ArenaHolder {
 public:
  ArenaHolder() noexcept = default;
  ArenaHolder(const ArenaHolder&) noexcept {}
  ArenaHolder(ArenaHolder&& other) noexcept : arena_(std::move(other.arena_)) {}
  ArenaHolder& operator=(const ArenaHolder&) noexcept { return *this; }
  ArenaHolder& operator=(ArenaHolder&& other) noexcept {
    arena_.swap(other.arena_);
    return *this;
  }

  Arena* get() const { return arena_.get(); }
  // The arena, made with `expected` when there is none yet.
  Arena& make(size_t expected) {
    if (!arena_) arena_ = std::make_unique<Arena>(expected);
    return *arena_;
  }

 private:
  std::unique_ptr<Arena> arena_;
};

template <class T>
class ArenaAllocator {
 public:
  using value_type = T;
  // Moving or swapping a container moves its buffer with it; copying it
  // makes a heap one (see select_on_container_copy_construction), and a copy
  // assigned into a container keeps the buffer of the target.
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;
  using propagate_on_container_copy_assignment = std::false_type;
  using is_always_equal = std::false_type;

  ArenaAllocator() noexcept = default;
  explicit ArenaAllocator(Arena* arena) noexcept : arena_(arena) {}
  template <class U>
  ArenaAllocator(const ArenaAllocator<U>& other) noexcept : arena_(other.arena()) {}

  T* allocate(size_t n) {
    if (arena_ == nullptr) return std::allocator<T>().allocate(n);
    static_assert(alignof(T) <= 16);
    return static_cast<T*>(arena_->allocate(n * sizeof(T), alignof(T)));
  }
  void deallocate(T* p, size_t n) noexcept {
    if (arena_ == nullptr) std::allocator<T>().deallocate(p, n);
  }
  ArenaAllocator select_on_container_copy_construction() const { return ArenaAllocator(); }

  Arena* arena() const { return arena_; }
  friend bool operator==(const ArenaAllocator& a, const ArenaAllocator& b) { return a.arena_ == b.arena_; }

 private:
  Arena* arena_ = nullptr;  // null: the heap
};

}  // namespace brindle
