// The one-walk readings of the commonest values that are not one literal:
// short arrays of literals (parse_literal_array) and concatenations
// (evaluate_concatenation). Whatever they read must come out exactly as the
// general grammar makes it (value, references, budget charged), and whatever
// they decline must be left untouched for it.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "builder.h"
#include "test_support.h"
#include "text.h"

namespace brindle {
namespace {

// ---- arrays of literals ---------------------------------------------------

std::string literal_array(std::string_view text) {
  const std::optional<Value> v = parse_literal_array(text);
  return v ? brief(*v) : "-";
}

TEST(LiteralArray, ReadsFlatArraysOfLiteralsAndLeavesTheRest) {
  const std::pair<std::string, std::string> cases[] = {
      {R"(["a", "b", "c", 1, 2, 3])", R"(["a", "b", "c", 1, 2, 3])"},
      {"[]", "[]"}, {"[ ]", "[]"}, {"[,]", "[]"}, {"[1,,2,]", "[1, 2]"}, {"[\t1 ,\n2\r]", "[1, 2]"},
      {"[-1, 0x1F, 1_000, 2.5, .5, 1e3, -0.0]", "[-1, 31, 1000, 2.5, 0.5, 1000.0, -0.0]"},
      {"[true, false, null]", "[true, false, null]"},
      {R"(["", "a, b", "[x]", "$y + 1", "p ?? q", "# c"])", R"(["", "a, b", "[x]", "$y + 1", "p ?? q", "# c"])"},
      {R"(["a string longer than fourteen bytes"])", R"(["a string longer than fourteen bytes"])"},
      {"[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16]", "[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16]"},
      // left to the grammar
      {"[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17]", "-"}, {R"(["a\"b"])", "-"}, {R"(["a\\b"])", "-"},
      {R"(["open])", "-"}, {R"(["a" "b"])", "-"}, {R"(["a"b])", "-"}, {"[1 2]", "-"}, {"[[1]]", "-"},
      {"[#{ a = 1 }#]", "-"}, {"[$x]", "-"}, {"[1 + 2]", "-"}, {"[1-2]", "-"}, {"[--1]", "-"}, {"[+1]", "-"},
      {"[-]", "-"}, {"[bad]", "-"}, {"[1.2.3]", "-"}, {"[null ?? 1]", "-"}, {"[\xC2\xA0" "1]", "-"},
      {"[1] + [2]", "-"}, {"[1]]", "-"}, {"[", "-"}, {"1", "-"}, {"", "-"}, {"(1)", "-"}, {"[é]", "-"},
  };
  for (const auto& [text, want] : cases) {
    EXPECT_EQ(literal_array(text), want) << "[" << text << "]";
    if (want != "-") {
      EXPECT_EQ(Session().run(text), want) << "[" << text << "]";
    }
  }
}

TEST(LiteralArray, BuildsInTheArenaItIsGiven) {
  Arena arena;
  const std::optional<Value> v = parse_literal_array(R"([1, "a string longer than fourteen bytes", "s"])", &arena);
  ASSERT_TRUE(v.has_value());
  EXPECT_TRUE(v->in_arena());
  ASSERT_NE(v->as_array().values(), nullptr);  // mixed items stay Values
  EXPECT_TRUE(v->as_array().values()[1].in_arena());
  EXPECT_EQ(brief(*v), R"([1, "a string longer than fourteen bytes", "s"])");
  // A text it declines places nothing there.
  const size_t before = arena.reserved();
  EXPECT_FALSE(parse_literal_array(R"(["a string longer than fourteen bytes", bad])", &arena));
  EXPECT_EQ(arena.reserved(), before);
}

std::string random_array(std::mt19937_64& rng) {
  static const char* const kItems[] = {
      "1", "-7", "42", "0x1F", "2.5", "1e3", "1_0", "true", "false", "null", "\"\"", "\"s\"", "\"a, b\"",
      "\"x]\"", "\"fifteen bytes!!\"", "", " ", "\t"};
  // Items the one walk leaves to the grammar, good or bad.
  static const char* const kOthers[] = {"\"q\\\"\"", "\"open", "bad", "-", "1.2.3", "$v", "[1]", "#{ a = 1 }#",
                                        "1 + 2", "null ?? 3", "\xC3\xA9", "1 2", "\"a\" \"b\""};
  static const char* const kGlue[] = {", ", ",", " ,", ",,", ", \n"};
  std::uniform_int_distribution<size_t> item(0, std::size(kItems) - 1);
  std::uniform_int_distribution<size_t> other(0, std::size(kOthers) - 1);
  std::uniform_int_distribution<size_t> glue(0, std::size(kGlue) - 1);
  std::uniform_int_distribution<int> odds(0, 39);
  std::uniform_int_distribution<int> length(0, 18);
  std::string out = "[";
  for (int n = length(rng), k = 0; k < n; ++k) {
    out.append(k ? kGlue[glue(rng)] : "").append(odds(rng) == 0 ? kOthers[other(rng)] : kItems[item(rng)]);
  }
  // Mostly well formed, now and then with a bad end.
  out += odds(rng) < 4 ? "] + [1]" : "]";
  return out;
}

TEST(LiteralArray, RandomArraysReadAsTheGrammarReadsThem) {
  std::mt19937_64 rng(20261207);
  const EmptyEnv env;
  int taken = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string text = random_array(rng);
    const std::optional<Value> v = parse_literal_array(text);
    if (!v) continue;
    ++taken;
    EXPECT_EQ(Session().run(text), brief(*v)) << "[" << text << "]";
    // In a document the line takes the shortcut; behind a fallback it goes
    // through the grammar. Same entry, spans and (no) diagnostics.
    if (text.find('\n') != std::string::npos) continue;
    const Document fast = build_document("k = " + text + " # c\n", env);
    const Document full = build_document("k = " + text + " ?? null # c\n", env);
    const DictEntry* e = entry_at(fast.config, "k");
    const DictEntry* f = entry_at(full.config, "k");
    ASSERT_NE(e, nullptr) << "[" << text << "]";
    ASSERT_NE(f, nullptr) << "[" << text << "]";
    EXPECT_EQ(brief(e->second), brief(f->second)) << "[" << text << "]";
    EXPECT_EQ(e->key_span(), f->key_span());
    EXPECT_EQ(e->value_span()->start, f->value_span()->start);
    EXPECT_TRUE(fast.diagnostics.empty() && full.diagnostics.empty()) << "[" << text << "]";
  }
  EXPECT_GT(taken, 500);  // the comparison is made often enough to mean something
}

// ---- concatenations -------------------------------------------------------

// Both readings of one expression, each with its own context over the same
// variables and a budget of `budget` bytes.
struct Both {
  Dict vars;
  FakeEnv env;

  Both() {
    vars["s"] = Value::string("db.internal");
    vars["long"] = Value::string("a value longer than the inline bytes");
    vars["n"] = Value::integer(5432);
    vars["neg"] = Value::integer(-9223372036854775807 - 1);
    vars["b"] = Value::boolean(true);
    vars["z"] = Value::null();
    vars["f"] = Value::floating(1.5);
    vars["e"] = Value::string("");
    vars["a.b"] = Value::string("dotted");
    Array items;
    items.push_back(Value::integer(1));
    vars["arr"] = Value::array(std::move(items));
    env.vars["HOME"] = "/home/x";
  }

  struct Reading {
    std::string shown;  // value or failure, then the references
    uint64_t remaining = 0;
  };

  static std::string show_refs(const std::vector<VariableRef>& refs) {
    std::string out;
    for (const VariableRef& r : refs) {
      out.append(" | ").append(r.name).append(1, ':').append(std::to_string(int(r.kind))).append(show(r.span, kBase));
    }
    return out;
  }

  // The one walk: nullopt when it declines, which must leave the context
  // as it found it.
  std::optional<Reading> fast(std::string_view text, uint64_t budget) {
    std::vector<VariableRef> refs;
    ValueBudget b{budget};
    Arena arena;
    ValueContext ctx{refs, vars, env, Span{kBase, kBase + text.size()}, &b, 0, nullptr};
    ctx.arena = &arena;
    const std::optional<Value> v = evaluate_concatenation(ctx, text, kBase);
    if (!v) {
      EXPECT_TRUE(refs.empty()) << "[" << text << "]";
      EXPECT_EQ(b.remaining, budget) << "[" << text << "]";
      return std::nullopt;
    }
    return Reading{brief(*v) + show_refs(refs), b.remaining};
  }

  Reading fold(std::string_view text, uint64_t budget) {
    std::vector<VariableRef> refs;
    ValueBudget b{budget};
    ValueContext ctx{refs, vars, env, Span{kBase, kBase + text.size()}, &b, 0, nullptr};
    const ValueResult r = fold_expression(ctx, text, kBase);
    const auto* fail = std::get_if<ParseFailure>(&r);
    return Reading{(fail ? fail->message + " " + show(fail->span, kBase) : brief(std::get<Value>(r))) + show_refs(refs),
                   b.remaining};
  }
};

constexpr uint64_t kPlenty = uint64_t{1} << 30;

TEST(Concatenation, ReadsJoinsOfStringsReferencesAndWords) {
  const std::pair<std::string, std::string> cases[] = {
      {R"($s + ":" + $n)", R"("db.internal:5432" | s:0@0-2 | n:0@11-13)"},
      {R"("x"+$b+$z)", R"("xtruenull" | b:0@4-6 | z:0@7-9)"},
      {R"(  $n + "" + $neg  )", R"("5432-9223372036854775808" | n:0@2-4 | neg:0@12-16)"},
      {R"(1 + "a" + true + null + 0x10 + 1_0)", R"("1atruenull1610")"},
      {R"($long + $e + $a.b)", R"("a value longer than the inline bytesdotted" | long:0@0-5 | e:0@8-10 | a.b:0@13-17)"},
      {R"("a + b" + "[c] #d")", R"("a + b[c] #d")"},
      // the fold's: numbers first, other operators, other operands, failures
      {"$n + 1 + \"x\"", "-"}, {"1 + 2", "-"}, {"$s", "-"}, {"\"a\"", "-"}, {"$s - \"x\"", "-"},
      {"$s * 2", "-"}, {"$s + -1", "-"}, {"\"a\" + $f", "-"}, {"\"a\" + $arr", "-"}, {"\"a\" + $nope", "-"},
      {"\"a\" + $ENV.HOME", "-"}, {"\"a\" + $PID", "-"}, {"\"a\" + $TRUE", "-"}, {"\"a\\\"\" + $s", "-"},
      {"\"a\" + bad", "-"}, {"\"a\" + 1.2.3", "-"}, {"\"a\" +", "-"}, {"+ \"a\"", "-"}, {"\"a\" + + \"b\"", "-"},
      {"\"a\" + [1]", "-"}, {"\"a\" + $", "-"}, {"\"a\" \"b\"", "-"}, {"\"open + $s", "-"}, {"\"a\" + é", "-"},
      {"\"a\"+\"b\"+\"c\"+\"d\"+\"e\"+\"f\"+\"g\"+\"h\"+\"i\"", "-"},
  };
  for (const auto& [text, want] : cases) {
    Both both;
    const std::optional<Both::Reading> fast = both.fast(text, kPlenty);
    EXPECT_EQ(fast ? fast->shown : "-", want) << "[" << text << "]";
    if (!fast) continue;
    const Both::Reading fold = both.fold(text, kPlenty);
    EXPECT_EQ(fold.shown, fast->shown) << "[" << text << "]";
    EXPECT_EQ(fold.remaining, fast->remaining) << "[" << text << "]";
  }
}

TEST(Concatenation, ChargesWhatTheFoldChargesAndDeclinesWhereItWouldFail) {
  // $s + ":" + $n costs 27 + 1 + 16 + 4 = 48 bytes; "5" + $s costs 27 + 12.
  for (const char* text : {R"($s + ":" + $n)", R"(5 + $s)", R"($n + "ab" + $long)"}) {
    Both both;
    const uint64_t cost = kPlenty - both.fast(text, kPlenty)->remaining;
    for (uint64_t budget = 0; budget <= cost + 2; ++budget) {
      const std::optional<Both::Reading> fast = both.fast(text, budget);
      const Both::Reading fold = both.fold(text, budget);
      EXPECT_EQ(fast.has_value(), budget >= cost) << text << " with " << budget;
      if (fast) {
        EXPECT_EQ(fold.shown, fast->shown);
        EXPECT_EQ(fold.remaining, fast->remaining);
      } else {
        EXPECT_NE(fold.shown.find("value too large"), std::string::npos) << fold.shown;
      }
    }
  }
}

std::string random_expression(std::mt19937_64& rng) {
  static const char* const kOperands[] = {
      "$s", "$n", "$neg", "$b", "$z", "$e", "$long", "$a.b", "\"x\"", "\"\"", "\"a+b\"", "1", "0x1F", "true",
      "null", "\"fifteen bytes!!\""};
  // Operands the one walk leaves to the fold, good or bad.
  static const char* const kOthers[] = {"$f", "$arr", "$nope", "$ENV.HOME", "$PID", "$TRUE", "\"q\\\\\"",
                                        "\"open", "-2", "2.5", "bad", "[1]", "", "\xC3\xA9"};
  static const char* const kPlus[] = {" + ", "+", " +  ", "\t+ "};
  static const char* const kOtherOperators[] = {" - ", " * ", "/", " ", " ?? ", "++"};
  std::uniform_int_distribution<size_t> operand(0, std::size(kOperands) - 1);
  std::uniform_int_distribution<size_t> other(0, std::size(kOthers) - 1);
  std::uniform_int_distribution<size_t> plus(0, std::size(kPlus) - 1);
  std::uniform_int_distribution<size_t> other_operator(0, std::size(kOtherOperators) - 1);
  std::uniform_int_distribution<int> odds(0, 19);
  std::uniform_int_distribution<int> length(1, 9);
  std::string out;
  for (int n = length(rng), k = 0; k < n; ++k) {
    if (k) out += odds(rng) == 0 ? kOtherOperators[other_operator(rng)] : kPlus[plus(rng)];
    out += odds(rng) == 0 ? kOthers[other(rng)] : kOperands[operand(rng)];
  }
  return out;
}

TEST(Concatenation, RandomExpressionsReadAsTheFoldReadsThem) {
  std::mt19937_64 rng(20261208);
  std::uniform_int_distribution<int> small(0, 3);
  std::uniform_int_distribution<uint64_t> tight(0, 120);
  int taken = 0;
  for (int round = 0; round < 6000; ++round) {
    const std::string text = random_expression(rng);
    // Now and then a budget that a few operands exhaust.
    const uint64_t budget = small(rng) == 0 ? tight(rng) : kPlenty;
    Both both;
    const std::optional<Both::Reading> fast = both.fast(text, budget);
    if (!fast) continue;
    ++taken;
    const Both::Reading fold = both.fold(text, budget);
    EXPECT_EQ(fold.shown, fast->shown) << "[" << text << "]";
    EXPECT_EQ(fold.remaining, fast->remaining) << "[" << text << "]";
  }
  EXPECT_GT(taken, 600);
}

TEST(Concatenation, DocumentsRecordReferencesWhereTheyStand) {
  // On one line, inside an array, and in an array joined over lines: the
  // value, and each reference on the source bytes of its `$` operand.
  const EmptyEnv env;
  const std::pair<std::string, std::string> cases[] = {
      {R"($host + ":" + $port)", R"("db.internal:5432")"},
      {"  \"x\" + $port+$host   # c", R"("x5432db.internal")"},
      {R"([$host + "/", 1, "a" + $port])", R"(["db.internal/", 1, "a5432"])"},
      {"[$host + \"/\",\n   \"a\" +\n $port]", R"(["db.internal/", "a5432"])"},
  };
  for (const auto& [value, want] : cases) {
    const std::string src = "[vars]\nhost = \"db.internal\"\nport = 5432\n[s]\nk = " + value + "\n";
    const Document doc = build_document(src, env);
    const DictEntry* e = entry_at(doc.config, "s.k");
    ASSERT_NE(e, nullptr) << value;
    EXPECT_EQ(brief(e->second), want) << value;
    EXPECT_TRUE(doc.diagnostics.empty()) << value;
    ASSERT_EQ(doc.variable_refs.size(), 2u) << value;
    for (const VariableRefView r : doc.variable_refs) {
      EXPECT_EQ(src.substr(r.span.start, r.span.end - r.span.start), std::string(1, '$').append(r.name)) << value;
    }
  }
}

}  // namespace
}  // namespace brindle
