// The extension module brindle._native: module initialisation, the exception
// family, the classes BrindleDocument, Annotation and KeyIter, and the module
// functions parse, validate, validate_all and dumps.
//
// Written against the limited C API only (the module is built once for every
// interpreter that offers the 3.10 stable ABI). The only static state is the
// set of process-wide slots below, each written once under the interpreter
// lock and never freed.
#include "py_ref.h"

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "annotation.h"
#include "builder.h"
#include "convert.h"
#include "display.h"
#include "model.h"
#include "serializer.h"
#include "span.h"
#include "text.h"
#include "validator.h"

namespace brindle::py {
namespace {

// ---------------------------------------------------------------------------
// Process-wide slots

PyObject* g_module = nullptr;
PyObject* g_document_type = nullptr;
PyObject* g_annotation_type = nullptr;
PyObject* g_key_iter_type = nullptr;

enum class Exc { Brindle = 0, Parse = 1, Validation = 2, Variable = 3 };
PyObject* g_exceptions[4] = {nullptr, nullptr, nullptr, nullptr};
// Qualified names use "brindle_native", not the import path.
constexpr const char* kExceptionNames[4] = {
    "brindle_native.BrindleError",
    "brindle_native.ParseError",
    "brindle_native.ValidationError",
    "brindle_native.VariableError",
};
constexpr const char* kExceptionShortNames[4] = {"BrindleError", "ParseError", "ValidationError",
                                                 "VariableError"};

// ---------------------------------------------------------------------------
// Guarded region: the core does not throw for bad input, but allocation can;
// no C++ exception may unwind into the interpreter.

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

// ---------------------------------------------------------------------------
// Exceptions

// Borrowed reference to the class, created on first use; nullptr with an
// error set when it cannot be created.
PyObject* exception_class(Exc id) {
  PyObject*& slot = g_exceptions[static_cast<int>(id)];
  if (slot != nullptr) return slot;
  Ref base;
  if (id == Exc::Brindle) {
    base = Ref::borrowed(PyExc_Exception);
  } else {
    PyObject* root = exception_class(Exc::Brindle);
    if (root == nullptr) return nullptr;
    base = Ref::borrowed(root);
  }
  PyObject* cls = PyErr_NewExceptionWithDoc(kExceptionNames[static_cast<int>(id)], nullptr,
                                            base.get(), nullptr);
  if (cls == nullptr) {
    PyErr_SetString(PyExc_SystemError, "Failed to initialize new exception type.");
    return nullptr;
  }
  if (slot != nullptr) {
    Py_DECREF(cls);  // filled meanwhile: keep the first one
  } else {
    slot = cls;
  }
  return slot;
}

// Messages quote source text; a stray byte must not turn the intended error
// into a decoding error, so they are decoded leniently.
PyObject* message_str(std::string_view message) {
  return PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
}

// Raises `id` with the message as its single argument.
void raise(Exc id, std::string_view message) {
  PyObject* cls = exception_class(id);
  if (cls == nullptr) return;
  Ref text(message_str(message));
  if (!text) return;
  PyErr_SetObject(cls, text.get());
}

// A new, unraised instance of `id` with the message as its single argument.
PyObject* make_exception(Exc id, std::string_view message) {
  PyObject* cls = exception_class(id);
  if (cls == nullptr) return nullptr;
  Ref text(message_str(message));
  if (!text) return nullptr;
  return PyObject_CallFunctionObjArgs(cls, text.get(), nullptr);
}

// ---------------------------------------------------------------------------
// Instances

struct DocumentObject {
  PyObject_HEAD
  Document* doc;
  BorrowFlag borrow;
};

struct AnnotationObject {
  PyObject_HEAD
  Annotation* record;
  BorrowFlag borrow;
};

struct KeyIterObject {
  PyObject_HEAD
  std::vector<std::string>* keys;
  uint64_t position;
  BorrowFlag borrow;
};

PyTypeObject* as_type(PyObject* t) { return reinterpret_cast<PyTypeObject*>(t); }

// Allocates a zeroed instance of a heap type.
PyObject* alloc_instance(PyObject* type) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(as_type(type), Py_tp_alloc));
  return alloc(as_type(type), 0);
}

// Releases the instance memory and the reference every heap-type instance
// holds on its type.
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

// Creates the type in `slot` on first use. During module initialisation the
// interpreter's own error is what the import reports; later, it is printed
// and replaced by an error naming the class.
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

PyObject* document_type(bool at_init = false);
PyObject* annotation_type(bool at_init = false);
PyObject* key_iter_type();

// ---------------------------------------------------------------------------
// Annotation class

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

PyObject* annotation_object(const Annotation& record) {
  PyObject* type = annotation_type();
  if (type == nullptr) return nullptr;
  return new_annotation_object(type, record);
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
        return to_str(std::get<std::string>(a.arg));
      case ArgKind::Integer:
        return PyLong_FromLongLong(std::get<int64_t>(a.arg));
      case ArgKind::Float:
        return PyFloat_FromDouble(std::get<double>(a.arg));
      case ArgKind::List: {
        const auto& items = std::get<std::vector<std::string>>(a.arg);
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
  std::string out = "@" + a.name;
  switch (arg_kind(a.arg)) {
    case ArgKind::None:
      break;
    case ArgKind::Text:
      out += ": " + std::get<std::string>(a.arg);
      break;
    case ArgKind::Integer:
      out += ": " + decimal_form(std::get<int64_t>(a.arg));
      break;
    case ArgKind::Float:
      out += ": " + shortest_form(std::get<double>(a.arg));
      break;
    case ArgKind::List: {
      out += ": [";
      bool first = true;
      for (const auto& item : std::get<std::vector<std::string>>(a.arg)) {
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
      out += debug_string(std::get<std::string>(a.arg));
      break;
    case ArgKind::Integer:
      out += decimal_form(std::get<int64_t>(a.arg));
      break;
    case ArgKind::Float:
      out += shortest_form(std::get<double>(a.arg));
      break;
    case ArgKind::List: {
      out += "[";
      bool first = true;
      for (const auto& item : std::get<std::vector<std::string>>(a.arg)) {
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

PyObject* annotation_type(bool at_init) {
  return lazy_type(g_annotation_type, annotation_spec, "Annotation", at_init);
}

// A new list of new Annotation objects, one per record.
PyObject* annotation_list(const std::vector<Annotation>* records) {
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

// ---------------------------------------------------------------------------
// KeyIter class

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

PyObject* key_iter_type() { return lazy_type(g_key_iter_type, key_iter_spec, "KeyIter", false); }

// ---------------------------------------------------------------------------
// BrindleDocument class

void document_dealloc(PyObject* self) {
  delete reinterpret_cast<DocumentObject*>(self)->doc;
  free_instance(self);
}

// Moves a finished document into a new BrindleDocument.
PyObject* new_document_object(Document document) {
  PyObject* type = document_type();
  if (type == nullptr) return nullptr;
  auto* owned = new Document(std::move(document));
  PyObject* self = alloc_instance(type);
  if (self == nullptr) {
    delete owned;
    return nullptr;
  }
  auto* obj = reinterpret_cast<DocumentObject*>(self);
  obj->doc = owned;
  obj->borrow = 0;
  return self;
}

bool is_document(PyObject* obj) {
  return g_document_type != nullptr && Py_TYPE(obj) == as_type(g_document_type);
}

// Runs `body` on the document under a shared borrow.
template <class F>
auto with_document(PyObject* self, F&& body, decltype(body(std::declval<const Document&>())) failure)
    -> decltype(body(std::declval<const Document&>())) {
  auto* obj = reinterpret_cast<DocumentObject*>(self);
  SharedBorrow borrow(obj->borrow);
  if (!borrow.ok()) return failure;
  return guarded([&] { return body(static_cast<const Document&>(*obj->doc)); }, failure);
}

template <class F>
PyObject* with_document(PyObject* self, F&& body) {
  return with_document(self, std::forward<F>(body), static_cast<PyObject*>(nullptr));
}

// Reads a str argument as UTF-8, naming the argument in the TypeError.
bool text_arg(PyObject* obj, const char* name, std::string_view& out) {
  return require_str(obj, name) && utf8_view(obj, out);
}

PyObject* pair(PyObject* first, PyObject* second) {
  Ref a(first);
  Ref b(second);
  if (!a || !b) return nullptr;
  PyObject* tuple = PyTuple_New(2);
  if (tuple == nullptr) return nullptr;
  PyTuple_SetItem(tuple, 0, a.release());
  PyTuple_SetItem(tuple, 1, b.release());
  return tuple;
}

PyObject* document_get(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"key", "default", nullptr};
  PyObject* key = nullptr;
  PyObject* fallback = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:get", kwlist(names), &key, &fallback)) {
    return nullptr;
  }
  std::string_view k;
  if (!text_arg(key, "key", k)) return nullptr;
  return with_document(self, [&](const Document& d) -> PyObject* {
    auto it = d.config.find(k);
    if (it == d.config.end()) return Py_NewRef(fallback);
    return value_to_py(it->second);
  });
}

PyObject* document_keys(PyObject* self, PyObject*) {
  return with_document(self, [](const Document& d) -> PyObject* {
    Ref list(PyList_New(static_cast<Py_ssize_t>(d.config.size())));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (const auto& entry : d.config) {
      PyObject* key = to_str(entry.first);
      if (key == nullptr) return nullptr;
      PyList_SetItem(list.get(), i++, key);
    }
    return list.release();
  });
}

PyObject* document_values(PyObject* self, PyObject*) {
  return with_document(self, [](const Document& d) -> PyObject* {
    Ref list(PyList_New(static_cast<Py_ssize_t>(d.config.size())));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (const auto& entry : d.config) {
      PyObject* value = value_to_py(entry.second);
      if (value == nullptr) return nullptr;
      PyList_SetItem(list.get(), i++, value);
    }
    return list.release();
  });
}

PyObject* document_items(PyObject* self, PyObject*) {
  return with_document(self, [](const Document& d) -> PyObject* {
    Ref list(PyList_New(static_cast<Py_ssize_t>(d.config.size())));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (const auto& entry : d.config) {
      PyObject* item = pair(to_str(entry.first), value_to_py(entry.second));
      if (item == nullptr) return nullptr;
      PyList_SetItem(list.get(), i++, item);
    }
    return list.release();
  });
}

PyObject* document_get_config(PyObject* self, void*) {
  return with_document(self, [](const Document& d) { return dict_to_py(d.config); });
}

PyObject* document_get_vars(PyObject* self, void*) {
  return with_document(self, [](const Document& d) { return dict_to_py(d.vars); });
}

PyObject* document_get_meta(PyObject* self, void*) {
  return with_document(self, [](const Document& d) -> PyObject* {
    Ref meta(PyDict_New());
    if (!meta) return nullptr;
    for (const auto& [path, records] : d.annotations) {
      Ref key(to_str(path));
      if (!key) return nullptr;
      Ref list(annotation_list(&records));
      if (!list) return nullptr;
      if (PyDict_SetItem(meta.get(), key.get(), list.get()) < 0) return nullptr;
    }
    return meta.release();
  });
}

// The value at a dotted path: every point separates segments, empty segments
// included; arrays are never indexed.
const Value* resolve_path(const Document& d, std::string_view path) {
  const Dict* current = &d.config;
  const Value* found = nullptr;
  for (;;) {
    const size_t dot = path.find('.');
    const std::string_view segment = path.substr(0, dot);
    auto it = current->find(segment);
    if (it == current->end()) return nullptr;
    found = &it->second;
    if (dot == std::string_view::npos) return found;
    if (!found->is(Tag::Dict)) return nullptr;
    current = &found->as_dict();
    path.remove_prefix(dot + 1);
  }
}

PyObject* document_resolve(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"key_path", "default", nullptr};
  PyObject* key_path = nullptr;
  PyObject* fallback = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:resolve", kwlist(names), &key_path,
                                   &fallback)) {
    return nullptr;
  }
  std::string_view path;
  if (!text_arg(key_path, "key_path", path)) return nullptr;
  return with_document(self, [&](const Document& d) -> PyObject* {
    const Value* value = resolve_path(d, path);
    if (value == nullptr) return Py_NewRef(fallback);
    return value_to_py(*value);
  });
}

PyObject* document_annotations(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"key_path", nullptr};
  PyObject* key_path = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:annotations", kwlist(names), &key_path)) {
    return nullptr;
  }
  std::string_view path;
  if (!text_arg(key_path, "key_path", path)) return nullptr;
  return with_document(self, [&](const Document& d) { return annotation_list(d.annotations.find(path)); });
}

PyObject* document_has_annotation(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"key_path", "name", nullptr};
  PyObject* key_path = nullptr;
  PyObject* name = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:has_annotation", kwlist(names), &key_path,
                                   &name)) {
    return nullptr;
  }
  std::string_view path;
  std::string_view wanted;
  if (!text_arg(key_path, "key_path", path) || !text_arg(name, "name", wanted)) return nullptr;
  return with_document(self, [&](const Document& d) -> PyObject* {
    if (const auto* records = d.annotations.find(path)) {
      for (const Annotation& a : *records) {
        if (a.name == wanted) Py_RETURN_TRUE;
      }
    }
    Py_RETURN_FALSE;
  });
}

// `@tag: key=value`: the key trimmed; the value trimmed, then stripped of
// every leading and trailing double quote. Other annotations have no pair.
std::optional<std::pair<std::string_view, std::string_view>> split_tag_arg(const Annotation& a) {
  if (a.name != "tag") return std::nullopt;
  const auto* text = std::get_if<std::string>(&a.arg);
  if (text == nullptr) return std::nullopt;
  const std::string_view whole(*text);
  const size_t eq = whole.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const std::string_view key = trim(whole.substr(0, eq));
  std::string_view value = trim(whole.substr(eq + 1));
  while (!value.empty() && value.front() == '"') value.remove_prefix(1);
  while (!value.empty() && value.back() == '"') value.remove_suffix(1);
  return std::make_pair(key, value);
}

PyObject* document_tags(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"key_path", nullptr};
  PyObject* key_path = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:tags", kwlist(names), &key_path)) {
    return nullptr;
  }
  std::string_view path;
  if (!text_arg(key_path, "key_path", path)) return nullptr;
  return with_document(self, [&](const Document& d) -> PyObject* {
    Ref tags(PyDict_New());
    if (!tags) return nullptr;
    const auto* records = d.annotations.find(path);
    if (records == nullptr) return tags.release();
    for (const Annotation& a : *records) {
      const auto tag = split_tag_arg(a);
      if (!tag) continue;
      Ref key(to_str(tag->first));
      Ref value(to_str(tag->second));
      if (!key || !value) return nullptr;
      if (PyDict_SetItem(tags.get(), key.get(), value.get()) < 0) return nullptr;
    }
    return tags.release();
  });
}

PyObject* document_required_keys(PyObject* self, PyObject*) {
  return with_document(self, [](const Document& d) -> PyObject* {
    Ref list(PyList_New(0));
    if (!list) return nullptr;
    for (const auto& [path, records] : d.annotations) {
      for (const Annotation& a : records) {
        if (a.name != "required") continue;
        Ref key(to_str(path));
        if (!key || PyList_Append(list.get(), key.get()) < 0) return nullptr;
        break;  // each path once
      }
    }
    return list.release();
  });
}

PyObject* document_deprecated_keys(PyObject* self, PyObject*) {
  return with_document(self, [](const Document& d) -> PyObject* {
    Ref list(PyList_New(0));
    if (!list) return nullptr;
    for (const auto& [path, records] : d.annotations) {
      for (const Annotation& a : records) {
        if (a.name != "deprecated") continue;
        const auto* text = std::get_if<std::string>(&a.arg);
        Ref entry(pair(to_str(path), text != nullptr ? to_str(*text) : Py_NewRef(Py_None)));
        if (!entry || PyList_Append(list.get(), entry.get()) < 0) return nullptr;
      }
    }
    return list.release();
  });
}

PyObject* document_keys_with_tag(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"tag_name", nullptr};
  PyObject* tag_name = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:keys_with_tag", kwlist(names), &tag_name)) {
    return nullptr;
  }
  std::string_view wanted;
  if (!text_arg(tag_name, "tag_name", wanted)) return nullptr;
  return with_document(self, [&](const Document& d) -> PyObject* {
    Ref list(PyList_New(0));
    if (!list) return nullptr;
    for (const auto& [path, records] : d.annotations) {
      for (const Annotation& a : records) {
        const auto tag = split_tag_arg(a);
        if (!tag || tag->first != wanted) continue;
        Ref entry(pair(to_str(path), to_str(tag->second)));
        if (!entry || PyList_Append(list.get(), entry.get()) < 0) return nullptr;
      }
    }
    return list.release();
  });
}

PyObject* document_subscript(PyObject* self, PyObject* key) {
  std::string_view k;
  if (!text_arg(key, "key", k)) return nullptr;
  return with_document(self, [&](const Document& d) -> PyObject* {
    auto it = d.config.find(k);
    if (it != d.config.end()) return value_to_py(it->second);
    Ref text(to_str(k));
    if (text) PyErr_SetObject(PyExc_KeyError, text.get());
    return nullptr;
  });
}

int document_contains(PyObject* self, PyObject* key) {
  std::string_view k;
  if (!text_arg(key, "key", k)) return -1;
  return with_document(self, [&](const Document& d) { return d.config.find(k) != d.config.end() ? 1 : 0; }, -1);
}

Py_ssize_t document_length(PyObject* self) {
  return with_document(self, [](const Document& d) { return static_cast<Py_ssize_t>(d.config.size()); },
                       static_cast<Py_ssize_t>(-1));
}

PyObject* document_iter(PyObject* self) {
  PyObject* type = key_iter_type();
  if (type == nullptr) return nullptr;
  return with_document(self, [&](const Document& d) -> PyObject* {
    auto* keys = new std::vector<std::string>();
    keys->reserve(d.config.size());
    try {
      for (const auto& entry : d.config) keys->push_back(entry.first);
    } catch (...) {
      delete keys;
      throw;
    }
    PyObject* iter = alloc_instance(type);
    if (iter == nullptr) {
      delete keys;
      return nullptr;
    }
    auto* obj = reinterpret_cast<KeyIterObject*>(iter);
    obj->keys = keys;
    obj->position = 0;
    obj->borrow = 0;
    return iter;
  });
}

PyObject* document_repr(PyObject* self) {
  return with_document(self, [](const Document& d) {
    std::string out = "BrindleDocument(sections=[";
    bool first = true;
    for (const auto& entry : d.config) {
      if (!first) out += ", ";
      out += debug_string(entry.first);
      first = false;
    }
    out += "])";
    return to_str(out);
  });
}

PyMethodDef document_methods[] = {
    {"get", as_cfunction(document_get), METH_VARARGS | METH_KEYWORDS,
     "get($self, key, default=None)\n--\n\n"},
    {"keys", as_cfunction(document_keys), METH_NOARGS, "keys($self)\n--\n\n"},
    {"values", as_cfunction(document_values), METH_NOARGS, "values($self)\n--\n\n"},
    {"items", as_cfunction(document_items), METH_NOARGS, "items($self)\n--\n\n"},
    {"resolve", as_cfunction(document_resolve), METH_VARARGS | METH_KEYWORDS,
     "resolve($self, key_path, default=None)\n--\n\n"},
    {"annotations", as_cfunction(document_annotations), METH_VARARGS | METH_KEYWORDS,
     "annotations($self, key_path)\n--\n\n"},
    {"has_annotation", as_cfunction(document_has_annotation), METH_VARARGS | METH_KEYWORDS,
     "has_annotation($self, key_path, name)\n--\n\n"},
    {"tags", as_cfunction(document_tags), METH_VARARGS | METH_KEYWORDS,
     "tags($self, key_path)\n--\n\n"},
    {"required_keys", as_cfunction(document_required_keys), METH_NOARGS,
     "required_keys($self)\n--\n\n"},
    {"deprecated_keys", as_cfunction(document_deprecated_keys), METH_NOARGS,
     "deprecated_keys($self)\n--\n\n"},
    {"keys_with_tag", as_cfunction(document_keys_with_tag), METH_VARARGS | METH_KEYWORDS,
     "keys_with_tag($self, tag_name)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef document_getset[] = {
    {"config", document_get_config, nullptr, nullptr, nullptr},
    {"meta", document_get_meta, nullptr, nullptr, nullptr},
    {"vars", document_get_vars, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot document_slots[] = {
    {Py_tp_doc, const_cast<char*>("")},
    {Py_tp_new, as_slot(no_constructor)},
    {Py_tp_dealloc, as_slot(document_dealloc)},
    {Py_tp_repr, as_slot(document_repr)},
    {Py_tp_iter, as_slot(document_iter)},
    {Py_mp_subscript, as_slot(document_subscript)},
    {Py_mp_length, as_slot(document_length)},
    {Py_sq_contains, as_slot(document_contains)},
    {Py_tp_methods, document_methods},
    {Py_tp_getset, document_getset},
    {0, nullptr},
};

PyType_Spec document_spec = {
    "brindle._native.BrindleDocument",
    static_cast<int>(sizeof(DocumentObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    document_slots,
};

PyObject* document_type(bool at_init) {
  return lazy_type(g_document_type, document_spec, "BrindleDocument", at_init);
}

// ---------------------------------------------------------------------------
// Module functions

// Environment access for `$ENV.` references, read afresh on every lookup.
class ProcessEnv final : public EnvLookup {
 public:
  std::optional<std::string> get(std::string_view name) const override {
    if (name.find('\0') != std::string_view::npos) return std::nullopt;
    const std::string key(name);
    const char* value = std::getenv(key.c_str());
    if (value == nullptr) return std::nullopt;
    const std::string_view text(value);
    if (!is_valid_utf8(text)) return std::nullopt;
    return std::string(text);
  }
};

// Raises the parse error for `diagnostic`: the message with its position,
// plus integer attributes lineno and colno for tools.
void raise_parse_error(const Diagnostic& diagnostic, std::string_view source) {
  const LineColumn at = LineIndex(source).locate(diagnostic.span.start);
  const Exc id = diagnostic.kind == DiagnosticKind::Variable ? Exc::Variable : Exc::Parse;
  std::string message = diagnostic.message;
  message += " (line " + std::to_string(at.line) + ", col " + std::to_string(at.column) + ")";
  Ref error(make_exception(id, message));
  if (!error) return;
  Ref line(PyLong_FromUnsignedLongLong(at.line));
  Ref column(PyLong_FromUnsignedLongLong(at.column));
  if (!line || !column) return;
  if (PyObject_SetAttrString(error.get(), "lineno", line.get()) < 0 ||
      PyObject_SetAttrString(error.get(), "colno", column.get()) < 0) {
    return;
  }
  PyErr_SetObject(exception_class(id), error.get());
}

PyObject* module_parse(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"source", nullptr};
  PyObject* source = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:parse", kwlist(names), &source)) return nullptr;
  std::string_view text;
  if (!text_arg(source, "source", text)) return nullptr;
  return guarded([&]() -> PyObject* {
    const ProcessEnv env;
    Document document = build_document(text, env);
    for (const Diagnostic& diagnostic : document.diagnostics) {
      if (diagnostic.is_warning) continue;
      raise_parse_error(diagnostic, text);
      return nullptr;
    }
    return new_document_object(std::move(document));
  });
}

// Parses the single `doc` argument of validate / validate_all.
PyObject* document_arg(PyObject* args, PyObject* kwargs, const char* format) {
  static const char* const names[] = {"doc", nullptr};
  PyObject* doc = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, kwlist(names), &doc)) return nullptr;
  if (!is_document(doc)) {
    Ref name(type_qualname(doc));
    if (name) {
      PyErr_Format(PyExc_TypeError, "argument 'doc' must be BrindleDocument, not %U", name.get());
    }
    return nullptr;
  }
  return doc;
}

PyObject* module_validate(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* doc = document_arg(args, kwargs, "O:validate");
  if (doc == nullptr) return nullptr;
  return with_document(doc, [](const Document& d) -> PyObject* {
    for (const Diagnostic& diagnostic : validate_document(d)) {
      if (diagnostic.is_warning) continue;
      raise(Exc::Validation, diagnostic.message);
      return nullptr;
    }
    Py_RETURN_NONE;
  });
}

PyObject* module_validate_all(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* doc = document_arg(args, kwargs, "O:validate_all");
  if (doc == nullptr) return nullptr;
  return with_document(doc, [](const Document& d) -> PyObject* {
    Ref list(PyList_New(0));
    if (!list) return nullptr;
    for (const Diagnostic& diagnostic : validate_document(d)) {
      if (diagnostic.is_warning) continue;
      Ref error(make_exception(Exc::Validation, diagnostic.message));
      if (!error || PyList_Append(list.get(), error.get()) < 0) return nullptr;
    }
    return list.release();
  });
}

PyObject* module_dumps(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"data", nullptr};
  PyObject* data = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:dumps", kwlist(names), &data)) return nullptr;
  if (is_document(data)) {
    return with_document(data, [](const Document& d) { return to_str(serialize_document(d)); });
  }
  if (!PyDict_Check(data)) {
    PyErr_SetString(PyExc_TypeError, "dumps expects a BrindleDocument or a dict");
    return nullptr;
  }
  return guarded([&]() -> PyObject* {
    Document document;
    if (!py_dict_to_value(data, document.config)) return nullptr;
    return to_str(serialize_document(document));
  });
}

PyMethodDef module_functions[] = {
    {"parse", as_cfunction(module_parse), METH_VARARGS | METH_KEYWORDS, "parse(source)\n--\n\n"},
    {"validate", as_cfunction(module_validate), METH_VARARGS | METH_KEYWORDS,
     "validate(doc)\n--\n\n"},
    {"validate_all", as_cfunction(module_validate_all), METH_VARARGS | METH_KEYWORDS,
     "validate_all(doc)\n--\n\n"},
    {"dumps", as_cfunction(module_dumps), METH_VARARGS | METH_KEYWORDS, "dumps(data)\n--\n\n"},
};

// ---------------------------------------------------------------------------
// Module

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_native", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Appends `name` to __all__ (created on first use) and sets the attribute,
// so __all__ lists the attributes in registration order.
bool add_attribute(PyObject* module, const char* name, PyObject* value) {
  Ref all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all.reset(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  Ref key(PyUnicode_FromString(name));
  if (!key || PyList_Append(all.get(), key.get()) < 0) return false;
  return PyObject_SetAttrString(module, name, value) == 0;
}

bool initialise(PyObject* module) {
  PyObject* doc_type = document_type(true);
  if (doc_type == nullptr || !add_attribute(module, "BrindleDocument", doc_type)) return false;
  PyObject* ann_type = annotation_type(true);
  if (ann_type == nullptr || !add_attribute(module, "Annotation", ann_type)) return false;

  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return false;
  for (PyMethodDef& def : module_functions) {
    Ref function(PyCFunction_NewEx(&def, module, module_name.get()));
    if (!function || !add_attribute(module, def.ml_name, function.get())) return false;
  }

  for (int i = 0; i < 4; ++i) {
    Ref cls = Ref::borrowed(exception_class(static_cast<Exc>(i)));
    if (!cls || !add_attribute(module, kExceptionShortNames[i], cls.get())) return false;
  }

  Ref version(PyUnicode_FromString("1.0.0"));
  return version && add_attribute(module, "__version__", version.get());
}

}  // namespace
}  // namespace brindle::py

PyMODINIT_FUNC PyInit__native(void) {
  using namespace brindle::py;
  return guarded([]() -> PyObject* {
    if (g_module != nullptr) {
      PyErr_SetString(PyExc_ImportError,
                      "brindle._native is already initialised in this process and cannot be "
                      "initialised again");
      return nullptr;
    }
    Ref module(PyModule_Create2(&module_def, PYTHON_ABI_VERSION));
    if (!module) return nullptr;
    if (!initialise(module.get())) return nullptr;  // drops the module, keeps the error
    g_module = Py_NewRef(module.get());
    return module.release();
  });
}
