// A dotted name (a section header's name) cut into its segments, with where
// each one stands: points inside double quotes do not cut, and a backslash
// keeps the quote after it from opening or closing. Each segment is trimmed
// and unquoted; its span is the trimmed text, quotes included, relative to the
// start of the name. There is always at least one segment (possibly empty).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

struct KeySegment {
  std::string name;  // unquoted
  size_t start = 0;  // offset of the written segment in the name
  size_t end = 0;
};

std::vector<KeySegment> split_key_segments(std::string_view name);

}  // namespace brindle
