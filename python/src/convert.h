// Conversion between core values and Python objects, and the small argument
// checks shared by every entry point of the module.
#pragma once

#include "py_ref.h"

#include <string_view>

#include "builder.h"
#include "model.h"
#include "value_parser.h"

namespace brindle::py {

// Python data handed to `dumps` may be nested at most this many containers
// deep, the root included; deeper data raises RecursionError instead of
// exhausting the native stack. It is as deep as a parsed config can be: the
// root, the deepest section path, a block, and a value nested as deep as the
// parser allows. (Whether the data fits the written layout is the
// serializer's to say.)
inline constexpr int kMaxPythonNesting =
    1 + static_cast<int>(kMaxSectionDepth) + 1 + kMaxValueDepth;

// Values of a parsed document are bounded by the parser, but section paths add
// one Dict per segment; this bound only guards the native stack.
inline constexpr int kMaxValueNesting = 1024;

// New reference, or nullptr with a Python error set (RecursionError beyond
// kMaxValueNesting, UnicodeDecodeError for text that is not UTF-8).
PyObject* value_to_py(const Value& value);
// The same for a bare map (the root table, the variables).
PyObject* dict_to_py(const Dict& dict);

// Converts a borrowed object; false with a Python error set on failure, in
// which case `out` is unspecified.
bool py_to_value(PyObject* obj, Value& out);
// The same for a dict (or subclass) taken as a dict whatever else it
// supports: the root table handed to `dumps`.
bool py_dict_to_value(PyObject* dict, Dict& out);

// The numeric tests of the conversion order, shared with the Annotation
// constructor. False (with no error pending) when the test does not apply:
// integers go through int itself or __index__ and must fit 64 bits; floats
// through PyFloat_AsDouble.
bool integer_test(PyObject* obj, int64_t& out);
bool float_test(PyObject* obj, double& out);

// A str from UTF-8 bytes; nullptr with UnicodeDecodeError for invalid bytes.
inline PyObject* to_str(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// New reference to the __qualname__ of the object's type (never nullptr
// unless memory runs out).
PyObject* type_qualname(PyObject* obj);

// True for a str (or subclass); otherwise sets TypeError naming the argument.
bool require_str(PyObject* obj, const char* arg_name);

// UTF-8 view of a str, valid while the str lives; false with the encoder's
// error set for a str that cannot be encoded.
bool utf8_view(PyObject* str, std::string_view& out);

// Both of the above: a str argument read as UTF-8, the TypeError naming it.
bool text_arg(PyObject* obj, const char* arg_name, std::string_view& out);

}  // namespace brindle::py
