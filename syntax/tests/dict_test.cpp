// Flat dictionaries: key order, repeated keys, section replacement and
// positions beside the entries, through the builder and the Dict itself.
#include <gtest/gtest.h>

#include <string>
#include <algorithm>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "builder.h"
#include "validator.h"
#include "test_support.h"

namespace brindle {
namespace {

const EmptyEnv kNoEnv;

std::string keys_of(const Dict& d) {
  std::string out;
  for (const auto& [key, value] : d) out += key + ",";
  return out;
}

std::string span_text(const std::string& source, const std::optional<Span>& s) {
  return s ? source.substr(s->start, s->end - s->start) : "-";
}

// Each row: a source, a path, the value there (brief), its key span text and
// its value span text.
TEST(FlatDict, LastWinsAndSectionReplacement) {
  const std::tuple<std::string, std::string, std::string, std::string, std::string> cases[] = {
      {"b = 1\na = 2\nb = 3\n", "b", "3", "b", "3"},                               // last wins, in key order
      {"[s]\nk = 1\n[t]\nx = 0\n[s]\nk = 2\n", "s.k", "2", "k", "2"},             // a section reopened
      {"[s]\na = 1\n[s.a]\nz = 9\n", "s.a", "{\"z\": 9}", "s.a", "1"},             // header replaces a scalar
      {"[s.a]\nz = 9\n[s]\na = 5\n", "s.a", "5", "a", "5"},                         // a key replaces a section
      {"[s.a]\nz = 9\n[s]\na = 5\n[s.a]\n", "s.a", "{}", "s.a", "5"},              // and a header brings it back empty
      {"[p.q]\n", "p", "{\"q\": {}}", "-", "-"},                                    // made along the way: no position
      {"[s]\nb = #{\n x = 1,\n x = 2,\n}#\n", "s.b.x", "2", "x", "2,"},            // block entries, last wins
      {"k = #{b = 1, a = 2, b = 3}#\n", "k", "{\"a\": 2, \"b\": 3}", "k", "#{b = 1, a = 2, b = 3}#"},
      {"k = #{b = 1}#\n", "k.b", "1", "-", "-"},                                     // inline entries have none
  };
  for (const auto& [source, path, value, key, val] : cases) {
    const Document doc = build_document(source, kNoEnv);
    const DictEntry* e = entry_at(doc.config, path);
    ASSERT_NE(e, nullptr) << source;
    EXPECT_EQ(brief(e->second) + " " + span_text(source, doc.key_span(path)) + " " +
                  span_text(source, doc.value_span(path)),
              value + " " + key + " " + val)
        << source;
  }
}

// A path keeps reporting the last position recorded for it when its entry
// was replaced with the dict holding it, or stored by a block left open.
TEST(FlatDict, PositionsOfReplacedEntries) {
  const std::tuple<std::string, std::string, int> cases[] = {  // source, finding's text, which occurrence
      {"[q.k.a]\n@type: string\nx = 1\n[q.k]\na = #{x = 1}#\n", "x", 1},            // section replaced inline
      {"[s.t]\n@required\nv = 1\n[s]\nt = 2\n[s.t.u]\n[s.t]\nv = null\n", "v", 2},  // later key wins
      {"k = #{\n@nonempty\na = \"\"\n}#\nk = #{\nb = 1\na = 5\n", "a", 2},          // block left open
      {"[p]\n@required\nx = null\n[p.x]\n", "p.x", 1},                                // a header's name
  };
  for (const auto& [source, text, occurrence] : cases) {
    const Document doc = build_document(source, kNoEnv);
    const auto found = validate_document(doc);
    ASSERT_EQ(found.size(), 1u) << source;
    size_t at = source.find(text);
    for (int i = 1; i < occurrence; ++i) at = source.find(text, at + 1);
    EXPECT_EQ((std::pair{found[0].span.start, found[0].span.end}), (std::pair<uint64_t, uint64_t>{at, at + text.size()}))
        << source;
  }
}

// Keys arriving in every order end sorted byte-wise, repeated ones once.
TEST(FlatDict, SealedOrderWhateverTheArrival) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"a", "b", "c"}, "a,b,c,"},
      {{"c", "b", "a", "b"}, "a,b,c,"},
      {{"k10", "k9", "k1", "k10", "K", "_", "\xc3\xa9", "k"}, "K,_,k,k1,k10,k9,\xc3\xa9,"},
      {{"same-prefix-long-key-2", "same-prefix-long-key-10", "same-prefix-long-key-1"},
       "same-prefix-long-key-1,same-prefix-long-key-10,same-prefix-long-key-2,"},
  };
  for (const auto& [arrival, want] : cases) {
    Dict d;
    int n = 0;
    for (const std::string& k : arrival) d.append(k).second = Value::integer(n++);
    d.seal();
    EXPECT_EQ(keys_of(d), want);
    // the value of a repeated key is the last one stored
    for (size_t i = 0; i < arrival.size(); ++i) {
      size_t last = i;
      for (size_t j = i; j < arrival.size(); ++j)
        if (arrival[j] == arrival[i]) last = j;
      EXPECT_EQ(d.at(arrival[i]).as_integer(), static_cast<int64_t>(last)) << arrival[i];
    }
  }
}

// Sealing against a reference: a stable sort of what was appended, the last
// of each repeated key kept with its value and positions, the others
// reported to the drop callback in key order, then arrival order. Sizes
// straddle the comparison and radix thresholds, the size gathered into an
// arena and the size from which the array grows by hand; with and without
// an arena. Key positions grow with arrival (as the builder stores them),
// are absent, run backwards or repeat one: only the order of arrival may
// decide among repeated keys.
TEST(FlatDict, SealMatchesAStableSortWithLastWins) {
  enum class Positions { Growing, Absent, Backwards, OneRepeated };
  const auto position = [](Positions p, size_t i, size_t n) -> std::optional<Span> {
    switch (p) {
      case Positions::Growing: return Span{3 * i, 3 * i + 1};
      case Positions::Absent: return std::nullopt;
      case Positions::Backwards: return Span{n - i, n - i + 1};
      case Positions::OneRepeated: return Span{i == n / 2 && i > 0 ? i - 1 : i, i + 1};
    }
    return std::nullopt;
  };
  std::mt19937 rng(3);
  const size_t gathered = 256 * 1024 / sizeof(DictEntry);  // the largest array moved into an arena
  const size_t sizes[] = {0, 1, 2, 5, 63, 64, 65, 2047, 2048, 2049, gathered - 1, gathered, gathered + 1, 70000};
  const std::string alphabets[] = {"0123456789", "ab", std::string("\x00\x80\xff" "a", 4)};
  int round = 0;
  for (size_t n : sizes) {
    for (const std::string& alphabet : alphabets) {
      for (const Positions positions : {Positions::Growing, Positions::Absent, Positions::Backwards, Positions::OneRepeated}) {
        const bool with_arena = round++ % 3 == 0;  // every kind of positions both ways
        // Few distinct keys for small sizes, so repeats land at every position.
        const size_t spread = std::max<size_t>(2, n / 3);
        std::vector<std::string> keys;
        for (size_t i = 0; i < n; ++i) {
          size_t x = rng() % spread;
          std::string k = x % 5 == 0 ? "" : "shared-prefix-of-many-keys.";
          for (; x != 0; x /= alphabet.size()) k += alphabet[x % alphabet.size()];
          keys.push_back(k);
        }
        std::vector<uint32_t> order(n);
        std::iota(order.begin(), order.end(), 0u);
        std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
        std::vector<std::string> want_drops;
        std::vector<std::string> want;
        for (size_t i = 0; i < n; ++i) {
          const std::string row = keys[order[i]] + "=" + std::to_string(order[i]);
          (i + 1 < n && keys[order[i + 1]] == keys[order[i]] ? want_drops : want).push_back(row);
        }

        Arena arena;
        Dict d;
        for (size_t i = 0; i < n; ++i) {
          DictEntry& e = d.append(keys[i]);
          e.second = Value::integer(static_cast<int64_t>(i));
          if (const auto at = position(positions, i, n)) e.set_key_span(*at);
        }
        std::vector<std::string> drops;
        d.seal([&](std::string_view prefix, const DictEntry& e) {
          drops.push_back(std::string(prefix) + e.first + "=" + std::to_string(e.second.as_integer()));
        }, "p.", with_arena ? &arena : nullptr);
        std::vector<std::string> got;
        bool spans_follow = true;
        for (const DictEntry& e : d) {
          got.push_back(e.first + "=" + std::to_string(e.second.as_integer()));
          const uint64_t i = static_cast<uint64_t>(e.second.as_integer());
          spans_follow = spans_follow && e.key_span() == position(positions, i, n);
        }
        for (std::string& row : want_drops) row = "p." + row;
        const std::string what = "size " + std::to_string(n) + " alphabet " + std::to_string(alphabet.size()) +
                                 " positions " + std::to_string(static_cast<int>(positions));
        EXPECT_EQ(got, want) << what;
        EXPECT_EQ(drops, want_drops) << what;
        EXPECT_TRUE(spans_follow) << what;
        for (size_t i = 0; i < n; i += 97) {
          ASSERT_NE(d.find(keys[i]), d.end()) << what;
        }
      }
    }
  }
}

// Enough keys for the hash index, found before and after sealing, through
// copies and moves.
TEST(FlatDict, IndexCopiesAndMoves) {
  Dict d;
  const int n = 5000;
  for (int i = n; i-- > 0;) {
    bool inserted = false;
    d.upsert("key" + std::to_string(i), inserted).second = Value::integer(i);
    ASSERT_TRUE(inserted);
  }
  for (int i = 0; i < n; i += 7) {
    bool inserted = true;
    d.upsert("key" + std::to_string(i), inserted).second = Value::integer(-i);
    ASSERT_FALSE(inserted);
  }
  const Dict copy = d;
  Dict moved = std::move(d);
  for (const Dict* x : {&copy, static_cast<const Dict*>(&moved)}) {
    ASSERT_EQ(x->size(), static_cast<size_t>(n));
    for (int i = 0; i < n; i += 13) EXPECT_EQ(x->at("key" + std::to_string(i)).as_integer(), i % 7 ? i : -i);
  }
  moved.seal();
  EXPECT_EQ(copy, moved);  // equality does not depend on sealing
  EXPECT_TRUE(std::is_sorted(moved.begin(), moved.end(),
                             [](const DictEntry& a, const DictEntry& b) { return a.first < b.first; }));
  EXPECT_EQ(moved.find("key42")->second.as_integer(), -42);
  EXPECT_EQ(moved.find("absent"), moved.end());
}

// A large section as the builder stores it, keys repeated at random: key
// order, the last value and last positions of each key, whatever the size
// (sorted as handles, in place within one part, in place by levels) and
// whether the keys share a first byte.
TEST(FlatDict, LargeSectionsKeepTheLastOfEachKey) {
  std::mt19937 rng(17);
  for (const size_t n : {size_t{4000}, size_t{7000}, size_t{30000}}) {
    for (const std::string lead : {"k", ""}) {
      std::string source = "[s]\n";
      std::map<std::string, std::pair<size_t, int>> last;  // key: its line's offset, its value
      for (int i = 0; i < static_cast<int>(n); ++i) {
        const std::string key = (lead.empty() ? std::string(1, static_cast<char>('a' + rng() % 26)) : lead) +
                                std::to_string(rng() % (n - n / 8));
        last[key] = {source.size(), i};
        source += key + " = " + std::to_string(i) + "\n";
      }
      const Document doc = build_document(source, kNoEnv);
      const std::string what = "size " + std::to_string(n) + " lead '" + lead + "'";
      ASSERT_TRUE(doc.diagnostics.empty()) << what;
      const Dict& section = doc.config.at("s").as_dict();
      ASSERT_EQ(section.size(), last.size()) << what;
      auto want = last.begin();
      for (const DictEntry& e : section) {
        ASSERT_EQ(std::string(e.first), want->first) << what;
        ASSERT_EQ(e.second.as_integer(), want->second.second) << what << " " << want->first;
        ASSERT_EQ(e.key_span(), std::optional<Span>(Span{want->second.first, want->second.first + want->first.size()}))
            << what << " " << want->first;
        ++want;
      }
    }
  }
}

// A document moved out of the builder and then moved again keeps its data
// and positions.
TEST(FlatDict, DocumentsAcrossMoves) {
  const std::string source = "[s]\nb = 2\na = 1\n";
  std::vector<Document> docs;
  for (int i = 0; i < 20; ++i) docs.push_back(build_document(source, kNoEnv));  // reallocations move them
  const Document last = std::move(docs.back());
  EXPECT_EQ(brief(Value::dict(last.config)) + " " + span_text(source, last.key_span("s.a")),
            R"({"s": {"a": 1, "b": 2}} a)");
}

}  // namespace
}  // namespace brindle
