#include "key_hash.h"

#include <chrono>
#include <random>

namespace brindle {

namespace {

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

}  // namespace brindle
