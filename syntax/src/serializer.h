// Writes a Document back out as text of the language: variables, top-level
// keys, sections with their keys and one level of blocks (deeper sections
// where a block cannot hold what is nested), and the annotations of every
// written path. `serialize_checked` says when some of it would not read back
// as the same document; the other two write it all the same.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model.h"

namespace brindle {

std::string serialize_document(const Document& document);

// Why a document's text would not read back as the document.
struct SerializeFailure {
  enum class Kind : uint8_t {
    TooDeep,             // nested deeper than the reader takes
    NeedsQuoteVariable,  // a string holding `"` needs a variable holding `"`
    Unwritable,          // a name, key or annotation argument no form carries
  };
  Kind kind;
  std::string message;
};

struct SerializeOptions {
  // Strings that hold a double quote together with an operator byte read
  // back only when joined with a variable holding `"`. A document that has
  // such a variable lends it; with this set, a document without variables
  // gets one (`quote`) defined in a `[vars]` section.
  bool may_define_quote = false;
};

using SerializeResult = std::variant<std::string, SerializeFailure>;

// The text, or the first reason it would not read back. Every document the
// builder makes is written, except one whose strings need the quote
// variable that it does not define.
SerializeResult serialize_checked(const Document& document, SerializeOptions options = {});

// The text, or nothing when some of it is nested deeper than the reader
// takes (values past kMaxValueDepth, dicts below the deepest section and a
// block).
std::optional<std::string> serialize_within_limits(const Document& document);

// Source text of one value.
std::string format_value(const Value& value);

// Appends one line per annotation, each prefixed with `indent`. False when
// some argument has no form that reads back (a line feed, a comma in a list
// item); it is written in its quoted form all the same.
bool write_annotations(std::string& out, AnnotationList annotations, std::string_view indent);
inline bool write_annotations(std::string& out, const std::vector<Annotation>& annotations,
                              std::string_view indent) {
  return write_annotations(out, AnnotationList(annotations), indent);
}

// A key or variable name as written on a key line: bare when it is a
// non-empty run of ASCII letters, digits, '_' and '-', otherwise in double
// quotes with '\\' and '"' escaped. A name holding a line feed cannot be
// written on one line and is returned as stored.
std::string quote_name(std::string_view name);

}  // namespace brindle
