// EntrySpans: the key span and the value span of a dictionary entry, in 16
// bytes.
//
// Either span may be absent. Offsets below 2^32 - 2 (every source smaller
// than 4 GB) are kept as four 32-bit numbers; any larger offset moves all
// four into a small heap block the object owns, so positions stay exact
// for any source. Copies are deep; a moved-from object has no spans.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>

#include "relocatable.h"
#include "span.h"

namespace brindle {

class EntrySpans {
 public:
  EntrySpans() noexcept = default;
  EntrySpans(const EntrySpans& other) {
    if (other.wide()) {
      copy_wide(other);
    } else {
      std::memcpy(words_, other.words_, sizeof words_);
    }
  }
  EntrySpans(EntrySpans&& other) noexcept {
    std::memcpy(words_, other.words_, sizeof words_);
    other.clear();
  }
  EntrySpans& operator=(const EntrySpans& other) {
    if (this != &other) {
      EntrySpans copy(other);
      *this = std::move(copy);
    }
    return *this;
  }
  EntrySpans& operator=(EntrySpans&& other) noexcept {
    if (this != &other) {
      release();
      std::memcpy(words_, other.words_, sizeof words_);
      other.clear();
    }
    return *this;
  }
  ~EntrySpans() { release(); }

  std::optional<Span> key_span() const {
    if (words_[kKeyStart] == kAbsent) return std::nullopt;
    if (wide()) return wide_span(0);
    return Span{words_[kKeyStart], words_[kKeyEnd]};
  }
  std::optional<Span> value_span() const {
    if (wide()) return wide_span(2);
    if (words_[kValueStart] == kAbsent) return std::nullopt;
    return Span{words_[kValueStart], words_[kValueEnd]};
  }
  bool has_key_span() const { return wide() ? block()[0] != kNone : words_[kKeyStart] != kAbsent; }
  bool has_value_span() const { return wide() ? block()[2] != kNone : words_[kValueStart] != kAbsent; }
  void set_key_span(Span s) { set_span(kKeyStart, s); }
  void set_value_span(Span s) { set_span(kValueStart, s); }
  // Whether the offsets are in a heap block (some offset is 2^32 - 2 or more).
  bool wide() const { return words_[kKeyStart] == kWide; }

 private:
  // Key start, key end, value start, value end. A start of kAbsent: that
  // span is absent. A key start of kWide: words 2-3 hold a pointer to four
  // 64-bit offsets in the same order, a start of kNone meaning absent.
  enum : int { kKeyStart = 0, kKeyEnd = 1, kValueStart = 2, kValueEnd = 3 };
  static constexpr uint32_t kAbsent = 0xFFFFFFFF;
  static constexpr uint32_t kWide = 0xFFFFFFFE;
  static constexpr uint64_t kNone = ~uint64_t{0};

  static bool fits(Span s) { return s.start < kWide && s.end <= kAbsent; }
  uint64_t* block() const {
    uint64_t* p;
    std::memcpy(&p, words_ + kValueStart, sizeof p);
    return p;
  }
  std::optional<Span> wide_span(int at) const {
    const uint64_t* b = block();
    if (b[at] == kNone) return std::nullopt;
    return Span{b[at], b[at + 1]};
  }
  // Stores `s` at `at` (kKeyStart or kValueStart; the same places in a
  // block), in the words while every offset fits them.
  void set_span(int at, Span s) {
    if (fits(s) && !wide()) {
      words_[at] = static_cast<uint32_t>(s.start);
      words_[at + 1] = static_cast<uint32_t>(s.end);
    } else {
      set_wide(at, s);
    }
  }
  // Moves the offsets to a block (when not there yet) and stores `s` at
  // `at` (0: key, 2: value). Out of line: only sources of 4 GB and more.
  void set_wide(int at, Span s);
  void copy_wide(const EntrySpans& other);
  // Leaves no spans (without freeing a block: it moved elsewhere).
  void clear() noexcept {
    words_[kKeyStart] = kAbsent;
    words_[kValueStart] = kAbsent;
  }
  void release() noexcept {
    if (wide()) release_wide();
  }
  void release_wide() noexcept;

  uint32_t words_[4] = {kAbsent, 0, kAbsent, 0};
};
static_assert(sizeof(EntrySpans) == 16);
// A move copies the words and leaves the source without spans, which owns
// no block; a block is on the heap, never inside the object.
template <>
struct Relocatable<EntrySpans> : std::true_type {};

}  // namespace brindle
