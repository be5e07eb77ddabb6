#include <algorithm>

#include "check_support.h"

namespace brindle {
namespace {

TEST(AnnotationLints, NamesTypesAndArguments) {
  expect_rows({
      {"@requried\nk = 1", {"B401@1:1"}},
      {"@Required\nk = 1", {"B401@1:1"}},
      {"@maxlength: 3\nk = \"a\"", {"B401@1:1"}},
      {"@internal\n@owner: me\n@experimental\nk = 1", {}},
      {"@type: boolean\nk = true", {"B402@1:8"}},
      {"@type: lsit[int]\nk = [1]", {"B402@1:8"}},
      {"@type: 5\nk = 1", {"B403@1:8"}},
      {"@type: list[string]\nk = [\"a\"]", {}},
      {"@enum: a, b\nk = \"a\"", {"B403@1:8"}},
      {"@min: \"5\"\nk = 1", {"B403@1:7"}},
      {"@min(5)\nk = 1", {"B403@1:6"}},
      {"@maxlen: many\nk = \"a\"", {"B403@1:10"}},
      {"@pattern: 5\nk = \"5\"", {"B403@1:11"}},
      {"@required: false\nk = 1", {"B403@1:12"}},
      {"@min: 1\n@max: 2.5\n@enum: [a]\n@pattern: \"a\"\nk = 2", {"B408@3:1", "B408@4:1"}},
  });
}

TEST(AnnotationLints, WhatAnAnnotationAppliesTo) {
  expect_rows({
      {"k = 1\n@min: 1", {"B405@2:1"}},
      {"k = 1\n@required", {"B211@2:1"}},
      {"a = #{\n@min: 1\n}#", {"B405@2:1"}},
      {"@required\nport: 80\nhost = \"x\"", {"B211@1:1", "B302@2:1"}},
      {"@min: 1\nport: 80\nk = 1", {"B406@1:1", "B302@2:1"}},
      {"@min: 1\n\nk = 1", {"B406@1:1"}},
      {"@min: 1\n# why\nk = 1", {}},
      {"@min: 1\n[vars]\nv = 1\n[s]\nk = 1", {"B406@1:1", "B408@1:1"}},
      {"[vars]\n@min: 1\nk = 1", {"B407@2:1"}},
      {"@required\n[s]\nk = 1", {}},
      {"@deprecated\n[s]\nk = 1", {"B210@2:2"}},
      // A key whose value fails takes its annotations with it: the parse
      // error is the finding, not a missing key.
      {"@required\nk = 'x'", {"B101@2:5"}},
  });
}

TEST(AnnotationLints, RulesThatCannotApply) {
  expect_rows({
      {"@min: 1\nk = \"5\"", {"B408@1:1"}},
      {"@minlen: 1\nk = 5", {"B408@1:1"}},
      {"@enum: [a]\nk = 5", {"B408@1:1"}},
      {"@min: 1\n[s]\nk = 1", {"B408@1:1"}},
      {"@pattern: \"a\"\nb = #{\nk = \"a\"\n}#", {"B408@1:1"}},
      {"@minlen: 8\npassword = null", {}},
      // The value is the one a quoted name holding a point names, not a
      // walk one level deeper.
      {"[a]\n@min: 1\n\"x.y\" = \"t\"", {"B408@2:1"}},
      {"@min: 1\n[\"a.b\"]\nk = 1", {"B408@1:1"}},
      {"[a.x]\ny = \"t\"\n[a]\n@min: 1\n\"x.y\" = 5", {}},
      {"@min: 1\n@min: 2\nk = 5", {"B409@1:1"}},
      {"@min: 1\n@min: 2\n@min: 3\nk = 5", {"B409@1:1", "B409@2:1"}},
      {"@tag: a=1\n@tag: b=2\nk = 1", {}},
      {"@type: int\nport = $ENV.PORT ?? 80", {"B410@2:8"}},
      {"@min: 1\nport = $ENV.PORT ?? 80", {"B410@2:8"}},
      {"@pattern: \"[a-z]+\"\nname = $ENV.NAME ?? \"x\"", {}},
  });
}

// Many annotations waiting across many blank lines: each one is reported
// once, with the repeats pointing at the last one.
TEST(AnnotationLints, ManyWaitingAnnotations) {
  constexpr int kCount = 20000;
  std::string source;
  for (int i = 0; i < kCount; ++i) source += "@min: 1\n";
  source += std::string(kCount, '\n') + "k = 5\n";
  size_t detached = 0, repeated = 0;
  for (const Finding& f : check_source(source, EmptyEnv{}, {})) {
    detached += f.code == "B406";
    repeated += f.code == "B409";
    if (f.code == "B409") {
      EXPECT_EQ(f.related[0].span.start, uint64_t{(kCount - 1) * 8});
    }
  }
  EXPECT_EQ(detached, size_t{kCount});
  EXPECT_EQ(repeated, size_t{kCount - 1});
}

// Repeats are matched by name whether a key has few annotations or many:
// each repeat points at the last one of its own name, `@tag` never repeats.
TEST(AnnotationLints, RepeatsPointAtTheLastOfTheirName) {
  for (const int count : {2, 3, 15, 16, 17, 40}) {
    std::string source;
    std::vector<uint64_t> starts;
    const char* names[] = {"@min: 1\n", "@max: 9\n", "@tag: x\n"};
    for (int i = 0; i < count; ++i) {
      starts.push_back(source.size());
      source += names[i % 3];
    }
    source += "k = 5\n";
    const auto last_of = [&](int name) {
      int last = name;
      while (last + 3 < count) last += 3;
      return last;
    };
    size_t repeated = 0;
    for (const Finding& f : check_source(source, EmptyEnv{}, {})) {
      if (f.code != "B409") continue;
      ++repeated;
      const int at = static_cast<int>(
          std::find(starts.begin(), starts.end(), f.span.start) - starts.begin());
      ASSERT_LT(at, count) << count;
      EXPECT_NE(at % 3, 2) << count;
      ASSERT_EQ(f.related.size(), 1u);
      EXPECT_EQ(f.related[0].span.start, starts[last_of(at % 3)]) << count << " " << at;
    }
    const auto of_name = [&](int name) { return count > name ? (count - name + 2) / 3 : 0; };
    EXPECT_EQ(repeated, size_t(std::max(of_name(0) - 1, 0) + std::max(of_name(1) - 1, 0))) << count;
  }
}

}  // namespace
}  // namespace brindle
