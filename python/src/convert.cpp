#include "convert.h"

#include <string>
#include <utility>
#include <vector>

#include "compact_items.h"
#include "convert_cache.h"

namespace brindle::py {

namespace {

bool too_deep_for_python(int depth) {
  if (depth < kMaxPythonNesting) return false;
  PyErr_Format(PyExc_RecursionError,
               "data nested more than %d levels deep cannot be converted for dumps",
               kMaxPythonNesting);
  return true;
}

// ---- Value -> Python ------------------------------------------------------

// Conversion runs no Python code and makes no reference cycles, so the
// cyclic collector is paused for it: otherwise it would walk the growing
// result again and again as its containers are allocated.
class CollectorPause {
 public:
  CollectorPause() : was_enabled_(PyGC_Disable()) {}
  ~CollectorPause() {
    if (was_enabled_) PyGC_Enable();
  }
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  int was_enabled_;
};

PyObject* to_py(const Value& value, int depth, Caches& caches);

// A value that is not a container. Inlined into the loops over the items of
// arrays and dicts, which are mostly such values, to save a call on each.
inline PyObject* scalar_to_py(const Value& value) {
  switch (value.tag()) {
    case Tag::String:
      return to_str(value.as_string());
    case Tag::Integer:
      return PyLong_FromLongLong(value.as_integer());
    case Tag::Float:
      return PyFloat_FromDouble(value.as_float());
    case Tag::Bool:
      return Py_NewRef(value.as_bool() ? Py_True : Py_False);
    case Tag::Null:
      return Py_NewRef(Py_None);
    default:
      break;
  }
  PyErr_SetString(PyExc_SystemError, "value with an unknown tag");
  return nullptr;
}

inline PyObject* item_to_py(const Value& item, int depth, Caches& caches) {
  return item.is(Tag::Array) || item.is(Tag::Dict) ? to_py(item, depth, caches) : scalar_to_py(item);
}

// A dict with the keys of `shape`, in its order, and the values of `dict`.
PyObject* dict_from_shape(const Dict& dict, const Shape& shape, int depth, Caches& caches) {
  Ref out(PyDict_Copy(shape.dict.get()));
  if (!out) return nullptr;
  // Each key is found at once (its hash is kept in the str) and its value
  // replaced; the table already has its final size.
  PyObject* const* key = shape.keys.data();
  for (const DictEntry& entry : dict) {
    Ref v(item_to_py(entry.second, depth + 1, caches));
    if (!v || PyDict_SetItem(out.get(), *key++, v.get()) < 0) return nullptr;
  }
  return out.release();
}

PyObject* dict_to_py_at(const Dict& dict, int depth, Caches& caches) {
  if (depth >= kMaxValueNesting) {
    PyErr_Format(PyExc_RecursionError, "value nested more than %d levels deep", kMaxValueNesting);
    return nullptr;
  }
  const bool shaped = dict.size() >= ShapeCache::kMinSize;
  const uint64_t look = shaped ? ShapeCache::look_of(dict) : 0;
  if (shaped) {
    // Held here: converting the values may put another shape in its slot.
    if (std::shared_ptr<const Shape> shape = caches.shapes.find(dict, look)) {
      return dict_from_shape(dict, *shape, depth, caches);
    }
    if (PyErr_Occurred()) return nullptr;
  }
  // The key objects of a dict to remember for the next one like it.
  const bool remember = shaped && caches.shapes.worth_remembering(dict, look);
  std::vector<PyObject*> keys;
  if (remember) keys.reserve(dict.size());
  Ref out(PyDict_New());
  if (!out) return nullptr;
  for (const auto& [key, item] : dict) {
    Ref k(caches.keys.get(key));
    if (!k) return nullptr;
    Ref v(item_to_py(item, depth + 1, caches));
    if (!v) return nullptr;
    if (PyDict_SetItem(out.get(), k.get(), v.get()) < 0) return nullptr;
    if (remember) keys.push_back(k.get());  // held by `out` from here on
  }
  if (remember) caches.shapes.remember(dict, look, out.get(), std::move(keys));
  return out.release();
}

// A list (made with room for them) of packed integers, read straight from
// their storage.
template <class Int>
PyObject* packed_to_py(Ref& out, ArrayView array) {
  const Int* item = static_cast<const Int*>(array.storage());
  PyObject* const list = out.get();
  for (Py_ssize_t i = 0, n = static_cast<Py_ssize_t>(array.size()); i < n; ++i) {
    PyObject* v = sizeof(Int) <= sizeof(long) ? PyLong_FromLong(static_cast<long>(item[i]))
                                              : PyLong_FromLongLong(item[i]);
    if (v == nullptr) return nullptr;
    PyList_SetItem(list, i, v);  // steals v; cannot fail in range
  }
  return out.release();
}

PyObject* array_to_py(ArrayView array, int depth, Caches& caches) {
  if (depth >= kMaxValueNesting) {
    PyErr_Format(PyExc_RecursionError, "value nested more than %d levels deep", kMaxValueNesting);
    return nullptr;
  }
  // Sized up front: a list with empty slots is safe to drop on an error path.
  Ref out(PyList_New(static_cast<Py_ssize_t>(array.size())));
  if (!out) return nullptr;
  PyObject* const list = out.get();
  switch (array.packed_width()) {
    case 0: break;
    case 1: return packed_to_py<int8_t>(out, array);
    case 2: return packed_to_py<int16_t>(out, array);
    case 4: return packed_to_py<int32_t>(out, array);
    default: return packed_to_py<int64_t>(out, array);
  }
  if (array.is_compact()) {
    // A short record, decoded item by item where it lies.
    const auto* at = static_cast<const unsigned char*>(array.storage());
    Value item;
    for (Py_ssize_t i = 0, n = static_cast<Py_ssize_t>(array.size()); i < n; ++i) {
      PyObject* v;
      if (CompactItems::is_small_integer(at)) {
        v = PyLong_FromLong(static_cast<long>(CompactItems::small_integer(at++)));
      } else if (CompactItems::is_nested(at)) {
        v = array_to_py(CompactItems::nested_items(at, at), depth + 1, caches);  // as to_py does for an array
      } else {
        at = CompactItems::read(at, item);
        v = item_to_py(item, depth + 1, caches);
      }
      if (v == nullptr) return nullptr;
      PyList_SetItem(list, i, v);
    }
    return out.release();
  }
  const Value* item = array.values();
  const Value* const end = item + array.size();
  Py_ssize_t i = 0;
  while (item != end) {
    // Runs of integers (whole arrays of them, mostly) take a loop of their
    // own: no dispatch on the tag between one int and the next.
    for (; item != end && item->is(Tag::Integer); ++item) {
      PyObject* v = PyLong_FromLongLong(item->as_integer());
      if (v == nullptr) return nullptr;
      PyList_SetItem(list, i++, v);  // steals v; cannot fail in range
    }
    if (item == end) break;
    PyObject* v = item_to_py(*item++, depth + 1, caches);
    if (v == nullptr) return nullptr;
    PyList_SetItem(list, i++, v);
  }
  return out.release();
}

PyObject* to_py(const Value& value, int depth, Caches& caches) {
  switch (value.tag()) {
    case Tag::Array:
      return array_to_py(value.as_array(), depth, caches);
    case Tag::Dict:
      return dict_to_py_at(value.as_dict(), depth, caches);
    default:
      return scalar_to_py(value);
  }
}

// ---- Python -> Value ------------------------------------------------------

bool from_py(PyObject* obj, Value& out, int depth);

bool type_attr_is(PyObject* type, const char* attr, const char* a, const char* b = nullptr) {
  Ref v(PyObject_GetAttrString(type, attr));
  if (!v) {
    PyErr_Clear();
    return false;
  }
  if (!PyUnicode_Check(v.get())) return false;
  if (PyUnicode_CompareWithASCIIString(v.get(), a) == 0) return true;
  return b != nullptr && PyUnicode_CompareWithASCIIString(v.get(), b) == 0;
}

// numpy booleans are recognised by name so that numpy need not be imported.
// 1: a numpy bool with its truth in `truth`; 0: not one (no error pending).
int numpy_bool(PyObject* obj, bool& truth) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  if (!type_attr_is(type, "__module__", "numpy")) return 0;
  if (!type_attr_is(type, "__name__", "bool_", "bool")) return 0;
  Ref method(PyObject_GetAttrString(type, "__bool__"));
  if (!method) {
    PyErr_Clear();
    return 0;
  }
  Ref result(PyObject_CallFunctionObjArgs(method.get(), obj, nullptr));
  if (!result) {
    PyErr_Clear();
    return 0;
  }
  if (!PyBool_Check(result.get())) return 0;
  truth = result.get() == Py_True;
  return 1;
}

}  // namespace

// The integer test: int subclasses directly, anything else via __index__.
bool integer_test(PyObject* obj, int64_t& out) {
  long long v;
  if (PyLong_Check(obj)) {
    v = PyLong_AsLongLong(obj);
  } else {
    Ref index(PyNumber_Index(obj));
    if (!index) {
      PyErr_Clear();
      return false;
    }
    v = PyLong_AsLongLong(index.get());
  }
  if (v == -1 && PyErr_Occurred()) {
    PyErr_Clear();
    return false;
  }
  out = static_cast<int64_t>(v);
  return true;
}

bool float_test(PyObject* obj, double& out) {
  const double d = PyFloat_AsDouble(obj);
  if (d == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    return false;
  }
  out = d;
  return true;
}

namespace {

bool text_from_py(PyObject* obj, Value& out) {
  std::string_view text;
  if (!utf8_view(obj, text)) return false;
  out = Value::string(std::string(text));
  return true;
}

bool dict_entries_from_py(PyObject* obj, Dict& result, int depth) {
  if (too_deep_for_python(depth)) return false;
  const Py_ssize_t initial = PyDict_Size(obj);
  Py_ssize_t remaining = initial;
  Py_ssize_t pos = 0;
  PyObject* raw_key;
  PyObject* raw_value;
  for (;;) {
    // Conversion hooks (__index__, __float__, __bool__) run Python code that
    // may change the dict under the walk.
    if (PyDict_Size(obj) != initial) {
      PyErr_SetString(PyExc_SystemError, "dictionary changed size during iteration");
      return false;
    }
    if (!PyDict_Next(obj, &pos, &raw_key, &raw_value)) break;
    if (remaining-- == 0) {
      PyErr_SetString(PyExc_SystemError, "dictionary keys changed during iteration");
      return false;
    }
    Ref key = Ref::borrowed(raw_key);
    Ref item = Ref::borrowed(raw_value);
    if (!PyUnicode_Check(key.get())) {
      Ref name(type_qualname(key.get()));
      if (name) PyErr_Format(PyExc_TypeError, "dict keys must be str, not %U", name.get());
      return false;
    }
    std::string_view key_text;
    if (!utf8_view(key.get(), key_text)) return false;
    Value converted;
    if (!from_py(item.get(), converted, depth + 1)) return false;
    result.append(key_text).second = std::move(converted);
  }
  result.seal();  // key order once, not an ordered insert per key
  return true;
}

bool dict_from_py(PyObject* obj, Value& out, int depth) {
  out = Value::dict(Dict());
  return dict_entries_from_py(obj, out.as_dict(), depth);
}

bool list_from_py(PyObject* obj, Value& out, int depth) {
  if (too_deep_for_python(depth)) return false;
  Array result;
  result.reserve(static_cast<size_t>(PyList_Size(obj)));
  // The length is read on every step: a hook may shrink the list.
  for (Py_ssize_t i = 0; i < PyList_Size(obj); ++i) {
    Ref item = Ref::borrowed(PyList_GetItem(obj, i));
    if (!item) return false;
    Value converted;
    if (!from_py(item.get(), converted, depth + 1)) return false;
    result.push_back(std::move(converted));
  }
  out = Value::array(std::move(result));
  return true;
}

bool unsupported(PyObject* obj) {
  Ref name(type_qualname(obj));
  if (name) PyErr_Format(PyExc_TypeError, "unsupported value type for dumps: %U", name.get());
  return false;
}

bool from_py(PyObject* obj, Value& out, int depth) {
  if (obj == Py_None) {
    out = Value::null();
    return true;
  }
  if (PyBool_Check(obj)) {  // bool cannot be subclassed: this is exact
    out = Value::boolean(obj == Py_True);
    return true;
  }
  // Exact built-in containers and texts have neither __index__ nor
  // __float__ and are not numpy types, so the numeric tests would only fail:
  // skip them.
  if (PyUnicode_CheckExact(obj)) return text_from_py(obj, out);
  if (PyDict_CheckExact(obj)) return dict_from_py(obj, out, depth);
  if (PyList_CheckExact(obj)) return list_from_py(obj, out, depth);
  if (PyFloat_CheckExact(obj)) {
    out = Value::floating(PyFloat_AsDouble(obj));
    return true;
  }

  if (!PyLong_CheckExact(obj)) {
    bool truth = false;
    if (numpy_bool(obj, truth)) {
      out = Value::boolean(truth);
      return true;
    }
  }
  int64_t i;
  if (integer_test(obj, i)) {
    out = Value::integer(i);
    return true;
  }
  double d;
  if (float_test(obj, d)) {
    out = Value::floating(d);
    return true;
  }
  if (PyUnicode_Check(obj)) return text_from_py(obj, out);
  if (PyDict_Check(obj)) return dict_from_py(obj, out, depth);
  if (PyList_Check(obj)) return list_from_py(obj, out, depth);
  return unsupported(obj);
}

}  // namespace

PyObject* value_to_py(const Value& value) {
  Caches caches;
  if (!value.is(Tag::Array) && !value.is(Tag::Dict)) return to_py(value, 0, caches);
  CollectorPause pause;
  return to_py(value, 0, caches);
}

PyObject* dict_to_py(const Dict& dict) {
  Caches caches;
  CollectorPause pause;
  return dict_to_py_at(dict, 0, caches);
}

bool py_to_value(PyObject* obj, Value& out) { return from_py(obj, out, 0); }

bool py_dict_to_value(PyObject* dict, Dict& out) { return dict_entries_from_py(dict, out, 0); }

PyObject* type_qualname(PyObject* obj) {
  PyObject* name =
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__");
  if (name != nullptr && PyUnicode_Check(name)) return name;
  Py_XDECREF(name);
  PyErr_Clear();
  return PyUnicode_FromString("?");
}

bool require_str(PyObject* obj, const char* arg_name) {
  if (PyUnicode_Check(obj)) return true;
  Ref name(type_qualname(obj));
  if (name) PyErr_Format(PyExc_TypeError, "argument '%s' must be str, not %U", arg_name, name.get());
  return false;
}

bool utf8_view(PyObject* str, std::string_view& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) return false;
  out = std::string_view(data, static_cast<size_t>(size));
  return true;
}

bool text_arg(PyObject* obj, const char* arg_name, std::string_view& out) {
  return require_str(obj, arg_name) && utf8_view(obj, out);
}

}  // namespace brindle::py
