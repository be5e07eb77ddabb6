#include "key_hash.h"

#include <bit>
#include <chrono>
#include <cstring>
#include <random>

namespace brindle {

namespace {

uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

void sip_round(uint64_t& v0, uint64_t& v1, uint64_t& v2, uint64_t& v3) {
  v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
  v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
  v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
  v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
}

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

HashSecret draw_secret() noexcept {
  try {
    std::random_device device;
    uint64_t words[4];
    for (uint64_t& w : words) w = device();
    // random_device yields 32 bits a call.
    return {(words[0] << 32) ^ words[1], (words[2] << 32) ^ words[3]};
  } catch (...) {
    // No entropy device: weaker, but still unknown to whoever wrote the
    // file (where the program and its stack were placed, and when).
    int local = 0;
    const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const auto wall = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    const uint64_t a = mix(reinterpret_cast<uintptr_t>(&local) ^ mix(now));
    const uint64_t b = mix(reinterpret_cast<uintptr_t>(&draw_secret) ^ mix(wall ^ a));
    return {a, b};
  }
}

}  // namespace

const HashSecret& hash_secret() noexcept {
  static const HashSecret secret = draw_secret();
  return secret;
}

uint64_t siphash13(uint64_t k0, uint64_t k1, std::string_view bytes) noexcept {
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
    sip_round(v0, v1, v2, v3);
    v0 ^= m;
  }
  uint64_t m = last;
  for (size_t i = 0; i < n; ++i) m |= static_cast<uint64_t>(p[i]) << (8 * i);
  v3 ^= m;
  sip_round(v0, v1, v2, v3);
  v0 ^= m;
  v2 ^= 0xff;
  sip_round(v0, v1, v2, v3);
  sip_round(v0, v1, v2, v3);
  sip_round(v0, v1, v2, v3);
  return v0 ^ v1 ^ v2 ^ v3;
}

uint64_t keyed_hash(std::string_view bytes) noexcept {
  const HashSecret& s = hash_secret();
  return siphash13(s.k0, s.k1, bytes);
}

}  // namespace brindle
