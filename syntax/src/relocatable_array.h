// RelocatableArray: a growable array of relocatable items (see
// relocatable.h), read like std::vector through pointers.
//
// Items move as plain bytes, so growing never moves them one by one: a
// small heap array grows by realloc, a large one (kMapFrom bytes and up)
// lives in its own mapping, advised to use large pages, and grows by
// remapping its pages where the system can, so the old and new arrays are
// never both resident. An array may instead be held by an Arena: it then
// grows by taking a new stretch of the arena, and its memory is the
// arena's to free. A copy is always on the heap; a moved-from array is
// empty and on the heap. Arguments of emplace_back/push_back/insert must
// not refer into the array itself.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "arena.h"
#include "relocatable.h"

namespace brindle {

namespace relocation {

// From this many bytes a heap array has a mapping of its own.
inline constexpr size_t kMapFrom = size_t{4} << 20;

// Storage for `new_bytes` (not zero) in place of `old` (`old_bytes` of
// capacity, the first `used_bytes` of them holding items), keeping those
// bytes; frees `old`. Below kMapFrom it is malloc'd, else mapped. Throws
// std::bad_alloc when out of memory, leaving `old` as it was.
void* regrow(void* old, size_t old_bytes, size_t used_bytes, size_t new_bytes);
// Frees storage of `bytes` of capacity made by regrow (null is fine).
void release(void* p, size_t bytes) noexcept;

}  // namespace relocation

template <class T>
class RelocatableArray {
 public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;

  RelocatableArray() noexcept = default;
  // Empty, growing in `arena` (the heap when null).
  explicit RelocatableArray(Arena* arena) noexcept : arena_(arena) {}
  RelocatableArray(const RelocatableArray& other) {
    if (other.size_ == 0) return;
    grow_to(other.size_);
    for (const T& item : other) {
      new (data_ + size_) T(item);
      ++size_;
    }
  }
  RelocatableArray(RelocatableArray&& other) noexcept { steal(other); }
  RelocatableArray& operator=(const RelocatableArray& other) {
    if (this != &other) *this = RelocatableArray(other);
    return *this;
  }
  RelocatableArray& operator=(RelocatableArray&& other) noexcept {
    if (this != &other) {
      destroy();
      steal(other);
    }
    return *this;
  }
  ~RelocatableArray() { destroy(); }

  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T& back() { return data_[size_ - 1]; }
  const T& back() const { return data_[size_ - 1]; }
  // The arena holding the items; null for the heap.
  Arena* arena() const { return arena_; }

  void reserve(size_t n) {
    if (n > capacity_) grow_to(n);
  }
  template <class... Args>
  T& emplace_back(Args&&... args) {
    if (size_ == capacity_) grow_to(capacity_ == 0 ? 1 : 2 * capacity_);
    T* const at = new (data_ + size_) T(std::forward<Args>(args)...);
    ++size_;
    return *at;
  }
  void push_back(T&& item) { emplace_back(std::move(item)); }
  T* insert(const T* at, T&& item) {
    const size_t i = static_cast<size_t>(at - data_);
    if (size_ == capacity_) grow_to(capacity_ == 0 ? 1 : 2 * capacity_);
    if (i != size_) std::memmove(raw(i + 1), raw(i), (size_ - i) * sizeof(T));
    new (data_ + i) T(std::move(item));
    ++size_;
    return data_ + i;
  }
  T* erase(const T* at) { return erase(at, at + 1); }
  T* erase(const T* first, const T* last) {
    const size_t from = static_cast<size_t>(first - data_);
    const size_t to = static_cast<size_t>(last - data_);
    for (size_t i = from; i < to; ++i) data_[i].~T();
    if (to != size_) std::memmove(raw(from), raw(to), (size_ - to) * sizeof(T));
    size_ -= to - from;
    return data_ + from;
  }
  // Destroys the items and keeps the room.
  void clear() { erase(begin(), end()); }
  // Forgets the items without destroying them, keeping the room: for items
  // known to hold nothing that needs destruction.
  void forget_items() noexcept { size_ = 0; }
  // Gives back the spare room of a heap array; an arena's or a mapped one
  // keeps it (its untouched pages cost no memory).
  void shrink_to_fit() {
    if (arena_ != nullptr || capacity_ == size_ || capacity_ * sizeof(T) >= relocation::kMapFrom) return;
    if (size_ == 0) {
      relocation::release(data_, capacity_ * sizeof(T));
      data_ = nullptr;
      capacity_ = 0;
      return;
    }
    data_ = static_cast<T*>(relocation::regrow(data_, capacity_ * sizeof(T), size_ * sizeof(T), size_ * sizeof(T)));
    capacity_ = size_;
  }

 private:
  // Bytes of item slot i, for moving items as plain bytes.
  unsigned char* raw(size_t i) { return reinterpret_cast<unsigned char*>(data_ + i); }

  void grow_to(size_t n) {
    static_assert(relocatable_v<T>, "items are moved as plain bytes");
    static_assert(alignof(T) <= 16);
    if (n > size_t(-1) / sizeof(T)) throw std::bad_alloc();
    if (arena_ != nullptr) {
      void* const fresh = arena_->allocate(n * sizeof(T), alignof(T));
      if (size_ != 0) std::memcpy(fresh, data_, size_ * sizeof(T));
      data_ = static_cast<T*>(fresh);  // the old stretch stays with the arena
    } else {
      data_ = static_cast<T*>(relocation::regrow(data_, capacity_ * sizeof(T), size_ * sizeof(T), n * sizeof(T)));
    }
    capacity_ = n;
  }
  void steal(RelocatableArray& other) noexcept {
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    arena_ = std::exchange(other.arena_, nullptr);
  }
  void destroy() noexcept {
    for (size_t i = 0; i < size_; ++i) data_[i].~T();
    if (arena_ == nullptr) relocation::release(data_, capacity_ * sizeof(T));
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  Arena* arena_ = nullptr;  // null: the heap
};

}  // namespace brindle
