// Handle sorting, in-place permutation and the in-place sort of items
// against plain references: key sets of every awkward kind, at sizes on
// both sides of each threshold.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <random>
#include <type_traits>
#include <string>
#include <vector>

#include "key.h"
#include "key_order.h"
#include "key_order_in_place.h"

namespace brindle::key_order {
namespace {

// The numbers of `keys` in byte-wise key order, equal keys by number.
std::vector<uint32_t> reference_order(const std::vector<std::string>& keys) {
  std::vector<uint32_t> want(keys.size());
  std::iota(want.begin(), want.end(), 0u);
  std::stable_sort(want.begin(), want.end(), [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
  return want;
}

std::vector<uint32_t> handle_order(const std::vector<std::string>& keys) {
  std::vector<Handle> h(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) h[i] = Handle{head_of(keys[i]), static_cast<uint32_t>(i)};
  sort_handles(h, [&](uint32_t i) { return std::string_view(keys[i]); });
  std::vector<uint32_t> got(h.size());
  for (size_t i = 0; i < h.size(); ++i) got[i] = h[i].index;
  return got;
}

// Random bytes from `alphabet`, `min` to `max` long, behind `prefix`.
std::vector<std::string> random_keys(std::mt19937& rng, size_t n, const std::string& prefix,
                                     const std::string& alphabet, size_t min, size_t max) {
  std::vector<std::string> keys;
  for (size_t i = 0; i < n; ++i) {
    std::string k = prefix;
    const size_t len = min + rng() % (max - min + 1);
    for (size_t j = 0; j < len; ++j) k += alphabet[rng() % alphabet.size()];
    keys.push_back(k);
  }
  return keys;
}

TEST(KeyOrder, HeadIsTheFirstEightBytesBigEndianZeroPadded) {
  const std::pair<std::string, uint64_t> cases[] = {
      {"", 0},
      {"a", 0x6100000000000000},
      {"ab", 0x6162000000000000},
      {"abc", 0x6162630000000000},
      {"abcd", 0x6162636400000000},
      {"abcde", 0x6162636465000000},
      {"abcdefg", 0x6162636465666700},
      {"abcdefgh", 0x6162636465666768},
      {"abcdefghij", 0x6162636465666768},
      {std::string("\xff\x80\x00\x01", 4), 0xFF80000100000000},
  };
  for (const auto& [key, head] : cases) EXPECT_EQ(head_of(key), head) << key;
}

// Every awkward key set of size n: long shared prefixes, keys that are
// prefixes of each other, zero bytes and high bytes, many repeats.
std::vector<std::vector<std::string>> awkward_sets(std::mt19937& rng, size_t n) {
  const std::string digits = "0123456789";
  const std::string bytes = std::string("\x00\x01\x7f\x80\xfe\xff" "aAzZ", 10);
  std::vector<std::vector<std::string>> sets;
  sets.emplace_back();
  for (size_t i = 0; i < n; ++i) sets.back().push_back(std::string(1, 'k').append(std::to_string(i)));
  sets.emplace_back(sets.back().rbegin(), sets.back().rend());
  sets.push_back(random_keys(rng, n, "a-long-shared-section-prefix.", digits, 0, 3));
  sets.push_back(random_keys(rng, n, "", "a", 0, 20));
  sets.push_back(random_keys(rng, n, "", bytes, 0, 12));
  sets.push_back(random_keys(rng, n, "pre", std::string("\0", 1), 0, 14));
  sets.push_back(random_keys(rng, n, "same-head", "xy", 1, 2));
  sets.push_back(random_keys(rng, n, "", "ab", 0, 26));
  sets.emplace_back(n, "one key repeated everywhere");
  // One lead letter, then few pairs of bytes (keys ending within them
  // repeated) or nearly every pair.
  sets.push_back(random_keys(rng, n, "k", digits, 0, 2));
  std::string every_byte;
  for (int c = 0; c < 256; ++c) every_byte += static_cast<char>(c);
  sets.push_back(random_keys(rng, n, "x", every_byte, 0, 4));
  return sets;
}

// An item that carries its own number, as a dictionary entry carries the
// position of its key.
struct Numbered {
  Key key;
  uint64_t number;
};

}  // namespace
}  // namespace brindle::key_order

template <>
struct brindle::Relocatable<brindle::key_order::Numbered> : std::true_type {};

namespace brindle::key_order {
namespace {

std::string_view key_of_numbered(const Numbered& item) { return item.key.view(); }
uint64_t number_of_numbered(const Numbered& item) { return item.number; }

// Items sorted where they stand (Keys, inline and heap-owned) come out as a
// stable sort puts them, whether their numbers move beside them in an array
// or are read from the items (growing with gaps, as positions do), and
// whatever the size of the scratch area (one item, the comparison threshold
// of the handle sort, a power of two, the default) and whether a level may
// split by two bytes.
TEST(KeyOrder, InPlaceSortLikeAStableSortOfTheKeys) {
  std::mt19937 rng(5);
  const std::pair<size_t, bool> scratches[] = {{1, false}, {2, true}, {kCompareBelow - 1, false},
                                               {kCompareBelow, true}, {1024, false}, {1024, true},
                                               {kInPlaceChunk, true}};
  const size_t sizes[] = {0, 1, 2, 63, 64, 65, 1023, 1024, 1025, 20000};
  for (const auto& [chunk, pairs] : scratches) {
    std::vector<unsigned char> area(in_place_scratch_bytes(chunk, pairs));
    const InPlaceScratch scratch{area.data(), chunk, pairs};
    for (size_t n : sizes) {
      const auto sets = awkward_sets(rng, n);
      for (size_t s = 0; s < sets.size(); ++s) {
        const std::vector<std::string>& keys = sets[s];
        const std::string what = "chunk " + std::to_string(chunk) + (pairs ? " pairs" : "") + " size " +
                                 std::to_string(n) + " set " + std::to_string(s);
        const std::vector<uint32_t> want = reference_order(keys);
        size_t distinct = 0;
        for (size_t i = 0; i < n; ++i) distinct += i == 0 || keys[want[i]] != keys[want[i - 1]] ? 1 : 0;

        std::vector<Numbered> items;
        uint64_t number = 0;
        for (size_t i = 0; i < n; ++i) items.push_back(Numbered{Key(keys[i]), number += 1 + rng() % 3});
        std::vector<uint64_t> own(n);
        for (size_t i = 0; i < n; ++i) own[i] = items[i].number;
        EXPECT_EQ(sort_in_place(items.data(), nullptr, n, key_of_numbered, number_of_numbered, scratch),
                  std::optional<size_t>(n - distinct))
            << what;
        for (size_t i = 0; i < n; ++i) {
          ASSERT_EQ(items[i].number, own[want[i]]) << what << " at " << i;
          ASSERT_EQ(items[i].key.view(), keys[want[i]]) << what << " at " << i;
        }

        std::vector<Key> bare;
        for (const std::string& k : keys) bare.emplace_back(k);
        std::vector<uint32_t> numbers(n);
        std::iota(numbers.begin(), numbers.end(), 0u);
        const auto never = [](const Key&) -> uint64_t { std::abort(); };
        EXPECT_EQ(sort_in_place(bare.data(), numbers.data(), n, [](const Key& k) { return k.view(); }, never, scratch),
                  std::optional<size_t>(n - distinct))
            << what;
        ASSERT_EQ(numbers, want) << what;
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(bare[i].view(), keys[numbers[i]]) << what;
      }
    }
  }
}

// Numbers read from the items that do not grow strictly from above zero
// are refused before anything moves, on both sides of the scratch size.
TEST(KeyOrder, InPlaceSortRefusesNumbersThatDoNotGrow) {
  std::mt19937 rng(9);
  const size_t chunk = 64;
  std::vector<unsigned char> area(in_place_scratch_bytes(chunk, true));
  const InPlaceScratch scratch{area.data(), chunk, true};
  enum class Fault { ZeroFirst, EqualPair, LastFalls, AllZero };
  for (size_t n : {size_t{1}, size_t{2}, chunk - 1, chunk, chunk + 1, size_t{5000}}) {
    for (const Fault fault : {Fault::ZeroFirst, Fault::EqualPair, Fault::LastFalls, Fault::AllZero}) {
      if (n == 1 && fault != Fault::ZeroFirst && fault != Fault::AllZero) continue;
      const std::vector<std::string> keys = random_keys(rng, n, "k", "0123456789", 0, 6);
      std::vector<Numbered> items;
      for (size_t i = 0; i < n; ++i) items.push_back(Numbered{Key(keys[i]), fault == Fault::AllZero ? 0 : 2 * i + 2});
      switch (fault) {
        case Fault::ZeroFirst: items[0].number = 0; break;
        case Fault::EqualPair: items[n / 2].number = items[n / 2 - 1].number; break;
        case Fault::LastFalls: items[n - 1].number = 1; break;
        case Fault::AllZero: break;
      }
      const std::string what = "size " + std::to_string(n) + " fault " + std::to_string(static_cast<int>(fault));
      EXPECT_EQ(sort_in_place(items.data(), nullptr, n, key_of_numbered, number_of_numbered, scratch), std::nullopt)
          << what;
      for (size_t i = 0; i < n; ++i) ASSERT_EQ(items[i].key.view(), keys[i]) << what;
    }
  }
}

// Key sets where the head alone cannot decide, at sizes around the
// comparison and radix thresholds and deep into the radix.
TEST(KeyOrder, SortedLikeAStableSortOfTheKeys) {
  std::mt19937 rng(7);
  const size_t sizes[] = {0, 1, 2, 63, 64, 65, kRadixFrom - 1, kRadixFrom, kRadixFrom + 1, 20000};
  for (size_t n : sizes) {
    const auto sets = awkward_sets(rng, n);
    for (size_t s = 0; s < sets.size(); ++s) {
      EXPECT_EQ(handle_order(sets[s]), reference_order(sets[s])) << "size " << n << " set " << s;
    }
  }
}

// Small sorts of keys that arrive in a given number of ascending runs
// (merged), or in many (by insertion), with repeats across and within runs
// and heads that tie: the order of a stable sort of the keys.
TEST(KeyOrder, SmallSortOfRunsLikeAStableSort) {
  std::mt19937 rng(11);
  const std::string alphabets[] = {"ab", "0123456789", std::string("\x00\xff" "a", 3)};
  for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{7}, size_t{8}, size_t{41}, size_t{63}, kSmallAtMost}) {
    for (size_t runs : {1, 2, 3, 4, 5, 8, 9, 16}) {
      for (const std::string& alphabet : alphabets) {
        for (const std::string prefix : {"", "key_", "a-shared-prefix-past-eight-bytes/"}) {
          std::vector<std::string> keys = random_keys(rng, n, prefix, alphabet, 0, 3);
          // Cut into `runs` pieces, each sorted: the runs the sort finds.
          std::vector<size_t> cuts = {0, n};
          for (size_t r = 1; r < runs && n > 0; ++r) cuts.push_back(rng() % (n + 1));
          std::sort(cuts.begin(), cuts.end());
          for (size_t c = 0; c + 1 < cuts.size(); ++c) std::sort(keys.begin() + cuts[c], keys.begin() + cuts[c + 1]);
          std::vector<Handle> h(n);
          for (size_t i = 0; i < n; ++i) h[i] = Handle{head_of(keys[i]), static_cast<uint32_t>(i)};
          std::vector<Handle> spare(kSmallAtMost);
          sort_small(h.data(), spare.data(), n, [&](uint32_t i) { return std::string_view(keys[i]); });
          std::vector<uint32_t> got(n);
          for (size_t i = 0; i < n; ++i) got[i] = h[i].index;
          ASSERT_EQ(got, reference_order(keys)) << "size " << n << " runs " << runs << " prefix " << prefix;
        }
      }
    }
  }
}

TEST(KeyOrder, PermuteMovesEachItemToItsPlace) {
  std::mt19937 rng(11);
  // Both ways: following cycles, and by swaps from the size on.
  const size_t swaps_from = kCyclesBelow / sizeof(std::string);
  for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{17}, swaps_from - 1, swaps_from, 3 * swaps_from}) {
    std::vector<std::vector<uint32_t>> froms;
    froms.emplace_back(n);
    std::iota(froms.back().begin(), froms.back().end(), 0u);  // identity
    froms.emplace_back(froms.back().rbegin(), froms.back().rend());
    froms.push_back(froms.front());
    std::shuffle(froms.back().begin(), froms.back().end(), rng);
    froms.push_back(froms.front());  // one long cycle
    if (n > 1) std::rotate(froms.back().begin(), froms.back().begin() + 1, froms.back().end());
    for (const auto& from : froms) {
      std::vector<uint32_t> used = from;
      std::vector<std::string> items(n);
      for (size_t i = 0; i < n; ++i) items[i] = "item number " + std::to_string(i);  // on the heap
      key_order::permute(items.data(), used.data(), n);
      for (size_t i = 0; i < n; ++i) ASSERT_EQ(items[i], "item number " + std::to_string(from[i])) << n;
    }
  }
}

}  // namespace
}  // namespace brindle::key_order
