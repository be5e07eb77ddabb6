// A stable sort of a few items in place, with no allocation: for the small
// arrays (a section's keys, a small file's annotations) that arrive nearly
// in order, where a general sort's setup or buffer costs more than it saves.
#pragma once

#include <cstddef>
#include <utility>

namespace brindle {

// Sorts a[0, n) by `less`; equal items keep their order.
template <class T, class Less>
void insertion_sort(T* a, size_t n, const Less& less) {
  for (size_t i = 1; i < n; ++i) {
    T item = std::move(a[i]);
    size_t j = i;
    for (; j > 0 && less(item, a[j - 1]); --j) a[j] = std::move(a[j - 1]);
    a[j] = std::move(item);
  }
}

}  // namespace brindle
