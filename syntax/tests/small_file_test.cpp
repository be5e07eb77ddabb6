// The paths a small file takes through a build, each against the path a
// large input takes: records of the variables pass replayed rather than read
// again, small dictionaries and annotation tables sorted without the heap,
// and section names without quotes split directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "builder.h"
#include "key_order.h"
#include "key_segments.h"
#include "lexer.h"
#include "test_support.h"

namespace brindle {
namespace {

const EmptyEnv kNoEnv;

std::string shifted(Span s, uint64_t by) { return show(Span{s.start - by, s.end - by}); }

// Every entry of `d` as path, value and both spans (less `by`), recursively.
void describe(const Dict& d, const std::string& prefix, uint64_t by, std::vector<std::string>& out) {
  for (const DictEntry& e : d) {
    const std::string path = prefix + std::string(e.first);
    out.push_back(path + "=" + brief(e.second) + " key" +
                  (e.key_span() ? shifted(*e.key_span(), by) : "-") + " value" +
                  (e.value_span() ? shifted(*e.value_span(), by) : "-"));
    if (e.second.is(Tag::Dict)) describe(e.second.as_dict(), path + ".", by, out);
  }
}

// What a build reports, its positions less `by`: configuration, variables,
// diagnostics, annotations and references, each in its order.
std::vector<std::string> outcome(const Document& doc, uint64_t by) {
  std::vector<std::string> out;
  describe(doc.config, "", by, out);
  describe(doc.vars, "$", by, out);
  for (const Diagnostic& d : doc.diagnostics) {
    out.push_back("! " + d.message + shifted(d.span, by) + (d.is_warning ? " w" : " e") +
                  std::to_string(static_cast<int>(d.kind)));
  }
  for (const auto& [path, list] : doc.annotations) {
    for (const Annotation& a : list) out.push_back("@ " + std::string(path) + " " + a.name + shifted(a.span, by));
  }
  for (const VariableRefView r : doc.variable_refs) {
    out.push_back("$ " + std::string(r.name) + shifted(r.span, by) + std::to_string(static_cast<int>(r.kind)));
  }
  return out;
}

// Comment lines enough to put every variables header past the bytes within
// which the first pass keeps its records.
std::string far_padding() {
  std::string pad;
  while (pad.size() < 20000) pad += "# padding that moves every header of the file further down\n";
  return pad;
}

std::string long_variables_section() {
  std::string src = "early = $v599 + 1\n[vars]\n";
  for (int i = 0; i < 600; ++i) src += "v" + std::to_string(i) + " = " + std::to_string(i) + "\n";
  return src + "[s]\nlate = $v0\n";
}

// Replayed records give what reading the source again gives: the same
// padded source takes the other path, and must report the same things at
// the same places. Cases put the variables section first, last, twice,
// inside a block, behind joined values and keys that need their own text.
TEST(SmallFile, ReplayedRecordsBuildWhatReadingAgainBuilds) {
  const std::string cases[] = {
      "[vars]\nx = 1\n[s]\na = $x\n",
      "@required\nname = $app + \"-api\"\n# note\n[vars]\napp = \"inventory\"\n[server]\nport = $p + 80\n"
      "[vars]\np = 8000\n",
      "a = [1,\n  2,\n  $n]\n\"quoted \\\" key\" = $n\n\"plain\" = 2\n[vars]\nn = 3\nlist = [\n 4, 5]\n[t]\nb = 1\n",
      "blk = #{\n  @min: 1\n  inner = $v,\n[vars]\nv = 2\n}#\n[vars]\nv = 5\n",
      "open = #{\n  x = 1,\n[vars]\nv = 2\n",
      "text = \"[vars]\"\n[vars]\nbad = $missing\nok = 1\n[s]\nuse = $ok\n",
      "[vars]\n",
      "[ vars ]\nx = 1\n[vars]\n[vars]\ny = $x\n[a.b]\n@tag: k=v\nz = $y\n",
      "@enum: [a, b]\nmode = \"a\"\n[vars]\n@min: 1\nq = 1\n[q]\nr = #{ s = $q }#\n",
      long_variables_section(),
  };
  const std::string pad = far_padding();
  for (const std::string& src : cases) {
    SCOPED_TRACE(src.substr(0, 60));
    const Document near = build_document(src, kNoEnv);
    const Document far = build_document(pad + src, kNoEnv);
    EXPECT_EQ(outcome(near, 0), outcome(far, pad.size()));
    EXPECT_EQ(near.config, far.config);
    // The diagnostics-only build reads the records the same way.
    std::vector<std::string> want;
    std::vector<std::string> got;
    for (const Diagnostic& d : near.diagnostics) want.push_back(d.message + show(d.span));
    for (const Diagnostic& d : build_diagnostics(src, kNoEnv)) got.push_back(d.message + show(d.span));
    EXPECT_EQ(got, want);
  }
}

// A key before a long variables section still sees the last variable: the
// first pass stops keeping records part way and the second reads again.
TEST(SmallFile, LongVariablesSectionsAreReadAgain) {
  const Document doc = build_document(long_variables_section(), kNoEnv);
  EXPECT_TRUE(doc.diagnostics.empty());
  EXPECT_EQ(brief(doc.config.at("early")), "600");
  EXPECT_EQ(brief(doc.config.at("s").as_dict().at("late")), "0");
  EXPECT_EQ(doc.vars.size(), 600u);
}

// Small handle sets sort in place exactly as sort_handles sorts them.
TEST(SmallFile, InsertionSortOrdersHandlesLikeSortHandles) {
  std::mt19937 rng(11);
  const std::string alphabet = std::string("\x00\x7f\x80\xff" "ab", 6);
  for (size_t n = 0; n <= 40; ++n) {
    for (int round = 0; round < 8; ++round) {
      std::vector<std::string> keys;
      for (size_t i = 0; i < n; ++i) {
        std::string k = round % 2 == 0 ? "same-long-head." : "";
        for (size_t j = rng() % 11; j > 0; --j) k += alphabet[rng() % (round < 4 ? 2 : alphabet.size())];
        keys.push_back(k);
      }
      const auto key_of = [&](uint32_t i) { return std::string_view(keys[i]); };
      std::vector<key_order::Handle> want(n);
      for (size_t i = 0; i < n; ++i) want[i] = {key_order::head_of(keys[i]), static_cast<uint32_t>(i)};
      std::vector<key_order::Handle> got = want;
      key_order::sort_handles(want, key_of);
      key_order::insertion_sort(got.data(), got.size(), key_of);
      for (size_t i = 0; i < n; ++i) ASSERT_EQ(got[i].index, want[i].index) << "size " << n << " at " << i;
    }
  }
}

// Dictionaries around the size that sorts on the stack: key order, the last
// of a repeated key kept, the others reported, with and without an arena.
TEST(SmallFile, SmallDictionariesSealLikeLargeOnes) {
  std::mt19937 rng(5);
  for (size_t n = 0; n <= 70; ++n) {
    for (bool with_arena : {false, true}) {
      std::vector<std::string> keys;
      for (size_t i = 0; i < n; ++i) keys.push_back("k" + std::to_string(rng() % (n / 2 + 1)));
      std::vector<uint32_t> order(n);
      std::iota(order.begin(), order.end(), 0u);
      std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
      std::vector<std::string> want;
      std::vector<std::string> want_drops;
      for (size_t i = 0; i < n; ++i) {
        const bool repeated = i + 1 < n && keys[order[i + 1]] == keys[order[i]];
        (repeated ? want_drops : want).push_back(keys[order[i]] + "=" + std::to_string(order[i]));
      }
      Arena arena;
      Dict d;
      for (size_t i = 0; i < n; ++i) d.append(keys[i]).second = Value::integer(static_cast<int64_t>(i));
      std::vector<std::string> drops;
      d.seal([&](std::string_view, const DictEntry& e) {
        drops.push_back(std::string(e.first) + "=" + std::to_string(e.second.as_integer()));
      }, "", with_arena ? &arena : nullptr);
      std::vector<std::string> got;
      for (const DictEntry& e : d) got.push_back(std::string(e.first) + "=" + std::to_string(e.second.as_integer()));
      EXPECT_EQ(got, want) << "size " << n;
      EXPECT_EQ(drops, want_drops) << "size " << n;
    }
  }
}

// Tables around the size sorted by insertion: by the start of each list,
// ties and empty lists (last) in the order they came.
TEST(SmallFile, SmallAnnotationTablesSortLikeAStableSort) {
  std::mt19937 rng(9);
  for (size_t n = 1; n <= 80; n += (n < 70 ? 1 : 5)) {
    AnnotationTable table;
    std::vector<std::pair<uint64_t, std::string>> model;  // first start (max: empty), path
    for (size_t i = 0; i < n; ++i) {
      const std::string path = "p" + std::to_string(i);
      std::vector<Annotation> list(rng() % 4 == 0 ? 0 : 1 + rng() % 2);
      const uint64_t start = rng() % 8;
      for (Annotation& a : list) {
        a.name = "n";
        a.span = Span{start, start + 1};
      }
      model.emplace_back(list.empty() ? UINT64_MAX : start, path);
      table.append(path, list, {});
    }
    table.sort_by_source_position();
    std::stable_sort(model.begin(), model.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    ASSERT_EQ(table.size(), n);
    for (size_t i = 0; i < n; ++i) {
      EXPECT_EQ(table.entry(i).first, model[i].second) << "size " << n << " at " << i;
      ASSERT_NE(table.find(model[i].second), nullptr);
      EXPECT_EQ(table.find(model[i].second)->data(), table.entry(i).second.data());
    }
  }
}

// Names with and without quotes, blanks of every width and escapes: a
// section path is always the names of its segments.
TEST(SmallFile, SectionPathsAreTheNamesOfTheirSegments) {
  // The first seven pieces hold no quote and no backslash.
  const std::string pieces[] = {"a", "bc", ".", " ", "\t", "\xC2\xA0", "..", "\"", "\\"};
  std::mt19937 rng(13);
  for (int round = 0; round < 4000; ++round) {
    const size_t kinds = round % 2 == 0 ? 7 : std::size(pieces);
    std::string name;
    for (size_t j = rng() % 9; j > 0; --j) name += pieces[rng() % kinds];
    std::vector<std::string> names;
    for (const KeySegment& s : split_key_segments(name)) names.push_back(s.name);
    ASSERT_EQ(split_key_path(name), names) << name;
  }
}

}  // namespace
}  // namespace brindle
