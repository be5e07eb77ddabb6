#include "functions.h"

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "builder.h"
#include "check.h"
#include "convert.h"
#include "document.h"
#include "env_lookup.h"
#include "exceptions.h"
#include "findings.h"
#include "guard.h"
#include "model.h"
#include "positions.h"
#include "serializer.h"
#include "text.h"
#include "unlocked.h"
#include "validator.h"

namespace brindle::py {
namespace {

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

// The validation walk and the serializer read the document only; the
// borrow held by the caller keeps it from changing meanwhile. Small
// documents keep the lock (see kUnlockFrom); a document made from a dict
// has no source size and releases it.
SerializeResult serialize_unlocked(const Document& d, SerializeOptions options) {
  std::optional<Unlocked> unlocked;
  unlock_for(unlocked, d.source_size == 0 ? kUnlockFrom : d.source_size);
  return serialize_checked(d, options);
}

// The text as a str; text that would not read back as what was given is
// refused: too deep as RecursionError (as before), anything else as
// ValueError naming what cannot be written.
PyObject* dumps_result(SerializeResult result) {
  if (auto* text = std::get_if<std::string>(&result)) return to_str(*text);
  const SerializeFailure& failure = std::get<SerializeFailure>(result);
  if (failure.kind == SerializeFailure::Kind::TooDeep) {
    PyErr_Format(PyExc_RecursionError,
                 "data nested too deeply for dumps: values nest at most %d levels, "
                 "below at most %d sections and a block",
                 kMaxValueDepth, static_cast<int>(kMaxSectionDepth));
    return nullptr;
  }
  Ref message(message_str("dumps cannot write this so that it reads back: " + failure.message));
  if (message) PyErr_SetObject(PyExc_ValueError, message.get());
  return nullptr;
}

// One ValidationError per error finding of the document, in the
// validator's order, each with `path` and `findings`: its own finding, or,
// with `share_findings`, all of them. The findings come from the
// diagnostics engine, so they are the ones `brindle check` reports.
PyObject* validation_errors(PyObject* doc, bool share_findings) {
  std::string_view source;
  if (!document_source(doc, source)) return nullptr;
  return with_document(doc, [&](const Document& d) -> PyObject* {
    std::vector<Finding> found = document_validation(doc, source, d);
    std::erase_if(found, [](const Finding& f) { return f.severity != Severity::Error; });
    Ref all(finding_objects(source, found, Py_None));
    Ref errors(all ? PyList_New(0) : nullptr);
    if (!errors) return nullptr;
    for (size_t i = 0; i < found.size(); ++i) {
      PyObject* finding = PyList_GetItem(all.get(), static_cast<Py_ssize_t>(i));
      Ref error(make_exception(Exc::Validation, found[i].message));
      if (!error || !set_attribute(error.get(), "path", message_str(found[i].path)) ||
          !set_attribute(error.get(), "findings",
                         share_findings ? Py_NewRef(all.get()) : Py_BuildValue("[O]", finding)) ||
          PyList_Append(errors.get(), error.get()) < 0) {
        return nullptr;
      }
    }
    return errors.release();
  });
}

}  // namespace

namespace {

PyObject* parse_source(PyObject* source, PyObject* env_arg) {
  std::string_view text;
  if (!text_arg(source, "source", text)) return nullptr;
  return guarded([&]() -> PyObject* {
    // A mapping is copied before parsing: no Python code runs inside the
    // core, which runs without the interpreter lock. `text` lives in the str
    // object, which the call's arguments keep alive and nobody can change.
    SnapshotEnv snapshot;
    if (env_arg != Py_None && !snapshot.take(env_arg)) return nullptr;
    // Built straight into the heap record the object keeps: no move of the
    // whole document on its way there.
    std::unique_ptr<Document> built;
    {
      std::optional<Unlocked> unlocked;
      const ProcessEnv process(unlock_for(unlocked, text.size()));
      const EnvLookup& env = env_arg == Py_None ? static_cast<const EnvLookup&>(process) : snapshot;
      built.reset(new Document(build_document(text, env)));
    }
    const Document& document = *built;
    for (const Diagnostic& diagnostic : document.diagnostics) {
      if (diagnostic.is_warning) continue;
      // Every parse problem of the source rides along as `.diagnostics`.
      Ref all(finding_objects(text, parse_findings(document), Py_None));
      if (!all) return nullptr;
      raise_parse_error(diagnostic, text, all.get());
      return nullptr;
    }
    return new_document_object(std::move(built), source);
  });
}

}  // namespace

PyObject* module_parse(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"source", "env", nullptr};
  PyObject* source = nullptr;
  PyObject* env_arg = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$O:parse", kwlist(names), &source, &env_arg)) {
    return nullptr;
  }
  return parse_source(source, env_arg);
}

PyObject* module_parse_fast(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  if (nargs == 1 && kwnames == nullptr) return parse_source(args[0], Py_None);
  Ref tuple(PyTuple_New(nargs));
  if (!tuple) return nullptr;
  for (Py_ssize_t i = 0; i < nargs; ++i) {
    if (PyTuple_SetItem(tuple.get(), i, Py_NewRef(args[i])) < 0) return nullptr;
  }
  Ref kwargs;
  if (kwnames != nullptr) {
    kwargs.reset(PyDict_New());
    if (!kwargs) return nullptr;
    const Py_ssize_t count = PyTuple_Size(kwnames);
    for (Py_ssize_t i = 0; i < count; ++i) {
      PyObject* name = PyTuple_GetItem(kwnames, i);
      if (name == nullptr || PyDict_SetItem(kwargs.get(), name, args[nargs + i]) < 0) return nullptr;
    }
  }
  return module_parse(module, tuple.get(), kwargs.get());
}

PyObject* module_validate(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* doc = document_arg(args, kwargs, "O:validate");
  if (doc == nullptr) return nullptr;
  // The raised error carries every finding of the document, so the walk
  // covers it all (the pattern cache keeps that bounded); the error raised
  // is the first, as before.
  Ref errors(validation_errors(doc, true));
  if (!errors) return nullptr;
  if (PyList_Size(errors.get()) == 0) Py_RETURN_NONE;
  PyErr_SetObject(exception_class(Exc::Validation), PyList_GetItem(errors.get(), 0));
  return nullptr;
}

PyObject* module_validate_all(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* doc = document_arg(args, kwargs, "O:validate_all");
  if (doc == nullptr) return nullptr;
  return validation_errors(doc, false);
}

PyObject* module_dumps(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"data", nullptr};
  PyObject* data = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:dumps", kwlist(names), &data)) return nullptr;
  if (is_document(data)) {
    return with_document(data, [](const Document& d) { return dumps_result(serialize_unlocked(d, {})); });
  }
  if (!PyDict_Check(data)) {
    PyErr_SetString(PyExc_TypeError, "dumps expects a BrindleDocument or a dict");
    return nullptr;
  }
  return guarded([&]() -> PyObject* {
    Document document;
    if (!py_dict_to_value(data, document.config)) return nullptr;
    // A dict brings no variables, so it may have the quote variable defined.
    return dumps_result(serialize_unlocked(document, {.may_define_quote = true}));
  });
}

}  // namespace brindle::py
