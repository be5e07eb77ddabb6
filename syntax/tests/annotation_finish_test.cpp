// Long runs of appends merged by one finish (as a large document's build
// does): each path keeps the place of its first append and the list of its
// last, and is found afterwards, whatever the run's length against how far
// ahead finish reads, and whether the table already had an index.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model.h"

namespace brindle {
namespace {

// Appended piece by piece: `"a" + std::to_string(i)` trips a false -Wrestrict.
std::string named(const char* prefix, uint64_t i) { return std::string(prefix).append(std::to_string(i)); }

TEST(AnnotationFinish, LongRunsOfAppendsMergeLikeOneByOneSets) {
  uint64_t seed = 11;
  auto below = [&](uint64_t n) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return (seed >> 33) % n;
  };
  for (const size_t before : {0u, 5u, 40u}) {
    for (size_t run = 0; run < 70; run += 3) {
      SCOPED_TRACE(std::to_string(before) + " then " + std::to_string(run));
      AnnotationTable table;
      std::vector<std::string> order;       // paths by first appearance
      std::vector<std::string> last_names;  // the name of each path's last list
      const auto put = [&](const std::string& path, const std::string& name, bool append) {
        std::vector<Annotation> list(1);
        list[0].name = name;
        if (append) {
          table.append(path, list, {});
        } else {
          table.set(path, std::move(list));
        }
        size_t i = 0;
        while (i < order.size() && order[i] != path) ++i;
        if (i == order.size()) {
          order.push_back(path);
          last_names.emplace_back();
        }
        last_names[i] = name;
      };
      // Set one by one first: a table past a few entries has its index.
      for (size_t i = 0; i < before; ++i) put(named("a.p", i), named("s", i), false);
      // Then a run of appends, a third of them repeats (of earlier paths or
      // of paths of the run itself).
      const uint64_t kinds = before + run / 2 + 1;
      for (size_t i = 0; i < run; ++i) {
        put(named("a.p", below(kinds)), named("r", i), true);
      }
      table.finish();
      ASSERT_EQ(table.size(), order.size());
      for (size_t i = 0; i < order.size(); ++i) {
        const auto [path, list] = table.entry(i);
        EXPECT_EQ(path, order[i]);
        ASSERT_EQ(list.size(), 1u) << path;
        EXPECT_EQ(list[0].name.view(), last_names[i]) << path;
        const AnnotationList* found = table.find(order[i]);
        ASSERT_NE(found, nullptr) << order[i];
        EXPECT_EQ(found->data(), list.data()) << order[i];
      }
      EXPECT_EQ(table.find("a.absent"), nullptr);
    }
  }
}

}  // namespace
}  // namespace brindle
