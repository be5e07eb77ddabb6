// The `@pattern` regexes of one validation: each distinct pattern text is
// compiled once, and the compile work of all of them together is bounded by
// the size of the document, so that a small file cannot make validation
// compile for minutes (many keys sharing one costly pattern, or many costly
// patterns). Work is counted in compiled-program instructions; a pattern that
// fails to compile counts as the largest program allowed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "key_hash.h"
#include "pattern_gate.h"

namespace brindle {

// Compile work one validation may spend on a source of `source_size` bytes:
// a floor of 1 M instructions (a few tenths of a second; an ordinary pattern
// is tens of instructions), or 16 per source byte beyond it.
uint64_t pattern_budget_for(uint64_t source_size);

class PatternCache {
 public:
  explicit PatternCache(uint64_t budget) : remaining_(budget) {}

  // The compiled pattern for `source`, or null when compiling it would pass
  // the budget (once spent, only patterns already compiled are handed out).
  const Pattern* get(std::string_view source);

  // Compile work the budget still allows.
  uint64_t remaining() const { return remaining_; }

 private:
  std::unordered_map<std::string, Pattern, KeyHash, std::equal_to<>> compiled_;
  uint64_t remaining_;
};

}  // namespace brindle
