#include "check_support.h"

namespace brindle {
namespace {

// Lines the builder ignores, each with the habit it comes from.
TEST(LineLints, IgnoredLines) {
  expect_rows({
      {"level: \"debug\"", {"B302@1:1"}},
      {"  x.y: 1 # note", {"B302@1:3"}},
      {"[[replicas]]", {"B303@1:1"}},
      {"; comment", {"B304@1:1"}},
      {"// comment", {"B304@1:1"}},
      {"[http.tls\ncert = 1", {"B305@1:1"}},
      {"http.tls]", {"B305@1:1"}},
      {"[a]]", {"B305@1:1"}},
      {"database.port = 5433", {"B306@1:1"}},
      {"log level = \"x\"", {"B307@1:1"}},
      {"k\xc3\xa9y = 1", {"B307@1:1"}},
      {"k =", {"B308@1:1"}},
      {"k = # only a comment", {"B308@1:1"}},
      {"port 80", {"B301@1:1"}},
      {"= 5", {"B301@1:1"}},
      // Lines that are fine: comments, blanks, quoted keys, headers.
      {"# c\n\n  \n\"a b\" = 1\n[s] # c\nk-1 = 2", {}},
  });
}

TEST(LineLints, DuplicateKeysPointAtTheLaterOne) {
  expect_rows({
      {"k = 1\nk = 2", {"B310@2:1"}},
      {"[a]\nk = 1\n[b]\nk = 1\n[a]\nk = 2", {"B310@6:1"}},
      {"k = 1\n[k]", {"B310@2:2"}},
      {"a = #{\nx = 1\nx = 2\n}#", {"B310@3:1"}},
      // `[[replicas]]` is ignored, so its host replaces the database's.
      {"[database]\nhost = \"db\"\n[[replicas]]\nhost = \"r2\"", {"B303@3:1", "B310@4:1"}},
      // A repeated header merges; a key whose later value fails is kept.
      {"[a]\nx = 1\n[a]\ny = 2", {}},
      {"k = 1\nk = 'x'", {"B101@2:5"}},
      {"[vars]\nv = 1\n[s]\nk = $v\n[vars]\nv = 2", {"B310@6:1"}},
      {"[vars]\nv = 1\nv = $v + 1", {}},  // builds on the earlier value
      // A quoted name holding a point is one key, not a path.
      {"[a]\n\"x.y\" = 1\n\"x.y\" = 2", {"B310@3:1"}},
      {"[\"a.b\"]\nk = 1\n[\"a.b\"]\nk = 2", {"B310@4:1"}},
      {"a = #{\n\"x.y\" = 1,\n\"x.y\" = 2,\n}#", {"B310@3:1"}},
      {"\"a.b\" = 1\n[a]\nb = 2", {}},
      {"[a]\n\"x.y\" = 1\n[a.x]\ny = 2", {}},
  });
  const std::string source = "k = 1\nk = 2";
  const auto findings = check_source(source, EmptyEnv{}, {});
  ASSERT_EQ(findings.size(), 1u);
  ASSERT_EQ(findings[0].related.size(), 1u);
  EXPECT_EQ(findings[0].related[0].span, (Span{0, 1}));
  EXPECT_EQ(findings[0].path, "k");
}

// A key's entry is found by its line's position in a small scope and by its
// key in a large one; both must tell the same duplicates, also when a scope
// is entered again or replaced.
TEST(LineLints, DuplicateKeysInEveryKindOfScope) {
  // Appended, not concatenated: `"..." + std::string` trips a false
  // -Wrestrict in GCC 12.
  const auto duplicate_at = [](int line) {
    return Codes{std::string("B310@").append(std::to_string(line)).append(":1")};
  };
  for (const int keys : {3, 63, 64, 65, 200}) {
    std::string section = "[s]\n";
    for (int k = 0; k < keys; ++k) {
      section.append("k").append(std::to_string(k)).append(" = 0\n");
    }
    EXPECT_EQ(finding_codes(section + "k1 = 9\n"), duplicate_at(keys + 2)) << keys;
    EXPECT_EQ(finding_codes(section + "[t]\nk1 = 9\n[s]\nk2 = 9\n"), duplicate_at(keys + 5))
        << keys;
    EXPECT_EQ(finding_codes(section + "b = #{\nk1 = 1,\nk1 = 2,\n}#\n"), duplicate_at(keys + 4))
        << keys;
    EXPECT_EQ(finding_codes(section), Codes{}) << keys;
  }
  expect_rows({
      // A block given twice: the first block and its entries are replaced.
      {"a = #{\nx = 1,\n}#\na = #{\nx = 2,\n}#", {"B310@4:1", "B310@5:1"}},
      {"[s]\nb = #{\nx = 1,\n}#\n[s]\nb = #{\ny = 2,\n}#", {"B310@6:1"}},
      // A section replaced by a later value: its keys have no entry left.
      {"[s]\nx = 1\n[t]\ny = 1\n[s.x]\nz = 1", {"B310@5:2"}},
      {"[a.s]\nx = 1\nx = 2\n[a]\ns = 3", {"B310@3:1"}},
      {"[s]\nx = 1\ny = 2\n[s]\ny = 3\nx = 4", {"B310@5:1", "B310@6:1"}},
      // Rules read the value found for the line, in either kind of scope.
      {"[s]\n@min: 1\nk = \"text\"", {"B408@2:1"}},
      {"a = #{\n@pattern: \"x\"\nk = 1,\n}#", {"B408@2:1"}},
  });
}

TEST(LineLints, Blocks) {
  expect_rows({
      {"a = #{\nb = #{\nc = 1\n}#\n}#", {"B311@2:1", "B313@5:1"}},
      {"a = #{\n[b]\n}#", {"B312@2:1"}},
      {"a = #{\n[vars]\n}#", {"B312@2:1"}},
      {"}#", {"B313@1:1"}},
      {"x = 1\na = #{\nb = 1", {"B106@2:1"}},
      {"a = #{\n  b = 1,\n}#\n[s]\nc = #{\n}#", {}},
  });
}

TEST(LineLints, VariablesAfterASection) {
  expect_rows({
      {"[server]\nport = 1\n[vars]\nhost = \"x\"", {"B315@4:1"}},
      {"[server]\n[vars]\nhost = \"x\"\n[t]\nh = $host", {}},
      {"[vars]\nhost = \"x\"\n[s]\nk = 1", {}},  // unused, but not after a section
  });
}

}  // namespace
}  // namespace brindle
