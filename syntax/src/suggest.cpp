#include "suggest.h"

#include <algorithm>
#include <array>

namespace brindle {

size_t edit_distance(std::string_view a, std::string_view b) {
  constexpr size_t kMax = 64;
  if (a.size() > kMax || b.size() > kMax) return kMax * 2;
  // Three rows of the Damerau (optimal string alignment) table.
  std::array<size_t, kMax + 1> before{}, prev{}, cur{};
  for (size_t j = 0; j <= b.size(); ++j) prev[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    cur[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        cur[j] = std::min(cur[j], before[j - 2] + 1);
      }
    }
    before = prev;
    prev = cur;
  }
  return prev[b.size()];
}

}  // namespace brindle
