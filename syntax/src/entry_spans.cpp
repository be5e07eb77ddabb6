#include "entry_spans.h"

#include <new>

namespace brindle {

void EntrySpans::set_wide(int at, Span s) {
  if (!wide()) {
    auto* b = static_cast<uint64_t*>(::operator new(4 * sizeof(uint64_t)));
    b[0] = words_[kKeyStart] == kAbsent ? kNone : words_[kKeyStart];
    b[1] = words_[kKeyEnd];
    b[2] = words_[kValueStart] == kAbsent ? kNone : words_[kValueStart];
    b[3] = words_[kValueEnd];
    words_[kKeyStart] = kWide;
    std::memcpy(words_ + kValueStart, &b, sizeof b);
  }
  uint64_t* b = block();
  b[at] = s.start;
  b[at + 1] = s.end;
}

void EntrySpans::copy_wide(const EntrySpans& other) {
  auto* b = static_cast<uint64_t*>(::operator new(4 * sizeof(uint64_t)));
  std::memcpy(b, other.block(), 4 * sizeof(uint64_t));
  words_[kKeyStart] = kWide;
  std::memcpy(words_ + kValueStart, &b, sizeof b);
}

void EntrySpans::release_wide() noexcept {
  ::operator delete(static_cast<void*>(block()));
  words_[kKeyStart] = kAbsent;
  words_[kValueStart] = kAbsent;
}

}  // namespace brindle
