#include "document.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "annotation.h"
#include "check.h"
#include "convert.h"
#include "display.h"
#include "finding.h"
#include "heap_type.h"
#include "key_iter.h"
#include "module.h"
#include "pattern_cache.h"
#include "positions.h"
#include "text.h"
#include "unlocked.h"

namespace brindle::py {
namespace {

void document_dealloc(PyObject* self) {
  Document* doc = reinterpret_cast<DocumentObject*>(self)->doc;
  {
    // Freeing a large document is core work like building it: other
    // threads run meanwhile. Nothing else can reach it any more.
    std::optional<Unlocked> unlocked;
    unlock_for(unlocked, doc != nullptr ? doc->source_size : 0);
    delete doc;
  }
  delete reinterpret_cast<DocumentObject*>(self)->patterns;
  Py_XDECREF(reinterpret_cast<DocumentObject*>(self)->source);
  free_instance(self);
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
  const auto* text = get_if<std::string>(&a.arg);
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
        const auto* text = get_if<std::string>(&a.arg);
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
    auto keys = std::make_unique<std::vector<std::string>>();
    keys->reserve(d.config.size());
    for (const auto& entry : d.config) keys->emplace_back(entry.first);
    return new_key_iter(type, std::move(keys));
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

// Positions for typed loading, in byte offsets until they are shown.
//
// _span(table, path): (start, end) recorded for a key path (table 0: its
// value, 1: its key) or a variable's value (2), or None. The path is a
// dotted str, cut at every point, or a tuple of names, one per level.
PyObject* document_span(PyObject* self, PyObject* args) {
  int table = 0;
  PyObject* path_arg = nullptr;
  if (!PyArg_ParseTuple(args, "iO:_span", &table, &path_arg)) return nullptr;
  if (table < 0 || table > 2) {
    PyErr_SetString(PyExc_ValueError, "no such position table");
    return nullptr;
  }
  return with_document(self, [&](const Document& d) -> PyObject* {
    const auto which = static_cast<SpanTable>(table);
    std::optional<Span> span;
    if (PyTuple_Check(path_arg)) {
      std::vector<std::string> segments;
      segments.reserve(static_cast<size_t>(PyTuple_Size(path_arg)));
      for (Py_ssize_t i = 0; i < PyTuple_Size(path_arg); ++i) {
        std::string_view name;
        if (!text_arg(PyTuple_GetItem(path_arg, i), "path", name)) return nullptr;
        segments.emplace_back(name);
      }
      span = find_span(d, which, segments);
    } else {
      std::string_view path;
      if (!text_arg(path_arg, "path", path)) return nullptr;
      span = find_span(d, which, path);
    }
    if (!span) Py_RETURN_NONE;
    return Py_BuildValue("(KK)", static_cast<unsigned long long>(span->start),
                         static_cast<unsigned long long>(span->end));
  });
}

// _references(): (kind, name, start, end) of every `$` reference.
PyObject* document_references(PyObject* self, PyObject*) {
  return with_document(self, [&](const Document& d) { return reference_list(d); });
}

// _locate(offsets): (line, column) of each byte offset, columns in characters.
PyObject* document_locate(PyObject* self, PyObject* offsets) {
  std::string_view source;
  if (!document_source(self, source)) return nullptr;
  Ref items(PySequence_List(offsets));
  if (!items) return nullptr;
  const SourceLocator at(source);
  const Py_ssize_t count = PyList_Size(items.get());
  Ref result(PyList_New(count));
  if (!result) return nullptr;
  for (Py_ssize_t i = 0; i < count; ++i) {
    const unsigned long long offset = PyLong_AsUnsignedLongLong(PyList_GetItem(items.get(), i));
    if (PyErr_Occurred()) return nullptr;
    const SourcePosition position = at.locate(offset);
    PyObject* pair = Py_BuildValue("(KK)", static_cast<unsigned long long>(position.line),
                                   static_cast<unsigned long long>(position.column));
    if (pair == nullptr) return nullptr;
    PyList_SetItem(result.get(), i, pair);
  }
  return result.release();
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
    {"_span", as_cfunction(document_span), METH_VARARGS, "_span($self, table, path, /)\n--\n\n"},
    {"_references", as_cfunction(document_references), METH_NOARGS, "_references($self)\n--\n\n"},
    {"_locate", as_cfunction(document_locate), METH_O, "_locate($self, offsets, /)\n--\n\n"},
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

}  // namespace

PyObject* document_type(bool at_init) {
  return lazy_type(g_document_type, document_spec, "BrindleDocument", at_init);
}

PyObject* new_document_object(Document document, PyObject* source) {
  return new_document_object(std::make_unique<Document>(std::move(document)), source);
}

PyObject* new_document_object(std::unique_ptr<Document> document, PyObject* source) {
  PyObject* type = document_type();
  if (type == nullptr) return nullptr;
  PyObject* self = alloc_instance(type);
  if (self == nullptr) return nullptr;
  auto* obj = reinterpret_cast<DocumentObject*>(self);
  obj->doc = document.release();
  obj->borrow = 0;
  obj->source = Py_XNewRef(source);
  obj->patterns = nullptr;
  return self;
}

std::vector<Finding> document_validation(PyObject* self, std::string_view source, const Document& d) {
  std::optional<Unlocked> unlocked;
  if (unlock_for(unlocked, d.source_size) != nullptr) return validation_findings(source, d);
  // Ordinary patterns compile to tens of instructions each; a document whose
  // patterns took more than this does not keep them alive (RE2 spends about
  // 16 bytes per instruction) and compiles them again when asked again.
  constexpr uint64_t kKeptCompileWork = 16 * 1024;
  auto* obj = reinterpret_cast<DocumentObject*>(self);
  const uint64_t budget = pattern_budget_for(d.source_size);
  if (obj->patterns == nullptr) obj->patterns = new PatternCache(budget);
  std::vector<Finding> found = validation_findings(source, d, obj->patterns);
  if (budget - obj->patterns->remaining() > kKeptCompileWork) {
    delete obj->patterns;
    obj->patterns = nullptr;
  }
  return found;
}

bool document_source(PyObject* self, std::string_view& out) {
  PyObject* source = reinterpret_cast<DocumentObject*>(self)->source;
  out = {};
  return source == nullptr || utf8_view(source, out);
}

bool is_document(PyObject* obj) {
  return g_document_type != nullptr && Py_TYPE(obj) == as_type(g_document_type);
}

}  // namespace brindle::py
