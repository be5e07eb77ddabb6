// Positions for Python: the spans recorded for key paths and the `$`
// references of a document, which typed loading hands out; lines and columns
// come from the core's SourceLocator.
#pragma once

#include "py_ref.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model.h"
#include "span.h"

namespace brindle::py {

// The position tables of a document, by number from Python.
enum class SpanTable { Value = 0, Key = 1, VariableValue = 2 };

// The span recorded for a key path (or, for VariableValue, a variable name).
std::optional<Span> find_span(const Document& doc, SpanTable table, std::string_view path);
// The same for a key path given as its names, one per level (a name may hold
// a point); a variable is found by the first name alone.
std::optional<Span> find_span(const Document& doc, SpanTable table,
                              const std::vector<std::string>& segments);

// New list of (kind, name, start, end) for every `$` reference of the
// document, kind being 0 for a document variable, 1 a built-in, 2 `$ENV.`.
PyObject* reference_list(const Document& doc);

}  // namespace brindle::py
