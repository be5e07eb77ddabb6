// Small RAII helpers for the CPython boundary: an owning object reference and
// the per-instance borrow counter.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace brindle::py {

// Owns one strong reference (or nothing) and releases it on scope exit, so
// that every early return on an error path drops what it holds.
class Ref {
 public:
  Ref() = default;
  // Takes over a new reference; nullptr is allowed (a failed call).
  explicit Ref(PyObject* owned) : p_(owned) {}
  // Adds a reference to a borrowed object.
  static Ref borrowed(PyObject* obj) {
    Py_XINCREF(obj);
    return Ref(obj);
  }

  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(p_, nullptr); }
  void reset(PyObject* owned = nullptr) {
    PyObject* old = std::exchange(p_, owned);
    Py_XDECREF(old);
  }

 private:
  PyObject* p_ = nullptr;
};

// Borrow counter of one instance: > 0 readers, -1 one writer, 0 free. Every
// method holds a guard for its whole run; since everything runs under the
// interpreter lock, a conflict can only come from re-entrant Python code.
using BorrowFlag = Py_ssize_t;

class SharedBorrow {
 public:
  explicit SharedBorrow(BorrowFlag& flag) : flag_(flag) {
    if (flag_ < 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return;
    }
    ++flag_;
    held_ = true;
  }
  ~SharedBorrow() {
    if (held_) --flag_;
  }
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  // False with a RuntimeError set when the object is being written.
  bool ok() const { return held_; }

 private:
  BorrowFlag& flag_;
  bool held_ = false;
};

class ExclusiveBorrow {
 public:
  explicit ExclusiveBorrow(BorrowFlag& flag) : flag_(flag) {
    if (flag_ != 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
      return;
    }
    flag_ = -1;
    held_ = true;
  }
  ~ExclusiveBorrow() {
    if (held_) flag_ = 0;
  }
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
  bool ok() const { return held_; }

 private:
  BorrowFlag& flag_;
  bool held_ = false;
};

}  // namespace brindle::py
