// The hash of every table keyed by text from a document or a caller.
//
// SipHash-1-3 keyed by a 128-bit secret drawn once per process: without
// the secret nobody can choose keys that share a hash, so a file cannot
// make a table probe through thousands of colliding entries. Values differ
// between processes; nothing that is written out may depend on them (tables
// are never walked to produce output in hash order).
#pragma once

#include <cstddef>
#include <cstdint>
#include <bit>
#include <cstring>
#include <string>
#include <string_view>

namespace brindle {

struct HashSecret {
  uint64_t k0;
  uint64_t k1;
};

// This process's secret: drawn from std::random_device on first use (mixed
// from addresses and the clock should the device fail), then never changed.
// Safe to call from any thread; never throws.
const HashSecret& hash_secret() noexcept;

namespace sip_detail {

inline uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

inline void round(uint64_t& v0, uint64_t& v1, uint64_t& v2, uint64_t& v3) {
  v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
  v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
  v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
  v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
}

}  // namespace sip_detail

// SipHash-1-3 of `bytes` under the key (k0, k1), words read little-endian.
// Inline: the tables hash short keys, where a call costs a good part.
inline uint64_t siphash13(uint64_t k0, uint64_t k1, std::string_view bytes) noexcept {
  using sip_detail::round;
  uint64_t v0 = k0 ^ 0x736f6d6570736575ull;
  uint64_t v1 = k1 ^ 0x646f72616e646f6dull;
  uint64_t v2 = k0 ^ 0x6c7967656e657261ull;
  uint64_t v3 = k1 ^ 0x7465646279746573ull;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  const uint64_t last = static_cast<uint64_t>(n) << 56;
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t m;
    std::memcpy(&m, p, 8);
    if constexpr (std::endian::native == std::endian::big) m = __builtin_bswap64(m);
    v3 ^= m;
    round(v0, v1, v2, v3);
    v0 ^= m;
  }
  uint64_t m = last;
  for (size_t i = 0; i < n; ++i) m |= static_cast<uint64_t>(p[i]) << (8 * i);
  v3 ^= m;
  round(v0, v1, v2, v3);
  v0 ^= m;
  v2 ^= 0xff;
  round(v0, v1, v2, v3);
  round(v0, v1, v2, v3);
  round(v0, v1, v2, v3);
  return v0 ^ v1 ^ v2 ^ v3;
}

// The keyed hash under this process's secret.
inline uint64_t keyed_hash(std::string_view bytes) noexcept {
  const HashSecret& s = hash_secret();
  return siphash13(s.k0, s.k1, bytes);
}

// How a linearly probed index holds its keys: how many, and how many slots
// past its first one the lookup of each steps, in all. For tests that check
// that colliding text cannot pile keys up.
struct ProbeLoad {
  size_t entries = 0;
  size_t steps = 0;
};

// keyed_hash for unordered containers; transparent, so a string_view finds
// a std::string key without a copy (with std::equal_to<>).
struct KeyHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return static_cast<size_t>(keyed_hash(s)); }
  size_t operator()(const std::string& s) const noexcept { return static_cast<size_t>(keyed_hash(s)); }
  size_t operator()(const char* s) const noexcept { return static_cast<size_t>(keyed_hash(s)); }
};

}  // namespace brindle
