#include "span.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace brindle {

LineIndex::LineIndex(std::string_view source) : size_(source.size()) {
  starts_.push_back(0);
  const char* base = source.data();
  const char* p = base;
  const char* end = base + source.size();
  while (p < end) {
    const void* nl = std::memchr(p, '\n', static_cast<size_t>(end - p));
    if (nl == nullptr) break;
    p = static_cast<const char*>(nl) + 1;
    starts_.push_back(static_cast<uint64_t>(p - base));
  }
}

LineColumn LineIndex::locate(uint64_t offset) const {
  offset = std::min(offset, size_);
  auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const auto line = static_cast<uint64_t>(it - starts_.begin());  // >= 1
  return {line, offset - starts_[line - 1] + 1};
}

LineColumn line_column(std::string_view source, uint64_t offset) {
  return LineIndex(source).locate(offset);
}

}  // namespace brindle
