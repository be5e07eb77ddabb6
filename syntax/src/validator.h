// Checks a Document against the validation annotations attached to its key
// paths. Never fails as a whole: every finding (rule violations, invalid
// patterns, deprecation warnings) is a Diagnostic in the returned list. Key
// paths are walked in the annotation table's order, so the first finding is
// the first problem in the source.
//
// Each distinct `@pattern` text is compiled once per call, and the compile
// work of one call is bounded by the document's size (see pattern_cache.h):
// a pattern past that bound is not checked and is reported instead, as
// "[path] @pattern not checked: the document's patterns exceed the compile
// limit".
#pragma once

#include <vector>

#include "model.h"

namespace brindle {

class PatternCache;

struct ValidateOptions {
  // Stop right after the first finding that is not a warning: the result is
  // then the start of the full list, up to and including that finding.
  bool stop_at_first_error = false;
  // The compiled patterns to use and add to, kept by the caller so that
  // validating the same document again compiles nothing again. It serves
  // one document (its budget is that document's) and one call at a time.
  // Every call walks the patterns in the same order, so the findings are
  // those of a call with a cache of its own. Null: the call makes its own.
  PatternCache* patterns = nullptr;
};

std::vector<Diagnostic> validate_document(const Document& document);
std::vector<Diagnostic> validate_document(const Document& document, const ValidateOptions& options);

}  // namespace brindle
