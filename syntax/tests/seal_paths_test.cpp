// The cheap paths of building a sectioned document: short keys compared as
// two words, lookups of variables and keys in small dictionaries, blocks
// sealed straight into the document's arena by one reused dictionary, and
// the drop callback held by reference. Each is checked against a plain model
// (std::string, std::map) or against the document the same text builds.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "builder.h"
#include "key.h"
#include "model.h"
#include "test_support.h"

namespace brindle {
namespace {

const EmptyEnv kNoEnv;

// Random byte strings of every inline length, NUL and 0xFF included.
std::vector<std::string> short_keys(std::mt19937& rng, size_t per_length) {
  std::vector<std::string> out;
  const char bytes[] = {'\0', '\x01', 'a', 'b', '\x7F', '\x80', '\xFF'};
  for (size_t n = 0; n <= Key::kInline; ++n) {
    for (size_t k = 0; k < per_length; ++k) {
      std::string s;
      for (size_t i = 0; i < n; ++i) s += bytes[rng() % sizeof bytes];
      out.push_back(s);
    }
  }
  return out;
}

TEST(SealPaths, InlineWordsAreTheKeysBytes) {
  std::mt19937 rng(21);
  const std::vector<std::string> keys = short_keys(rng, 40);
  for (const std::string& s : keys) {
    const Key key(s);
    ASSERT_EQ(key.view(), s) << s.size();
    Key assigned("something else entirely, long");
    assigned.assign(s);
    ASSERT_EQ(assigned.view(), s) << s.size();
    ASSERT_EQ(key.words(), Key::inline_words(s)) << s.size();
    ASSERT_EQ(assigned.words(), key.words()) << s.size();
  }
  // Words are equal exactly when the strings are: neighbours in length
  // ("ab" and "ab\0") and in a single byte included.
  for (size_t i = 0; i < keys.size(); i += 3) {
    for (size_t j = 0; j < keys.size(); j += 5) {
      EXPECT_EQ(Key::inline_words(keys[i]) == Key::inline_words(keys[j]), keys[i] == keys[j])
          << keys[i].size() << " " << keys[j].size();
    }
    const std::string longer = keys[i] + '\0';
    if (longer.size() <= Key::kInline) EXPECT_NE(Key::inline_words(keys[i]), Key::inline_words(longer));
  }
}

// Lookups in dictionaries small enough to be scanned, sealed or still
// filling, with repeated keys, keys around the inline edge and absent ones
// that share a prefix or differ by a trailing NUL: each agrees with a map
// in which the last write counts.
TEST(SealPaths, SmallDictionaryLookupsMatchAMap) {
  std::mt19937 rng(5);
  const std::vector<std::string> pool = {
      "",   "a",  "b",  "ab", std::string("ab\0", 3), "abcdefghijklmn", "abcdefghijklmno",
      "abcdefghijklm", std::string(15, '\xFF'), std::string(14, '\xFF'), "host", "port", "hostname"};
  for (int round = 0; round < 400; ++round) {
    const size_t n = rng() % 20;  // scanned below 9 sorted, 16 unsorted; hashed or searched past
    Dict d;
    std::map<std::string, int64_t> model;
    for (size_t i = 0; i < n; ++i) {
      const std::string& k = pool[rng() % pool.size()];
      d.append(k).second = Value::integer(static_cast<int64_t>(i));
      model[k] = static_cast<int64_t>(i);
    }
    const bool sealed = round % 2 == 0;
    if (sealed) d.seal();
    for (const std::string& k : pool) {
      const auto it = d.find(k);
      const auto want = model.find(k);
      ASSERT_EQ(it != d.end(), want != model.end()) << round << " " << k.size();
      if (it != d.end()) {
        EXPECT_EQ(it->second.as_integer(), want->second) << round << " " << k.size();
      }
    }
    if (sealed) EXPECT_EQ(d.size(), model.size()) << round;
  }
}

std::vector<std::string> rows(const Dict& d) {
  std::vector<std::string> out;
  for (const DictEntry& e : d) out.push_back(std::string(e.first) + "=" + brief(e.second));
  return out;
}

// One dictionary fills several in turn, as a parse does its blocks: each
// result is sealed (last of a key wins) in the arena, the filler is left
// empty and reusable, and earlier results do not change.
TEST(SealPaths, SealedIntoAnArenaFromOneReusedDictionary) {
  const std::vector<std::vector<std::string>> fills = {
      {"b", "a", "b", "c"},
      {},
      {"x"},
      {"z", "y", "x", "y", "z", "a-key-long-enough-to-leave-the-entry"},
      {"k", "k", "k"},
  };
  Arena arena;
  Dict filler;
  std::vector<Dict> made;
  std::vector<std::vector<std::string>> want;
  for (const auto& keys : fills) {
    std::map<std::string, std::string> model;
    for (size_t i = 0; i < keys.size(); ++i) {
      filler.append(keys[i], &arena).second = Value::integer(static_cast<int64_t>(i));
      model[keys[i]] = std::to_string(i);
    }
    made.push_back(filler.sealed_into(arena));
    EXPECT_TRUE(filler.empty());
    EXPECT_TRUE(made.back().in_arena(arena));
    for (const DictEntry& e : made.back()) EXPECT_TRUE(e.first.is_inline() || e.first.in_arena());
    std::vector<std::string> expected;
    for (const auto& [k, v] : model) expected.push_back(k + "=" + v);
    want.push_back(expected);
  }
  for (size_t i = 0; i < made.size(); ++i) {
    EXPECT_EQ(rows(made[i]), want[i]) << i;
    for (const std::string& row : want[i]) {
      EXPECT_NE(made[i].find(row.substr(0, row.find('='))), made[i].end()) << row;
    }
  }
}

// Past the size the arena gathers, the entries stay in their heap array,
// sealed all the same.
TEST(SealPaths, LargeSealedIntoKeepsItsHeapArray) {
  const size_t n = 256 * 1024 / sizeof(DictEntry) + 10;
  Arena arena;
  Dict filler;
  for (size_t i = n; i-- > 0;) {
    filler.append("k" + std::to_string(i % (n - 5)), &arena).second = Value::integer(static_cast<int64_t>(i));
  }
  Dict out = filler.sealed_into(arena);
  EXPECT_FALSE(out.in_arena(arena));
  EXPECT_TRUE(filler.empty());
  EXPECT_EQ(out.size(), n - 5);
  // Keys k0..k4 came twice, last (lowest number) wins.
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(out.at("k" + std::to_string(i)).as_integer(), static_cast<int64_t>(i));
  std::string previous;
  for (const DictEntry& e : out) {
    EXPECT_LT(previous, std::string(e.first));
    previous = std::string(e.first);
  }
}

// Built documents: the value at each path, with blocks repeated, reopened
// and nested around inline dicts, variables redefined and sections replaced
// or left empty.
TEST(SealPaths, BuiltDocuments) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      // Variables: the last definition counts, for later variables too.
      {"[vars]\nh = 1\nh = 2\nk = $h\n[s]\na = $h\nb = $k\n", "s", "{\"a\": 2, \"b\": 2}"},
      {"[vars]\nh = 1\n[vars]\nh = \"x\"\n[s]\na = $h + \"y\"\n", "s.a", "\"xy\""},
      {"[vars]\nabcdefghijklmn = 1\nabcdefghijklmno = 2\n[s]\na = $abcdefghijklmn\nb = $abcdefghijklmno\n", "s",
       "{\"a\": 1, \"b\": 2}"},
      // Blocks: repeats, reopened keys, nesting, emptiness.
      {"[s]\nb = #{\n  y = 1,\n  x = 2,\n  y = 3,\n}#\n", "s.b", "{\"x\": 2, \"y\": 3}"},
      {"[s]\nb = #{\n  x = 1,\n}#\nb = #{\n  y = 2,\n}#\n", "s.b", "{\"y\": 2}"},
      {"[s]\nb = #{\n}#\nc = #{\n  q = 1,\n}#\n", "s", "{\"b\": {}, \"c\": {\"q\": 1}}"},
      {"[s]\nb = #{\n  in = #{z = 1, a = 2}#,\n  n = [1, 2],\n}#\n", "s.b", "{\"in\": {\"a\": 2, \"z\": 1}, \"n\": [1, 2]}"},
      {"b = #{\n  k = \"a string too long to be inline\",\n}#\n[t]\nb = #{\n  k = 1,\n}#\n", "b.k",
       "\"a string too long to be inline\""},
      // Sections: replaced, reopened, empty.
      {"[s]\na = 1\n[t]\n[s]\nb = 2\n", "s", "{\"a\": 1, \"b\": 2}"},
      {"[s]\n[t]\n[s]\n", "s", "{}"},
      {"[s]\na = 1\n[s.a]\n[s]\nc = 3\n", "s", "{\"a\": {}, \"c\": 3}"},
  };
  for (const auto& [source, path, want] : cases) {
    const Document doc = build_document(source, kNoEnv);
    EXPECT_TRUE(doc.diagnostics.empty()) << source;
    const DictEntry* e = entry_at(doc.config, path);
    ASSERT_NE(e, nullptr) << source;
    EXPECT_EQ(brief(e->second), want) << source;
  }
}

// A block sealed into the arena answers exactly as a copy of the document
// does (a copy is heap-owned), positions included.
TEST(SealPaths, BlocksReadTheSameAsTheirCopies) {
  const std::string source =
      "[a]\nb1 = #{\n  y = 1,\n  x = \"long enough to leave the value\",\n  y = 2,\n}#\n"
      "b2 = #{\n}#\n[c]\nb1 = #{\n  k = #{p = 1}#,\n}#\n";
  const Document doc = build_document(source, kNoEnv);
  ASSERT_TRUE(doc.diagnostics.empty());
  const Dict copy = doc.config;
  EXPECT_TRUE(copy == doc.config);
  for (const std::string path : {"a.b1", "a.b1.x", "a.b1.y", "a.b2", "c.b1", "c.b1.k"}) {
    const DictEntry* e = entry_at(doc.config, path);
    ASSERT_NE(e, nullptr) << path;
    EXPECT_EQ(brief(e->second), brief(entry_at(copy, path)->second)) << path;
    EXPECT_TRUE(doc.key_span(path).has_value()) << path;
  }
  EXPECT_EQ(source.substr(doc.value_span("a.b1.y")->start, 2), "2,");
}

// The drop callback refers to its callable: every dropped entry reaches
// it, with the path it was given.
TEST(SealPaths, DropCallbackByReference) {
  for (size_t n : {2u, 40u, 64u, 65u, 300u}) {
    Dict d;
    for (size_t i = 0; i < n; ++i) d.append("k" + std::to_string(i % (n / 2))).second = Value::integer(1);
    std::vector<std::string> dropped;
    const auto keep = [&dropped](std::string_view prefix, const DictEntry& e) {
      dropped.push_back(std::string(prefix) + std::string(e.first));
    };
    const Dict::DropFn fn(keep);
    EXPECT_TRUE(static_cast<bool>(fn));
    EXPECT_FALSE(static_cast<bool>(Dict::DropFn()));
    d.seal(fn, "p.");
    EXPECT_EQ(d.size(), n / 2) << n;
    EXPECT_EQ(dropped.size(), n - n / 2) << n;
    for (const std::string& k : dropped) EXPECT_EQ(k.rfind("p.k", 0), 0u) << k;
  }
}

}  // namespace
}  // namespace brindle
