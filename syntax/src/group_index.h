// Where each bracket group of one value text ends, found in one pass under
// each quote rule of quote_rules.h. The value grammar's scanners, run on an
// inner level of a nested value, jump over the groups nested inside it
// instead of walking them again, and the expression evaluator reads only a
// level's own bytes to see that it is a single operand; so a value nested n
// levels deep costs a bounded number of passes over its bytes rather than n.
//
// Each rule's table is built on first use, for the one value text the index
// was made with; texts that are views into it and start where that rule's
// scan is outside quotes and escapes (every text the grammar splits off at a
// bracket, comma or `=`) may use it. Any other text is scanned byte by byte
// as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "quote_rules.h"

namespace brindle {

class GroupIndex {
 public:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  explicit GroupIndex(std::string_view text) : text_(text) {}

  // Starts over for another value text, keeping the tables' storage.
  void reset(std::string_view text);

  // True when a scan of `sub` under `rule` may use resume(); builds that
  // rule's table if needed.
  bool covers(std::string_view sub, QuoteRule rule = QuoteRule::Escapes);
  // For an opener at sub[i] (one byte, or the `#` of `#{`): the index in
  // `sub` right after the closer that ends its group (at or past sub's end
  // when it does not close within it), or kNone when the table has no
  // opener there. Requires covers(sub, rule).
  size_t resume(std::string_view sub, size_t i, QuoteRule rule = QuoteRule::Escapes);

 private:
  struct Table {
    bool built = false;
    std::vector<uint32_t> openers;  // positions, ascending
    std::vector<uint32_t> resumes;  // beside each opener; UINT32_MAX: never closes
    std::vector<uint64_t> clean;    // bit per byte: the scan enters it outside quotes and escapes
    size_t hint = static_cast<size_t>(-1);  // the opener found last
  };
  template <QuoteRule Rule>
  void build(Table& table);
  static size_t find_opener(Table& table, uint32_t at);
  Table& table(QuoteRule rule) { return rule == QuoteRule::Escapes ? escapes_ : plain_; }
  const Table& table(QuoteRule rule) const { return rule == QuoteRule::Escapes ? escapes_ : plain_; }

  std::string_view text_;
  Table escapes_;
  Table plain_;
  std::vector<uint32_t> stack_;  // scratch of build()
};

}  // namespace brindle
