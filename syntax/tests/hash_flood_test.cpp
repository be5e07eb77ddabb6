// Keys chosen to collide cannot pile up in a hash index. The keys below all
// collided under the hashes the indexes used before they were keyed: the
// dictionary's std::hash (equal low bits, found by search) and the
// annotation table's multiply/xor-shift path hash (equal full hashes, made
// by flipping bit 63 of one word and cancelling the difference in the next).
// Probe work is counted by the index itself, not timed: an index that piles
// n keys into one run steps about n/2 slots per key, a keyed one well under
// two. Documents made of such keys must still parse to exactly what a plain
// map model says.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "builder.h"
#include "former_hashes.h"
#include "test_support.h"

namespace brindle {
namespace {

const FakeEnv kNoEnv;

// Average probe steps per indexed key at most this: a keyed index at most
// half full averages well under one.
constexpr size_t kStepsPerKey = 2;

constexpr size_t kLowBits = 12;  // the index of 2000 keys has 4096 slots

// `count` keys `prefix` + number whose std::hash agrees in its low kLowBits
// bits: every one went to the same first slot of the former index.
std::vector<std::string> std_hash_collisions(size_t count, std::string_view prefix) {
  std::vector<std::string> keys;
  const size_t mask = (size_t{1} << kLowBits) - 1;
  for (size_t i = 0; keys.size() < count; ++i) {
    std::string key = std::string(prefix) + std::to_string(i);
    if ((std::hash<std::string_view>{}(key) & mask) == 0) keys.push_back(std::move(key));
  }
  return keys;
}

using former::former_path_hash;

// 2^pairs paths of 16 * pairs bytes with one former hash: in each pair of
// words, flipping bit 63 of the first survives its multiply as bit 63 alone
// and the shift adds bit 31; flipping both in the second word cancels them.
std::vector<std::string> former_path_multicollision(size_t pairs) {
  const std::string base(16 * pairs, 'p');
  std::vector<std::string> paths;
  for (size_t bits = 0; bits < (size_t{1} << pairs); ++bits) {
    std::string path = base;
    for (size_t k = 0; k < pairs; ++k) {
      if ((bits >> k & 1) == 0) continue;
      path[16 * k + 7] = static_cast<char>(path[16 * k + 7] ^ 0x80);       // bit 63 of word 2k
      path[16 * k + 8 + 7] = static_cast<char>(path[16 * k + 8 + 7] ^ 0x80);  // bit 63 of word 2k+1
      path[16 * k + 8 + 3] = static_cast<char>(path[16 * k + 8 + 3] ^ 0x80);  // bit 31 of word 2k+1
    }
    paths.push_back(std::move(path));
  }
  return paths;
}

// Paths `prefix` + number whose former hash agrees in its low kLowBits bits.
std::vector<std::string> former_path_collisions(size_t count, std::string_view prefix) {
  std::vector<std::string> paths;
  const uint32_t mask = (uint32_t{1} << kLowBits) - 1;
  for (size_t i = 0; paths.size() < count; ++i) {
    std::string path = std::string(prefix) + std::to_string(i);
    if ((former_path_hash(path) & mask) == 0) paths.push_back(std::move(path));
  }
  return paths;
}

TEST(HashFlood, TheKeysCollidedUnderTheFormerHashes) {
  // The inputs below are only worth their name if they really collided.
  const std::vector<std::string> multi = former_path_multicollision(12);
  ASSERT_EQ(multi.size(), 4096u);
  for (const std::string& p : multi) ASSERT_EQ(former_path_hash(p), former_path_hash(multi[0]));
  const size_t mask = (size_t{1} << kLowBits) - 1;
  for (const std::string& k : std_hash_collisions(64, "k")) {
    ASSERT_EQ(std::hash<std::string_view>{}(k) & mask, 0u);
  }
  for (const std::string& p : former_path_collisions(64, "s.k")) ASSERT_EQ(former_path_hash(p) & mask, 0u);
}

struct KeySet {
  const char* name;
  std::vector<std::string> keys;
};

std::vector<KeySet> dict_key_sets() {
  std::vector<std::string> plain;
  for (size_t i = 0; i < 2000; ++i) plain.push_back("key" + std::to_string(i));
  return {{"std::hash low bits", std_hash_collisions(2000, "k")},
          {"former path hash", former_path_multicollision(11)},
          {"plain", plain}};
}

TEST(HashFlood, DictIndexSpreadsCollidingKeys) {
  for (const KeySet& set : dict_key_sets()) {
    SCOPED_TRACE(set.name);
    Dict d;
    // Out of order, so the dictionary stays unsorted and indexed.
    for (size_t i = set.keys.size(); i-- > 0;) {
      bool inserted = false;
      d.upsert(set.keys[i], inserted).second = Value::integer(static_cast<int64_t>(i));
      ASSERT_TRUE(inserted);
    }
    // Each key again: found through the index, not added.
    for (size_t i = 0; i < set.keys.size(); i += 7) {
      bool inserted = true;
      EXPECT_EQ(d.upsert(set.keys[i], inserted).second.as_integer(), static_cast<int64_t>(i));
      EXPECT_FALSE(inserted);
    }
    const ProbeLoad load = d.index_load();
    EXPECT_EQ(load.entries, set.keys.size());
    EXPECT_LE(load.steps, kStepsPerKey * load.entries);
    EXPECT_EQ(d.find(set.keys[0] + "x"), d.end());
    d.seal();
    EXPECT_EQ(d.index_load().entries, 0u);
    ASSERT_EQ(d.size(), set.keys.size());
    for (size_t i = 0; i < set.keys.size(); ++i) EXPECT_EQ(d.at(set.keys[i]).as_integer(), static_cast<int64_t>(i));
  }
}

TEST(HashFlood, AnnotationIndexSpreadsCollidingPaths) {
  const std::vector<KeySet> sets = {{"former path hash, full", former_path_multicollision(12)},
                                    {"former path hash, low bits", former_path_collisions(3000, "s.k")},
                                    {"std::hash low bits", std_hash_collisions(3000, "s.k")}};
  for (const KeySet& set : sets) {
    for (const bool append : {false, true}) {
      SCOPED_TRACE(std::string(set.name) + (append ? ", appended" : ", set"));
      AnnotationTable table;
      const auto put = [&](size_t i, const std::string& name) {
        std::vector<Annotation> list(1);
        list[0].name = name;
        if (append) {
          table.append(set.keys[i], list, {});
        } else {
          table.take(set.keys[i], list, {});
        }
      };
      for (size_t i = 0; i < set.keys.size(); ++i) put(i, "a" + std::to_string(i));
      for (size_t i = 0; i < set.keys.size(); i += 5) put(i, "b" + std::to_string(i));  // replaced
      table.finish();
      const ProbeLoad load = table.index_load();
      EXPECT_EQ(load.entries, set.keys.size());
      EXPECT_LE(load.steps, kStepsPerKey * load.entries);
      ASSERT_EQ(table.size(), set.keys.size());
      for (size_t i = 0; i < set.keys.size(); ++i) {
        const AnnotationList* list = table.find(set.keys[i]);
        ASSERT_NE(list, nullptr) << i;
        ASSERT_EQ(list->size(), 1u);
        EXPECT_EQ(std::string_view((*list)[0].name), (i % 5 == 0 ? "b" : "a") + std::to_string(i));
      }
      EXPECT_EQ(table.find(set.keys[0] + "x"), nullptr);
    }
  }
}

// A document of sections and annotated keys, and what a plain map says it
// holds: the configuration (sections re-entered, keys replaced: the last
// value counts) and each annotated path's annotation names.
struct Flood {
  std::string source;
  Dict config;
  std::map<std::string, std::string> annotations;  // path -> names, space-separated
};

Flood sections_flood(const std::vector<std::string>& names) {
  Flood f;
  for (size_t i = 0; i < names.size(); ++i) {
    f.source += "[" + names[i] + "]\nv = " + std::to_string(i) + "\n";
    f.config.insert_or_assign(names[i], Value::dict({{"v", Value::integer(static_cast<int64_t>(i))}}));
  }
  // Every third section entered again: its `v` replaced, a `w` added.
  for (size_t i = 0; i < names.size(); i += 3) {
    f.source += "[" + names[i] + "]\nv = -" + std::to_string(i) + "\n@required\nw = true\n";
    Dict& d = f.config.at(names[i]).as_dict();
    d.insert_or_assign("v", Value::integer(-static_cast<int64_t>(i)));
    d.insert_or_assign("w", Value::boolean(true));
    f.annotations[names[i] + ".w"] = "required";
  }
  return f;
}

// `paths` are "s.<key>": keys of one section, each annotated.
Flood annotated_flood(const std::vector<std::string>& paths) {
  Flood f;
  f.source = "[s]\n";
  Dict s;
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string key = paths[i].substr(2);
    f.source += "@min: 0\n@max: " + std::to_string(i) + "\n" + key + " = " + std::to_string(i) + "\n";
    s.insert_or_assign(key, Value::integer(static_cast<int64_t>(i)));
    f.annotations[paths[i]] = "min max";
  }
  f.config.insert_or_assign("s", Value::dict(std::move(s)));
  return f;
}

std::string names_of(const AnnotationList& list) {
  std::string out;
  for (const Annotation& a : list) out.append(out.empty() ? "" : " ").append(std::string_view(a.name));
  return out;
}

TEST(HashFlood, CollidingDocumentsParseAsTheMapModelSays) {
  struct Case {
    const char* name;
    Flood flood;
  };
  const Case cases[] = {
      {"sections, std::hash low bits", sections_flood(std_hash_collisions(2500, "s"))},
      {"sections, plain names", sections_flood([] {
         std::vector<std::string> v;
         for (size_t i = 0; i < 2500; ++i) v.push_back("s" + std::to_string(i));
         return v;
       }())},
      {"annotated keys, former path hash low bits", annotated_flood(former_path_collisions(2500, "s.k"))},
      {"annotated keys, std::hash low bits", annotated_flood(std_hash_collisions(2500, "s.k"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Document doc = build_document(c.flood.source, kNoEnv);
    EXPECT_TRUE(doc.diagnostics.empty()) << doc.diagnostics.front().message;
    EXPECT_EQ(brief(Value::dict(doc.config)), brief(Value::dict(c.flood.config)));
    std::map<std::string, std::string> annotations;
    for (const auto& [path, list] : doc.annotations) annotations[std::string(path)] = names_of(list);
    EXPECT_EQ(annotations, c.flood.annotations);
    for (const auto& [path, names] : c.flood.annotations) {
      const AnnotationList* list = doc.annotations.find(path);
      ASSERT_NE(list, nullptr) << path;
      EXPECT_EQ(names_of(*list), names) << path;
    }
    // A broken line at the end reports just what it reports alone, where
    // it stands.
    const std::string bad = "x = [1,\n";
    const std::vector<Diagnostic> alone = build_document(bad, kNoEnv).diagnostics;
    ASSERT_EQ(alone.size(), 1u);
    const Document broken = build_document(c.flood.source + bad, kNoEnv);
    ASSERT_EQ(broken.diagnostics.size(), 1u);
    EXPECT_EQ(broken.diagnostics[0].message, alone[0].message);
    EXPECT_EQ(broken.diagnostics[0].span.start, alone[0].span.start + c.flood.source.size());
    EXPECT_EQ(brief(Value::dict(broken.config)), brief(Value::dict(c.flood.config)));
  }
}

}  // namespace
}  // namespace brindle
