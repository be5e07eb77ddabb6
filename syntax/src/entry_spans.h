// EntrySpans: the key span and the value span of a dictionary entry, in 8
// bytes.
//
// Either span may be absent. The spans of an ordinary entry fit one 64-bit
// word: a start below 2^32, a key of fewer than 256 bytes, a value starting
// fewer than 128 bytes after its key's start and shorter than 16 KB. Any
// other pair moves into a small heap block the object owns, so positions
// stay exact for any source. Copies are deep; a moved-from object has no
// spans.
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
      word_ = other.word_;
    }
  }
  EntrySpans(EntrySpans&& other) noexcept : word_(other.word_) { other.word_ = 0; }
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
      word_ = other.word_;
      other.word_ = 0;
    }
    return *this;
  }
  ~EntrySpans() { release(); }

  std::optional<Span> key_span() const {
    if (wide()) return wide_span(0);
    if ((word_ & kHasKey) == 0) return std::nullopt;
    const uint64_t start = field(kBaseAt, 32);
    return Span{start, start + field(kKeySizeAt, 8)};
  }
  std::optional<Span> value_span() const {
    if (wide()) return wide_span(2);
    if ((word_ & kHasValue) == 0) return std::nullopt;
    const uint64_t start = field(kBaseAt, 32) + field(kDeltaAt, 7);
    return Span{start, start + field(kValueSizeAt, 14)};
  }
  bool has_key_span() const { return wide() ? block()[0] != kNone : (word_ & kHasKey) != 0; }
  bool has_value_span() const { return wide() ? block()[2] != kNone : (word_ & kHasValue) != 0; }
  void set_key_span(Span s) { set(s, value_span()); }
  void set_value_span(Span s) { set(key_span(), s); }
  // Both at once, as an entry is stored: neither is read back first.
  void set_spans(Span key, Span value) { set(key, value); }
  // Whether the spans are in a heap block (see the top of this file).
  bool wide() const { return (word_ & kWide) != 0; }

 private:
  // Bit 0: set in the wide form, where the word is a pointer to four 64-bit
  // offsets (key start, key end, value start, value end; a start of kNone
  // meaning absent) plus one. Otherwise bit 1: a key span, bit 2: a value
  // span, then the start of the key (of the value when there is no key),
  // the key's size, where the value starts from there, and its size.
  static constexpr uint64_t kWide = 1;
  static constexpr uint64_t kHasKey = 2;
  static constexpr uint64_t kHasValue = 4;
  static constexpr int kBaseAt = 3;        // 32 bits
  static constexpr int kKeySizeAt = 35;    // 8 bits
  static constexpr int kDeltaAt = 43;      // 7 bits
  static constexpr int kValueSizeAt = 50;  // 14 bits
  static constexpr uint64_t kNone = ~uint64_t{0};

  uint64_t field(int at, int bits) const { return (word_ >> at) & ((uint64_t{1} << bits) - 1); }
  uint64_t* block() const {
    uint64_t* p;
    const uint64_t bits = word_ & ~kWide;
    std::memcpy(&p, &bits, sizeof p);
    return p;
  }
  std::optional<Span> wide_span(int at) const {
    const uint64_t* b = block();
    if (b[at] == kNone) return std::nullopt;
    return Span{b[at], b[at + 1]};
  }
  // The word for `key` and `value`, or 0 with `fits` false when they need
  // a block.
  static uint64_t pack(const std::optional<Span>& key, const std::optional<Span>& value, bool& fits) {
    fits = false;
    uint64_t word = 0;
    uint64_t base = 0;
    if (key) {
      if (key->start > UINT32_MAX || key->end < key->start || key->end - key->start > 0xFF) return 0;
      base = key->start;
      word |= kHasKey | (base << kBaseAt) | ((key->end - key->start) << kKeySizeAt);
    }
    if (value) {
      if (!key) {
        if (value->start > UINT32_MAX) return 0;
        base = value->start;
        word |= base << kBaseAt;
      }
      if (value->start < base || value->start - base > 0x7F) return 0;
      if (value->end < value->start || value->end - value->start > 0x3FFF) return 0;
      word |= kHasValue | ((value->start - base) << kDeltaAt) | ((value->end - value->start) << kValueSizeAt);
    }
    fits = true;
    return word;
  }
  // Keeps `key` and `value` in the word when they fit it, else in a block.
  void set(const std::optional<Span>& key, const std::optional<Span>& value) {
    bool fits = false;
    const uint64_t word = pack(key, value, fits);
    if (fits) {
      release();
      word_ = word;
    } else {
      set_wide(key, value);
    }
  }
  // Out of line: only unusual spans take a block.
  void set_wide(const std::optional<Span>& key, const std::optional<Span>& value);
  void copy_wide(const EntrySpans& other);
  void release() noexcept {
    if (wide()) release_wide();
  }
  void release_wide() noexcept;

  uint64_t word_ = 0;
};
static_assert(sizeof(EntrySpans) == 8);
// A move copies the word and leaves the source without spans, which owns
// no block; a block is on the heap, never inside the object.
template <>
struct Relocatable<EntrySpans> : std::true_type {};

}  // namespace brindle
