// The diagnostics engine seen from Python: findings handed out as
// brindle._findings.Finding objects (lines and columns from 1, columns in
// characters, ends exclusive), and the catalogue of codes. Each function
// returns a new reference, or nullptr with a Python error set.
#pragma once

#include "py_ref.h"

#include <string_view>
#include <vector>

#include "finding.h"
#include "model.h"

namespace brindle::py {

// A list of Finding objects for `findings` of `source`; `filename` may be
// None.
PyObject* finding_objects(std::string_view source, const std::vector<Finding>& findings,
                          PyObject* filename);

// _check(source, strict=False, environment=None, filename=None): every
// finding of a source; `environment` lists the names set in the environment.
PyObject* module_check(PyObject* module, PyObject* args, PyObject* kwargs);

// _check_document(doc, strict=False, filename=None): the validation findings
// of a parsed document.
PyObject* module_check_document(PyObject* module, PyObject* args, PyObject* kwargs);

// _codes(): (code, severity, name, summary, example) for every code.
PyObject* module_codes(PyObject* module, PyObject* args);

}  // namespace brindle::py
