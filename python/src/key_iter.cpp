#include "key_iter.h"

#include <cstdint>
#include <utility>

#include "convert.h"
#include "guard.h"
#include "heap_type.h"
#include "module.h"

namespace brindle::py {
namespace {

struct KeyIterObject {
  PyObject_HEAD
  std::vector<std::string>* keys;
  uint64_t position;
  BorrowFlag borrow;
};

void key_iter_dealloc(PyObject* self) {
  delete reinterpret_cast<KeyIterObject*>(self)->keys;
  free_instance(self);
}

PyObject* key_iter_next(PyObject* self) {
  auto* obj = reinterpret_cast<KeyIterObject*>(self);
  ExclusiveBorrow borrow(obj->borrow);
  if (!borrow.ok()) return nullptr;
  if (obj->position >= obj->keys->size()) return nullptr;  // exhausted, no error
  return to_str((*obj->keys)[obj->position++]);
}

PyType_Slot key_iter_slots[] = {
    {Py_tp_doc, const_cast<char*>("")},
    {Py_tp_new, as_slot(no_constructor)},
    {Py_tp_dealloc, as_slot(key_iter_dealloc)},
    {Py_tp_iter, as_slot(PyObject_SelfIter)},
    {Py_tp_iternext, as_slot(key_iter_next)},
    {0, nullptr},
};

// The iterator belongs to no module. Spelling that as "builtins." keeps the
// interpreter from warning that a type without a dot has no __module__; the
// class still shows as KeyIter.
PyType_Spec key_iter_spec = {
    "builtins.KeyIter",
    static_cast<int>(sizeof(KeyIterObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    key_iter_slots,
};

}  // namespace

PyObject* key_iter_type() { return lazy_type(g_key_iter_type, key_iter_spec, "KeyIter", false); }

PyObject* new_key_iter(PyObject* type, std::unique_ptr<std::vector<std::string>> keys) {
  PyObject* iter = alloc_instance(type);
  if (iter == nullptr) return nullptr;
  auto* obj = reinterpret_cast<KeyIterObject*>(iter);
  obj->keys = keys.release();
  obj->position = 0;
  obj->borrow = 0;
  return iter;
}

}  // namespace brindle::py
