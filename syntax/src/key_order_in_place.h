// Key order for a large dictionary, sorting its entries where they are.
//
// `sort_in_place` puts items[0, n) in byte-wise key order, equal keys by
// their number in `numbers` (which moves along with its item), using no
// memory beyond that array and a few counters per level: sorting handles
// instead would hold two arrays of them beside the entries at the peak.
// Items must be relocatable (they are swapped as bytes). Most significant
// byte first: each level counts the keys by their next byte (a key that
// ends there comes first) and swaps every item straight into its bucket,
// a bucket being filled front to back as a stream; a level where all keys
// share the byte skips the whole shared prefix at once. Small parts are
// sorted by comparison. The largest bucket goes on in the loop and the
// others recurse, so the recursion is at most log2(n) deep. Time is linear
// in the bytes of the keys that tell them apart, plus n log n for long
// runs of one repeated key; nothing throws.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "relocatable.h"

namespace brindle::key_order {

// Below this many items a part is sorted by comparison.
constexpr size_t kInPlaceCompareBelow = 48;

template <class T>
void swap_items(T* items, uint32_t* numbers, size_t a, size_t b) {
  static_assert(relocatable_v<T>, "items are swapped as bytes");
  alignas(T) unsigned char held[sizeof(T)];
  std::memcpy(held, static_cast<void*>(items + a), sizeof(T));
  std::memcpy(static_cast<void*>(items + a), static_cast<void*>(items + b), sizeof(T));
  std::memcpy(static_cast<void*>(items + b), held, sizeof(T));
  std::swap(numbers[a], numbers[b]);
}

// Sorts a part of fewer than kInPlaceCompareBelow items, whose keys share
// their first `depth` bytes: by key, then number.
template <class T, class KeyOf>
void sort_small_part(T* items, uint32_t* numbers, size_t n, size_t depth, const KeyOf& key_of) {
  uint8_t order[kInPlaceCompareBelow];
  for (size_t i = 0; i < n; ++i) order[i] = static_cast<uint8_t>(i);
  std::sort(order, order + n, [&](uint8_t a, uint8_t b) {
    const int c = key_of(items[a]).substr(depth).compare(key_of(items[b]).substr(depth));
    return c != 0 ? c < 0 : numbers[a] < numbers[b];
  });
  // Position i takes the item now at order[i]; follow the cycles.
  for (size_t start = 0; start < n; ++start) {
    size_t at = start;
    while (order[at] != start) {
      const size_t next = order[at];
      swap_items(items, numbers, at, next);
      order[at] = static_cast<uint8_t>(at);
      at = next;
    }
    order[at] = static_cast<uint8_t>(at);
  }
}

// Orders items of one and the same key by number, in place (heap sort: a
// run of one repeated key can be long).
template <class T>
void sort_by_number(T* items, uint32_t* numbers, size_t n) {
  auto sift = [&](size_t root, size_t end) {
    while (2 * root + 1 < end) {
      size_t child = 2 * root + 1;
      if (child + 1 < end && numbers[child] < numbers[child + 1]) ++child;
      if (!(numbers[root] < numbers[child])) return;
      swap_items(items, numbers, root, child);
      root = child;
    }
  };
  for (size_t i = n / 2; i-- > 0;) sift(i, n);
  for (size_t end = n; end-- > 1;) {
    swap_items(items, numbers, 0, end);
    sift(0, end);
  }
}

// Bucket of a key at `depth`: 0 when it ends before, else 1 + its byte.
inline unsigned bucket_at(std::string_view key, size_t depth) {
  return depth < key.size() ? 1u + static_cast<unsigned char>(key[depth]) : 0u;
}

template <class T, class KeyOf>
void sort_part(T* items, uint32_t* numbers, size_t n, size_t depth, const KeyOf& key_of) {
  while (n >= kInPlaceCompareBelow) {
    uint32_t count[257] = {};
    for (size_t i = 0; i < n; ++i) ++count[bucket_at(key_of(items[i]), depth)];
    const unsigned first = bucket_at(key_of(items[0]), depth);
    if (count[first] == n) {
      if (first == 0) {  // every key ended: one key, repeated
        sort_by_number(items, numbers, n);
        return;
      }
      // All share this byte: skip the prefix they all share.
      const std::string_view lead = key_of(items[0]);
      size_t shared = lead.size();
      for (size_t i = 1; i < n && shared > depth + 1; ++i) {
        const std::string_view k = key_of(items[i]);
        size_t m = depth + 1;
        const size_t limit = std::min(shared, k.size());
        while (m < limit && k[m] == lead[m]) ++m;
        shared = m;
      }
      depth = shared;
      continue;
    }
    uint32_t next[257];
    uint32_t end[257];
    uint32_t sum = 0;
    unsigned largest = 1;
    for (unsigned b = 0; b < 257; ++b) {
      next[b] = sum;
      sum += count[b];
      end[b] = sum;
      if (b != 0 && count[b] > count[largest]) largest = b;
    }
    // Each bucket in turn takes, at its front, the items that belong there.
    for (unsigned b = 0; b < 257; ++b) {
      while (next[b] < end[b]) {
        const unsigned to = bucket_at(key_of(items[next[b]]), depth);
        if (to == b) {
          ++next[b];
        } else {
          swap_items(items, numbers, next[b], next[to]++);
        }
      }
    }
    // Keys that ended are one key, repeated.
    if (count[0] > 1) sort_by_number(items, numbers, count[0]);
    for (unsigned b = 1; b < 257; ++b) {
      if (count[b] > 1 && b != largest) {
        const size_t start = end[b] - count[b];
        sort_part(items + start, numbers + start, count[b], depth + 1, key_of);
      }
    }
    const size_t start = end[largest] - count[largest];
    items += start;
    numbers += start;
    n = count[largest];
    ++depth;
  }
  if (n > 1) sort_small_part(items, numbers, n, depth, key_of);
}

// `key_of(item)` gives an item's key as a std::string_view; numbers[i] is
// the number of items[i] (its place of arrival, for equal keys).
template <class T, class KeyOf>
void sort_in_place(T* items, uint32_t* numbers, size_t n, const KeyOf& key_of) {
  sort_part(items, numbers, n, 0, key_of);
}

}  // namespace brindle::key_order
