// Guards for the C boundary of the binding: no C++ exception may unwind into
// the interpreter, and the C API's untyped function and keyword tables are
// filled through the casts below rather than at each use.
#pragma once

#include "py_ref.h"

#include <cstddef>
#include <exception>
#include <new>
#include <utility>

namespace brindle::py {

// Runs `body` and returns its result. The core does not throw for bad input,
// but allocation can: bad_alloc becomes MemoryError, any other exception a
// SystemError, and `failure` is returned with that error set.
template <class F>
auto guarded(F&& body, decltype(body()) failure) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unexpected native exception");
  }
  return failure;
}

// The same for bodies returning a new reference: nullptr on failure.
template <class F>
PyObject* guarded(F&& body) noexcept {
  return guarded(std::forward<F>(body), static_cast<PyObject*>(nullptr));
}

// Function pointers of every signature go through PyCFunction / void*.
template <class Fn>
PyCFunction as_cfunction(Fn fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}
template <class Fn>
void* as_slot(Fn fn) {
  return reinterpret_cast<void*>(fn);
}

// Keyword lists: the C API still takes char** before 3.13.
template <size_t N>
char** kwlist(const char* const (&names)[N]) {
  return const_cast<char**>(names);
}

}  // namespace brindle::py
