// Gives up the interpreter lock for core work that touches no Python object
// (building, validating or serializing a Document), so other threads run
// meanwhile. The lock is taken back when the scope ends, also when an
// exception leaves it, so callers translate exceptions with the lock held.
// `relock()`/`unlock()` take it back briefly inside the scope, around a read
// that Python code may be changing (the process environment).
#pragma once

#include "py_ref.h"

#include <cstddef>
#include <optional>

namespace brindle::py {

// Below this many bytes of source the core work takes microseconds: less
// than handing the lock over and waiting to get it back from a busy thread.
inline constexpr size_t kUnlockFrom = 16 * 1024;

class Unlocked {
 public:
  Unlocked() : state_(PyEval_SaveThread()) {}
  ~Unlocked() {
    if (state_ != nullptr) PyEval_RestoreThread(state_);
  }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

  void relock() {
    PyEval_RestoreThread(state_);
    state_ = nullptr;
  }
  void unlock() { state_ = PyEval_SaveThread(); }

 private:
  PyThreadState* state_;
};

// Releases the lock in `scope` only for work on at least kUnlockFrom bytes;
// the pointer is null when the lock stays held.
inline Unlocked* unlock_for(std::optional<Unlocked>& scope, size_t bytes) {
  if (bytes < kUnlockFrom) return nullptr;
  return &scope.emplace();
}

}  // namespace brindle::py
