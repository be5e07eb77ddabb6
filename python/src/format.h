// brindle._native.format(source): the source in its canonical layout.
#pragma once

#include "py_ref.h"

namespace brindle::py {

PyObject* module_format(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace brindle::py
