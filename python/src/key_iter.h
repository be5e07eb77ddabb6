// The class KeyIter: the iterator over a document's top-level keys. It owns a
// snapshot of the keys taken when iteration starts, so the document is not
// held; it cannot be constructed from Python.
#pragma once

#include "py_ref.h"

#include <memory>
#include <string>
#include <vector>

namespace brindle::py {

// Borrowed reference to the class, created on first use; nullptr with an
// error set.
PyObject* key_iter_type();

// A new iterator of class `type` (from key_iter_type) over `keys`; nullptr
// with an error set, the keys then released.
PyObject* new_key_iter(PyObject* type, std::unique_ptr<std::vector<std::string>> keys);

}  // namespace brindle::py
