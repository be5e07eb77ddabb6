// Positions for Python: lines and columns from 1, columns counted in
// characters (code points) as Python's own exceptions count them, and the
// position data that typed loading and validation findings hand out.
#pragma once

#include "py_ref.h"

#include <optional>
#include <string>
#include <string_view>

#include "model.h"
#include "span.h"

namespace brindle::py {

// Line and character column of byte offsets into one source.
class CharLocator {
 public:
  explicit CharLocator(std::string_view source) : source_(source), lines_(source) {}
  // The offset is clamped to the source; the column counts the characters
  // before it on its line, plus one.
  LineColumn locate(uint64_t offset) const;

 private:
  std::string_view source_;
  LineIndex lines_;
};

// The position tables of a document, by number from Python.
enum class SpanTable { Value = 0, Key = 1, VariableValue = 2 };

// The span recorded for a key path (or, for VariableValue, a variable name).
std::optional<Span> find_span(const Document& doc, SpanTable table, std::string_view path);

// New list of (kind, name, start, end) for every `$` reference of the
// document, kind being 0 for a document variable, 1 a built-in, 2 `$ENV.`.
PyObject* reference_list(const Document& doc);

// The key path a validation finding is about: the path in brackets at the
// start of its message that the document has annotations for.
std::string finding_path(const Diagnostic& diagnostic, const Document& doc);

// A new brindle._findings.Finding for a validation diagnostic about `path`,
// placed at the offending value (or, for a bad @pattern, at the annotation);
// its code is the rule that failed, such as "@min".
PyObject* validation_finding(const Diagnostic& diagnostic, const std::string& path, const Document& doc,
                             const CharLocator& at);

}  // namespace brindle::py
