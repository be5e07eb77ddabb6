// The exception family of brindle._native: BrindleError (an Exception) and
// its subclasses ParseError, ValidationError and VariableError. Each class is
// created on first use and kept for the life of the process. The raise
// helpers return with a Python error set in every case: the intended one, or
// the one that kept it from being built.
#pragma once

#include "py_ref.h"

#include <string_view>

#include "model.h"

namespace brindle::py {

enum class Exc { Brindle = 0, Parse = 1, Validation = 2, Variable = 3 };
inline constexpr int kExceptionCount = 4;

// The attribute name of the class in the module ("ParseError").
const char* exception_short_name(Exc id);

// Borrowed reference to the class; nullptr with an error set when it cannot
// be created.
PyObject* exception_class(Exc id);

// Raises `id` with the message as its single argument.
void raise(Exc id, std::string_view message);

// A new, unraised instance of `id` with the message as its single argument;
// nullptr with an error set.
PyObject* make_exception(Exc id, std::string_view message);

// Raises the parse error for `diagnostic` found in `source` (VariableError for
// an unresolved variable, ParseError otherwise): the message with its
// position, plus integer attributes lineno and colno for tools.
void raise_parse_error(const Diagnostic& diagnostic, std::string_view source);

}  // namespace brindle::py
