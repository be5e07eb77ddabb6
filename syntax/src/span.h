// Positions: a span is a half-open byte range into the source of one parse;
// line and column are computed only when a problem is shown to a user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brindle {

// Half-open byte range into the source text of one parse.
struct Span {
  uint64_t start = 0;
  uint64_t end = 0;
  friend bool operator==(const Span&, const Span&) = default;
};

struct LineColumn {
  uint64_t line = 1;    // 1-based
  uint64_t column = 1;  // 1-based, counted in bytes
};

// Line starts of a source: 0 and the offset after every line feed. Built in
// one pass; each lookup is a binary search.
class LineIndex {
 public:
  explicit LineIndex(std::string_view source);
  // The offset is clamped to the source length first.
  LineColumn locate(uint64_t offset) const;

 private:
  std::vector<uint64_t> starts_;
  uint64_t size_;
};

// One-off form of LineIndex::locate.
LineColumn line_column(std::string_view source, uint64_t offset);

}  // namespace brindle
