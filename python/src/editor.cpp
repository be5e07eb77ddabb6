#include "editor.h"

#include <optional>
#include <string>
#include <string_view>

#include "convert.h"
#include "guard.h"
#include "heap_type.h"
#include "syntax/src/editor.h"

namespace brindle::py {
namespace {

struct EditorObject {
  PyObject_HEAD
  brindle::Editor* editor;
};

brindle::Editor& editor_of(PyObject* self) { return *reinterpret_cast<EditorObject*>(self)->editor; }

PyObject* editor_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"source", nullptr};
  PyObject* source = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:Editor", kwlist(names), &source)) return nullptr;
  std::string_view text;
  if (!text_arg(source, "source", text)) return nullptr;
  return guarded([&]() -> PyObject* {
    PyObject* self = alloc_instance(reinterpret_cast<PyObject*>(type));
    if (self == nullptr) return nullptr;
    reinterpret_cast<EditorObject*>(self)->editor = new brindle::Editor(text);
    return self;
  });
}

void editor_dealloc(PyObject* self) {
  delete reinterpret_cast<EditorObject*>(self)->editor;
  free_instance(self);
}

// None when the edit applied; else the matching exception.
PyObject* result(const EditResult& r) {
  if (!r) Py_RETURN_NONE;
  PyObject* type = r->kind == EditError::Kind::NotFound ? PyExc_KeyError : PyExc_ValueError;
  Ref message(to_str(r->message));
  if (message) PyErr_SetObject(type, message.get());
  return nullptr;
}

// Parses (path, second) where both are str, or path and any object.
bool two_args(PyObject* args, PyObject* kwargs, const char* format, const char* second_name,
              std::string_view& path, PyObject*& second) {
  const char* const names[] = {"path", second_name, nullptr};
  PyObject* path_obj = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(names), &path_obj, &second)) {
    return false;
  }
  return text_arg(path_obj, "path", path);
}

PyObject* editor_set(PyObject* self, PyObject* args, PyObject* kwargs) {
  std::string_view path;
  PyObject* value = nullptr;
  if (!two_args(args, kwargs, "OO:set", "value", path, value)) return nullptr;
  return guarded([&]() -> PyObject* {
    Value v;
    if (!py_to_value(value, v)) return nullptr;
    return result(editor_of(self).set_value(path, v));
  });
}

// The str argument of the text-taking methods, then the edit.
template <class Edit>
PyObject* text_edit(PyObject* args, PyObject* kwargs, const char* format, const char* name, Edit edit) {
  std::string_view path;
  PyObject* obj = nullptr;
  if (!two_args(args, kwargs, format, name, path, obj)) return nullptr;
  std::string_view text;
  if (!text_arg(obj, name, text)) return nullptr;
  return guarded([&]() -> PyObject* { return result(edit(path, text)); });
}

PyObject* editor_set_text(PyObject* self, PyObject* args, PyObject* kwargs) {
  return text_edit(args, kwargs, "OO:set_text", "text", [&](std::string_view p, std::string_view t) {
    return editor_of(self).set_text(p, t);
  });
}

PyObject* editor_add_annotation(PyObject* self, PyObject* args, PyObject* kwargs) {
  return text_edit(args, kwargs, "OO:add_annotation", "annotation",
                   [&](std::string_view p, std::string_view t) { return editor_of(self).add_annotation(p, t); });
}

PyObject* editor_remove_annotation(PyObject* self, PyObject* args, PyObject* kwargs) {
  return text_edit(args, kwargs, "OO:remove_annotation", "name", [&](std::string_view p, std::string_view t) {
    return editor_of(self).remove_annotation(p, t);
  });
}

PyObject* editor_delete(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"path", nullptr};
  PyObject* path_obj = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:delete", kwlist(names), &path_obj)) return nullptr;
  std::string_view path;
  if (!text_arg(path_obj, "path", path)) return nullptr;
  return guarded([&]() -> PyObject* { return result(editor_of(self).remove(path)); });
}

PyObject* editor_str(PyObject* self) {
  return guarded([&]() -> PyObject* { return to_str(editor_of(self).text()); });
}

PyMethodDef editor_methods[] = {
    {"set", as_cfunction(editor_set), METH_VARARGS | METH_KEYWORDS,
     "set($self, path, value)\n--\n\nSet the value at a dotted key path, written as dumps writes values."},
    {"set_text", as_cfunction(editor_set_text), METH_VARARGS | METH_KEYWORDS,
     "set_text($self, path, text)\n--\n\nSet the value at a key path to a value written in brindle syntax."},
    {"delete", as_cfunction(editor_delete), METH_VARARGS | METH_KEYWORDS,
     "delete($self, path)\n--\n\nDelete a key, block, inline dict entry or section with its annotations."},
    {"add_annotation", as_cfunction(editor_add_annotation), METH_VARARGS | METH_KEYWORDS,
     "add_annotation($self, path, annotation)\n--\n\nAdd an annotation line such as '@min: 1' above a key."},
    {"remove_annotation", as_cfunction(editor_remove_annotation), METH_VARARGS | METH_KEYWORDS,
     "remove_annotation($self, path, name)\n--\n\nRemove the annotations named `name` from a key."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot editor_slots[] = {
    {Py_tp_doc, const_cast<char*>("Editor(source)\n--\n\nEdits of a brindle text that keep everything else.")},
    {Py_tp_new, as_slot(editor_new)},
    {Py_tp_dealloc, as_slot(editor_dealloc)},
    {Py_tp_str, as_slot(editor_str)},
    {Py_tp_methods, editor_methods},
    {0, nullptr},
};

PyType_Spec editor_spec = {
    "brindle._native.Editor",
    static_cast<int>(sizeof(EditorObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    editor_slots,
};

}  // namespace

PyObject* new_editor_type() { return PyType_FromSpec(&editor_spec); }

}  // namespace brindle::py
