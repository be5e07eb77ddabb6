// Where each bracket group of one value text ends, found in one pass with
// the quote and escape rules of split_top_level and find_top_level. Those
// scanners, run on an inner level of a nested value, jump over the groups
// nested inside it instead of walking them again, so a value nested n levels
// deep costs a bounded number of passes over its bytes rather than n.
//
// Built on first use, for the one value text it was made with; texts that
// are views into it and start where its own scan is outside quotes and
// escapes (every text the grammar splits off at a bracket, comma or `=`)
// may use it. Any other text is scanned byte by byte as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace brindle {

class GroupIndex {
 public:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  explicit GroupIndex(std::string_view text) : text_(text) {}

  // True when a scan of `sub` may use resume(); builds the index if needed.
  bool covers(std::string_view sub);
  // For an opener at sub[i] (one byte, or the `#` of `#{`): the index in
  // `sub` right after the closer that ends its group (at or past sub's end
  // when it does not close within it), or kNone when the index has no
  // opener there.
  size_t resume(std::string_view sub, size_t i) const;

 private:
  void build();

  std::string_view text_;
  bool built_ = false;
  std::vector<uint32_t> openers_;  // positions, ascending
  std::vector<uint32_t> resumes_;  // beside each opener; UINT32_MAX: never closes
  std::vector<uint64_t> clean_;    // bit per byte: the scan enters it outside quotes and escapes
};

}  // namespace brindle
