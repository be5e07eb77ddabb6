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

// SipHash-1-3 of `bytes` under the key (k0, k1), words read little-endian.
uint64_t siphash13(uint64_t k0, uint64_t k1, std::string_view bytes) noexcept;

// The same under this process's secret. Out of line: most callers hash
// only once their table is large, and inlining it would crowd their
// common path.
uint64_t keyed_hash(std::string_view bytes) noexcept;

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
