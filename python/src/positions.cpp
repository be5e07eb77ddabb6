#include "positions.h"

#include "convert.h"

namespace brindle::py {

std::optional<Span> find_span(const Document& doc, SpanTable table, std::string_view path) {
  switch (table) {
    case SpanTable::Value: return doc.value_span(path);
    case SpanTable::Key: return doc.key_span(path);
    case SpanTable::VariableValue: return doc.var_value_span(path);
  }
  return std::nullopt;
}

std::optional<Span> find_span(const Document& doc, SpanTable table,
                              const std::vector<std::string>& segments) {
  switch (table) {
    case SpanTable::Value: return doc.value_span(segments);
    case SpanTable::Key: return doc.key_span(segments);
    case SpanTable::VariableValue:
      if (segments.size() != 1) return std::nullopt;
      return doc.var_value_span(segments.front());
  }
  return std::nullopt;
}

PyObject* reference_list(const Document& doc) {
  Ref refs(PyList_New(0));
  if (!refs) return nullptr;
  for (const VariableRefView ref : doc.variable_refs) {
    Ref name(to_str(ref.name));
    if (!name) return nullptr;
    Ref item(Py_BuildValue("(iOKK)", static_cast<int>(ref.kind), name.get(),
                           static_cast<unsigned long long>(ref.span.start),
                           static_cast<unsigned long long>(ref.span.end)));
    if (!item || PyList_Append(refs.get(), item.get()) < 0) return nullptr;
  }
  return refs.release();
}

}  // namespace brindle::py
