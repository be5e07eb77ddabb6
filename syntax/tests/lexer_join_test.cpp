// Values joined over many lines: the raw text, the joined value, its pieces
// and their way back to the source, with LF and CRLF breaks in any mix, and
// at sizes on both sides of the point where a long value reads its lines
// ahead to take its buffers at their final size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder.h"
#include "lexer.h"

namespace brindle {
namespace {

// A key line opening an array, then `lines` lines of `item_width`-byte
// items, each line led by blanks and some carrying a comment, the last
// closing the array; then one more key line. Breaks are "\r\n" where
// `crlf(line)` says so. The expected raw text, value and piece starts are
// built alongside, from what was written rather than by reading it back.
struct Joined {
  std::string source;
  std::string raw;    // physical lines joined by "\n", CRs before LFs gone
  std::string value;  // "[" and each piece after one blank
  std::vector<uint64_t> piece_at;  // source offset of every piece
  bool verbatim = true;            // no CR dropped inside the value
};

template <class Crlf>
Joined make_joined(size_t lines, size_t item_width, Crlf crlf, bool closed = true) {
  Joined j;
  const std::string head = "k = [";
  j.source = head;
  j.raw = head;
  j.value = "[";
  j.piece_at.push_back(4);
  for (size_t i = 0; i < lines; ++i) {
    const std::string eol = crlf(i) ? "\r\n" : "\n";
    j.verbatim = j.verbatim && eol == "\n";
    j.source += eol;
    j.raw += "\n";
    const std::string lead(i % 3, ' ');
    std::string piece(item_width, static_cast<char>('0' + i % 10));
    piece += closed && i + 1 == lines ? "]" : ",";
    const std::string comment = i % 4 == 1 ? "  # note [" : (i % 4 == 2 ? "\t" : "");
    j.piece_at.push_back(j.source.size() + lead.size());
    j.source += lead + piece + comment;
    j.raw += lead + piece + comment;
    j.value += " " + piece;
  }
  j.source += "\nafter = 1\n";
  return j;
}

// The first record of `j.source` and the one after it, read with one
// record reused as the builder does.
void check_joined(const Joined& j, const std::string& label) {
  Lexer lexer(j.source);
  LineRecord rec;
  ASSERT_TRUE(lexer.next(rec)) << label;
  EXPECT_EQ(rec.kind, LineKind::KeyValue) << label;
  EXPECT_EQ(rec.raw, j.raw) << label;
  EXPECT_EQ(rec.value, j.value) << label;
  // The raw text is the source itself exactly when no CR was dropped.
  const bool in_source = rec.raw.data() >= j.source.data() &&
                         rec.raw.data() + rec.raw.size() <= j.source.data() + j.source.size();
  EXPECT_EQ(in_source, j.verbatim) << label;
  ASSERT_EQ(rec.joins.size(), j.piece_at.size()) << label;
  for (size_t k = 0; k < rec.joins.size(); ++k) {
    EXPECT_EQ(rec.map_offset(rec.value_span.start + rec.joins[k].text_start), j.piece_at[k]) << label << " " << k;
  }
  EXPECT_EQ(rec.line_span.start, 0u) << label;
  EXPECT_EQ(rec.line_span.end, j.source.size() - std::string("\nafter = 1\n").size()) << label;
  ASSERT_TRUE(lexer.next(rec)) << label;
  EXPECT_EQ(rec.key, "after") << label;
  EXPECT_TRUE(rec.joins.empty()) << label;
  EXPECT_EQ(rec.line_span.start, j.source.size() - std::string("after = 1\n").size()) << label;
}

TEST(LexerJoin, RawStaysTheSourceUntilACarriageReturnIsDropped) {
  const struct {
    const char* label;
    bool (*crlf)(size_t);
  } cases[] = {
      {"all LF", [](size_t) { return false; }},
      {"all CRLF", [](size_t) { return true; }},
      {"CRLF first", [](size_t i) { return i == 0; }},
      {"CRLF in the middle", [](size_t i) { return i == 3; }},
      {"CRLF last", [](size_t i) { return i == 6; }},
      {"alternating", [](size_t i) { return i % 2 == 1; }},
  };
  for (const auto& c : cases) check_joined(make_joined(7, 2, c.crlf), c.label);
  // A CR not followed by a line feed is a byte of its line.
  const std::string src = "k = [1,\r2,\n3]\nafter = 1\n";
  const std::vector<LineRecord> recs = lex(src);
  EXPECT_EQ(recs[0].raw, "k = [1,\r2,\n3]");
  EXPECT_EQ(recs[0].raw.data(), src.data());
}

TEST(LexerJoin, LongValuesAroundTheReadAheadPoint) {
  constexpr size_t kAhead = size_t{1} << 20;  // where a joined value reads ahead
  constexpr size_t kWidth = 62;               // a piece and its blank: 64 bytes
  const auto lf = [](size_t) { return false; };
  const auto crlf = [](size_t i) { return i % 5 == 0; };
  const struct {
    size_t lines;
    bool closed;
    bool mixed;
  } cases[] = {
      {kAhead / 64 - 2, true, false},  // stays below
      {kAhead / 64 - 1, true, false},  // reaches it on the closing line
      {kAhead / 64, true, false},      // one line after it
      {kAhead / 64 + 1, true, true},
      {3 * kAhead / 64, true, false},  // far past it
      {3 * kAhead / 64 + 7, true, true},
      {2 * kAhead / 64, false, false},  // never closed: takes the rest of the source
  };
  for (const auto& c : cases) {
    const Joined j = c.mixed ? make_joined(c.lines, kWidth, crlf, c.closed) : make_joined(c.lines, kWidth, lf, c.closed);
    const std::string label = std::to_string(c.lines) + (c.closed ? " lines" : " lines, open");
    if (c.closed) {
      check_joined(j, label);
    } else {
      const std::vector<LineRecord> recs = lex(j.source);
      ASSERT_EQ(recs.size(), 1u) << label;
      EXPECT_EQ(recs[0].value, j.value + " after = 1") << label;
      EXPECT_EQ(recs[0].joins.size(), j.piece_at.size() + 1) << label;
    }
    // Past the read-ahead point and past the buffer a doubling would have
    // reached, the value and its pieces fill their buffers exactly.
    Lexer lexer(j.source);
    LineRecord rec;
    ASSERT_TRUE(lexer.next(rec));
    if (c.lines >= 3 * kAhead / 64) {
      EXPECT_EQ(rec.owned->value.capacity(), rec.value.size()) << label;
      EXPECT_EQ(rec.joins.capacity(), rec.joins.size()) << label;
    }
  }
}

// The builder reads a long array of integers across lines back item for
// item, on both sides of the read-ahead point and of the parser's chunk of
// items.
TEST(LexerJoin, LongArraysBuildToTheirItems) {
  for (const size_t count : {4095u, 4097u, 200'000u, 270'000u}) {
    std::string src = "[s]\nv = [\n";
    for (size_t i = 0; i < count; ++i) {
      src += std::to_string(i * 7 % 1000);
      src += i + 1 == count ? "\n" : (i % 3 == 2 ? ",  # three\r\n" : ",");
    }
    src += "]\nw = 2\n";
    const Document doc = build_document(src, EmptyEnv{});
    ASSERT_TRUE(doc.diagnostics.empty()) << count;
    const Dict& s = doc.config.begin()->second.as_dict();
    ASSERT_EQ(s.size(), 2u);
    const auto items = s.begin()->second.as_array();
    ASSERT_EQ(items.size(), count);
    size_t wrong = 0;
    for (size_t i = 0; i < count; ++i) wrong += items[i].as_integer() != static_cast<int64_t>(i * 7 % 1000);
    EXPECT_EQ(wrong, 0u) << count;
    EXPECT_EQ((s.begin() + 1)->second.as_integer(), 2) << count;
  }
}

}  // namespace
}  // namespace brindle
