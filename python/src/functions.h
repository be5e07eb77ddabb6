// The module functions parse, validate, validate_all and dumps, as the
// METH_VARARGS | METH_KEYWORDS entries of the module's method table. Each
// returns a new reference, or nullptr with a Python error set. parse resolves
// `$ENV.` references against the process environment at the time of the call,
// or against a copy of the mapping given as `env`.
#pragma once

#include "py_ref.h"

#include "model.h"

namespace brindle::py {

// parse(source, *, env=None): a BrindleDocument; ParseError or VariableError
// on the first error of the source.
PyObject* module_parse(PyObject* module, PyObject* args, PyObject* kwargs);
// The same as a vectorcall: parse(text) alone, the common call, skips the
// argument tuple and format parsing; any other call goes through
// module_parse, with its checks and messages.
PyObject* module_parse_fast(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);

// validate(doc): None, or ValidationError for the first failed rule, with
// `path` and the findings of every failed rule.
PyObject* module_validate(PyObject* module, PyObject* args, PyObject* kwargs);

// validate_all(doc): a list with one unraised ValidationError per failed
// rule, each with `path` and its own finding.
PyObject* module_validate_all(PyObject* module, PyObject* args, PyObject* kwargs);

// dumps(data): the text of a BrindleDocument or a dict.
PyObject* module_dumps(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace brindle::py
