#include "group_index.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>

#include "quoting.h"

namespace brindle {

namespace {

constexpr uint32_t kOpen = std::numeric_limits<uint32_t>::max();

}  // namespace

// The bracket walk of the value grammar's scanners: `#{` and `}#` are
// two-byte brackets, the other brackets count alike, and any closer ends
// the innermost open group whatever its kind.
//
// Most bytes stand outside quotes and move nothing, so every byte starts out
// clean and only those the scan enters inside quotes or escaped (and the
// second byte of a two-byte bracket, never a place to start) are cleared;
// a byte that is neither a quote, a backslash nor a bracket byte, met
// outside quotes and escapes, leaves the state as it is and is passed over.
template <QuoteRule Rule>
void GroupIndex::build(Table& table) {
  static constexpr ByteTable kMovesState = stop_bytes("#(){}[]");
  table.built = true;
  const size_t n = text_.size();
  if (n >= kOpen) return;  // left empty: covers() is false
  table.clean.assign((n + 64) / 64, ~uint64_t{0});
  table.clean.back() &= (uint64_t{1} << (n % 64)) - 1;  // none past the end
  const auto unclean = [&](size_t i) { table.clean[i / 64] &= ~(uint64_t{1} << (i % 64)); };
  std::vector<uint32_t>& stack = stack_;  // indices into openers
  stack.clear();
  QuoteState<Rule> quotes;
  for (size_t i = 0; i < n; ++i) {
    const char c = text_[i];
    if (quotes.clean()) {
      if (!kMovesState[static_cast<unsigned char>(c)]) continue;
    } else {
      unclean(i);
    }
    if (!quotes.structural(c)) continue;
    const char next = i + 1 < n ? text_[i + 1] : '\0';
    const bool pair_open = c == '#' && next == '{';
    const bool pair_close = c == '}' && next == '#';
    if (pair_open || c == '(' || c == '[' || c == '{') {
      stack.push_back(static_cast<uint32_t>(table.openers.size()));
      table.openers.push_back(static_cast<uint32_t>(i));
      table.resumes.push_back(kOpen);
    } else if (pair_close || c == ')' || c == ']' || c == '}') {
      if (!stack.empty()) {
        table.resumes[stack.back()] = static_cast<uint32_t>(i + (pair_close ? 2 : 1));
        stack.pop_back();
      }
    }
    if (pair_open || pair_close) unclean(++i);
  }
}

void GroupIndex::reset(std::string_view text) {
  text_ = text;
  for (Table* t : {&escapes_, &plain_}) {
    t->built = false;
    t->openers.clear();
    t->resumes.clear();
    t->clean.clear();
    t->hint = static_cast<size_t>(-1);
  }
}

bool GroupIndex::covers(std::string_view sub, QuoteRule rule) {
  if (sub.data() < text_.data() || sub.data() + sub.size() > text_.data() + text_.size()) return false;
  Table& t = table(rule);
  if (!t.built) {
    if (rule == QuoteRule::Escapes) {
      build<QuoteRule::Escapes>(t);
    } else {
      build<QuoteRule::Plain>(t);
    }
  }
  const auto start = static_cast<size_t>(sub.data() - text_.data());
  if (t.clean.empty() || start >= text_.size()) return false;
  return (t.clean[start / 64] >> (start % 64)) & 1;
}

// Levels are parsed outside in, so the next opener asked about is most
// often the one after the last; the search runs only when it is not.
size_t GroupIndex::find_opener(Table& t, uint32_t at) {
  size_t k = t.hint + 1;
  if (k >= t.openers.size() || t.openers[k] != at) {
    const auto it = std::lower_bound(t.openers.begin(), t.openers.end(), at);
    if (it == t.openers.end() || *it != at) return kNone;
    k = static_cast<size_t>(it - t.openers.begin());
  }
  t.hint = k;
  return k;
}

size_t GroupIndex::resume(std::string_view sub, size_t i, QuoteRule rule) {
  Table& t = table(rule);
  const auto start = static_cast<size_t>(sub.data() - text_.data());
  const size_t k = find_opener(t, static_cast<uint32_t>(start + i));
  if (k == kNone) return kNone;
  const uint32_t r = t.resumes[k];
  return r == kOpen ? text_.size() - start : r - start;  // never closes: past every byte
}

}  // namespace brindle
