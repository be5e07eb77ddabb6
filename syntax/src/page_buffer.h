// PageBufferAllocator: buffers for the growing tables of a document that
// are written front to back (annotation entries and their paths, variable
// references).
//
// Such a table grows by doubling, so up to half of its buffer is room not
// yet written. Where the system backs memory with 2 MB pages whenever it
// can, the first write into that room makes a whole large page resident, and
// a table a little past a power of two costs nearly twice its size. A buffer
// of at least kPageBufferFrom bytes is therefore mapped on its own and asks
// for ordinary pages, so that only the pages written cost memory; smaller
// ones come from the heap as usual. Stateless: any two allocators are equal.
#pragma once

#include <cstddef>
#include <memory>

namespace brindle {

inline constexpr size_t kPageBufferFrom = 256 * 1024;

// `bytes` (at least kPageBufferFrom) of memory in ordinary pages.
// Never null: running out of memory throws std::bad_alloc.
void* map_page_buffer(size_t bytes);
void unmap_page_buffer(void* p, size_t bytes) noexcept;

template <class T>
class PageBufferAllocator {
 public:
  using value_type = T;
  using is_always_equal = std::true_type;

  PageBufferAllocator() noexcept = default;
  template <class U>
  PageBufferAllocator(const PageBufferAllocator<U>&) noexcept {}  // NOLINT: rebinding

  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    if (n * sizeof(T) < kPageBufferFrom) return std::allocator<T>().allocate(n);
    return static_cast<T*>(map_page_buffer(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept {
    if (n * sizeof(T) < kPageBufferFrom) {
      std::allocator<T>().deallocate(p, n);
    } else {
      unmap_page_buffer(p, n * sizeof(T));
    }
  }
  friend bool operator==(const PageBufferAllocator&, const PageBufferAllocator&) { return true; }
};

}  // namespace brindle
