#include "functions.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "builder.h"
#include "convert.h"
#include "document.h"
#include "exceptions.h"
#include "guard.h"
#include "model.h"
#include "serializer.h"
#include "text.h"
#include "validator.h"

namespace brindle::py {
namespace {

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

}  // namespace

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

PyObject* module_validate(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* doc = document_arg(args, kwargs, "O:validate");
  if (doc == nullptr) return nullptr;
  return with_document(doc, [](const Document& d) -> PyObject* {
    // Only the first error is raised, so the walk ends there.
    for (const Diagnostic& diagnostic : validate_document(d, ValidateOptions{true})) {
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
    // Data nested deeper than any layout the parser reads back is refused
    // rather than written as text that does not parse.
    std::optional<std::string> text = serialize_within_limits(document);
    if (!text) {
      PyErr_Format(PyExc_RecursionError,
                   "data nested too deeply for dumps: values nest at most %d levels, "
                   "below at most %d sections and a block",
                   kMaxValueDepth, static_cast<int>(kMaxSectionDepth));
      return nullptr;
    }
    return to_str(*text);
  });
}

}  // namespace brindle::py
