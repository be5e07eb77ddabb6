#include "group_index.h"

#include <algorithm>
#include <limits>

namespace brindle {

namespace {

constexpr uint32_t kOpen = std::numeric_limits<uint32_t>::max();

}  // namespace

// The same walk as the value grammar's scan_top_level: a backslash escapes
// the next byte inside and outside quotes, `#{` and `}#` are two-byte
// brackets, the other brackets count alike.
void GroupIndex::build() {
  built_ = true;
  const size_t n = text_.size();
  if (n >= kOpen) return;  // left empty: covers() is false
  clean_.assign((n + 64) / 64, 0);
  std::vector<size_t> stack;  // indices into openers_
  bool in_quotes = false;
  bool escaped = false;
  for (size_t i = 0; i < n; ++i) {
    if (!in_quotes && !escaped) clean_[i / 64] |= uint64_t{1} << (i % 64);
    const char c = text_[i];
    if (escaped) {
      escaped = false;
    } else if (c == '\\') {
      escaped = true;
    } else if (c == '"') {
      in_quotes = !in_quotes;
    } else if (!in_quotes) {
      const char next = i + 1 < n ? text_[i + 1] : '\0';
      const bool pair_open = c == '#' && next == '{';
      const bool pair_close = c == '}' && next == '#';
      if (pair_open || c == '(' || c == '[' || (c == '{')) {
        stack.push_back(openers_.size());
        openers_.push_back(static_cast<uint32_t>(i));
        resumes_.push_back(kOpen);
      } else if (pair_close || c == ')' || c == ']' || c == '}') {
        if (!stack.empty()) {
          resumes_[stack.back()] = static_cast<uint32_t>(i + (pair_close ? 2 : 1));
          stack.pop_back();
        }
      }
      if (pair_open || pair_close) ++i;
    }
  }
}

bool GroupIndex::covers(std::string_view sub) {
  if (sub.data() < text_.data() || sub.data() + sub.size() > text_.data() + text_.size()) return false;
  if (!built_) build();
  const auto start = static_cast<size_t>(sub.data() - text_.data());
  if (clean_.empty() || start >= text_.size()) return false;
  return (clean_[start / 64] >> (start % 64)) & 1;
}

size_t GroupIndex::resume(std::string_view sub, size_t i) const {
  const auto start = static_cast<size_t>(sub.data() - text_.data());
  const auto at = static_cast<uint32_t>(start + i);
  auto it = std::lower_bound(openers_.begin(), openers_.end(), at);
  if (it == openers_.end() || *it != at) return kNone;
  const uint32_t r = resumes_[static_cast<size_t>(it - openers_.begin())];
  return r == kOpen ? text_.size() - start : r - start;  // never closes: past every byte
}

}  // namespace brindle
