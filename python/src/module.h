// The process-wide slots of brindle._native, defined in module.cpp: the
// module and each class, created once under the interpreter lock and never
// freed. They are the binding's only static mutable state; each is written
// only by the code that owns the class it holds.
#pragma once

#include "py_ref.h"

#include "exceptions.h"

namespace brindle::py {

extern PyObject* g_module;                            // set once PyInit__native succeeds
extern PyObject* g_document_type;                     // owned by document.cpp
extern PyObject* g_annotation_type;                   // owned by annotation.cpp
extern PyObject* g_key_iter_type;                     // owned by key_iter.cpp
extern PyObject* g_exceptions[kExceptionCount];       // owned by exceptions.cpp, indexed by Exc

}  // namespace brindle::py
