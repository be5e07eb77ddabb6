#include "exception_pickle.h"

#include <cstring>

#include "exceptions.h"
#include "guard.h"
#include "module.h"

namespace brindle::py {
namespace {

constexpr const char* kRebuildName = "_rebuild_exception";

// The exception family's id of `type` exactly (not of a subclass); -1 if none.
int family_index(PyObject* type) {
  for (int i = 0; i < kExceptionCount; ++i) {
    if (g_exceptions[i] == type) return i;
  }
  return -1;
}

// BrindleError.__reduce__: (rebuild, (short name, args)[, state]) for the
// family's own classes, (type, args[, state]) for any other subclass, the
// state being the instance dict when it holds anything.
PyObject* exception_reduce(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    Ref args(PyObject_GetAttrString(self, "args"));
    if (!args) return nullptr;
    Ref state(PyObject_GetAttrString(self, "__dict__"));
    if (!state) return nullptr;
    const bool has_state = PyDict_Check(state.get()) && PyDict_Size(state.get()) > 0;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    Ref call;
    Ref call_args;
    const int index = family_index(type);
    if (index < 0) {
      call = Ref::borrowed(type);
      call_args = Ref::borrowed(args.get());
    } else {
      call.reset(PyObject_GetAttrString(g_module, kRebuildName));
      if (!call) return nullptr;
      call_args.reset(Py_BuildValue("(sO)", exception_short_name(static_cast<Exc>(index)), args.get()));
      if (!call_args) return nullptr;
    }
    if (has_state) return Py_BuildValue("(OOO)", call.get(), call_args.get(), state.get());
    return Py_BuildValue("(OO)", call.get(), call_args.get());
  });
}

// _rebuild_exception(name, args): the family's class `name` called with `args`.
PyObject* rebuild_exception(PyObject*, PyObject* arguments) {
  return guarded([&]() -> PyObject* {
    const char* name = nullptr;
    PyObject* args = nullptr;
    if (!PyArg_ParseTuple(arguments, "sO!", &name, &PyTuple_Type, &args)) return nullptr;
    for (int i = 0; i < kExceptionCount; ++i) {
      const Exc id = static_cast<Exc>(i);
      if (std::strcmp(name, exception_short_name(id)) != 0) continue;
      PyObject* cls = exception_class(id);
      return cls == nullptr ? nullptr : PyObject_Call(cls, args, nullptr);
    }
    PyErr_Format(PyExc_ValueError, "no brindle exception class named %s", name);
    return nullptr;
  });
}

PyMethodDef reduce_def = {"__reduce__", as_cfunction(exception_reduce), METH_NOARGS, nullptr};
PyMethodDef rebuild_def = {kRebuildName, as_cfunction(rebuild_exception), METH_VARARGS, nullptr};

}  // namespace

bool add_exception_pickling(PyObject* module) {
  PyObject* base = exception_class(Exc::Brindle);
  if (base == nullptr) return false;
  Ref method(PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(base), &reduce_def));
  if (!method || PyObject_SetAttrString(base, "__reduce__", method.get()) < 0) return false;
  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return false;
  Ref rebuild(PyCFunction_NewEx(&rebuild_def, module, module_name.get()));
  return rebuild && PyObject_SetAttrString(module, kRebuildName, rebuild.get()) == 0;
}

}  // namespace brindle::py
