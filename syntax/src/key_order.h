// Key order for sealing a dictionary: sorting small handles instead of its
// entries, and moving each entry once.
//
// A handle is the first eight bytes of a key as a big-endian number (zeros
// past its end) and the entry's number: most comparisons end on the heads
// without touching a key. `sort_handles` puts handles in byte-wise key
// order, equal keys by number, so the last of a repeated key comes last.
// `permute` then moves the items so that the one at from[i] ends at i, in
// place, with no second array of items. Both take time close to linear in
// the number of handles and memory linear in it; neither throws but for
// std::bad_alloc.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string_view>
#include <utility>
#include <vector>

#include "insertion_sort.h"

namespace brindle::key_order {

struct Handle {
  uint64_t head;
  uint32_t index;
};

// From this many handles sorting goes by radix rather than by comparison.
constexpr size_t kRadixFrom = 2048;

inline uint64_t head_of(std::string_view key) {
  const auto* p = reinterpret_cast<const unsigned char*>(key.data());
  const size_t n = key.size();
  uint64_t head = 0;  // little-endian: byte i of the key at bits 8i
  if (n >= 8) {
    std::memcpy(&head, p, 8);
  } else if (n >= 4) {
    // Two loads that overlap in the middle; the bytes they share agree.
    uint32_t low = 0;
    uint32_t high = 0;
    std::memcpy(&low, p, 4);
    std::memcpy(&high, p + n - 4, 4);
    head = uint64_t{low} | (uint64_t{high} << (8 * (n - 4)));
  } else if (n > 0) {
    head = uint64_t{p[0]} | (uint64_t{p[n / 2]} << (8 * (n / 2))) | (uint64_t{p[n - 1]} << (8 * (n - 1)));
  }
  return __builtin_bswap64(head);  // a short key is padded with zeros
}

// `key_of(i)` gives the key of the entry numbered i as a std::string_view.
template <class KeyOf>
struct ByKey {
  KeyOf key_of;
  bool operator()(const Handle& a, const Handle& b) const {
    if (a.head != b.head) return a.head < b.head;
    const int c = key_of(a.index).compare(key_of(b.index));
    return c != 0 ? c < 0 : a.index < b.index;
  }
};

// The same order as sort_handles for a few handles, in place, with no
// allocation: comparisons stay few and mostly end on the heads.
template <class KeyOf>
void insertion_sort(Handle* h, size_t n, KeyOf key_of) {
  brindle::insertion_sort(h, n, ByKey<KeyOf>{key_of});
}

// Up to this many handles `sort_small` takes, with a spare array as large.
constexpr size_t kSmallAtMost = 64;

// The same order as sort_handles for at most kSmallAtMost handles, with no
// allocation; `spare` holds as many. Keys arrive in a few ascending runs as
// a rule (key_1 .. key_9, then key_10 .. key_19 ...): those are merged
// pairwise, each pass moving every handle once, where insertion would move
// a late run past every key it precedes. Many short runs go by insertion.
template <class KeyOf>
void sort_small(Handle* h, Handle* spare, size_t n, KeyOf key_of) {
  const ByKey<KeyOf> less{key_of};
  uint32_t starts[kSmallAtMost + 1];  // run r is [starts[r], starts[r + 1])
  size_t runs = 0;
  starts[0] = 0;
  for (size_t i = 1; i < n; ++i) {
    if (less(h[i], h[i - 1])) starts[++runs] = static_cast<uint32_t>(i);
  }
  starts[++runs] = static_cast<uint32_t>(n);
  if (runs <= 1) return;
  if (runs > 8 || 4 * runs > n) {
    brindle::insertion_sort(h, n, less);
    return;
  }
  Handle* from = h;
  Handle* to = spare;
  while (runs > 1) {
    size_t kept = 0;
    for (size_t r = 0; r < runs; r += 2) {
      Handle* const out = to + starts[r];
      if (r + 1 == runs) {
        std::copy(from + starts[r], from + starts[r + 1], out);
      } else {
        std::merge(from + starts[r], from + starts[r + 1], from + starts[r + 1], from + starts[r + 2], out, less);
      }
      starts[kept++] = starts[r];
    }
    starts[kept] = static_cast<uint32_t>(n);
    runs = kept;
    std::swap(from, to);
  }
  if (from != h) std::copy(from, from + n, h);
}

// Whether the handles, in their order, are already sorted: true for keys
// that arrived in order apart from repeats.
template <class KeyOf>
bool in_order(const std::vector<Handle>& h, KeyOf key_of) {
  const ByKey<KeyOf> less{key_of};
  for (size_t i = 1; i < h.size(); ++i) {
    if (less(h[i], h[i - 1])) return false;
  }
  return true;
}

// Below this many handles a part is sorted by comparison.
constexpr size_t kCompareBelow = 64;

// Sorts a[0, n), whose keys all share their first `offset` bytes and whose
// heads are read from there, by the head bytes from `byte` on (0 the
// highest), then by key and number; most significant byte first. Each pass
// spreads the part over 256 buckets by one byte, and each bucket goes on
// alone, soon small enough to stay in cache. A byte that is the same in
// the whole part (a prefix its keys share, the padding of short keys)
// costs one read and no move; once eight bytes are the same, the keys that
// end there come first (shortest first) and the others go on with heads
// read eight bytes further, so a long shared prefix is read once per
// handle, not once per comparison. The part moves between `a` and `b` at
// each pass and ends in `a` when `a_is_out`, else in `b`. The largest
// bucket goes on in the loop and the others recurse, so the recursion is at
// most log2(n) deep. Equal keys take the same path and keep equal heads.
template <class KeyOf>
void msd_sort(Handle* a, Handle* b, size_t n, size_t offset, int byte, bool a_is_out,
              const ByKey<KeyOf>& less) {
  while (n >= kCompareBelow) {
    if (byte == 8) {
      const size_t end = offset + 8;
      size_t ended = 0;
      size_t going = 0;
      for (size_t i = 0; i < n; ++i) {
        if (less.key_of(a[i].index).size() <= end) {
          b[ended++] = a[i];
        } else {
          a[going++] = a[i];
        }
      }
      std::memmove(a + ended, a, going * sizeof(Handle));
      std::copy(b, b + ended, a);
      std::sort(a, a + ended, [&less](const Handle& x, const Handle& y) {
        const size_t xs = less.key_of(x.index).size();
        const size_t ys = less.key_of(y.index).size();
        return xs != ys ? xs < ys : x.index < y.index;
      });
      if (!a_is_out) std::copy(a, a + ended, b);
      a += ended;
      b += ended;
      n = going;
      offset = end;
      for (size_t i = 0; i < n; ++i) a[i].head = head_of(less.key_of(a[i].index).substr(offset));
      byte = 0;
      continue;
    }
    const int shift = 56 - 8 * byte;
    uint32_t count[256] = {};
    for (size_t i = 0; i < n; ++i) ++count[(a[i].head >> shift) & 0xFF];
    if (count[(a[0].head >> shift) & 0xFF] == n) {
      ++byte;
      continue;
    }
    uint32_t at[256];
    uint32_t sum = 0;
    int largest = 0;
    for (int d = 0; d < 256; ++d) {
      at[d] = sum;
      sum += count[d];
      if (count[d] > count[largest]) largest = d;
    }
    for (size_t i = 0; i < n; ++i) b[at[(a[i].head >> shift) & 0xFF]++] = a[i];
    // at[d] is now where bucket d ends.
    for (int d = 0; d < 256; ++d) {
      if (count[d] != 0 && d != largest) {
        const uint32_t start = at[d] - count[d];
        msd_sort(b + start, a + start, count[d], offset, byte + 1, !a_is_out, less);
      }
    }
    const uint32_t start = at[largest] - count[largest];
    Handle* const next_a = b + start;
    b = a + start;
    a = next_a;
    n = count[largest];
    a_is_out = !a_is_out;
    ++byte;
  }
  // A small part: by comparison, which reads keys only where heads tie.
  std::sort(a, a + n, less);
  if (!a_is_out) std::copy(a, a + n, b);
}

template <class KeyOf>
void sort_handles(std::vector<Handle>& h, KeyOf key_of) {
  if (in_order(h, key_of)) return;
  if (h.size() < kRadixFrom) {
    std::sort(h.begin(), h.end(), ByKey<KeyOf>{key_of});
  } else {
    std::vector<Handle> spare(h.size());
    msd_sort(h.data(), spare.data(), h.size(), 0, 0, true, ByKey<KeyOf>{key_of});
  }
}

// How far ahead an item read in random order is fetched.
constexpr size_t kAhead = 16;

template <class T>
void prefetch_item(const T* p) {
  __builtin_prefetch(p);
  if constexpr (sizeof(T) > 64) __builtin_prefetch(reinterpret_cast<const char*>(p) + sizeof(T) - 1);
}

// Up to this many bytes of items, `permute` follows the permutation's
// cycles: the items are in cache, so the walk waits on nothing.
constexpr size_t kCyclesBelow = 256 * 1024;

// Moves items[from[i]] to i for every i; `from` is used up. Small arrays
// follow the cycles. In a large one, a cycle's walk would wait on memory at
// every step, so position i takes its item by one swap with wherever that
// item is now, `where` and `who` following the items that swaps displace:
// every read is known ahead from `from` alone, and the reads of far-apart
// items overlap rather than follow one another.
template <class T>
void permute(T* items, uint32_t* from, size_t n) {
  if (n * sizeof(T) < kCyclesBelow) {
    for (size_t start = 0; start < n; ++start) {
      if (from[start] == start) continue;
      T carried = std::move(items[start]);
      size_t at = start;
      while (from[at] != start) {
        const size_t next = from[at];
        items[at] = std::move(items[next]);
        from[at] = static_cast<uint32_t>(at);
        at = next;
      }
      items[at] = std::move(carried);
      from[at] = static_cast<uint32_t>(at);
    }
    return;
  }
  std::vector<uint32_t> where(n);  // item numbered k is at where[k]
  std::vector<uint32_t> who(n);    // the item at position p is numbered who[p]
  std::iota(where.begin(), where.end(), 0u);
  std::iota(who.begin(), who.end(), 0u);
  for (size_t i = 0; i < n; ++i) {
    if (i + 2 * kAhead < n) __builtin_prefetch(&where[from[i + 2 * kAhead]]);
    if (i + kAhead < n) {
      const uint32_t p = where[from[i + kAhead]];
      prefetch_item(items + p);
      __builtin_prefetch(&who[p]);
      __builtin_prefetch(&where[who[i + kAhead]]);
    }
    const uint32_t p = where[from[i]];
    if (p == i) continue;
    const uint32_t k = who[i];
    std::swap(items[i], items[p]);
    who[p] = k;
    where[k] = p;
  }
}

}  // namespace brindle::key_order
