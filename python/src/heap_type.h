// Heap types of the binding: created from their spec on first use into a
// process-wide slot, instances allocated and freed through the type's own
// slots. Callers hold the interpreter lock.
#pragma once

#include "py_ref.h"

namespace brindle::py {

inline PyTypeObject* as_type(PyObject* t) { return reinterpret_cast<PyTypeObject*>(t); }

// Allocates a zeroed instance of a heap type; nullptr with an error set.
PyObject* alloc_instance(PyObject* type);

// Releases the instance memory and the reference every heap-type instance
// holds on its type. The caller has released what the instance owns.
void free_instance(PyObject* self);

// tp_new of the classes only the module creates: raises TypeError.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// Borrowed reference to the type in `slot`, created from `spec` on first use.
// During module initialisation (`at_init`) the interpreter's own error is what
// the import reports; later, it is printed and replaced by a SystemError
// naming `class_name`.
PyObject* lazy_type(PyObject*& slot, PyType_Spec& spec, const char* class_name, bool at_init);

}  // namespace brindle::py
