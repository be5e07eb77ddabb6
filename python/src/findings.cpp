#include "findings.h"

#include <optional>
#include <string>

#include "check.h"
#include "codes.h"
#include "convert.h"
#include "document.h"
#include "env_lookup.h"
#include "functions.h"
#include "guard.h"
#include "unlocked.h"

namespace brindle::py {
namespace {

// Sets `key` in `dict` to the new reference `value` (consumed).
bool set_item(PyObject* dict, const char* key, PyObject* value) {
  Ref owned(value);
  return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

PyObject* text_or_none(std::string_view text) {
  if (text.empty()) return Py_NewRef(Py_None);
  return to_str(text);
}

// line, column, end_line, end_column of `span` into `kwargs`.
bool set_position(PyObject* kwargs, const SourceLocator& locator, Span span) {
  const SourcePosition start = locator.locate(span.start);
  const SourcePosition end = locator.locate(span.end);
  return set_item(kwargs, "line", PyLong_FromUnsignedLongLong(start.line)) &&
         set_item(kwargs, "column", PyLong_FromUnsignedLongLong(start.column)) &&
         set_item(kwargs, "end_line", PyLong_FromUnsignedLongLong(end.line)) &&
         set_item(kwargs, "end_column", PyLong_FromUnsignedLongLong(end.column));
}

PyObject* make(PyObject* cls, PyObject* kwargs) {
  Ref empty(PyTuple_New(0));
  if (!empty) return nullptr;
  return PyObject_Call(cls, empty.get(), kwargs);
}

PyObject* one_finding(PyObject* finding_cls, PyObject* related_cls, const SourceLocator& locator,
                      const Finding& f, PyObject* filename) {
  Ref related(PyTuple_New(static_cast<Py_ssize_t>(f.related.size())));
  if (!related) return nullptr;
  for (size_t i = 0; i < f.related.size(); ++i) {
    Ref kwargs(PyDict_New());
    if (!kwargs || !set_item(kwargs.get(), "message", to_str(f.related[i].label)) ||
        !set_position(kwargs.get(), locator, f.related[i].span) ||
        PyDict_SetItemString(kwargs.get(), "filename", filename) < 0) {
      return nullptr;
    }
    PyObject* item = make(related_cls, kwargs.get());
    if (item == nullptr) return nullptr;
    PyTuple_SetItem(related.get(), static_cast<Py_ssize_t>(i), item);
  }
  Ref kwargs(PyDict_New());
  if (!kwargs || !set_item(kwargs.get(), "code", to_str(f.code)) ||
      !set_item(kwargs.get(), "severity", to_str(severity_name(f.severity))) ||
      !set_item(kwargs.get(), "message", to_str(f.message)) ||
      !set_position(kwargs.get(), locator, f.span) ||
      PyDict_SetItemString(kwargs.get(), "filename", filename) < 0 ||
      !set_item(kwargs.get(), "path", text_or_none(f.path)) ||
      PyDict_SetItemString(kwargs.get(), "related", related.get()) < 0 ||
      !set_item(kwargs.get(), "suggestion", text_or_none(f.suggestion))) {
    return nullptr;
  }
  return make(finding_cls, kwargs.get());
}

bool strict_flag(PyObject* obj, bool& out) {
  const int truth = PyObject_IsTrue(obj);
  if (truth < 0) return false;
  out = truth == 1;
  return true;
}

}  // namespace

PyObject* finding_objects(std::string_view source, const std::vector<Finding>& findings,
                          PyObject* filename) {
  if (findings.empty()) return PyList_New(0);  // no classes to look up
  Ref module(PyImport_ImportModule("brindle._findings"));
  if (!module) return nullptr;
  Ref finding_cls(PyObject_GetAttrString(module.get(), "Finding"));
  Ref related_cls(PyObject_GetAttrString(module.get(), "Related"));
  if (!finding_cls || !related_cls) return nullptr;
  Ref list(PyList_New(0));
  if (!list) return nullptr;
  const SourceLocator locator(source);
  for (const Finding& f : findings) {
    Ref item(one_finding(finding_cls.get(), related_cls.get(), locator, f, filename));
    if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
  }
  return list.release();
}

PyObject* module_check(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"source", "strict", "environment", "filename", "env", nullptr};
  PyObject* source = nullptr;
  PyObject* strict = Py_False;
  PyObject* environment = Py_None;
  PyObject* filename = Py_None;
  PyObject* env_arg = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOOO:_check", kwlist(names), &source, &strict,
                                   &environment, &filename, &env_arg)) {
    return nullptr;
  }
  std::string_view text;
  if (!text_arg(source, "source", text)) return nullptr;
  return guarded([&]() -> PyObject* {
    CheckOptions options;
    if (!strict_flag(strict, options.strict)) return nullptr;
    if (environment != Py_None) {
      Ref iter(PyObject_GetIter(environment));
      if (!iter) return nullptr;
      while (true) {
        Ref name(PyIter_Next(iter.get()));
        if (!name) break;
        std::string_view view;
        if (!text_arg(name.get(), "environment", view)) return nullptr;
        options.environment_names.emplace_back(view);
      }
      if (PyErr_Occurred()) return nullptr;
    }
    // A mapping given as `env` replaces the process environment, as in parse.
    SnapshotEnv snapshot;
    if (env_arg != Py_None && !snapshot.take(env_arg)) return nullptr;
    std::vector<Finding> findings;
    {
      // Core work only, as in parse: other threads run meanwhile.
      std::optional<Unlocked> unlocked;
      const ProcessEnv process(unlock_for(unlocked, text.size()));
      const EnvLookup& env = env_arg == Py_None ? static_cast<const EnvLookup&>(process) : snapshot;
      findings = check_source(text, env, options);
    }
    return finding_objects(text, findings, filename);
  });
}

PyObject* module_check_document(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"doc", "strict", "filename", nullptr};
  PyObject* doc = nullptr;
  PyObject* strict = Py_False;
  PyObject* filename = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:_check_document", kwlist(names), &doc,
                                   &strict, &filename)) {
    return nullptr;
  }
  if (!is_document(doc)) {
    PyErr_SetString(PyExc_TypeError, "_check_document expects a BrindleDocument");
    return nullptr;
  }
  bool is_strict = false;
  if (!strict_flag(strict, is_strict)) return nullptr;
  std::string_view text;
  PyObject* source = reinterpret_cast<DocumentObject*>(doc)->source;
  if (source != nullptr && !text_arg(source, "source", text)) return nullptr;
  return with_document(doc, [&](const Document& d) -> PyObject* {
    std::vector<Finding> findings = document_validation(doc, text, d);
    finish_findings(findings, is_strict);
    return finding_objects(text, findings, filename);
  });
}

PyObject* module_codes(PyObject*, PyObject*) {
  return guarded([]() -> PyObject* {
    Ref list(PyList_New(0));
    if (!list) return nullptr;
    for (const CodeInfo* info : all_codes()) {
      Ref item(Py_BuildValue("(s#s#s#s#y#)", info->code.data(),
                             static_cast<Py_ssize_t>(info->code.size()),
                             severity_name(info->severity).data(),
                             static_cast<Py_ssize_t>(severity_name(info->severity).size()),
                             info->name.data(), static_cast<Py_ssize_t>(info->name.size()),
                             info->summary.data(), static_cast<Py_ssize_t>(info->summary.size()),
                             info->example.data(), static_cast<Py_ssize_t>(info->example.size())));
      if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
    }
    return list.release();
  });
}

}  // namespace brindle::py
