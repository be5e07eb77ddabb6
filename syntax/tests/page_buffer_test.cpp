// Buffers on both sides of the size where PageBufferAllocator maps them on
// their own pages: contents survive growth across it, copies, moves and
// shrinking back below it (a buffer must go back the way it came, which the
// sanitizer build checks).
#include "page_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace brindle {
namespace {

using Words = std::vector<uint64_t, PageBufferAllocator<uint64_t>>;
using Bytes = std::basic_string<char, std::char_traits<char>, PageBufferAllocator<char>>;

constexpr size_t kWordsAtEdge = kPageBufferFrom / sizeof(uint64_t);

uint64_t word_at(size_t i) { return i * 0x9E3779B97F4A7C15ull + 1; }

void expect_words(const Words& w, size_t n) {
  ASSERT_EQ(w.size(), n);
  for (size_t i = 0; i < n; ++i) {
    if (w[i] != word_at(i)) {
      ADD_FAILURE() << "word " << i << " of " << n;
      return;
    }
  }
}

TEST(PageBuffer, VectorsKeepTheirItemsAcrossTheEdge) {
  for (const size_t n : {size_t{0}, size_t{1}, kWordsAtEdge - 1, kWordsAtEdge, kWordsAtEdge + 1,
                         3 * kWordsAtEdge + 5}) {
    SCOPED_TRACE(n);
    // Grown one at a time (every doubling on the way) and sized at once.
    Words grown;
    for (size_t i = 0; i < n; ++i) grown.push_back(word_at(i));
    expect_words(grown, n);
    Words sized;
    sized.reserve(n);
    for (size_t i = 0; i < n; ++i) sized.push_back(word_at(i));
    expect_words(sized, n);

    Words copy(grown);
    expect_words(copy, n);
    Words moved(std::move(copy));
    expect_words(moved, n);
    Words assigned;
    assigned = moved;
    expect_words(assigned, n);

    // Back below the edge: the mapped buffer is let go, a heap one taken.
    if (n > 1) {
      moved.resize(n / 4);
      moved.shrink_to_fit();
      expect_words(moved, n / 4);
      moved.push_back(word_at(n / 4));
      expect_words(moved, n / 4 + 1);
    }
  }
}

TEST(PageBuffer, StringsKeepTheirBytesAcrossTheEdge) {
  for (const size_t n : {size_t{5}, kPageBufferFrom - 1, kPageBufferFrom, 2 * kPageBufferFrom + 3}) {
    SCOPED_TRACE(n);
    Bytes text;
    std::string model;
    for (size_t i = 0; text.size() < n; ++i) {
      const std::string piece = std::to_string(i) + ".";
      text.append(piece);
      model.append(piece);
    }
    EXPECT_EQ(std::string_view(text), model);
    Bytes copy = text;
    text.clear();
    text.shrink_to_fit();
    EXPECT_EQ(std::string_view(copy), model);
    EXPECT_TRUE(text.empty());
  }
}

}  // namespace
}  // namespace brindle
