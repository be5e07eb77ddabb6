#include "annotation.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "convert.h"
#include "display.h"
#include "guard.h"
#include "heap_type.h"
#include "module.h"

namespace brindle::py {
namespace {

struct AnnotationObject {
  PyObject_HEAD
  Annotation* record;
  BorrowFlag borrow;
};

// The argument of a constructed annotation, by the first test that succeeds.
bool arg_from_py(PyObject* arg, AnnotationArg& out) {
  if (arg == nullptr || arg == Py_None) {
    out = std::monostate{};
    return true;
  }
  if (PyUnicode_Check(arg)) {
    std::string_view text;
    if (!utf8_view(arg, text)) return false;
    out = std::string(text);
    return true;
  }
  int64_t i;
  if (integer_test(arg, i)) {
    out = i;
    return true;
  }
  double d;
  if (float_test(arg, d)) {
    out = d;
    return true;
  }
  if (PySequence_Check(arg)) {
    std::vector<std::string> items;
    const Py_ssize_t hint = PySequence_Size(arg);
    if (hint > 0) {
      items.reserve(static_cast<size_t>(hint));
    } else if (hint < 0) {
      PyErr_Clear();
    }
    bool all_text = true;
    Ref iter(PyObject_GetIter(arg));
    if (!iter) all_text = false;
    while (all_text) {
      Ref item(PyIter_Next(iter.get()));
      if (!item) {
        if (PyErr_Occurred()) all_text = false;
        break;
      }
      std::string_view text;
      if (!PyUnicode_Check(item.get()) || !utf8_view(item.get(), text)) {
        all_text = false;
        break;
      }
      items.emplace_back(text);
    }
    if (all_text) {
      out = std::move(items);
      return true;
    }
    PyErr_Clear();
  }
  Ref str(PyObject_Str(arg));
  if (!str) return false;
  std::string_view text;
  if (!utf8_view(str.get(), text)) return false;
  out = std::string(text);
  return true;
}

// Wraps a copy of `record` in a new Annotation object.
PyObject* new_annotation_object(PyObject* type, Annotation record) {
  auto* owned = new Annotation(std::move(record));
  PyObject* self = alloc_instance(type);
  if (self == nullptr) {
    delete owned;
    return nullptr;
  }
  auto* obj = reinterpret_cast<AnnotationObject*>(self);
  obj->record = owned;
  obj->borrow = 0;
  return self;
}

PyObject* annotation_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"name", "arg", nullptr};
  PyObject* name = nullptr;
  PyObject* arg = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:Annotation", kwlist(names), &name, &arg)) {
    return nullptr;
  }
  if (!require_str(name, "name")) return nullptr;
  return guarded([&]() -> PyObject* {
    Annotation record;
    std::string_view name_text;
    if (!utf8_view(name, name_text)) return nullptr;
    record.name = std::string(name_text);
    if (!arg_from_py(arg, record.arg)) return nullptr;
    return new_annotation_object(reinterpret_cast<PyObject*>(type), std::move(record));
  });
}

void annotation_dealloc(PyObject* self) {
  delete reinterpret_cast<AnnotationObject*>(self)->record;
  free_instance(self);
}

// Runs `body` on the record under a shared borrow.
template <class F>
PyObject* with_annotation(PyObject* self, F&& body) {
  auto* obj = reinterpret_cast<AnnotationObject*>(self);
  SharedBorrow borrow(obj->borrow);
  if (!borrow.ok()) return nullptr;
  return guarded([&] { return body(static_cast<const Annotation&>(*obj->record)); });
}

PyObject* annotation_get_name(PyObject* self, void*) {
  return with_annotation(self, [](const Annotation& a) { return to_str(a.name); });
}

PyObject* annotation_get_arg(PyObject* self, void*) {
  return with_annotation(self, [](const Annotation& a) -> PyObject* {
    switch (arg_kind(a.arg)) {
      case ArgKind::None:
        Py_RETURN_NONE;
      case ArgKind::Text:
        return to_str(get<std::string>(a.arg));
      case ArgKind::Integer:
        return PyLong_FromLongLong(get<int64_t>(a.arg));
      case ArgKind::Float:
        return PyFloat_FromDouble(get<double>(a.arg));
      case ArgKind::List: {
        const auto& items = get<std::vector<std::string>>(a.arg);
        Ref list(PyList_New(static_cast<Py_ssize_t>(items.size())));
        if (!list) return nullptr;
        Py_ssize_t i = 0;
        for (const auto& item : items) {
          PyObject* s = to_str(item);
          if (s == nullptr) return nullptr;
          PyList_SetItem(list.get(), i++, s);
        }
        return list.release();
      }
    }
    Py_RETURN_NONE;
  });
}

template <bool (*Predicate)(std::string_view)>
PyObject* annotation_category(PyObject* self, void*) {
  return with_annotation(self, [](const Annotation& a) { return PyBool_FromLong(Predicate(a.name)); });
}

std::string annotation_text(const Annotation& a) {
  std::string out = std::string("@") + a.name;
  switch (arg_kind(a.arg)) {
    case ArgKind::None:
      break;
    case ArgKind::Text:
      out += ": " + get<std::string>(a.arg);
      break;
    case ArgKind::Integer:
      out += ": " + decimal_form(get<int64_t>(a.arg));
      break;
    case ArgKind::Float:
      out += ": " + shortest_form(get<double>(a.arg));
      break;
    case ArgKind::List: {
      out += ": [";
      bool first = true;
      for (const auto& item : get<std::vector<std::string>>(a.arg)) {
        if (!first) out += ", ";
        out += item;
        first = false;
      }
      out += "]";
      break;
    }
  }
  return out;
}

std::string annotation_debug(const Annotation& a) {
  std::string out = "Annotation(" + debug_string(a.name) + ", ";
  switch (arg_kind(a.arg)) {
    case ArgKind::None:
      out += "None";
      break;
    case ArgKind::Text:
      out += debug_string(get<std::string>(a.arg));
      break;
    case ArgKind::Integer:
      out += decimal_form(get<int64_t>(a.arg));
      break;
    case ArgKind::Float:
      out += shortest_form(get<double>(a.arg));
      break;
    case ArgKind::List: {
      out += "[";
      bool first = true;
      for (const auto& item : get<std::vector<std::string>>(a.arg)) {
        if (!first) out += ", ";
        out += debug_string(item);
        first = false;
      }
      out += "]";
      break;
    }
  }
  out += ")";
  return out;
}

PyObject* annotation_str(PyObject* self) {
  return with_annotation(self, [](const Annotation& a) { return to_str(annotation_text(a)); });
}

PyObject* annotation_repr(PyObject* self) {
  return with_annotation(self, [](const Annotation& a) { return to_str(annotation_debug(a)); });
}

bool is_annotation(PyObject* obj) {
  return g_annotation_type != nullptr && Py_TYPE(obj) == as_type(g_annotation_type);
}

PyObject* annotation_richcompare(PyObject* self, PyObject* other, int op) {
  switch (op) {
    case Py_EQ: {
      if (!is_annotation(other)) Py_RETURN_NOTIMPLEMENTED;
      auto* rhs = reinterpret_cast<AnnotationObject*>(other);
      SharedBorrow rhs_borrow(rhs->borrow);
      if (!rhs_borrow.ok()) return nullptr;
      return with_annotation(self, [&](const Annotation& a) {
        const Annotation& b = *rhs->record;
        // Positions are not part of an annotation's identity. Comparing the
        // variants compares the kinds first, then floats by IEEE ==.
        return PyBool_FromLong(a.name == b.name && a.arg == b.arg);
      });
    }
    case Py_NE: {
      Ref eq(PyObject_RichCompare(self, other, Py_EQ));
      if (!eq) return nullptr;
      const int truth = PyObject_IsTrue(eq.get());
      if (truth < 0) return nullptr;
      return PyBool_FromLong(!truth);
    }
    case Py_LT:
    case Py_LE:
    case Py_GT:
    case Py_GE:
      Py_RETURN_NOTIMPLEMENTED;
    default:
      PyErr_SetString(PyExc_SystemError, "invalid compareop");
      return nullptr;
  }
}

PyGetSetDef annotation_getset[] = {
    {"name", annotation_get_name, nullptr, nullptr, nullptr},
    {"arg", annotation_get_arg, nullptr, nullptr, nullptr},
    {"is_metadata", annotation_category<is_metadata>, nullptr, nullptr, nullptr},
    {"is_validation", annotation_category<is_validation>, nullptr, nullptr, nullptr},
    {"is_type_hint", annotation_category<is_type_hint>, nullptr, nullptr, nullptr},
    {"is_tag", annotation_category<is_tag>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot annotation_slots[] = {
    {Py_tp_doc, const_cast<char*>("Annotation(name, arg=None)\n--\n\n")},
    {Py_tp_new, as_slot(annotation_new)},
    {Py_tp_dealloc, as_slot(annotation_dealloc)},
    {Py_tp_repr, as_slot(annotation_repr)},
    {Py_tp_str, as_slot(annotation_str)},
    {Py_tp_richcompare, as_slot(annotation_richcompare)},
    // Equality without hashing: instances are unhashable.
    {Py_tp_hash, as_slot(PyObject_HashNotImplemented)},
    {Py_tp_getset, annotation_getset},
    {0, nullptr},
};

PyType_Spec annotation_spec = {
    "brindle._native.Annotation",
    static_cast<int>(sizeof(AnnotationObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    annotation_slots,
};

// Wraps a copy of `record` in a new object of the shared class.
PyObject* annotation_object(const Annotation& record) {
  PyObject* type = annotation_type();
  if (type == nullptr) return nullptr;
  return new_annotation_object(type, record);
}

}  // namespace

PyObject* annotation_type(bool at_init) {
  return lazy_type(g_annotation_type, annotation_spec, "Annotation", at_init);
}

PyObject* annotation_list(const AnnotationList* records) {
  const size_t n = records == nullptr ? 0 : records->size();
  Ref list(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list || n == 0) return list.release();
  Py_ssize_t i = 0;
  for (const Annotation& record : *records) {
    PyObject* obj = annotation_object(record);
    if (obj == nullptr) return nullptr;
    PyList_SetItem(list.get(), i++, obj);
  }
  return list.release();
}

}  // namespace brindle::py
