#include <set>

#include "builder.h"
#include "check_support.h"
#include "codes.h"

namespace brindle {
namespace {

std::vector<Finding> check(const std::string& source, bool strict = false) {
  CheckOptions options;
  options.strict = strict;
  return check_source(source, EmptyEnv{}, options);
}

// Every code is unique, in its family's range, documented, and its example
// really produces it.
TEST(Check, CatalogueExamplesProduceTheirCodes) {
  std::set<std::string_view> seen;
  for (const CodeInfo* info : all_codes()) {
    EXPECT_TRUE(seen.insert(info->code).second) << info->code;
    ASSERT_EQ(info->code.size(), 4u);
    EXPECT_EQ(info->code[0], 'B');
    EXPECT_TRUE(info->code[1] >= '1' && info->code[1] <= '5') << info->code;
    EXPECT_FALSE(info->summary.empty());
    EXPECT_FALSE(info->name.empty());
    const char family = info->code[1];
    if (family >= '3') {
      EXPECT_NE(info->severity, Severity::Error) << info->code;
    }
    if (family == '1') {
      EXPECT_EQ(info->severity, Severity::Error) << info->code;
    }
    bool found = false;
    CheckOptions options;
    options.environment_names = {"HOME"};
    for (const Finding& f : check_source(info->example, EmptyEnv{}, options)) {
      found = found || f.code == info->code;
      if (f.code == info->code) {
        EXPECT_EQ(f.severity, info->severity);
      }
    }
    EXPECT_TRUE(found) << info->code << " from example:\n" << info->example;
  }
}

TEST(Check, EveryParseProblemIsReported) {
  EXPECT_EQ(finding_codes("a = 'x'\nb = $nope\nc = (1)\n@min 5\nd = 1\n[a..b]"),
            (Codes{"B101@1:5", "B102@2:5", "B101@3:5", "B103@4:1", "B104@6:2"}));
  // Variables are evaluated first, yet the findings come in file order.
  EXPECT_EQ(finding_codes("x = 'a'\n[vars]\nv = $w"), (Codes{"B101@1:5", "B102@3:5"}));
}

TEST(Check, UndefinedVariableSuggestsAName) {
  const auto findings = check("[vars]\nport = 1\n[s]\nk = $prot\nj = $NWO\nh = $zzzzzz");
  ASSERT_EQ(findings.size(), 3u);
  EXPECT_EQ(findings[0].suggestion, "did you mean `$port`?");
  EXPECT_EQ(findings[1].suggestion, "did you mean `$NOW`?");
  EXPECT_EQ(findings[2].suggestion, "");
}

TEST(Check, ValidationFindingsSitAtTheValueWithANoteAtTheRule) {
  const std::string source = "[server]\n@min: 1024\nport = 80\n@deprecated: use port\nold = 1";
  const auto findings = check(source);
  ASSERT_EQ(findings.size(), 2u);
  const SourceLocator at(source);
  EXPECT_EQ(findings[0].code, "B204");
  EXPECT_EQ(findings[0].path, "server.port");
  EXPECT_EQ(at.locate(findings[0].span.start).line, 3u);
  EXPECT_EQ(at.locate(findings[0].span.start).column, 8u);
  EXPECT_EQ(findings[0].span.end - findings[0].span.start, 2u);
  ASSERT_EQ(findings[0].related.size(), 1u);
  EXPECT_EQ(findings[0].related[0].label, "required by @min: 1024 here");
  EXPECT_EQ(at.locate(findings[0].related[0].span.start).line, 2u);
  EXPECT_EQ(findings[1].code, "B210");
  EXPECT_EQ(findings[1].severity, Severity::Warning);
  EXPECT_EQ(findings[1].related[0].label, "marked here: @deprecated: use port");
}

// A quoted name may hold a point at any level; findings still sit at the
// value of the entry they are about, not at an entry whose dotted path reads
// the same, and a repeated quoted key is still a duplicate.
TEST(Check, QuotedNamesHoldingPointsKeepTheirPositions) {
  expect_rows({
      {"[a]\n@min: 10\n\"x.y\" = 5", {"B204@3:9"}},
      {"@min: 3\n\"x.y\" = 1", {"B204@2:9"}},
      {"[\"s.t\"]\n@max: 1\n\"p.q\" = 7", {"B204@3:9"}},
      {"[a.\"b.c\".d]\n@type: string\n\"e.f\" = 1", {"B203@3:9"}},
      {"[\"s.t\"]\n\"b.c\" = #{\n  @max: 1\n  \"p.q\" = 7,\n}#", {"B204@4:11"}},
      {"[a]\n@nonempty\n\"x.y\" = #{}#", {"B202@3:9"}},
      // Rules on values they do not check: the value looked at is the right one.
      {"[a]\n@minlen: 2\n\"x.y\" = #{\"u.v\" = 1}#", {"B408@2:1"}},
      {"[a]\n@min: 1\n\"x.y\" = \"s\"", {"B408@2:1"}},
      {"[a]\n@min: 1\n\"x.y\" = 5\n[a.x]\ny = \"s\"", {}},
      {"[a.\"b.c\"]\n@min: 1\n\"d.e\" = \"s\"", {"B408@2:1"}},
      // The nested spelling of the same dotted path comes later.
      {"[a]\n@min: 5\n\"x.y\" = 1\n[a.x]\ny = 9", {"B204@3:9"}},
      {"[a.x]\n@min: 5\ny = 1\n[a]\n\"x.y\" = 9", {"B204@3:5"}},
      // Duplicates, at the later key.
      {"[a]\n\"x.y\" = 1\n\"x.y\" = 2", {"B310@3:1"}},
      {"[\"s.t\"]\nb = #{\n\"p.q\" = 1\n\"p.q\" = 2\n}#", {"B310@4:1"}},
      {"\"x.y\" = 1\n\"x.y\" = #{\n}#", {"B310@2:1"}},
  });
}

// A finding underlines the value as written: not a trailing comment or the
// blanks before it, and all lines of a value that spans several.
TEST(Check, ValidationFindingsUnderlineTheValueAlone) {
  struct Row {
    std::string source;
    std::string underlined;
  };
  const std::vector<Row> rows = {
      {"@min: 5\nk = 1", "1"},
      {"@min: 5\nk = 1  # too low", "1"},
      {"@min: 5\nk = 1\t\r\n", "1"},
      {"@min: 5\nk = 1 + 2 # sum", "1 + 2"},
      {"@maxlen: 1\nk = \"a # b\" # c", "\"a # b\""},
      {"@maxlen: 1\nk = [1,\n  2] # two", "[1,\n  2]"},
      {"@maxlen: 1\nk = [1, # one\n  2]", "[1, # one\n  2]"},
      {"@nonempty\nk = #{\n}#", "k"},
  };
  for (const Row& row : rows) {
    const auto findings = check(row.source);
    ASSERT_EQ(findings.size(), 1u) << row.source;
    const Span s = findings[0].span;
    EXPECT_EQ(row.source.substr(s.start, s.end - s.start), row.underlined) << row.source;
  }
}

TEST(Check, EachRuleHasItsCode) {
  expect_rows({
      {"@required\nk = null", {"B201@2:5"}},
      {"@nonempty\nk = \"\"", {"B202@2:5"}},
      {"@type: url\nk = \"ftp://x\"", {"B203@2:5"}},
      {"@max: 1\nk = 2", {"B204@2:5"}},
      {"@minlen: 2\nk = [1]", {"B205@2:5"}},
      {"@pattern: \"a+\"\nk = \"b\"", {"B206@2:5"}},
      {"@pattern: \"(\"\nk = \"b\"", {"B207@1:1"}},
      {"@enum: [a]\nk = \"b\"", {"B208@2:5"}},
      {"@nonzero\nk = 0", {"B209@2:5"}},
      {"@required\n[s]", {"B201@2:2"}},
  });
}

// Keys that parsed are validated even when others did not.
TEST(Check, ParseErrorsDoNotHideValidation) {
  EXPECT_EQ(finding_codes("@min: 5\na = 1\nb = 'x'\n@max: 1\nc = 2"),
            (Codes{"B204@2:5", "B101@3:5", "B204@5:5"}));
}

TEST(Check, StrictTurnsWarningsIntoErrors) {
  for (const bool strict : {false, true}) {
    const auto findings = check("k = 1 +\n@deprecated\nd = 1", strict);
    ASSERT_EQ(findings.size(), 2u);
    for (const Finding& f : findings) {
      EXPECT_EQ(f.severity, strict ? Severity::Error : Severity::Warning) << f.code;
    }
  }
}

TEST(Check, LintsCanBeTurnedOffAndNeverChangeTheDocument) {
  const std::string source = "level: 1\nk = [1, , 2]\n@min: 3\nn = 1";
  CheckOptions options;
  options.lints = false;
  const auto findings = check_source(source, EmptyEnv{}, options);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].code, "B204");
  const Document before = build_document(source, EmptyEnv{});
  const auto all = check_document(source, before, EmptyEnv{}, CheckOptions{});
  EXPECT_GT(all.size(), 1u);
  const Document fresh = build_document(source, EmptyEnv{});
  EXPECT_EQ(before.config, fresh.config);
  EXPECT_EQ(before.vars, fresh.vars);
  EXPECT_EQ(before.diagnostics.size(), fresh.diagnostics.size());
}

TEST(Check, InvalidUtf8IsReportedAtTheFirstBadByte) {
  EXPECT_EQ(finding_codes("k = \"\xef\xbf\xbd\"\nj = \"\xff\""), Codes{"B100@2:6"});
  // Past the first windows of a long string full of escapes, and past one.
  std::string escaped;
  for (int i = 0; i < 40; ++i) escaped += "a\\\"b";
  EXPECT_EQ(finding_codes("k = \"" + escaped + "\xff\\t\""), Codes{"B100@1:166"});
  EXPECT_EQ(finding_codes("k = \"" + escaped + "\"\nj = \"" + escaped + "\xc3\""), Codes{"B100@2:166"});
}

TEST(Check, LocatorCountsCharacters) {
  const std::string source = "a\n\xc3\xa9t\xc3\xa9 = 1";
  const SourceLocator at(source);
  const SourcePosition p = at.locate(source.size() - 1);
  EXPECT_EQ(p.line, 2u);
  EXPECT_EQ(p.column, 7u);
  EXPECT_EQ(p.byte_column, 9u);
  EXPECT_EQ(at.locate(1000).line, 2u);
}

}  // namespace
}  // namespace brindle
