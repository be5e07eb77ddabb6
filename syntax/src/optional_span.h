// OptionalSpan: a span that may be absent, read like std::optional<Span>,
// in 8 bytes; PackedSpan: one always present, read as a Span, the same way.
//
// A span starting below 2^32 and shorter than 2^31 bytes (any span of an
// ordinary source) sits in the word itself; any other moves into a small
// heap block the object owns, so positions stay exact for any source. Reads
// give the span by value. Copies are deep; a moved-from object is absent.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>

#include "relocatable.h"
#include "span.h"

namespace brindle {

class OptionalSpan {
 public:
  OptionalSpan() noexcept = default;
  OptionalSpan(std::nullopt_t) noexcept {}  // NOLINT: reads like an optional
  OptionalSpan(Span s) { set(s); }           // NOLINT
  OptionalSpan(const std::optional<Span>& s) {  // NOLINT
    if (s) set(*s);
  }
  OptionalSpan(const OptionalSpan& other) {
    if (other.wide()) {
      set_wide(other.wide_span());
    } else {
      word_ = other.word_;
    }
  }
  OptionalSpan(OptionalSpan&& other) noexcept : word_(std::exchange(other.word_, 0)) {}
  OptionalSpan& operator=(const OptionalSpan& other) {
    if (this != &other) *this = OptionalSpan(other);
    return *this;
  }
  OptionalSpan& operator=(OptionalSpan&& other) noexcept {
    if (this != &other) {
      release();
      word_ = std::exchange(other.word_, 0);
    }
    return *this;
  }
  ~OptionalSpan() { release(); }

  bool has_value() const { return word_ != 0; }
  explicit operator bool() const { return has_value(); }
  // Both require a span to be present.
  Span operator*() const {
    if (wide()) return wide_span();
    const uint64_t start = (word_ >> 1) & 0xFFFFFFFF;
    return Span{start, start + (word_ >> 33)};
  }
  // `x->start` reads a member of the span, held by the returned object.
  struct Arrow {
    Span span;
    const Span* operator->() const { return &span; }
  };
  Arrow operator->() const { return Arrow{**this}; }
  Span value_or(Span other) const { return has_value() ? **this : other; }
  operator std::optional<Span>() const {  // NOLINT
    return has_value() ? std::optional<Span>(**this) : std::nullopt;
  }
  void reset() noexcept { release(); }
  friend bool operator==(const OptionalSpan& a, const OptionalSpan& b) {
    return a.has_value() == b.has_value() && (!a.has_value() || *a == *b);
  }

 private:
  // 0: absent. Bit 0 set: the start in bits 1-32 and the size in 33-63.
  // Otherwise a pointer to a heap Span.
  bool wide() const { return word_ != 0 && (word_ & 1) == 0; }
  Span wide_span() const {
    Span* p;
    std::memcpy(&p, &word_, sizeof p);
    return *p;
  }
  void set(Span s) {
    if (s.start <= UINT32_MAX && s.end >= s.start && s.end - s.start < (uint64_t{1} << 31)) {
      word_ = 1 | (s.start << 1) | ((s.end - s.start) << 33);
    } else {
      set_wide(s);
    }
  }
  void set_wide(Span s) {
    Span* const p = new Span(s);
    std::memcpy(&word_, &p, sizeof p);
  }
  void release() noexcept {
    if (wide()) {
      Span* p;
      std::memcpy(&p, &word_, sizeof p);
      delete p;
    }
    word_ = 0;
  }

  uint64_t word_ = 0;
};
static_assert(sizeof(OptionalSpan) == 8);
// A move copies the word and leaves the source absent; a wide span's block
// is on the heap, never inside the object.
template <>
struct Relocatable<OptionalSpan> : std::true_type {};

// A span always present, kept as OptionalSpan keeps one (8 bytes for any
// span of an ordinary source, exact for any other); reads give it by value.
class PackedSpan {
 public:
  PackedSpan() : span_(Span{}) {}
  PackedSpan(Span s) : span_(s) {}  // NOLINT: stores a Span
  operator Span() const { return *span_; }  // NOLINT: reads as one
  uint64_t start() const { return span_->start; }
  uint64_t end() const { return span_->end; }

 private:
  OptionalSpan span_;
};
static_assert(sizeof(PackedSpan) == 8);
template <>
struct Relocatable<PackedSpan> : std::true_type {};

}  // namespace brindle
