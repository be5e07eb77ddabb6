// Shared by the diagnostics tests: a source's findings as short strings,
// "CODE@LINE:COL" each (columns in characters), in the engine's order.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check.h"
#include "test_support.h"

namespace brindle {

inline std::vector<std::string> finding_codes(const std::string& source,
                                              const std::vector<std::string>& env_names = {},
                                              const EnvLookup& env = EmptyEnv{}) {
  CheckOptions options;
  options.environment_names = env_names;
  const SourceLocator locator(source);
  std::vector<std::string> out;
  for (const Finding& f : check_source(source, env, options)) {
    const SourcePosition at = locator.locate(f.span.start);
    // Every span, primary or related, lies inside the source.
    EXPECT_LE(f.span.start, f.span.end) << source;
    EXPECT_LE(f.span.end, source.size()) << source;
    for (const Related& r : f.related) EXPECT_LE(r.span.end, source.size()) << source;
    out.push_back(std::string(f.code) + "@" + std::to_string(at.line) + ":" +
                  std::to_string(at.column));
  }
  return out;
}

using Codes = std::vector<std::string>;

struct LintRow {
  const char* source;
  Codes expected;
};

inline void expect_rows(const std::vector<LintRow>& rows) {
  for (const LintRow& row : rows) {
    EXPECT_EQ(finding_codes(row.source), row.expected) << "source:\n" << row.source;
  }
}

}  // namespace brindle
