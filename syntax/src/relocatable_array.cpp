#include "relocatable_array.h"

#include <cstdlib>
#include <cstring>
#include <new>
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace brindle::relocation {

namespace {

#ifdef __linux__
constexpr size_t kPage = 4096;

size_t whole_pages(size_t bytes) { return (bytes + kPage - 1) & ~(kPage - 1); }

// The whole mapping is advised, not only the large pages inside it: advice
// on part of it would split it in two, which mremap then refuses to move.
void advise_mapping(void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
  madvise(p, whole_pages(bytes), MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

void* map(size_t bytes) {
  void* const p = mmap(nullptr, whole_pages(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  advise_mapping(p, bytes);
  return p;
}
#endif

}  // namespace

void* regrow(void* old, size_t old_bytes, size_t used_bytes, size_t new_bytes) {
#ifdef __linux__
  if (old_bytes >= kMapFrom) {
    // The kernel moves the pages, not their bytes; the room past the items
    // is never touched, so it costs nothing until it is filled.
    if (whole_pages(new_bytes) == whole_pages(old_bytes)) return old;
    void* const p = mremap(old, whole_pages(old_bytes), whole_pages(new_bytes), MREMAP_MAYMOVE);
    if (p == MAP_FAILED) throw std::bad_alloc();
    advise_mapping(p, new_bytes);
    return p;
  }
  if (new_bytes >= kMapFrom) {
    void* const p = map(new_bytes);
    if (used_bytes != 0) std::memcpy(p, old, used_bytes);
    std::free(old);
    return p;
  }
#else
  (void)old_bytes;
  (void)used_bytes;
#endif
  void* const p = std::realloc(old, new_bytes);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void release(void* p, size_t bytes) noexcept {
  if (p == nullptr) return;
#ifdef __linux__
  if (bytes >= kMapFrom) {
    munmap(p, whole_pages(bytes));
    return;
  }
#else
  (void)bytes;
#endif
  std::free(p);
}

}  // namespace brindle::relocation
