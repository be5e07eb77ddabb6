// The diagnostics engine: every problem of one source as Findings, sorted by
// position. It parses with the ordinary builder, converts the builder's
// diagnostics (all of them, not just the first), validates what did parse,
// and runs the lints over the lexer's records. Checking never changes what a
// parse of the same source returns. Never throws.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "finding.h"
#include "model.h"
#include "validator.h"

namespace brindle {

struct CheckOptions {
  bool lints = true;
  bool strict = false;  // warnings become errors
  // Names set in the environment, for "did you mean" on `$ENV.` names.
  std::vector<std::string> environment_names;
};

// Parse findings (B1xx) of a built document.
std::vector<Finding> parse_findings(const Document& doc);

// Validation findings (B2xx) of a built document, each at its value with a
// note at the annotation that set the rule. `patterns` as in ValidateOptions.
std::vector<Finding> validation_findings(std::string_view source, const Document& doc,
                                         PatternCache* patterns = nullptr);

// Everything: parse findings, validation findings and lints of `doc`, which
// must have been built from `source` with `env`.
std::vector<Finding> check_document(std::string_view source, const Document& doc,
                                    const EnvLookup& env, const CheckOptions& options);

// Builds the document and checks it.
std::vector<Finding> check_source(std::string_view source, const EnvLookup& env,
                                  const CheckOptions& options);

// Sorts by position (stable) and applies `strict`.
void finish_findings(std::vector<Finding>& findings, bool strict);

}  // namespace brindle
