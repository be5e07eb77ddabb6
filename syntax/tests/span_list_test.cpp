// SpanList against a std::vector<Span> filled the same way: growth from
// empty through several doublings, copies (deep), moves (the source left
// empty), assignment over a full list, and equality.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "span_list.h"

namespace brindle {
namespace {

std::vector<Span> as_vector(const SpanList& l) { return std::vector<Span>(l.begin(), l.end()); }

TEST(SpanList, ActsLikeAVectorOfSpans) {
  for (size_t n : {size_t{0}, size_t{1}, size_t{3}, size_t{4}, size_t{5}, size_t{17}, size_t{1000}}) {
    SpanList list;
    std::vector<Span> want;
    if (n % 2 == 1) list.reserve(n / 2);  // some start with room, others grow from none
    for (size_t i = 0; i < n; ++i) {
      const Span s{uint64_t{i} << 33, (uint64_t{i} << 33) + i};  // both halves of each offset used
      list.push_back(s);
      want.push_back(s);
    }
    ASSERT_EQ(list.size(), n);
    EXPECT_EQ(list.empty(), n == 0);
    EXPECT_EQ(as_vector(list), want) << n;
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(list[i], want[i]) << n;

    SpanList copy = list;
    EXPECT_EQ(as_vector(copy), want) << n;
    EXPECT_TRUE(copy == list) << n;
    copy.push_back(Span{1, 2});  // the copy has its own block
    EXPECT_EQ(as_vector(list), want) << n;
    EXPECT_FALSE(copy == list) << n;

    SpanList moved = std::move(copy);
    EXPECT_TRUE(copy.empty()) << n;
    EXPECT_EQ(moved.size(), n + 1) << n;
    moved = list;  // over a full list
    EXPECT_EQ(as_vector(moved), want) << n;
    moved = SpanList();
    EXPECT_TRUE(moved.empty()) << n;
    EXPECT_EQ(moved.begin(), moved.end()) << n;
  }
}

TEST(SpanList, EqualityComparesEverySpan) {
  SpanList a;
  SpanList b;
  EXPECT_TRUE(a == b);
  a.push_back({1, 2});
  EXPECT_FALSE(a == b);
  b.push_back({1, 3});
  EXPECT_FALSE(a == b);  // same size, another end
  SpanList c;
  c.push_back({1, 2});
  EXPECT_TRUE(a == c);
}

}  // namespace
}  // namespace brindle
