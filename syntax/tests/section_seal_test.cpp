// Sections are put in key order as they are left, not all at the end: a
// section entered again, a section below one already sealed, and entries
// replaced across those sealings must give the document a single sealing
// at the end would give.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "builder.h"
#include "test_support.h"

namespace brindle {
namespace {

const FakeEnv kNoEnv;

// A span as the source text it covers in brackets, then `#n` when that is
// the text's nth occurrence (n > 0); "-" for none.
std::string at(std::string_view src, std::optional<Span> s) {
  if (!s) return "-";
  const std::string_view text = src.substr(s->start, s->end - s->start);
  int nth = 0;
  for (size_t p = src.find(text); p < s->start; p = src.find(text, p + 1)) ++nth;
  return "[" + std::string(text) + "]" + (nth ? "#" + std::to_string(nth) : "");
}

// Every dictionary of the tree in strict key order, and each of its keys
// found by lookup (a dictionary left unsealed fails one or the other).
void expect_sealed(const Dict& d, const std::string& path) {
  const DictEntry* last = nullptr;
  for (const DictEntry& e : d) {
    if (last != nullptr) {
      EXPECT_LT(std::string_view(last->first), std::string_view(e.first)) << path;
    }
    EXPECT_EQ(&*d.find(e.first), &e) << path << e.first;
    if (e.second.is(Tag::Dict)) expect_sealed(e.second.as_dict(), path + std::string(e.first) + ".");
    last = &e;
  }
}

// Headers and `key = n` lines applied with the ordinary map operations of
// Dict, which keep it sorted at every step: what the builder must agree with.
Dict model_of(const std::vector<std::pair<bool, std::string>>& lines) {
  Dict root;
  Dict* cur = &root;
  bool in_vars = false;
  for (size_t n = 0; n < lines.size(); ++n) {
    const auto& [header, text] = lines[n];
    if (header) {
      in_vars = text == "vars";
      if (in_vars) continue;
      cur = &root;
      size_t from = 0;
      for (size_t dot = 0; dot != std::string::npos; from = dot + 1) {
        dot = text.find('.', from);
        Value& v = (*cur)[text.substr(from, dot == std::string::npos ? dot : dot - from)];
        if (!v.is(Tag::Dict)) v = Value::dict({});
        cur = &v.as_dict();
      }
    } else if (!in_vars) {
      cur->insert_or_assign(text, Value::integer(static_cast<int64_t>(n)));
    }
  }
  return root;
}

TEST(SectionSeal, AgreesWithTheMapModelOnRandomDocuments) {
  const char* const paths[] = {"a", "b", "a.b", "a.b.c", "b.a", "a.c", "vars", "c.a.b"};
  const char* const keys[] = {"a", "b", "c", "k", "k10", "k2", "x", "limits"};
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::pair<bool, std::string>> lines;
    std::string source;
    const size_t count = 1 + rng() % 30;
    for (size_t n = 0; n < count; ++n) {
      const bool header = rng() % 4 == 0;
      lines.emplace_back(header, header ? paths[rng() % 8] : keys[rng() % 8]);
      source += header ? "[" + lines.back().second + "]\n" : lines.back().second + " = " + std::to_string(n) + "\n";
    }
    const Document doc = build_document(source, kNoEnv);
    ASSERT_TRUE(doc.diagnostics.empty()) << source;
    EXPECT_EQ(brief(Value::dict(doc.config)), brief(Value::dict(model_of(lines)))) << source;
    expect_sealed(doc.config, "");
  }
}

// The positions a path reports, and the configuration, for documents whose
// sections are left and entered again around replaced entries.
TEST(SectionSeal, ReplacedEntriesKeepTheirPositions) {
  struct Case {
    const char* source;
    std::vector<std::string> path;
    const char* config;
    const char* spans;  // key then value, as at() shows them
  };
  const Case cases[] = {
      // a sub-section entered after its parent was sealed, and the parent
      // current at the end (left only by a variables header); the entry
      // the header replaced keeps its value's position
      {"[a.b]\nk = 1\nc = 2\n[a.b.c]\n[a]\n[vars]\n", {"a", "b", "c"},
       R"({"a": {"b": {"c": {}, "k": 1}}})", "[a.b.c] [2]"},
      // a block replaced in a section left in between: the later block's
      // entries report their own positions
      {"[s]\nk = #{\nz = 1\n}#\n[t]\n[s]\nk = #{\nz = 2\n}#\nk = 3\n", {"s", "k", "z"},
       R"({"s": {"k": 3}, "t": {}})", "[z]#1 [2]"},
      // the block replaced in the first visit, its successor in the second
      {"[s]\nk = #{\nz = 1\n}#\nk = #{\nz = 2\n}#\n[t]\n[s]\nk = 4\n", {"s", "k", "z"},
       R"({"s": {"k": 4}, "t": {}})", "[z]#1 [2]"},
      // a sealed section with a block, replaced by a key of its parent (a
      // block reports its key for both positions)
      {"[a.b]\nc = #{\nz = 1\n}#\nc = #{\nz = 2\n}#\n[a]\nb = 5\n", {"a", "b", "c", "z"},
       R"({"a": {"b": 5}})", "[z]#1 [2]"},
      {"[a.b]\nc = #{\nz = 1\n}#\nc = #{\nz = 2\n}#\n[a]\nb = 5\n", {"a", "b", "c"},
       R"({"a": {"b": 5}})", "[c]#1 [c]#1"},
      // a section reopened with keys before and after those it holds
      {"[s]\nm = 1\n[t]\n[s]\na = 2\nz = 3\nm = 4\n", {"s", "m"},
       R"({"s": {"a": 2, "m": 4, "z": 3}, "t": {}})", "[m]#1 [4]"},
  };
  for (const Case& c : cases) {
    const Document doc = build_document(c.source, kNoEnv);
    EXPECT_EQ(brief(Value::dict(doc.config)), c.config) << c.source;
    EXPECT_EQ(at(c.source, doc.key_span(c.path)) + " " + at(c.source, doc.value_span(c.path)), c.spans) << c.source;
    expect_sealed(doc.config, "");
  }
}

// Every dictionary below the root sits in the document's arena once built,
// whichever way its header was made: before the arena held anything, in it,
// or for a section entered again; its entries go there too unless they are
// too many to copy.
void expect_held(const Dict& d, const Arena& arena, const std::string& path) {
  for (const DictEntry& e : d) {
    if (!e.second.is(Tag::Dict)) continue;
    const std::string here = path + std::string(e.first);
    EXPECT_TRUE(e.second.in_arena()) << here;
    const Dict& child = e.second.as_dict();
    EXPECT_EQ(child.in_arena(arena), child.size() < 1000) << here;
    expect_held(child, arena, here + ".");
  }
}

TEST(SectionSeal, SectionsEndInTheArena) {
  std::string wide = "[w]\n";
  for (int k = 0; k < 8000; ++k) wide += "k" + std::to_string(k) + " = 1\n";
  const std::string sources[] = {
      "[a]\n[b]\nk = 1\n",
      "[a]\nk = \"a string too long to sit inline\"\n[b]\n[a]\nj = 2\n",
      "[a.b]\n[a]\nk = 1\n[a.b.c]\nx = #{\ny = 1\n}#\n",
      "k = #{\nz = 1\n}#\n[k]\nj = 2\n[vars]\n",
      wide + "[v]\nk = 1\n",
  };
  for (const std::string& source : sources) {
    const Document doc = build_document(source, kNoEnv);
    ASSERT_NE(doc.arena.get(), nullptr);
    expect_held(doc.config, *doc.arena.get(), "");
    expect_sealed(doc.config, "");
  }
}

}  // namespace
}  // namespace brindle
