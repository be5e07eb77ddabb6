// The class Annotation: an immutable record of one annotation (its name and
// argument), compared by value and unhashable. Objects either come from a
// document, each a copy of its record, or are built by the Annotation(name,
// arg=None) constructor.
//
// Inside python/src this file shadows the core's annotation.h, so it includes
// that one by its path in the repository.
#pragma once

#include "py_ref.h"

#include <vector>

#include "syntax/src/annotation.h"

namespace brindle::py {

// Borrowed reference to the class, created on first use; nullptr with an
// error set (see lazy_type for `at_init`).
PyObject* annotation_type(bool at_init = false);

// A new list of new Annotation objects, one per record; an empty list for
// nullptr. nullptr with an error set on failure.
PyObject* annotation_list(const AnnotationList* records);

}  // namespace brindle::py
