#include "format.h"

#include <string_view>

#include "convert.h"
#include "formatter.h"
#include "guard.h"

namespace brindle::py {

PyObject* module_format(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"source", nullptr};
  PyObject* source = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:format", kwlist(names), &source)) return nullptr;
  std::string_view text;
  if (!text_arg(source, "source", text)) return nullptr;
  return guarded([&]() -> PyObject* { return to_str(format_source(text)); });
}

}  // namespace brindle::py
