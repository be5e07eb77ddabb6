// Writes a Document back out as text of the language: variables, top-level
// keys, sections with their keys and one level of blocks, and the annotations
// of every written path. Writing cannot fail.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model.h"

namespace brindle {

std::string serialize_document(const Document& document);

// Source text of one value.
std::string format_value(const Value& value);

// Appends one line per annotation, each prefixed with `indent`.
void write_annotations(std::string& out, const std::vector<Annotation>& annotations,
                       std::string_view indent);

}  // namespace brindle
