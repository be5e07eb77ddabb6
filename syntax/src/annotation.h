// Parsing of one annotation line (`@name`, `@name(text)`, `@name: arg`) into
// an Annotation record, and the four categories of annotation names.
#pragma once

#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "model.h"
#include "value_parser.h"

namespace brindle {

// `text` is the comment-free, trimmed annotation line; `span` its position,
// starting at the '@'. Never throws.
std::variant<Annotation, ParseFailure> parse_annotation(std::string_view text, Span span);
// The same, appending the record to `into` (built in place, so a list
// collected line by line moves each record once); on failure `into` is left
// as it was and the failure is returned.
std::optional<ParseFailure> parse_annotation(std::string_view text, Span span,
                                             std::vector<Annotation>& into);

bool is_validation(std::string_view name);
bool is_metadata(std::string_view name);
bool is_type_hint(std::string_view name);
bool is_tag(std::string_view name);

}  // namespace brindle
