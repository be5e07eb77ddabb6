#include "convert.h"

#include <array>
#include <string>
#include <utility>
#include <vector>
#include <functional>

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

// The str objects of the keys met in one conversion, so that a key repeated
// over many dicts (the common case in configuration) is decoded once and
// its hash computed once. Direct-mapped: a collision just replaces the
// slot. It starts small, as most conversions are of a few keys, and grows
// once to its full size when many keys come by. Keys are views into the
// document, which outlives the conversion.
class KeyCache {
 public:
  KeyCache() = default;
  KeyCache(const KeyCache&) = delete;
  KeyCache& operator=(const KeyCache&) = delete;
  ~KeyCache() {
    for (Slot& s : slots_) Py_XDECREF(s.str);
  }

  // A new reference to the str of `key`, or null with an error set.
  PyObject* get(std::string_view key) {
    if (key.size() > kMaxKey) return to_str(key);
    if (slots_.empty()) slots_.resize(kFirstSlots);
    const size_t hash = std::hash<std::string_view>{}(key);
    Slot* s = &slots_[hash & (slots_.size() - 1)];
    if (s->str != nullptr && s->key == key) return Py_NewRef(s->str);
    PyObject* str = to_str(key);
    if (str == nullptr) return nullptr;
    if (++made_ > slots_.size() && slots_.size() < kSlots) {
      grow();
      s = &slots_[hash & (kSlots - 1)];
    }
    Py_XDECREF(s->str);
    s->key = key;
    s->str = Py_NewRef(str);
    return str;
  }

 private:
  static constexpr size_t kFirstSlots = 64;
  static constexpr size_t kSlots = 1024;
  static constexpr size_t kMaxKey = 64;
  struct Slot {
    std::string_view key;
    PyObject* str = nullptr;
  };

  void grow() {
    std::vector<Slot> old(kSlots);
    old.swap(slots_);
    for (Slot& s : old) {
      if (s.str == nullptr) continue;
      Slot& to = slots_[std::hash<std::string_view>{}(s.key) & (kSlots - 1)];
      Py_XDECREF(to.str);  // two old keys may meet in one new slot
      to = s;
    }
  }

  std::vector<Slot> slots_;  // made on first use
  size_t made_ = 0;          // str objects made so far
};

// Dicts with the same keys are common (sections of one kind, the records of
// a table). The second and later ones start as a copy of the last one
// converted with those keys: the copy has the key str objects and a table
// of the final size, so each entry only replaces a value, with no key cache
// lookup and no growing. Direct-mapped by size, first and last key; the
// names are compared in full before a copy is used.
class ShapeCache {
 public:
  ShapeCache() = default;
  ShapeCache(const ShapeCache&) = delete;
  ShapeCache& operator=(const ShapeCache&) = delete;
  ~ShapeCache() {
    for (Slot& s : slots_) Py_XDECREF(s.dict);
  }

  // Dicts smaller than this fit Python's first table; a copy gains little.
  static constexpr size_t kMinSize = 6;

  // Size, first and last key: what makes dicts look alike (non-empty dicts).
  static uint64_t look_of(const Dict& dict) {
    const std::hash<std::string_view> hash;
    return (hash(dict.begin()->first) * 31 + hash((dict.end() - 1)->first)) * 31 + dict.size();
  }

  // A new reference to a copy of the dict last converted with exactly the
  // keys of `dict` (values to be replaced), null with no error when there is
  // none, null with an error set when copying fails.
  PyObject* copy_for(const Dict& dict, uint64_t look) {
    if (slots_.empty()) return nullptr;
    const Slot& s = slots_[look & (kSlots - 1)];
    if (s.dict == nullptr || s.look != look || s.names.size() != dict.size()) return nullptr;
    size_t i = 0;
    for (const auto& [key, item] : dict) {
      if (s.names[i++] != key) return nullptr;
    }
    return PyDict_Copy(s.dict);
  }

  // Records `converted`, the finished conversion of `dict`, as the dict to
  // copy for the next one with the same keys. Only from the second dict
  // that looks alike on, so that a conversion of dicts that all differ
  // records none.
  void remember(const Dict& dict, uint64_t look, PyObject* converted) {
    const size_t at = look & (kSlots - 1);
    if (std::exchange(looks_[at], look) != look) return;
    if (slots_.empty()) slots_.resize(kSlots);
    Slot& s = slots_[at];
    PyObject* old = s.dict;
    s.dict = Py_NewRef(converted);
    Py_XDECREF(old);
    s.look = look;
    s.names.clear();
    s.names.reserve(dict.size());
    for (const auto& [key, item] : dict) s.names.emplace_back(key);
  }

 private:
  static constexpr size_t kSlots = 64;
  struct Slot {
    PyObject* dict = nullptr;
    uint64_t look = 0;
    std::vector<std::string_view> names;  // views into the document
  };
  std::array<uint64_t, kSlots> looks_{};  // the last look seen in each slot
  std::vector<Slot> slots_;               // made on first use
};

// The caches of one conversion.
struct Caches {
  KeyCache keys;
  ShapeCache shapes;
};

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

PyObject* dict_to_py_at(const Dict& dict, int depth, Caches& caches) {
  if (depth >= kMaxValueNesting) {
    PyErr_Format(PyExc_RecursionError, "value nested more than %d levels deep", kMaxValueNesting);
    return nullptr;
  }
  const bool shaped = dict.size() >= ShapeCache::kMinSize;
  const uint64_t look = shaped ? ShapeCache::look_of(dict) : 0;
  if (shaped) {
    Ref copy(caches.shapes.copy_for(dict, look));
    if (!copy && PyErr_Occurred()) return nullptr;
    if (copy) {
      // The copy keeps the order of its keys, which is the order of `dict`;
      // replacing a value during the walk leaves the walk intact.
      Py_ssize_t pos = 0;
      PyObject* key = nullptr;
      PyObject* old = nullptr;
      for (const auto& [name, item] : dict) {
        if (!PyDict_Next(copy.get(), &pos, &key, &old)) {
          PyErr_SetString(PyExc_SystemError, "dict copy lost a key");
          return nullptr;
        }
        Ref k = Ref::borrowed(key);  // the value set below may have held it last
        Ref v(to_py(item, depth + 1, caches));
        if (!v || PyDict_SetItem(copy.get(), k.get(), v.get()) < 0) return nullptr;
      }
      return copy.release();  // the dict it copies stays the one to copy
    }
  }
  Ref out(PyDict_New());
  if (!out) return nullptr;
  for (const auto& [key, item] : dict) {
    Ref k(caches.keys.get(key));
    if (!k) return nullptr;
    Ref v(to_py(item, depth + 1, caches));
    if (!v) return nullptr;
    if (PyDict_SetItem(out.get(), k.get(), v.get()) < 0) return nullptr;
  }
  if (shaped) caches.shapes.remember(dict, look, out.get());
  return out.release();
}

PyObject* array_to_py(const Array& array, int depth, Caches& caches) {
  if (depth >= kMaxValueNesting) {
    PyErr_Format(PyExc_RecursionError, "value nested more than %d levels deep", kMaxValueNesting);
    return nullptr;
  }
  // Sized up front: a list with empty slots is safe to drop on an error path.
  Ref out(PyList_New(static_cast<Py_ssize_t>(array.size())));
  if (!out) return nullptr;
  Py_ssize_t i = 0;
  for (const Value& item : array) {
    PyObject* v = to_py(item, depth + 1, caches);
    if (v == nullptr) return nullptr;
    PyList_SetItem(out.get(), i++, v);  // steals v; cannot fail in range
  }
  return out.release();
}

PyObject* to_py(const Value& value, int depth, Caches& caches) {
  switch (value.tag()) {
    case Tag::String:
      return to_str(value.as_string());
    case Tag::Integer:
      return PyLong_FromLongLong(value.as_integer());
    case Tag::Float:
      return PyFloat_FromDouble(value.as_float());
    case Tag::Bool:
      return PyBool_FromLong(value.as_bool() ? 1 : 0);
    case Tag::Null:
      Py_INCREF(Py_None);
      return Py_None;
    case Tag::Array:
      return array_to_py(value.as_array(), depth, caches);
    case Tag::Dict:
      return dict_to_py_at(value.as_dict(), depth, caches);
  }
  PyErr_SetString(PyExc_SystemError, "value with an unknown tag");
  return nullptr;
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
