// The class BrindleDocument: a parsed document, read-only from Python. It
// owns its core Document and lends it out under the instance's borrow flag;
// only the module creates instances.
#pragma once

#include "py_ref.h"

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "finding.h"
#include "guard.h"
#include "model.h"

namespace brindle {
class PatternCache;
}

namespace brindle::py {

struct DocumentObject {
  PyObject_HEAD
  Document* doc;
  BorrowFlag borrow;
  PyObject* source;  // the str it was parsed from, for positions; owned, may be nullptr
  // The compiled `@pattern`s of earlier validations; owned, made on first use.
  PatternCache* patterns;
};

// Validation findings of the document of `self` (`d`, lent by
// with_document). A small document is validated with the lock held and
// keeps its compiled patterns, when they are small, for the next call (the
// lock keeps calls apart); a large one is validated without the lock and
// compiles its own.
std::vector<Finding> document_validation(PyObject* self, std::string_view source, const Document& d);

// Borrowed reference to the class, created on first use; nullptr with an
// error set (see lazy_type for `at_init`).
PyObject* document_type(bool at_init = false);

// Moves a finished document into a new BrindleDocument, which keeps a
// reference to the str it was parsed from (nullptr: none); nullptr with an
// error set.
PyObject* new_document_object(Document document, PyObject* source = nullptr);
// The same for a document already on the heap, which the object takes as it
// is (no move); it is freed when the object cannot be made.
PyObject* new_document_object(std::unique_ptr<Document> document, PyObject* source);

// UTF-8 text of the source of a BrindleDocument (empty when it has none);
// false with an error set.
bool document_source(PyObject* self, std::string_view& out);

// True for an instance of the class (subclasses cannot exist).
bool is_document(PyObject* obj);

// Runs `body` on the document of `self` (a BrindleDocument) under a shared
// borrow and the native guard; `failure` with an error set when the document
// is being written or the body throws.
template <class F>
auto with_document(PyObject* self, F&& body, decltype(body(std::declval<const Document&>())) failure)
    -> decltype(body(std::declval<const Document&>())) {
  auto* obj = reinterpret_cast<DocumentObject*>(self);
  SharedBorrow borrow(obj->borrow);
  if (!borrow.ok()) return failure;
  return guarded([&] { return body(static_cast<const Document&>(*obj->doc)); }, failure);
}

// The same for bodies returning a new reference: nullptr on failure.
template <class F>
PyObject* with_document(PyObject* self, F&& body) {
  return with_document(self, std::forward<F>(body), static_cast<PyObject*>(nullptr));
}

}  // namespace brindle::py
