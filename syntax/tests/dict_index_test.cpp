// A dictionary filling by upsert and append keeps a hash index with a small
// filter in front and a few entries waiting to go into it. Whatever the
// number of entries, whichever are waiting, after copies and erasures: every
// key present is found (the filter never turns one away), the last of a
// repeated key counts, and keys absent are not found.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "model.h"

namespace brindle {
namespace {

// Appended piece by piece: `"k" + std::to_string(i)` trips a false -Wrestrict.
std::string named(const char* prefix, uint64_t i) { return std::string(prefix).append(std::to_string(i)); }

void expect_like(const Dict& d, const std::map<std::string, int64_t>& model, uint64_t kinds) {
  for (uint64_t k = 0; k < kinds + 40; ++k) {
    for (const char* prefix : {"key_", "other_"}) {
      const std::string key = named(prefix, k);
      const auto it = d.find(key);
      const auto want = model.find(key);
      if (want == model.end()) {
        EXPECT_TRUE(it == d.end()) << key;
      } else {
        ASSERT_TRUE(it != d.end()) << key;
        EXPECT_EQ(it->second.as_integer(), want->second) << key;
      }
    }
  }
}

TEST(DictIndex, FindsEveryKeyWhateverIsWaiting) {
  uint64_t seed = 3;
  auto below = [&](uint64_t n) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return (seed >> 33) % n;
  };
  for (const uint64_t kinds : {10u, 17u, 40u, 300u, 5000u}) {
    for (const size_t steps : {1u, 7u, 16u, 17u, 25u, 33u, 200u, 3000u}) {
      SCOPED_TRACE(std::to_string(kinds) + " kinds, " + std::to_string(steps) + " steps");
      Dict d;
      std::map<std::string, int64_t> model;
      std::map<std::string, int> stored;  // entries made for each key
      for (size_t i = 0; i < steps; ++i) {
        const std::string key = named("key_", below(kinds));
        const auto value = static_cast<int64_t>(i);
        switch (below(4)) {
          case 0: {  // a new entry even for a key present: the last counts
            d.append(key).second = Value::integer(value);
            model[key] = value;
            ++stored[key];
            break;
          }
          case 1: {  // looked up first: only a new key gets an entry
            bool inserted = false;
            DictEntry& e = d.upsert(key, inserted);
            EXPECT_EQ(inserted, model.count(key) == 0) << key;
            e.second = Value::integer(value);
            model[key] = value;
            stored[key] += inserted ? 1 : 0;
            break;
          }
          case 2: {  // a lookup between the stores
            const auto it = std::as_const(d).find(key);
            EXPECT_EQ(it != d.end(), model.count(key) == 1) << key;
            break;
          }
          default: {
            bool inserted = false;
            d.upsert(key, inserted).second = Value::integer(value);
            model[key] = value;
            stored[key] += inserted ? 1 : 0;
            break;
          }
        }
      }
      expect_like(d, model, kinds);
      // A copy made with entries still waiting finds them too.
      const Dict copy(d);
      expect_like(copy, model, kinds);
      // An erasure (of a key stored once: before sealing, an erasure takes
      // out the entry that counts, not the repeats before it) rebuilds the
      // index from the entries.
      for (const auto& [gone, count] : stored) {
        if (count != 1) continue;
        EXPECT_EQ(d.erase(gone), 1u);
        model.erase(gone);
        expect_like(d, model, kinds);
        break;
      }
      // Sealed, the dictionary holds each key once, in order, with its last value.
      d.seal();
      ASSERT_EQ(d.size(), model.size());
      size_t i = 0;
      for (const auto& [key, value] : model) {
        const DictEntry& e = *(std::as_const(d).begin() + static_cast<std::ptrdiff_t>(i++));
        EXPECT_EQ(std::string_view(e.first), key);
        EXPECT_EQ(e.second.as_integer(), value) << key;
      }
    }
  }
}

}  // namespace
}  // namespace brindle
