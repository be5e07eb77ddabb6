#include "pattern_cache.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace brindle {

namespace {

// What a failed compile is charged: a program as large as the memory limit
// allows (RE2 spends roughly 16 bytes per instruction).
constexpr uint64_t kFailedCompileCost = static_cast<uint64_t>(kPatternMaxMemory) / 16;

}  // namespace

uint64_t pattern_budget_for(uint64_t source_size) {
  constexpr uint64_t kFloor = uint64_t{1'000'000};
  constexpr uint64_t kPerByte = 16;
  if (source_size > std::numeric_limits<uint64_t>::max() / kPerByte) {
    return std::numeric_limits<uint64_t>::max();
  }
  return std::max(kFloor, source_size * kPerByte);
}

const Pattern* PatternCache::get(std::string_view source) {
  if (auto it = compiled_.find(source); it != compiled_.end()) return &it->second;
  if (remaining_ == 0) return nullptr;
  Pattern pattern = Pattern::compile(source);
  // A pattern refused before RE2 built anything costs about its length; one
  // refused for the size of its program, the largest program allowed.
  uint64_t cost = pattern.ok() ? static_cast<uint64_t>(pattern.program_size()) : source.size();
  if (!pattern.ok() && pattern.error().starts_with("pattern is too large")) cost = kFailedCompileCost;
  // The compile that crosses the budget is kept: its work is done already.
  remaining_ = cost >= remaining_ ? 0 : remaining_ - cost;
  return &compiled_.emplace(std::string(source), std::move(pattern)).first->second;
}

}  // namespace brindle
