// The relocatable entry array on its own (growth by realloc, by a mapping
// of its own, inside an arena; inserts, erases, copies, moves) and through
// whole documents large enough to reach the mapped growth and the in-place
// sort: last wins and section replacement must come out as in a small one.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "builder.h"
#include "model.h"
#include "relocatable_array.h"
#include "test_support.h"

namespace brindle {
namespace {

const EmptyEnv kNoEnv;
constexpr size_t kMapped = relocation::kMapFrom / sizeof(DictEntry);  // first mapped capacity

// Entry i: a key that is long (heap-owned) for odd i, a value that owns a
// heap array every third i, and positions past 4 GB (a heap block) every
// fifth i, so that a copy, a lost or a doubly freed entry shows.
DictEntry make_entry(size_t i) {
  DictEntry e;
  e.first = (i % 2 ? "a key long enough for the heap " : "k") + std::to_string(i);
  if (i % 3 == 0) {
    Array items;
    items.push_back(Value::integer(static_cast<int64_t>(i)));
    items.push_back(Value::string("a string too long to sit inline " + std::to_string(i)));
    e.second = Value::array(std::move(items));
  } else {
    e.second = Value::integer(static_cast<int64_t>(i));
  }
  const uint64_t base = i % 5 == 0 ? (uint64_t{5} << 30) : 0;
  e.set_key_span(Span{base + i, base + i + 1});
  return e;
}

// Whether `e` is what make_entry(i) made.
bool holds(const DictEntry& e, size_t i) {
  const DictEntry want = make_entry(i);
  return e.first == want.first && e.second == want.second && e.key_span() == want.key_span() &&
         !e.has_value_span();
}

::testing::AssertionResult holds_all(const RelocatableArray<DictEntry>& a, const std::vector<size_t>& want) {
  if (a.size() != want.size()) return ::testing::AssertionFailure() << "size " << a.size() << " not " << want.size();
  for (size_t at = 0; at < want.size(); ++at) {
    if (!holds(a[at], want[at])) return ::testing::AssertionFailure() << "entry " << at;
  }
  return ::testing::AssertionSuccess();
}

std::vector<size_t> up_to(size_t n) {
  std::vector<size_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = i;
  return v;
}

// Filled one entry at a time to sizes on both sides of the first mapped
// capacity and past a remap, on the heap and in an arena; then emptied
// back to the heap by copies and moves.
TEST(RelocatableArray, GrowsKeepingEveryEntry) {
  const size_t sizes[] = {0, 1, 2, 3, 17, kMapped / 2, kMapped / 2 + 1, kMapped - 1, kMapped, kMapped + 1, 2 * kMapped + 3};
  for (const bool in_arena : {false, true}) {
    for (size_t n : sizes) {
      Arena arena;
      RelocatableArray<DictEntry> a(in_arena ? &arena : nullptr);
      for (size_t i = 0; i < n; ++i) a.emplace_back(make_entry(i));
      const std::string what = std::to_string(n) + (in_arena ? " in an arena" : " on the heap");
      ASSERT_TRUE(holds_all(a, up_to(n))) << what;
      EXPECT_GE(a.capacity(), n) << what;
      EXPECT_EQ(a.arena(), in_arena ? &arena : nullptr) << what;

      RelocatableArray<DictEntry> copy = a;
      EXPECT_EQ(copy.arena(), nullptr) << what;
      RelocatableArray<DictEntry> moved = std::move(a);
      EXPECT_TRUE(a.empty()) << what;
      EXPECT_TRUE(holds_all(copy, up_to(n))) << what;
      EXPECT_TRUE(holds_all(moved, up_to(n))) << what;
      moved = copy;  // copied over a full one: the old entries are released
      EXPECT_TRUE(holds_all(moved, up_to(n))) << what;
      copy.shrink_to_fit();
      EXPECT_TRUE(holds_all(copy, up_to(n))) << what;
      if (n * sizeof(DictEntry) < relocation::kMapFrom) {
        EXPECT_EQ(copy.capacity(), n) << what;
      }
      copy.clear();
      EXPECT_TRUE(copy.empty()) << what;
      copy.emplace_back(make_entry(7));  // usable again after clear
      EXPECT_TRUE(holds_all(copy, {7})) << what;
    }
  }
}

// Inserts and erases shift the entries after them as bytes, including in a
// mapped array and when an insert makes it grow.
TEST(RelocatableArray, InsertAndEraseShiftTheRest) {
  for (size_t n : {size_t{1}, size_t{4}, size_t{100}, kMapped - 1, kMapped + 5}) {
    RelocatableArray<DictEntry> a;
    std::vector<size_t> want;
    for (size_t i = 0; i < n; ++i) {
      a.emplace_back(make_entry(i));
      want.push_back(i);
    }
    const std::string what = std::to_string(n);
    a.shrink_to_fit();  // the insert below must grow it (a mapped one keeps its room)
    a.insert(a.begin() + n / 2, make_entry(n));
    want.insert(want.begin() + static_cast<std::ptrdiff_t>(n / 2), n);
    a.insert(a.end(), make_entry(n + 1));
    want.push_back(n + 1);
    a.insert(a.begin(), make_entry(n + 2));
    want.insert(want.begin(), n + 2);
    ASSERT_TRUE(holds_all(a, want)) << what;
    DictEntry* next = a.erase(a.begin() + 1);
    want.erase(want.begin() + 1);
    EXPECT_EQ(next, a.begin() + 1) << what;
    const size_t from = a.size() / 3;
    const size_t to = 2 * a.size() / 3;
    a.erase(a.begin() + from, a.begin() + to);
    want.erase(want.begin() + static_cast<std::ptrdiff_t>(from), want.begin() + static_cast<std::ptrdiff_t>(to));
    a.erase(a.end() - 1);
    want.pop_back();
    EXPECT_TRUE(holds_all(a, want)) << what;
  }
}

// One section of `keys` distinct keys written twice over (the second value
// wins), a sub-section opened in the middle of it and replaced by a key of
// the same name, and a second reopened section: the values, the positions
// and the order must not depend on the size.
TEST(RelocatableArray, LargeSectionsKeepLastWinsAndReplacement) {
  for (size_t keys : {size_t{100}, size_t{5400}, size_t{5500}, kMapped - 10, kMapped + 10, 2 * kMapped + 10}) {
    std::string source = "[big]\n";
    for (size_t round = 0; round < 2; ++round) {
      for (size_t i = 0; i < keys; ++i) {
        source += "k" + std::to_string((i * 7919) % keys) + " = " + std::to_string(round * keys + i) + "\n";
        if (round == 0 && i == keys / 2) source += "[big.sub]\nz = 1\n[other]\nx = 1\n[big]\n";
      }
    }
    source += "sub = \"replaced\"\n[other]\nx = 2\n";
    const Document doc = build_document(source, kNoEnv);
    const std::string what = std::to_string(keys) + " keys";
    ASSERT_TRUE(doc.diagnostics.empty()) << what;
    const Dict& big = doc.config.at("big").as_dict();
    ASSERT_EQ(big.size(), keys + 1) << what;
    std::string previous;
    size_t checked = 0;
    for (const auto& [key, value] : big) {
      ASSERT_LT(previous, std::string(key.view())) << what;  // strictly ascending: no repeats left
      previous = std::string(key.view());
      if (key == "sub") continue;
      const size_t k = std::stoul(std::string(key.view()).substr(1));
      // The second round wrote key k at the i with i * 7919 % keys == k.
      const int64_t v = value.as_integer();
      ASSERT_GE(v, static_cast<int64_t>(keys)) << what << " " << key;
      ASSERT_EQ(((static_cast<size_t>(v) - keys) * 7919) % keys, k) << what;
      ++checked;
    }
    EXPECT_EQ(checked, keys) << what;
    EXPECT_EQ(brief(big.at("sub")), "\"replaced\"") << what;
    const size_t sub_at = source.rfind("sub = ");
    EXPECT_EQ(doc.key_span("big.sub"), std::optional<Span>(Span{sub_at, sub_at + 3})) << what;
    EXPECT_EQ(brief(doc.config.at("other").as_dict().at("x")), "2") << what;
    // Positions follow their entries through the sort.
    const std::string last_k0 = "k0 = ";
    const size_t at = source.rfind("\n" + last_k0) + 1;
    EXPECT_EQ(doc.key_span("big.k0"), std::optional<Span>(Span{at, at + 2})) << what;

    // Copies and moves of the document agree with it.
    const Document copy = doc;
    Document moved = Document(doc);
    const Document again = std::move(moved);
    for (const Document* d : {&copy, &again}) {
      EXPECT_EQ(d->config, doc.config) << what;
      EXPECT_EQ(d->key_span("big.k0"), doc.key_span("big.k0")) << what;
      EXPECT_EQ(d->key_span("big.sub"), doc.key_span("big.sub")) << what;
    }
  }
}

}  // namespace
}  // namespace brindle
