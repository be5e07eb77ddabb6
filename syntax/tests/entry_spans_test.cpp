// The spans of a dictionary entry: every pair of key and value spans,
// absent or present, at the edges of the one-word form and past them, read
// back exactly through copies, moves and later changes.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "entry_spans.h"
#include "model.h"

namespace brindle {
namespace {

constexpr uint64_t k32 = uint64_t{1} << 32;
constexpr uint64_t k48 = uint64_t{1} << 48;

using MaybeSpan = std::optional<Span>;

std::string show(const MaybeSpan& s) {
  return s ? std::to_string(s->start) + "-" + std::to_string(s->end) : "absent";
}

// Absent, then spans whose offsets, sizes and distances sit on each edge
// of the one-word form.
const std::vector<MaybeSpan>& edges() {
  static const std::vector<MaybeSpan> all = {
      std::nullopt,
      Span{0, 0},
      Span{0, 1},
      Span{7, 12},
      Span{100, 355},          // the longest key of the word
      Span{100, 356},          // one byte more
      Span{127, 130},          // as far after a key at 0 as a value may start
      Span{128, 128},          // one byte further
      Span{0, 16383},          // the longest value of the word
      Span{0, 16384},
      Span{k32 - 3, k32 - 3},
      Span{k32 - 1, k32 - 1},  // the largest start of the word
      Span{k32 - 1, k32 + 254},
      Span{k32 - 2, k32 + 126},
      Span{5, k32},            // far too long for it
      Span{k32, k32 + 9},      // the first start past it
      Span{k48 - 2, k48 - 1},
      Span{k48 - 2, k48 + 3},
  };
  return all;
}

// Whether a pair of spans needs the heap block: a start past 32 bits, a key
// of 256 bytes or more, a value of 16 KB or more, or one that does not
// start within 127 bytes after its key's start.
bool needs_block(const MaybeSpan& key, const MaybeSpan& value) {
  if (key && (key->start >= k32 || key->end - key->start >= 256)) return true;
  if (!value) return false;
  if (!key && value->start >= k32) return true;
  const uint64_t base = key ? key->start : value->start;
  return value->start < base || value->start - base >= 128 || value->end - value->start >= 16384;
}

struct Case {
  MaybeSpan key;
  MaybeSpan value;
  std::string name() const { return "key " + show(key) + ", value " + show(value); }
};

std::vector<Case> all_cases() {
  std::vector<Case> out;
  for (const MaybeSpan& k : edges())
    for (const MaybeSpan& v : edges()) out.push_back({k, v});
  return out;
}

void expect_spans(const EntrySpans& s, const Case& c) {
  EXPECT_EQ(show(s.key_span()), show(c.key));
  EXPECT_EQ(show(s.value_span()), show(c.value));
  EXPECT_EQ(s.has_key_span(), c.key.has_value());
  EXPECT_EQ(s.has_value_span(), c.value.has_value());
}

TEST(EntrySpans, EveryPairReadsBackExactly) {
  for (const Case& c : all_cases()) {
    for (int order = 0; order < 2; ++order) {  // key first, then value first
      SCOPED_TRACE(c.name() + (order ? " (value set first)" : ""));
      EntrySpans s;
      if (order == 0 && c.key) s.set_key_span(*c.key);
      if (c.value) s.set_value_span(*c.value);
      if (order == 1 && c.key) s.set_key_span(*c.key);
      expect_spans(s, c);
      EXPECT_EQ(s.wide(), needs_block(c.key, c.value));

      if (c.key && c.value) {  // both at once, over an object in either form
        EntrySpans both;
        both.set_key_span(order ? Span{k48, k48} : Span{1, 2});
        both.set_spans(*c.key, *c.value);
        expect_spans(both, c);
        EXPECT_EQ(both.wide(), s.wide());
      }

      EntrySpans copy(s);
      expect_spans(copy, c);
      EntrySpans assigned;
      assigned.set_key_span(Span{k48 - 2, k48 - 2});  // a block that the copy replaces
      assigned = copy;
      expect_spans(assigned, c);
      EntrySpans moved(std::move(copy));
      expect_spans(moved, c);
      expect_spans(copy, Case{});  // NOLINT: a moved-from object has no spans
      EntrySpans move_assigned;
      move_assigned.set_value_span(Span{1, k32 + 1});
      move_assigned = std::move(moved);
      expect_spans(move_assigned, c);
      expect_spans(s, c);  // the original is untouched by all of it
    }
  }
}

TEST(EntrySpans, LaterChangesKeepTheOtherSpan) {
  // Every span set over every other one: the last one set counts, the
  // other span stays as it was, in either form.
  for (const Case& c : all_cases()) {
    for (const MaybeSpan& next : edges()) {
      if (!next) continue;
      SCOPED_TRACE(c.name() + " then " + show(next));
      EntrySpans a;
      if (c.key) a.set_key_span(*c.key);
      if (c.value) a.set_value_span(*c.value);
      EntrySpans b(a);
      a.set_key_span(*next);
      expect_spans(a, Case{next, c.value});
      EXPECT_EQ(a.wide(), needs_block(next, c.value));
      b.set_value_span(*next);
      expect_spans(b, Case{c.key, next});
      EXPECT_EQ(b.wide(), needs_block(c.key, next));
    }
  }
}

TEST(EntrySpans, DictEntriesCarryThemThroughTheirDict) {
  // Entries moved about by the dict (growth, sealing in key order, copies)
  // keep the spans they were given.
  Dict d;
  const std::vector<MaybeSpan>& spans = edges();
  const int n = 300;
  for (int i = n - 1; i >= 0; --i) {
    DictEntry& e = d.append("k" + std::to_string(i));
    const MaybeSpan& key = spans[static_cast<size_t>(i) % spans.size()];
    const MaybeSpan& value = spans[static_cast<size_t>(i / 7) % spans.size()];
    if (key) e.set_key_span(*key);
    if (value) e.set_value_span(*value);
  }
  d.seal();
  const Dict copy = d;
  for (const Dict* dict : std::vector<const Dict*>{&d, &copy}) {
    ASSERT_EQ(dict->size(), static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      const auto it = dict->find("k" + std::to_string(i));
      ASSERT_NE(it, dict->end());
      EXPECT_EQ(show(it->key_span()), show(spans[static_cast<size_t>(i) % spans.size()])) << i;
      EXPECT_EQ(show(it->value_span()), show(spans[static_cast<size_t>(i / 7) % spans.size()])) << i;
    }
  }
}

}  // namespace
}  // namespace brindle
