// Pickling of the exception family. The classes keep their qualified names
// (module "brindle_native", which cannot be imported), so pickle cannot find
// them by name; instead BrindleError.__reduce__ names the class to a
// rebuilding function of brindle._native, and an exception comes back with
// the same type, the same args and every instance attribute (lineno, colno
// and whatever else was set on it). Subclasses defined elsewhere pickle the
// usual way, by their own name.
#pragma once

#include "py_ref.h"

namespace brindle::py {

// Installs __reduce__ on BrindleError and the module function
// `_rebuild_exception(name, args)`. False with an error set on failure.
bool add_exception_pickling(PyObject* module);

}  // namespace brindle::py
