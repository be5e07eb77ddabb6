// The run of plain integers an array starts with: where it stops, what it
// reads, and (through whole arrays) that the grammar going on from there
// gives what it gives when it reads every item itself.
#include "integer_run.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace brindle {
namespace {

using Ints = std::vector<int64_t>;

struct RunCase {
  std::string text;  // the inner text of an array
  Ints ints;
  size_t stop;       // what the reader returns
};

TEST(IntegerRun, ReadsPlainIntegersAndStopsBeforeAnyOther) {
  const std::string nineteen = "1234567890123456789";
  const RunCase cases[] = {
      {"", {}, 0},
      {"1, 2, 3", {1, 2, 3}, 7},
      {" 1 ,\t-2 ,3 ", {1, -2, 3}, 11},
      {"007, -0", {7, 0}, 7},
      {"1,,2, ,3,", {1, 2, 3}, 9},
      {"999999999999999999, -999999999999999999", {999999999999999999, -999999999999999999}, 39},
      {"1, " + nineteen, {1}, 2},             // nineteen digits are the grammar's
      {"1, 2, x", {1, 2}, 5},
      {"1, 2 3", {1}, 2},
      {"1, -, 2", {1}, 2},
      {"1, - 2", {1}, 2},
      {"1-2, 3", {}, 0},
      {"1, +2", {1}, 2},
      {"1, 2.5", {1}, 2},
      {"1, 0x10", {1}, 2},
      {"1, 1_000", {1}, 2},
      {"1, \"2\"", {1}, 2},
      {"1, [2]", {1}, 2},
      {"1 ?? 2", {}, 0},
      {"1, \xC2\xA0" "2", {1}, 2},            // a blank beyond ASCII: the grammar's
      {"1,\n2,\r\n3", {1, 2, 3}, 8},
  };
  for (const RunCase& c : cases) {
    Ints got;
    const size_t stop = read_integer_run(c.text, [&](int64_t i) { got.push_back(i); });
    EXPECT_EQ(got, c.ints) << "[" << c.text << "]";
    EXPECT_EQ(stop, c.stop) << "[" << c.text << "]";
  }
}

// The value, or the failure with its span counted from where `body`
// starts, of "[" + lead + body + "]" read at `base`.
std::string read(const std::string& lead, const std::string& body, Arena* arena) {
  const std::string text = "[" + lead + body + "]";
  std::vector<VariableRef> refs;
  const Dict vars;
  const EmptyEnv env;
  ValueContext ctx{refs, vars, env, Span{kBase, kBase + text.size()}};
  ctx.arena = arena;
  ValueResult r = parse_value(ctx, text, kBase);
  if (const auto* f = std::get_if<ParseFailure>(&r)) {
    const uint64_t from = kBase + 1 + lead.size();
    return f->message + " " + show(Span{f->span.start - from, f->span.end - from});
  }
  const std::string shown = brief(std::get<Value>(r));
  if (lead.empty()) return shown;
  // The lead item reads back first; what follows is the body's.
  if (shown == "[null]") return "[]";
  EXPECT_EQ(shown.substr(0, 7), "[null, ");
  return "[" + shown.substr(7);
}

std::string random_body(std::mt19937_64& rng) {
  static const char* const kItems[] = {"1", "-7", "42", "0", "-0", "007", "127", "128", "-129", "40000",
                                       "-2147483649", "999999999999999999", "", " ", "\t"};
  static const char* const kOthers[] = {"1234567890123456789", "-", "- 1", "1-2", "+1", "2.5", "0x1F", "1_0",
                                        "\"s\"", "[1, 2]", "true", "bad", "1 2", "\xC2\xA0" "1", "null ?? 3"};
  static const char* const kGlue[] = {", ", ",", " ,", ",,", ",\n  "};
  std::uniform_int_distribution<size_t> item(0, std::size(kItems) - 1);
  std::uniform_int_distribution<size_t> other(0, std::size(kOthers) - 1);
  std::uniform_int_distribution<size_t> glue(0, std::size(kGlue) - 1);
  std::uniform_int_distribution<int> odds(0, 29);
  std::uniform_int_distribution<int> length(0, 40);
  std::string out;
  for (int n = length(rng), k = 0; k < n; ++k) {
    out.append(k ? kGlue[glue(rng)] : "").append(odds(rng) == 0 ? kOthers[other(rng)] : kItems[item(rng)]);
  }
  return out;
}

// A leading `null` keeps the run from reading anything, so the grammar
// reads every item of the body: both readings must agree, value or failure.
TEST(IntegerRun, ArraysReadAsTheGrammarReadsEveryItem) {
  std::mt19937_64 rng(7122026);
  int failures = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string body = random_body(rng);
    for (bool in_arena : {false, true}) {
      Arena arena;
      const std::string fast = read("", body, in_arena ? &arena : nullptr);
      const std::string full = read(body.empty() ? "null" : "null, ", body, in_arena ? &arena : nullptr);
      EXPECT_EQ(fast, full) << "[" << body << "]";
      failures += fast.find(" @") != std::string::npos;
    }
  }
  EXPECT_GT(failures, 100);  // both outcomes are compared often enough
}

}  // namespace
}  // namespace brindle
