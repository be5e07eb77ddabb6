// Edits of a source text that keep everything else: setting a value at a key
// path, deleting a key, block entry, inline dict entry or section, adding or
// removing an annotation. Only the lines (or, inside an inline dict, the
// bytes) of the edited entry change; comments, order, blank lines and the
// expression text of every other key stay as written.
//
// Paths are dotted like the document's key paths; a segment may be quoted
// as in a section header ("a.b" is one segment). An edit is applied only
// when the edited text still builds: the path must resolve afterwards (to
// the value written, for set_value) and no new problem may appear. A failed
// edit leaves the text unchanged and says why.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model.h"

namespace brindle {

struct EditError {
  enum class Kind : uint8_t {
    NotFound,  // no key, entry, section or annotation at the path
    Invalid,   // a bad path, value or annotation, or a result that does not read back
  };
  Kind kind;
  std::string message;
};

using EditResult = std::optional<EditError>;  // nullopt: applied

class Editor {
 public:
  explicit Editor(std::string_view source) : text_(source) {}

  const std::string& text() const { return text_; }

  // The value written in the serializer's value form.
  EditResult set_value(std::string_view path, const Value& value);
  // `value_text` in the language's own syntax (an expression is allowed).
  EditResult set_text(std::string_view path, std::string_view value_text);
  EditResult remove(std::string_view path);
  // `annotation` as written on its line, with or without the leading '@'.
  EditResult add_annotation(std::string_view path, std::string_view annotation);
  // Removes every annotation named `name` attached to the path.
  EditResult remove_annotation(std::string_view path, std::string_view name);

 private:
  EditResult set(std::string_view path, std::string_view value_text, const Value* expected);

  std::string text_;
};

}  // namespace brindle
