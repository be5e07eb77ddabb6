// The 16-byte dictionary key: bytes kept exactly on both sides of the
// inline edge, copies that own their bytes, moves that keep where the bytes
// are, order identical to std::string's, and the keys of a built document
// held by its arena.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "builder.h"
#include "key.h"
#include "model.h"

namespace brindle {
namespace {

const EmptyEnv kNoEnv;

// Byte strings around the inline edge (14 bytes), holding NUL and 0xFF
// bytes where a length or terminator mix-up would show.
std::vector<std::string> samples() {
  std::vector<std::string> out = {
      "",
      "a",
      "b",
      std::string(1, '\0'),
      std::string(1, '\xFF'),
      "abcdefghijklm",                    // 13
      "abcdefghijklmn",                   // 14: the last inline size
      "abcdefghijklmno",                  // 15: the first out-of-line size
      "abcdefghijklmnop",                 // 16
      std::string("abcdefghijklm\0", 14),
      std::string("abcdefghijklm\0\0", 15),
      std::string(14, '\xFF'),
      std::string(15, '\xFF'),
      std::string("\xFF\0\xFF", 3),
      std::string(300, 'k') + "\x01",
      std::string(300, 'k'),
  };
  return out;
}

std::string shown(std::string_view s) {
  std::string out;
  for (unsigned char c : s) out += (c >= 0x20 && c < 0x7F) ? std::string(1, static_cast<char>(c)) : "\\x" + std::to_string(c);
  return out + " (" + std::to_string(s.size()) + " bytes)";
}

TEST(Key, BytesSurviveConstructionCopiesAndMoves) {
  for (const std::string& s : samples()) {
    SCOPED_TRACE(shown(s));
    const Key key(s);
    EXPECT_EQ(key.view(), s);
    EXPECT_EQ(key.size(), s.size());
    EXPECT_EQ(key.empty(), s.empty());
    EXPECT_EQ(key.is_inline(), s.size() <= 14);
    EXPECT_FALSE(key.in_arena());

    Key copy(key);
    EXPECT_EQ(copy.view(), s);
    if (!s.empty()) {
      EXPECT_NE(static_cast<const void*>(copy.data()), static_cast<const void*>(key.data()));
    }

    Key moved(std::move(copy));
    EXPECT_EQ(moved.view(), s);
    EXPECT_TRUE(copy.empty());  // NOLINT: a moved-from key is empty and usable
    copy = Key("reused");
    EXPECT_EQ(copy.view(), "reused");

    // Assignment over keys on both sides of the edge.
    for (const std::string& other : samples()) {
      Key target(other);
      target = key;
      EXPECT_EQ(target.view(), s);
      Key target2(other);
      target2 = Key(s);
      EXPECT_EQ(target2.view(), s);
      Key target3(other);
      target3 = std::string_view(s);
      EXPECT_EQ(target3.view(), s);
    }
    Key self(s);
    Key& alias = self;
    self = alias;
    EXPECT_EQ(self.view(), s);
    self = std::move(alias);
    EXPECT_EQ(self.view(), s);
    // Assigning a piece of its own bytes.
    if (!s.empty()) {
      self.assign(self.view().substr(1));
      EXPECT_EQ(self.view(), std::string_view(s).substr(1));
    }
  }
}

TEST(Key, ArenaHeldBytesAndHeapOwnedCopies) {
  for (const std::string& s : samples()) {
    SCOPED_TRACE(shown(s));
    const bool long_key = s.size() > 14;
    Arena arena;
    Key held(s);
    const char* heap_bytes = held.data();
    held.move_into(arena);
    EXPECT_EQ(held.view(), s);
    EXPECT_EQ(held.in_arena(), long_key);
    EXPECT_EQ(held.data() != heap_bytes, long_key);
    held.move_into(arena);  // already there: unchanged
    EXPECT_EQ(held.view(), s);

    Key direct;
    direct.assign(s, &arena);
    EXPECT_EQ(direct.view(), s);
    EXPECT_EQ(direct.in_arena(), long_key);
    EXPECT_EQ(arena.reserved() > 0, long_key);

    // A copy owns its bytes; a move keeps them in the arena.
    Key copy(held);
    EXPECT_EQ(copy.view(), s);
    EXPECT_FALSE(copy.in_arena());
    const char* held_bytes = held.data();
    Key moved(std::move(held));
    EXPECT_EQ(moved.view(), s);
    EXPECT_EQ(moved.in_arena(), long_key);
    if (long_key) {
      EXPECT_EQ(moved.data(), held_bytes);
    }

    // Replacing an arena-held key leaves the arena's bytes alone.
    const std::string before(direct.view());
    Key other(direct);
    direct = Key("x");
    EXPECT_EQ(other.view(), before);
  }
}

int sign(int c) { return (c > 0) - (c < 0); }
int sign(std::strong_ordering o) { return o < 0 ? -1 : o > 0 ? 1 : 0; }

TEST(Key, OrderIsStdStringByteOrder) {
  std::vector<std::string> all = samples();
  all.push_back("abcdefghijklmnoa");
  all.push_back("abcdefghijklmn\x80");
  all.push_back("\x7F");
  all.push_back("\x80");
  for (const std::string& a : all) {
    for (const std::string& b : all) {
      SCOPED_TRACE(shown(a) + " vs " + shown(b));
      const Key ka(a), kb(b);
      const int want = sign(a.compare(b));
      EXPECT_EQ(sign(ka <=> kb), want);
      EXPECT_EQ(sign(ka <=> std::string_view(b)), want);
      EXPECT_EQ(sign(ka.compare(b)), want);
      EXPECT_EQ(ka == kb, a == b);
      EXPECT_EQ(ka == std::string_view(b), a == b);
      EXPECT_EQ(ka < kb, a < b);
      EXPECT_EQ(b < ka, b < a);  // std::string on the left
    }
  }
  std::vector<Key> keys;
  for (const std::string& s : all) keys.emplace_back(s);
  std::sort(keys.begin(), keys.end());
  std::sort(all.begin(), all.end());
  ASSERT_EQ(keys.size(), all.size());
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(keys[i].view(), all[i]) << i;
}

TEST(Key, StringLikeReading) {
  const Key k(std::string("name.with\nfeed and more"));
  EXPECT_EQ(k.find('.'), 4u);
  EXPECT_EQ(k.find("feed"), 10u);
  EXPECT_EQ(k.find_first_of("\n\""), 9u);
  EXPECT_EQ(k.find('#'), std::string::npos);
  EXPECT_EQ("p." + k, "p.name.with\nfeed and more");
  EXPECT_EQ(k + "!", "name.with\nfeed and more!");
  std::string path = "a.";
  path += k;
  EXPECT_EQ(path, "a.name.with\nfeed and more");
}

// Every key of `d` and below: whether each long one is arena-held.
void collect(const Dict& d, std::vector<std::pair<std::string, bool>>& out, int depth = 0) {
  for (const auto& [key, value] : d) {
    if (!key.is_inline()) out.emplace_back(std::string(key), key.in_arena());
    if (value.is(Tag::Dict) && depth < 64) collect(value.as_dict(), out, depth + 1);
    if (value.is(Tag::Array)) {
      for (const Value& item : value.as_array())
        if (item.is(Tag::Dict)) collect(item.as_dict(), out, depth + 1);
    }
  }
}

TEST(Key, StoredKeysLiveInTheDocumentArena) {
  const std::string long_name = "a_rather_long_key_name";
  struct Row {
    std::string source;
    size_t long_keys;  // keys past the inline size the document holds
  };
  std::string wide = "[wide]\n";
  for (int i = 0; i < 6000; ++i) wide += long_name + std::to_string(i) + " = " + std::to_string(i) + "\n";
  const std::vector<Row> rows = {
      {"[vars]\n" + long_name + " = 1\n[s]\nk = $" + long_name + "\n", 1},
      {"[" + long_name + ".inner_section_name]\n" + long_name + " = 1\n", 3},
      {"[s]\n" + long_name + " = #{ " + long_name + "_in = 1, short = [#{ " + long_name + "_deep = 2 }#] }#\n", 3},
      {"[s]\nblock = #{\n  " + long_name + " = 1,\n}#\n", 1},
      {"[s]\n" + long_name + " = 1\n" + long_name + " = 2\n[t]\n" + long_name + " = 3\n[s]\nzz = 1\n", 2},
      {wide, 6000},  // an entry array large enough to stay on the heap
  };
  for (size_t r = 0; r < rows.size(); ++r) {
    SCOPED_TRACE(r);
    Document doc = build_document(rows[r].source, kNoEnv);
    ASSERT_TRUE(doc.diagnostics.empty()) << doc.diagnostics[0].message;
    std::vector<std::pair<std::string, bool>> keys;
    collect(doc.config, keys);
    collect(doc.vars, keys);
    EXPECT_EQ(keys.size(), rows[r].long_keys);
    for (const auto& [key, held] : keys) EXPECT_TRUE(held) << key;

    // A copy of the document owns every key; the original is unchanged.
    const Document copy = doc;
    std::vector<std::pair<std::string, bool>> copied;
    collect(copy.config, copied);
    collect(copy.vars, copied);
    ASSERT_EQ(copied.size(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      EXPECT_EQ(copied[i].first, keys[i].first);
      EXPECT_FALSE(copied[i].second) << copied[i].first;
    }
    EXPECT_TRUE(copy.config == doc.config);
  }
}

}  // namespace
}  // namespace brindle
