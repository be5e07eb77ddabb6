#include "heap_type.h"

namespace brindle::py {

PyObject* alloc_instance(PyObject* type) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(as_type(type), Py_tp_alloc));
  return alloc(as_type(type), 0);
}

void free_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
  Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
  if (!name) return nullptr;
  PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
  return nullptr;
}

PyObject* lazy_type(PyObject*& slot, PyType_Spec& spec, const char* class_name, bool at_init) {
  if (slot != nullptr) return slot;
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr) {
    if (!at_init) {
      PyErr_Print();
      PyErr_Format(PyExc_SystemError, "failed to create type object for %s", class_name);
    }
    return nullptr;
  }
  if (slot != nullptr) {
    Py_DECREF(type);
  } else {
    slot = type;
  }
  return slot;
}

}  // namespace brindle::py
