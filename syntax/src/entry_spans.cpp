#include "entry_spans.h"

#include <new>

namespace brindle {

namespace {

uint64_t word_of(const uint64_t* block) {
  uint64_t w;
  std::memcpy(&w, &block, sizeof w);
  return w;
}

}  // namespace

void EntrySpans::set_wide(const std::optional<Span>& key, const std::optional<Span>& value) {
  if (!wide()) {
    auto* b = static_cast<uint64_t*>(::operator new(4 * sizeof(uint64_t)));
    static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= 2, "a block's address leaves bit 0 free");
    word_ = word_of(b) | kWide;
  }
  uint64_t* b = block();
  b[0] = key ? key->start : kNone;
  b[1] = key ? key->end : 0;
  b[2] = value ? value->start : kNone;
  b[3] = value ? value->end : 0;
}

void EntrySpans::copy_wide(const EntrySpans& other) {
  auto* b = static_cast<uint64_t*>(::operator new(4 * sizeof(uint64_t)));
  std::memcpy(b, other.block(), 4 * sizeof(uint64_t));
  word_ = word_of(b) | kWide;
}

void EntrySpans::release_wide() noexcept {
  ::operator delete(static_cast<void*>(block()));
  word_ = 0;
}

}  // namespace brindle
