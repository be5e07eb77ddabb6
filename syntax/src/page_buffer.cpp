#include "page_buffer.h"

#include <new>
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace brindle {

#ifdef __linux__

void* map_page_buffer(size_t bytes) {
  void* const p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_NOHUGEPAGE
  // Only a hint: where the system has no large pages it changes nothing.
  madvise(p, bytes, MADV_NOHUGEPAGE);
#endif
  return p;
}

void unmap_page_buffer(void* p, size_t bytes) noexcept { munmap(p, bytes); }

#else

void* map_page_buffer(size_t bytes) { return ::operator new(bytes); }
void unmap_page_buffer(void* p, size_t) noexcept { ::operator delete(p); }

#endif

}  // namespace brindle
