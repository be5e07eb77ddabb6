// Byte searches sixteen bytes at a time, for the scanners that stop at one
// or two byte values (a quote, a backslash) in long runs of other bytes.
// match16 reads exactly the sixteen bytes at `p` (match64 the 64); the
// caller makes sure they are in bounds. Bit k of the mask is set when p[k]
// matches. On x86-64 the compare is one SSE2 instruction per byte value;
// elsewhere a plain loop the compiler may vectorise.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brindle {

inline constexpr size_t kMatchWidth = 16;

inline uint32_t match16(const char* p, char a, char b) {
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(a)), _mm_cmpeq_epi8(v, _mm_set1_epi8(b)));
  return static_cast<uint32_t>(_mm_movemask_epi8(hits));
#else
  uint32_t mask = 0;
  for (size_t k = 0; k < kMatchWidth; ++k) mask |= static_cast<uint32_t>(p[k] == a || p[k] == b) << k;
  return mask;
#endif
}

inline uint32_t match16(const char* p, char a) { return match16(p, a, a); }

// The same for the 64 bytes at `p`: bit k set when p[k] is `a`.
inline uint64_t match64(const char* p, char a) {
  uint64_t mask = 0;
  for (size_t k = 0; k < 4; ++k) mask |= uint64_t{match16(p + k * kMatchWidth, a)} << (k * kMatchWidth);
  return mask;
}

// Index of the first byte at or after `i` equal to `a` or `b`, or
// text.size() when there is none.
inline size_t find_either(std::string_view text, size_t i, char a, char b) {
  const size_t n = text.size();
  for (; i + kMatchWidth <= n; i += kMatchWidth) {
    const uint32_t mask = match16(text.data() + i, a, b);
    if (mask != 0) return i + static_cast<size_t>(std::countr_zero(mask));
  }
  for (; i < n; ++i) {
    if (text[i] == a || text[i] == b) return i;
  }
  return n;
}

inline size_t find_byte(std::string_view text, size_t i, char a) { return find_either(text, i, a, a); }

}  // namespace brindle
