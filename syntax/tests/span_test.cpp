#include "span.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

TEST(Span, LineAndColumnFromOffsets) {
  const struct { std::string source; uint64_t offset; std::string at; } cases[] = {
      {"", 0, "1:1"},
      {"a\nb", 1, "1:2"},       // the line feed belongs to its line
      {"a\nb\n", 4, "3:1"},     // end of a source ending in a newline
      {"a\nb", 99, "2:2"},      // clamped to the source length
      {"a\r\nb", 2, "1:3"},     // CR counts as a byte of the line before
      {"\xC3\xA9x", 2, "1:3"},  // columns count bytes
      {"ab\ncd\n\nef", 8, "4:2"},
  };
  for (const auto& c : cases) {
    const LineColumn lc = line_column(c.source, c.offset);
    EXPECT_EQ(std::to_string(lc.line) + ":" + std::to_string(lc.column), c.at) << c.source << " @" << c.offset;
  }
}

}  // namespace
}  // namespace brindle
