// Writes a Document back out as text of the language: variables, top-level
// keys, sections with their keys and one level of blocks (deeper sections
// where a block cannot hold what is nested), and the annotations of every
// written path. Writing cannot fail.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model.h"

namespace brindle {

std::string serialize_document(const Document& document);

// The same text, or nothing when some of it would not read back because it
// is nested deeper than the reader takes (values past kMaxValueDepth, dicts
// below the deepest section and a block). Every document the builder makes
// is written.
std::optional<std::string> serialize_within_limits(const Document& document);

// Source text of one value.
std::string format_value(const Value& value);

// Appends one line per annotation, each prefixed with `indent`.
void write_annotations(std::string& out, const std::vector<Annotation>& annotations,
                       std::string_view indent);

// A key or variable name as written on a key line: bare when it is a
// non-empty run of ASCII letters, digits, '_' and '-', otherwise in double
// quotes with '\\' and '"' escaped. A name holding a line feed cannot be
// written on one line and is returned as stored.
std::string quote_name(std::string_view name);

}  // namespace brindle
