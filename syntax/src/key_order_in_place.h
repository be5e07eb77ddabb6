// Key order for a large dictionary, sorting its entries where they are.
//
// `sort_in_place` puts items[0, n) in byte-wise key order, equal keys by
// their numbers (their order of arrival). A number is either read from the
// item itself (a dictionary entry's key position), checked to grow along
// the items as they arrived, or numbers[i], an array that moves along with
// the items. Besides that array it uses only a scratch area bounded in
// size and a few counters per level: sorting handles to all the items
// would hold arrays of them beside the entries at the peak.
//
// Items must be relocatable (they are moved as bytes). Most significant
// byte first: a level counts the keys by their next byte (a key that ends
// there comes first) and swaps every item straight into its bucket, a
// bucket being filled front to back as a stream; a level where all keys
// share the byte skips the whole shared prefix at once. Below a first byte
// all keys share, the first level may split by two bytes at once. A part
// that fits the scratch area is sorted as compact handles (key_order.h)
// and then moved into place along the cycles of its permutation, each item
// once: the in-place levels, which move every item at every level, only
// split the large parts. The largest bucket goes on in the loop and the
// others recurse, so the recursion is at most about log2(n) deep. Time is
// linear in the bytes of the keys that tell them apart, plus n log n for
// long runs of one repeated key; nothing throws.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "key_order.h"
#include "relocatable.h"

namespace brindle::key_order {

// Buckets of a level that splits by two bytes: 0 for a key that ends
// before them, then one per first byte and second bucket (see pair_at).
constexpr size_t kPairBuckets = 1 + 256 * 257;

// The scratch area of sort_in_place: for a part of up to `chunk` items,
// two handles per item (a sorting pass moves them between two arrays) and
// one number; with `pairs`, also two counters per bucket of a level that
// splits by two bytes, in the same memory (that level is over before any
// handle is made). `area` has in_place_scratch_bytes of room, aligned as
// for new.
struct InPlaceScratch {
  unsigned char* area = nullptr;
  size_t chunk = 0;
  bool pairs = false;
};

inline size_t in_place_scratch_bytes(size_t chunk, bool pairs) {
  const size_t handles = chunk * (2 * sizeof(Handle) + sizeof(uint32_t));
  return pairs ? std::max(handles, 2 * kPairBuckets * sizeof(uint32_t)) : handles;
}

// Parts of up to this many items are sorted as handles (16 bytes each, two
// arrays of them): large enough that the in-place levels only split large
// parts, small enough that the scratch area stays small beside the items.
constexpr size_t kInPlaceChunk = 16384;

// How many items ahead, in the bucket an item is swapped into, the next
// items are fetched: the swap after next there then waits on nothing.
constexpr size_t kBucketAhead = 4;

// Bucket of a key at `depth`: 0 when it ends before, else 1 + its byte.
inline unsigned bucket_at(std::string_view key, size_t depth) {
  return depth < key.size() ? 1u + static_cast<unsigned char>(key[depth]) : 0u;
}

// Bucket of a key by its two bytes from `depth`, in key order: 0 when it
// ends before, else 1 + 257 * its byte + its bucket at depth + 1.
inline unsigned pair_at(std::string_view key, size_t depth) {
  if (depth >= key.size()) return 0;
  return 1u + 257u * static_cast<unsigned char>(key[depth]) + bucket_at(key, depth + 1);
}

// A level splits by two bytes only while the items go to at most this many
// buckets: the fronts of the buckets being filled then stay in cache.
constexpr size_t kPairStreams = 512;

template <class T, class KeyOf, class NumberOf>
class InPlaceSort {
 public:
  // `numbers` may be null: numbers are then read by `number_of(item)`.
  InPlaceSort(T* items, uint32_t* numbers, const KeyOf& key_of, const NumberOf& number_of,
              const InPlaceScratch& scratch)
      : items_(items), numbers_(numbers), key_of_(key_of), number_of_(number_of), scratch_(scratch) {
    static_assert(relocatable_v<T>, "items are moved as bytes");
  }

  // Sorts items[0, n). Without an array of numbers, first checks that the
  // numbers read from the items are above zero and grow strictly along
  // them (in the first count, which reads every item anyway); when they do
  // not, returns false having moved nothing.
  bool sort_all(size_t n) {
    if (n <= scratch_.chunk) {
      if (numbers_ == nullptr && !numbers_grow(n)) return false;
      if (n > 1) sort_chunk(0, n, 0);
      return true;
    }
    uint32_t count[2][257] = {};
    uint32_t* const pairs = scratch_.pairs ? new (scratch_.area) uint32_t[kPairBuckets]() : nullptr;
    if (!tally_first(n, count, pairs)) return false;
    const unsigned first = bucket_at(key(0), 0);
    size_t depth = 0;
    if (count[0][first] == n && first != 0) {
      // All keys share their first byte: the second is counted already,
      // unless they share that one too.
      const unsigned second = bucket_at(key(0), 1);
      if (count[1][second] == n && second != 0) {
        sort(0, n, shared_prefix(0, n, 0));
        return true;
      }
      if (pairs != nullptr && split_by_pairs(pairs, 1)) return true;
      depth = 1;
    }
    const Part rest = level(Part{0, n, depth}, count[depth]);
    if (rest.n > 1) sort(rest.begin, rest.n, rest.depth);
    return true;
  }

  // Sorts items [begin, begin + n), whose keys share their first `depth`
  // bytes.
  void sort(size_t begin, size_t n, size_t depth) {
    while (n > scratch_.chunk) {
      uint32_t count[257] = {};
      for (size_t i = begin; i < begin + n; ++i) ++count[bucket_at(key(i), depth)];
      const Part rest = level(Part{begin, n, depth}, count);
      begin = rest.begin;
      n = rest.n;
      depth = rest.depth;
    }
    if (n > 1) sort_chunk(begin, n, depth);
  }

  // How many items sorted so far have the key of the one before them.
  size_t repeats() const { return repeats_; }

 private:
  // Counts items[0, n) by their first byte and by their second, checking
  // the growth of the numbers read from the items when there is no array.
  bool tally_first(size_t n, uint32_t (&count)[2][257], uint32_t* pairs) const {
    uint64_t last = 0;
    for (size_t i = 0; i < n; ++i) {
      const std::string_view k = key(i);
      ++count[0][bucket_at(k, 0)];
      ++count[1][bucket_at(k, 1)];
      if (pairs != nullptr) ++pairs[pair_at(k, 1)];
      if (numbers_ == nullptr) {
        const uint64_t at = number_of_(items_[i]);
        if (at <= last) return false;
        last = at;
      }
    }
    return true;
  }

  // All the items, counted by two bytes from `depth` in `pairs` (all
  // of them sharing the bytes before), go to their buckets by both bytes at
  // once when they fill few buckets, and each bucket is sorted; else
  // nothing moves and false is returned. A key with a common first letter
  // and digits or words after it splits this way into parts that fit the
  // scratch area where one byte would leave parts for another level.
  bool split_by_pairs(uint32_t* pairs, size_t depth) {
    uint32_t* const next = pairs;
    uint32_t* const end = new (pairs + kPairBuckets) uint32_t[kPairBuckets];
    uint32_t filled[kPairStreams];
    size_t streams = 0;
    for (uint32_t b = 0; b < kPairBuckets; ++b) {
      if (next[b] == 0) continue;
      if (streams == kPairStreams) return false;
      filled[streams++] = b;
    }
    uint32_t sum = 0;
    for (size_t f = 0; f < streams; ++f) {
      const uint32_t b = filled[f];
      const uint32_t count = next[b];
      next[b] = sum;
      sum += count;
      end[b] = sum;
    }
    for (size_t f = 0; f < streams; ++f) {
      const uint32_t b = filled[f];
      fill_bucket(b, end[b], next, [&](size_t i) { return pair_at(key(i), depth); });
    }
    // Where each bucket ends, read before sorting them takes the scratch
    // area. A bucket of keys that end within the two bytes holds one key.
    uint32_t stops[kPairStreams];
    for (size_t f = 0; f < streams; ++f) stops[f] = end[filled[f]];
    for (size_t f = 0; f < streams; ++f) {
      const uint32_t b = filled[f];
      const size_t begin = f == 0 ? 0 : stops[f - 1];
      const size_t count = stops[f] - begin;
      if (count < 2) continue;
      if (b == 0 || (b - 1) % 257 == 0) {
        repeated(begin, count);
      } else {
        sort(begin, count, depth + 2);
      }
    }
    return true;
  }

  bool numbers_grow(size_t n) const {
    uint64_t last = 0;
    for (size_t i = 0; i < n; ++i) {
      const uint64_t at = number_of_(items_[i]);
      if (at <= last) return false;
      last = at;
    }
    return true;
  }

  static unsigned largest_bucket(const uint32_t* count) {
    unsigned largest = 1;
    for (unsigned b = 2; b < 257; ++b) {
      if (count[b] > count[largest]) largest = b;
    }
    return largest;
  }

  // Items [begin, begin + n) whose keys share their first `depth` bytes.
  struct Part {
    size_t begin;
    size_t n;
    size_t depth;
  };

  // One level on a part, its keys counted by byte `depth`; returns what is
  // left to sort (nothing when n is 0). When all keys share that byte, none
  // moves: all ended (one key, repeated) and they are put in order of
  // number, or the part is left to sort from the end of the prefix its
  // keys share. Otherwise the items go to their buckets and every bucket
  // but the largest is sorted: the largest is left, so that the recursion
  // stays at most log2(n) deep.
  Part level(Part part, const uint32_t* count) {
    const auto [begin, n, depth] = part;
    const unsigned first = bucket_at(key(begin), depth);
    if (count[first] == n) {
      if (first == 0) {
        repeated(begin, n);
        return Part{begin, 0, depth};
      }
      return Part{begin, n, shared_prefix(begin, n, depth)};
    }
    uint32_t end[257];
    uint32_t sum = 0;
    for (unsigned b = 0; b < 257; ++b) {
      sum += count[b];
      end[b] = sum;
    }
    const unsigned largest = largest_bucket(count);
    distribute(begin, count, end, depth);
    // Keys that ended are one key, repeated.
    if (count[0] > 1) repeated(begin, count[0]);
    for (unsigned b = 1; b < 257; ++b) {
      if (count[b] > 1 && b != largest) sort(begin + end[b] - count[b], count[b], depth + 1);
    }
    return Part{begin + end[largest] - count[largest], count[largest], depth + 1};
  }

  std::string_view key(size_t i) const { return key_of_(items_[i]); }
  uint64_t number(size_t i) const { return numbers_ != nullptr ? numbers_[i] : number_of_(items_[i]); }

  void swap(size_t a, size_t b) {
    alignas(T) unsigned char held[sizeof(T)];
    std::memcpy(held, static_cast<void*>(items_ + a), sizeof(T));
    std::memcpy(static_cast<void*>(items_ + a), static_cast<void*>(items_ + b), sizeof(T));
    std::memcpy(static_cast<void*>(items_ + b), held, sizeof(T));
    if (numbers_ != nullptr) std::swap(numbers_[a], numbers_[b]);
  }

  // The length of the prefix all keys of the part share; they share more
  // than `depth` bytes.
  size_t shared_prefix(size_t begin, size_t n, size_t depth) const {
    const std::string_view lead = key(begin);
    size_t shared = lead.size();
    for (size_t i = begin + 1; i < begin + n && shared > depth + 1; ++i) {
      const std::string_view k = key(i);
      size_t m = depth + 1;
      const size_t limit = std::min(shared, k.size());
      while (m < limit && k[m] == lead[m]) ++m;
      shared = m;
    }
    return shared;
  }

  // Each bucket in turn takes, at its front, the items that belong there;
  // end[b] is where bucket b ends. The items next in line in a bucket are
  // fetched as one is swapped in, so the chain of swaps, each decided by
  // the key the last one brought, rarely waits on memory.
  void distribute(size_t begin, const uint32_t* count, const uint32_t* end, size_t depth) {
    size_t next[257];
    for (unsigned b = 0; b < 257; ++b) next[b] = begin + end[b] - count[b];
    for (unsigned b = 0; b < 257; ++b) {
      fill_bucket(b, begin + end[b], next, [&](size_t i) { return bucket_at(key(i), depth); });
    }
  }

  // Bucket `b`, from next[b] up to `stop`, takes the items that belong
  // there, each other item it holds swapped to the next free place of its
  // own bucket; next[b] ends at `stop`.
  template <class Next, class BucketOf>
  void fill_bucket(unsigned b, size_t stop, Next* next, const BucketOf& bucket_of) {
    size_t at = next[b];
    while (at < stop) {
      const unsigned to = bucket_of(at);
      if (to == b) {
        ++at;
        continue;
      }
      const size_t dest = next[to]++;
      __builtin_prefetch(items_ + dest + kBucketAhead);
      if (numbers_ != nullptr) __builtin_prefetch(numbers_ + dest + kBucketAhead);
      swap(at, dest);
    }
    next[b] = static_cast<Next>(at);
  }

  // Items [begin, begin + n) have one and the same key.
  void repeated(size_t begin, size_t n) {
    repeats_ += n - 1;
    sort_by_number(begin, n);
  }

  // Orders items of one and the same key by number (heap sort: a run of
  // one repeated key can be long).
  void sort_by_number(size_t begin, size_t n) {
    auto sift = [&](size_t root, size_t stop) {
      while (2 * root + 1 < stop) {
        size_t child = 2 * root + 1;
        if (child + 1 < stop && number(begin + child) < number(begin + child + 1)) ++child;
        if (!(number(begin + root) < number(begin + child))) return;
        swap(begin + root, begin + child);
        root = child;
      }
    };
    for (size_t i = n / 2; i-- > 0;) sift(i, n);
    for (size_t stop = n; stop-- > 1;) {
      swap(begin, begin + stop);
      sift(0, stop);
    }
  }

  // A part that fits the scratch area. Its handles are sorted by head,
  // least significant byte first and only by the bytes that differ
  // somewhere in the part (for most parts all keys end within the heads);
  // runs of equal heads are then sorted by key, and runs of equal keys by
  // number. The items follow, each moved once.
  void sort_chunk(size_t begin, size_t n, size_t depth) {
    Handle* h = new (scratch_.area) Handle[2 * scratch_.chunk];
    Handle* spare = h + scratch_.chunk;
    uint32_t* const from = new (h + 2 * scratch_.chunk) uint32_t[scratch_.chunk];
    uint64_t any = 0;
    uint64_t all = ~uint64_t{0};
    for (size_t i = 0; i < n; ++i) {
      const uint64_t head = head_of(key(begin + i).substr(depth));
      h[i] = Handle{head, static_cast<uint32_t>(i)};
      any |= head;
      all &= head;
    }
    const uint64_t differ = any ^ all;
    for (int shift = 0; shift < 64; shift += 8) {
      if (((differ >> shift) & 0xFF) == 0) continue;
      uint32_t at[256] = {};
      for (size_t i = 0; i < n; ++i) ++at[(h[i].head >> shift) & 0xFF];
      uint32_t sum = 0;
      for (uint32_t& a : at) sum += std::exchange(a, sum);
      for (size_t i = 0; i < n; ++i) spare[at[(h[i].head >> shift) & 0xFF]++] = h[i];
      std::swap(h, spare);
    }
    T* const part = items_ + begin;
    const KeyOf& key_of = key_of_;
    const auto key_at = [part, &key_of](uint32_t i) { return key_of(part[i]); };
    const ByKey<decltype(key_at)> less{key_at};
    for (size_t i = 0; i + 1 < n;) {
      size_t j = i + 1;
      while (j < n && h[j].head == h[i].head) ++j;
      if (j - i > 1) order_same_head(begin, h + i, spare + i, j - i, depth, less);
      i = j;
    }
    for (size_t i = 0; i < n; ++i) from[i] = h[i].index;
    move_along_cycles(begin, n, from);
  }

  // Handles h[0, n) of equal heads (keys that share their bytes from
  // `depth` for eight bytes, or end there alike padded) to items of the
  // part at `begin`: by key, then by number. `spare` has room for n
  // handles.
  template <class Less>
  void order_same_head(size_t begin, Handle* h, Handle* spare, size_t n, size_t depth, const Less& less) {
    if (n < kCompareBelow) {
      std::sort(h, h + n, less);
    } else {
      msd_sort(h, spare, n, depth, 8, true, less);
    }
    for (size_t i = 0; i + 1 < n;) {
      size_t j = i + 1;
      while (j < n && less.key_of(h[j].index) == less.key_of(h[i].index)) ++j;
      if (j - i > 1) {
        repeats_ += j - i - 1;
        std::sort(h + i, h + j, [&](const Handle& a, const Handle& b) {
          return number(begin + a.index) < number(begin + b.index);
        });
      }
      i = j;
    }
  }

  // Position i of the part at `begin` takes the item now at from[i]; the
  // walk along each cycle fetches the item two steps ahead.
  void move_along_cycles(size_t begin, size_t n, uint32_t* from) {
    T* const part = items_ + begin;
    for (size_t start = 0; start < n; ++start) {
      if (from[start] == start) continue;
      alignas(T) unsigned char carried[sizeof(T)];
      std::memcpy(carried, static_cast<void*>(part + start), sizeof(T));
      const uint32_t carried_number = numbers_ != nullptr ? numbers_[begin + start] : 0;
      size_t at = start;
      while (from[at] != start) {
        const size_t next = from[at];
        __builtin_prefetch(part + from[next]);
        std::memcpy(static_cast<void*>(part + at), static_cast<void*>(part + next), sizeof(T));
        if (numbers_ != nullptr) numbers_[begin + at] = numbers_[begin + next];
        from[at] = static_cast<uint32_t>(at);
        at = next;
      }
      std::memcpy(static_cast<void*>(part + at), carried, sizeof(T));
      if (numbers_ != nullptr) numbers_[begin + at] = carried_number;
      from[at] = static_cast<uint32_t>(at);
    }
  }

  T* items_;
  uint32_t* numbers_;
  const KeyOf& key_of_;
  const NumberOf& number_of_;
  InPlaceScratch scratch_;
  size_t repeats_ = 0;
};

// `key_of(item)` gives an item's key as a std::string_view. numbers[i] is
// the number of items[i]; with `numbers` null, `number_of(item)` is, and
// these numbers must then be above zero and grow strictly along the items
// as they stand: if they do not, nothing moves and the result is
// std::nullopt. scratch.chunk is at least one. Returns how many items have
// the key of the one before them once sorted.
template <class T, class KeyOf, class NumberOf>
std::optional<size_t> sort_in_place(T* items, uint32_t* numbers, size_t n, const KeyOf& key_of,
                                    const NumberOf& number_of, const InPlaceScratch& scratch) {
  InPlaceSort<T, KeyOf, NumberOf> sorter(items, numbers, key_of, number_of, scratch);
  if (!sorter.sort_all(n)) return std::nullopt;
  return sorter.repeats();
}

}  // namespace brindle::key_order
