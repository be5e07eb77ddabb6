// The quote walk skips the inside of strings a word at a time; what it
// reports must be exactly what a byte-by-byte walk of the same rules reports,
// for quotes and backslashes at every alignment and at the text's end.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "quoting.h"

namespace brindle {
namespace {

// The rules written out byte by byte: (position, kind) for each unquoted
// byte ('v') and each quote ('o' opening, 'c' closing).
std::vector<std::pair<size_t, char>> reference(std::string_view text) {
  std::vector<std::pair<size_t, char>> out;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      in_string = !in_string;
      out.emplace_back(i, in_string ? 'o' : 'c');
    } else if (!in_string) {
      out.emplace_back(i, 'v');
    }
  }
  return out;
}

std::vector<std::pair<size_t, char>> walked(std::string_view text) {
  std::vector<std::pair<size_t, char>> out;
  walk_quoting(
      text, [&](size_t& i) { out.emplace_back(i, 'v'); return true; },
      [&](size_t i, bool opens) { out.emplace_back(i, opens ? 'o' : 'c'); return true; });
  return out;
}

TEST(Quoting, SkipsInsideStringsExactlyAsByteByByte) {
  const std::string cases[] = {
      "", "\"", "\"\"", "a\"b\"c", "\"abcdefgh\"x", "\"abcdefghijklmnop\\\"q\"r",
      "\"1234567\\", "\"12345678\\", "\"123456789\\\\\"#", "x\\\"y\"z", "\"\xc3\xa9\x80\xff\"#",
      std::string("\"a\0b\"c", 6), "\"" + std::string(300, 'a') + "\"#" + std::string(9, 'b'),
  };
  for (const std::string& text : cases) EXPECT_EQ(walked(text), reference(text)) << text;
  // A quote or backslash at every offset of a long string, one at a time.
  for (size_t at = 1; at < 40; ++at) {
    for (const char c : {'"', '\\'}) {
      std::string text = "\"" + std::string(40, 'x') + "\"#";
      text[at] = c;
      EXPECT_EQ(walked(text), reference(text)) << text;
    }
  }
  std::mt19937 rng(17);
  const char pieces[] = {'a', ' ', '"', '\\', '#', '[', '\x80', '\0'};
  for (int round = 0; round < 3000; ++round) {
    std::string text(rng() % 70, ' ');
    for (char& c : text) c = pieces[rng() % (rng() % 4 == 0 ? 8 : 2)];
    ASSERT_EQ(walked(text), reference(text)) << text;
  }
}

// The unquoted bytes the walk with stops visits: those of the full walk
// whose byte is wanted, whatever the run of other bytes before them.
TEST(Quoting, StopsVisitExactlyTheWantedUnquotedBytes) {
  constexpr ByteTable stops = stop_bytes("#[}");
  std::mt19937 rng(29);
  const char pieces[] = {'a', ' ', '"', '\\', '#', '[', '}', '\x80', '\0', ']'};
  for (int round = 0; round < 3000; ++round) {
    std::string text(rng() % 70, ' ');
    for (char& c : text) c = pieces[rng() % (rng() % 3 == 0 ? 10 : 2)];
    std::vector<size_t> want;
    for (const auto& [i, kind] : reference(text)) {
      if (kind == 'v' && (text[i] == '#' || text[i] == '[' || text[i] == '}')) want.push_back(i);
    }
    std::vector<size_t> got;
    walk_unquoted_stops(text, stops, [&](size_t& i) { got.push_back(i); return true; });
    ASSERT_EQ(got, want) << text;
  }
  // A visit that stops ends the walk; one that consumes the next byte skips it.
  std::vector<size_t> got;
  walk_unquoted_stops("[\"[\"[#[", stops, [&](size_t& i) {
    got.push_back(i);
    if (i == 4) ++i;  // takes the `#` along
    return got.size() < 3;
  });
  EXPECT_EQ(got, (std::vector<size_t>{0, 4, 6}));
}

// Long strings are read in blocks of 64 bytes with their escapes settled
// together: runs of backslashes of every length, at every offset and
// across block boundaries, must close the string where a byte-by-byte
// reading does, and the walks over such text must report the same bytes.
TEST(Quoting, LongStringsCloseWhereAByteByByteReadingDoes) {
  const auto reference_close = [](std::string_view text, size_t i) {
    while (i < text.size()) {
      if (text[i] == '"') return i;
      i += text[i] == '\\' ? 2 : 1;
    }
    return text.size();
  };
  // A run of k backslashes ending just before a quote at every offset: an
  // odd run escapes the quote, an even one does not.
  for (size_t run = 1; run <= 5; ++run) {
    for (size_t at = 0; at + run < 200; ++at) {
      std::string text(200, 'x');
      text.replace(at, run, std::string(run, '\\'));
      text[at + run] = '"';
      text += "\"tail";
      for (const size_t from : {size_t{0}, size_t{1}, size_t{63}, size_t{64}}) {
        if (from > at) continue;
        ASSERT_EQ(closing_quote(text, from), reference_close(text, from)) << run << " " << at << " " << from;
      }
      ASSERT_EQ(walked("\"" + text), reference("\"" + text)) << run << " " << at;
    }
  }
  // Random long texts, dense and sparse in quotes and backslashes.
  std::mt19937 rng(41);
  const char pieces[] = {'a', ' ', '\\', '"', '\\', '\\', 't', '#'};
  for (int round = 0; round < 3000; ++round) {
    std::string text(rng() % 400, 'a');
    const unsigned spread = 1 + rng() % 40;  // one special byte in `spread` on average
    for (char& c : text) c = rng() % spread == 0 ? pieces[rng() % 8] : 'a';
    const size_t from = text.empty() ? 0 : rng() % text.size();
    ASSERT_EQ(closing_quote(text, from), reference_close(text, from)) << text << " @" << from;
    const std::string quoted = "\"" + text;
    ASSERT_EQ(walked(quoted), reference(quoted)) << quoted;
  }
  // No closing quote at all, or a backslash as the very last byte.
  EXPECT_EQ(closing_quote(std::string(130, 'b'), 0), 130u);
  EXPECT_EQ(closing_quote(std::string(127, 'b') + "\\", 0), 128u);
  EXPECT_EQ(closing_quote(std::string(63, 'b') + "\\\"" + std::string(70, 'b'), 0), 135u);
}

TEST(Quoting, StopsWhereTheCallbackSays) {
  // Stopping on the second quote leaves the rest unwalked.
  std::vector<size_t> quotes;
  walk_quoting(
      "\"abcdefghijk\" x \"y\"", [](size_t&) { return true; },
      [&](size_t i, bool) { quotes.push_back(i); return quotes.size() < 2; });
  EXPECT_EQ(quotes, (std::vector<size_t>{0, 12}));
}

}  // namespace
}  // namespace brindle
