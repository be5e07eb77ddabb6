// The annotation table's former path hash, unkeyed, as it was: the tests
// and the flood benchmark build paths that collided under it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace brindle::former {

inline uint32_t former_path_hash(std::string_view path) {
  const auto word = [](const char* p, size_t n) {
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    return w;
  };
  uint64_t h = 0x9E3779B97F4A7C15ull ^ path.size();
  const char* p = path.data();
  size_t n = path.size();
  for (; n >= 8; p += 8, n -= 8) {
    h = (h ^ word(p, 8)) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  }
  if (n != 0) {
    h = (h ^ word(p, n)) * 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 29;
  }
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  return static_cast<uint32_t>(h);
}

}  // namespace brindle::former
