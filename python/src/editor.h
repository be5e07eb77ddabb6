// The class Editor: a source text and the edits made to it (set a value,
// delete a key, add or remove an annotation), each changing only its own
// lines. str(editor) is the edited text. Edits that find nothing raise
// KeyError; bad paths, values and annotations, and edits whose result would
// not read back, raise ValueError and leave the text as it was.
#pragma once

#include "py_ref.h"

namespace brindle::py {

// A new reference to the class, created from its spec; nullptr with an
// error set. Called once, by the module's initialisation.
PyObject* new_editor_type();

}  // namespace brindle::py
