// build_diagnostics against build_document: the same diagnostics (message,
// span, kind, order) for documents whose problems come from every part of
// the build (values, variables, blocks, headers, annotations, the value
// budget), then for random documents, with and without an environment.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "builder.h"
#include "test_support.h"

namespace brindle {
namespace {

// Each diagnostic as one comparable line.
std::vector<std::string> listed(const std::vector<Diagnostic>& diagnostics) {
  std::vector<std::string> out;
  for (const Diagnostic& d : diagnostics) {
    out.push_back(std::to_string(static_cast<int>(d.kind)) + (d.is_warning ? " w " : " e ") +
                  d.message + " " + show(d.span));
  }
  return out;
}

void expect_same(const std::string& source, const EnvLookup& env) {
  EXPECT_EQ(listed(build_diagnostics(source, env)), listed(build_document(source, env).diagnostics));
}

// Variables doubling in size until the budget is spent, then `tail`.
std::string spends_the_budget(std::string_view tail) {
  std::string src = "[vars]\nv0 = \"" + std::string(64, 'x') + "\"\n";
  for (int i = 1; i <= 22; ++i) {
    src += "v" + std::to_string(i) + " = $v" + std::to_string(i - 1) + " + $v" + std::to_string(i - 1) + "\n";
  }
  return src.append(tail);
}

TEST(BuildDiagnostics, SameAsTheFullBuild) {
  struct Row {
    std::string source;
    std::string must_report;  // a message the row is there for
  };
  const std::vector<Row> rows = {
      {"a = $nope\nb = \"s\" - 1\nc = [1,\nd = 9223372036854775807 + 1\n", "undefined variable"},
      {"[s]\nk = #{\n  x = $nope,\n  y = 1 +,\n", "unclosed block"},
      {"[a..b]\nk = 1\n[" + repeat("s.", 130) + "s]\n@min(\nj = 2\n", "invalid section name"},
      // Blocks in a variables section and headers in a block: the two
      // passes read these lines differently, and both report.
      {"[vars]\nx = #{\n  y = 1,\n}#\n[t]\nb = #{\n[vars]\n  z = $x,\n  w = 2 ?? ,\n}#\nc = $z\n", "undefined variable"},
      {"[vars]\nx = 1\n[vars]\ny = $x + \"a\"\n[s]\nk = $y\n", ""},
      {spends_the_budget("[s]\n  k = 1\nj = $v3\n"), "value too large"},
      // Key paths charged to the budget: a long section name over many keys.
      {"[" + std::string(4000, 'a') + "]\n" + repeat("k = 1\n", 5000), "value too large"},
      // Concatenation in a key line, after copies have used most of it.
      {"[vars]\nv = \"" + std::string(1000, 'y') + "\"\n[t]\n" +
           repeat("r = $v + $v + $v + $v + $v + $v + $v + $v\n", 6000),
       "value too large"},
  };
  const FakeEnv env = [] { FakeEnv e; e.vars.emplace("HOME", "/root"); return e; }();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.source.substr(0, 200));
    const Document doc = build_document(row.source, EmptyEnv{});
    ASSERT_FALSE(doc.diagnostics.empty() && !row.must_report.empty());
    bool found = row.must_report.empty();
    for (const Diagnostic& d : doc.diagnostics) found = found || d.message.starts_with(row.must_report);
    EXPECT_TRUE(found) << row.must_report;
    expect_same(row.source, EmptyEnv{});
    expect_same(row.source, env);
  }
}

TEST(BuildDiagnostics, SameAsTheFullBuildOnRandomDocuments) {
  const std::vector<std::string> lines = {
      "[s]", "[vars]", "[a..b]", "[t.u]", "x = 1", "y = $x + 2", "z = [1,", "  2,", "]", "w = #{ a = 1 }#",
      "b = #{", "}#", "  e = 1,", "@min: 1", "@ bad", "# c", "", "r = $nope", "u = 1 +", "e = 1,",
      "h = $ENV.HOME", "d = $HOME ?? 1", "m = \"a\" * 3", "n = 1 / 0", "k = #{ a = [#{ b = $x }#] }#"};
  const FakeEnv env = [] { FakeEnv e; e.vars.emplace("HOME", "/root"); return e; }();
  std::mt19937 rng(11);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const size_t n = rng() % 16;
    for (size_t i = 0; i < n; ++i) text += lines[rng() % lines.size()] + "\n";
    SCOPED_TRACE(text);
    expect_same(text, EmptyEnv{});
    expect_same(text, env);
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace brindle
