// The extension module brindle._native: its initialisation, its method table
// and the process-wide slots. The classes and functions live in a file each.
//
// Written against the limited C API only (the module is built once for every
// interpreter that offers the 3.10 stable ABI). The only static state is the
// set of process-wide slots below, each written once under the interpreter
// lock and never freed.
#include "module.h"

#include "annotation.h"
#include "document.h"
#include "editor.h"
#include "exception_pickle.h"
#include "exceptions.h"
#include "findings.h"
#include "format.h"
#include "functions.h"
#include "guard.h"
#include "syntax_view.h"

namespace brindle::py {

// ---------------------------------------------------------------------------
// Process-wide slots

PyObject* g_module = nullptr;
PyObject* g_document_type = nullptr;
PyObject* g_annotation_type = nullptr;
PyObject* g_key_iter_type = nullptr;
PyObject* g_exceptions[kExceptionCount] = {nullptr, nullptr, nullptr, nullptr};

namespace {

PyMethodDef module_functions[] = {
    {"parse", as_cfunction(module_parse_fast), METH_FASTCALL | METH_KEYWORDS,
     "parse(source, *, env=None)\n--\n\n"},
    {"validate", as_cfunction(module_validate), METH_VARARGS | METH_KEYWORDS,
     "validate(doc)\n--\n\n"},
    {"validate_all", as_cfunction(module_validate_all), METH_VARARGS | METH_KEYWORDS,
     "validate_all(doc)\n--\n\n"},
    {"dumps", as_cfunction(module_dumps), METH_VARARGS | METH_KEYWORDS, "dumps(data)\n--\n\n"},
    {"_check", as_cfunction(module_check), METH_VARARGS | METH_KEYWORDS,
     "_check(source, strict=False, environment=None, filename=None, env=None)\n--\n\n"},
    {"_check_document", as_cfunction(module_check_document), METH_VARARGS | METH_KEYWORDS,
     "_check_document(doc, strict=False, filename=None)\n--\n\n"},
    {"_codes", as_cfunction(module_codes), METH_NOARGS, "_codes()\n--\n\n"},
    {"_syntax_view", as_cfunction(module_syntax_view), METH_VARARGS | METH_KEYWORDS,
     "_syntax_view(source)\n--\n\n"},
};

// Layout and editing, outside __all__: the package exports them itself.
PyMethodDef format_function = {"format", as_cfunction(module_format), METH_VARARGS | METH_KEYWORDS,
                               "format(source)\n--\n\n"};

// ---------------------------------------------------------------------------
// Module

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_native", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Appends `name` to __all__ (created on first use) and sets the attribute,
// so __all__ lists the attributes in registration order.
bool add_attribute(PyObject* module, const char* name, PyObject* value) {
  Ref all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all.reset(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  Ref key(PyUnicode_FromString(name));
  if (!key || PyList_Append(all.get(), key.get()) < 0) return false;
  return PyObject_SetAttrString(module, name, value) == 0;
}

bool initialise(PyObject* module) {
  PyObject* doc_type = document_type(true);
  if (doc_type == nullptr || !add_attribute(module, "BrindleDocument", doc_type)) return false;
  PyObject* ann_type = annotation_type(true);
  if (ann_type == nullptr || !add_attribute(module, "Annotation", ann_type)) return false;

  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return false;
  for (PyMethodDef& def : module_functions) {
    Ref function(PyCFunction_NewEx(&def, module, module_name.get()));
    if (!function) return false;
    // Underscored functions serve the package's own modules; not in __all__.
    const bool ok = def.ml_name[0] == '_'
                        ? PyObject_SetAttrString(module, def.ml_name, function.get()) == 0
                        : add_attribute(module, def.ml_name, function.get());
    if (!ok) return false;
  }

  for (int i = 0; i < kExceptionCount; ++i) {
    const Exc id = static_cast<Exc>(i);
    Ref cls = Ref::borrowed(exception_class(id));
    if (!cls || !add_attribute(module, exception_short_name(id), cls.get())) return false;
  }
  if (!add_exception_pickling(module)) return false;

  Ref version(PyUnicode_FromString("1.0.0"));
  if (!version || !add_attribute(module, "__version__", version.get())) return false;

  Ref format(PyCFunction_NewEx(&format_function, module, module_name.get()));
  if (!format || PyObject_SetAttrString(module, "format", format.get()) < 0) return false;
  Ref editor(new_editor_type());
  return editor && PyObject_SetAttrString(module, "Editor", editor.get()) == 0;
}

}  // namespace
}  // namespace brindle::py

PyMODINIT_FUNC PyInit__native(void) {
  using namespace brindle::py;
  return guarded([]() -> PyObject* {
    if (g_module != nullptr) {
      PyErr_SetString(PyExc_ImportError,
                      "brindle._native is already initialised in this process and cannot be "
                      "initialised again");
      return nullptr;
    }
    Ref module(PyModule_Create2(&module_def, PYTHON_ABI_VERSION));
    if (!module) return nullptr;
    if (!initialise(module.get())) return nullptr;  // drops the module, keeps the error
    g_module = Py_NewRef(module.get());
    return module.release();
  });
}
