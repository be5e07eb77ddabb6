#include "exceptions.h"

#include <iterator>
#include <string>

#include "module.h"
#include "span.h"

namespace brindle::py {
namespace {

static_assert(std::size(g_exceptions) == kExceptionCount);

// Qualified names use "brindle_native", not the import path.
constexpr const char* kExceptionNames[kExceptionCount] = {
    "brindle_native.BrindleError",
    "brindle_native.ParseError",
    "brindle_native.ValidationError",
    "brindle_native.VariableError",
};
constexpr const char* kExceptionShortNames[kExceptionCount] = {"BrindleError", "ParseError",
                                                               "ValidationError", "VariableError"};

// Messages quote source text; a stray byte must not turn the intended error
// into a decoding error, so they are decoded leniently.
PyObject* message_str(std::string_view message) {
  return PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
}

}  // namespace

const char* exception_short_name(Exc id) { return kExceptionShortNames[static_cast<int>(id)]; }

PyObject* exception_class(Exc id) {
  PyObject*& slot = g_exceptions[static_cast<int>(id)];
  if (slot != nullptr) return slot;
  Ref base;
  if (id == Exc::Brindle) {
    base = Ref::borrowed(PyExc_Exception);
  } else {
    PyObject* root = exception_class(Exc::Brindle);
    if (root == nullptr) return nullptr;
    base = Ref::borrowed(root);
  }
  PyObject* cls = PyErr_NewExceptionWithDoc(kExceptionNames[static_cast<int>(id)], nullptr,
                                            base.get(), nullptr);
  if (cls == nullptr) {
    PyErr_SetString(PyExc_SystemError, "Failed to initialize new exception type.");
    return nullptr;
  }
  if (slot != nullptr) {
    Py_DECREF(cls);  // filled meanwhile: keep the first one
  } else {
    slot = cls;
  }
  return slot;
}

void raise(Exc id, std::string_view message) {
  PyObject* cls = exception_class(id);
  if (cls == nullptr) return;
  Ref text(message_str(message));
  if (!text) return;
  PyErr_SetObject(cls, text.get());
}

PyObject* make_exception(Exc id, std::string_view message) {
  PyObject* cls = exception_class(id);
  if (cls == nullptr) return nullptr;
  Ref text(message_str(message));
  if (!text) return nullptr;
  return PyObject_CallFunctionObjArgs(cls, text.get(), nullptr);
}

void raise_parse_error(const Diagnostic& diagnostic, std::string_view source) {
  const LineColumn at = LineIndex(source).locate(diagnostic.span.start);
  const Exc id = diagnostic.kind == DiagnosticKind::Variable ? Exc::Variable : Exc::Parse;
  std::string message = diagnostic.message;
  message += " (line " + std::to_string(at.line) + ", col " + std::to_string(at.column) + ")";
  Ref error(make_exception(id, message));
  if (!error) return;
  Ref line(PyLong_FromUnsignedLongLong(at.line));
  Ref column(PyLong_FromUnsignedLongLong(at.column));
  if (!line || !column) return;
  if (PyObject_SetAttrString(error.get(), "lineno", line.get()) < 0 ||
      PyObject_SetAttrString(error.get(), "colno", column.get()) < 0) {
    return;
  }
  PyErr_SetObject(exception_class(id), error.get());
}

}  // namespace brindle::py
