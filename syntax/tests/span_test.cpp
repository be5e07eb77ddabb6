#include "span.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

struct Case {
  std::string source;
  uint64_t offset, line, column;
};

TEST(Span, LineAndColumnFromOffsets) {
  const Case cases[] = {
      {"", 0, 1, 1},
      {"abc", 2, 1, 3},
      {"a\nb", 1, 1, 2},           // the line feed belongs to its line
      {"a\nb\n", 2, 2, 1},
      {"a\nb\n", 4, 3, 1},         // end of a source ending in a newline
      {"a\nb", 99, 2, 2},          // clamped to the source length
      {"a\r\nb", 2, 1, 3},         // CR counts as a byte of the line before
      {"\xC3\xA9x", 2, 1, 3},      // columns count bytes
      {"x\n\n\ny", 4, 4, 1},
      {"ab\ncd\nef\ngh", 7, 3, 2},
  };
  for (const auto& c : cases) {
    const LineColumn lc = line_column(c.source, c.offset);
    EXPECT_EQ(lc.line, c.line) << c.source << " @" << c.offset;
    EXPECT_EQ(lc.column, c.column) << c.source << " @" << c.offset;
  }
}

}  // namespace
}  // namespace brindle
