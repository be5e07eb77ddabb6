// The parse driver: lexes the source, evaluates the variables sections, then
// builds sections, keys, blocks and attached annotations into one Document.
// Never throws and never stops early: every problem is a Diagnostic in the
// returned document, in the builder's order (variables first).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model.h"

namespace brindle {

// A header may open at most this many nested sections. Every other consumer
// of a document (destruction included) walks nested Dicts recursively, so the
// section path is held to the same bound as the nesting inside one value.
inline constexpr size_t kMaxSectionDepth = 128;

Document build_document(std::string_view source, const EnvLookup& env);

// The diagnostics build_document reports for the same input, in the same
// order, found without building the configuration: every value is still
// evaluated and charged to the same budget, but nothing is kept.
std::vector<Diagnostic> build_diagnostics(std::string_view source, const EnvLookup& env);

// Stores one value under `section` + `key`, creating (or replacing with)
// empty Dicts along the section path, and records its spans and annotations.
void insert_entry(Document& doc, const std::vector<std::string>& section, const std::string& key,
                  Span key_span, Span value_span, Value value, std::vector<Annotation> annotations);

}  // namespace brindle
