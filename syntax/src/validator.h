// Checks a Document against the validation annotations attached to its key
// paths. Never fails as a whole: every finding (rule violations, invalid
// patterns, deprecation warnings) is a Diagnostic in the returned list. Key
// paths are walked in the annotation table's order, so the first finding is
// the first problem in the source.
#pragma once

#include <vector>

#include "model.h"

namespace brindle {

std::vector<Diagnostic> validate_document(const Document& document);

}  // namespace brindle
