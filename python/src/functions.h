// The module functions parse, validate, validate_all and dumps, as the
// METH_VARARGS | METH_KEYWORDS entries of the module's method table. Each
// returns a new reference, or nullptr with a Python error set. parse resolves
// `$ENV.` references against the process environment at the time of the call.
#pragma once

#include "py_ref.h"

namespace brindle::py {

// parse(source): a BrindleDocument; ParseError or VariableError on the first
// error of the source.
PyObject* module_parse(PyObject* module, PyObject* args, PyObject* kwargs);

// validate(doc): None, or ValidationError for the first failed rule.
PyObject* module_validate(PyObject* module, PyObject* args, PyObject* kwargs);

// validate_all(doc): a list with one unraised ValidationError per failed rule.
PyObject* module_validate_all(PyObject* module, PyObject* args, PyObject* kwargs);

// dumps(data): the text of a BrindleDocument or a dict.
PyObject* module_dumps(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace brindle::py
