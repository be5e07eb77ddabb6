#include "positions.h"

#include <algorithm>
#include <cctype>

#include "convert.h"

namespace brindle::py {
namespace {

bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// "@name" of the first rule named in a validation message after its
// bracketed path (a quoted key may hold an '@' of its own).
std::string rule_code(std::string_view message, std::string_view path) {
  const size_t at = message.find('@', std::min(message.size(), path.size() + 2));
  if (at == std::string_view::npos) return "validation";
  size_t end = at + 1;
  while (end < message.size() && (std::isalnum(static_cast<unsigned char>(message[end])) || message[end] == '_')) {
    ++end;
  }
  return std::string(message.substr(at, end - at));
}

}  // namespace

LineColumn CharLocator::locate(uint64_t offset) const {
  offset = std::min<uint64_t>(offset, source_.size());
  LineColumn bytes = lines_.locate(offset);
  const uint64_t start = offset - (bytes.column - 1);
  uint64_t characters = 0;
  for (uint64_t i = start; i < offset; ++i) {
    if (!is_continuation(source_[i])) ++characters;
  }
  return {bytes.line, characters + 1};
}

std::optional<Span> find_span(const Document& doc, SpanTable table, std::string_view path) {
  switch (table) {
    case SpanTable::Value: return doc.value_span(path);
    case SpanTable::Key: return doc.key_span(path);
    case SpanTable::VariableValue: return doc.var_value_span(path);
  }
  return std::nullopt;
}

PyObject* reference_list(const Document& doc) {
  Ref refs(PyList_New(0));
  if (!refs) return nullptr;
  for (const VariableRef& ref : doc.variable_refs) {
    Ref name(to_str(ref.name));
    if (!name) return nullptr;
    Ref item(Py_BuildValue("(iOKK)", static_cast<int>(ref.kind), name.get(),
                           static_cast<unsigned long long>(ref.span.start),
                           static_cast<unsigned long long>(ref.span.end)));
    if (!item || PyList_Append(refs.get(), item.get()) < 0) return nullptr;
  }
  return refs.release();
}

std::string finding_path(const Diagnostic& diagnostic, const Document& doc) {
  const std::string_view message = diagnostic.message;
  if (message.empty() || message[0] != '[') return {};
  // A quoted section name may hold "] ", so each candidate end is tried
  // against the paths that carry rules.
  std::string fallback;
  for (size_t end = message.find("] ", 1); end != std::string_view::npos; end = message.find("] ", end + 1)) {
    std::string candidate(message.substr(1, end - 1));
    if (doc.annotations.find(candidate) != nullptr) return candidate;
    if (fallback.empty()) fallback = std::move(candidate);
  }
  return fallback;
}

PyObject* validation_finding(const Diagnostic& diagnostic, const std::string& path, const Document& doc,
                             const CharLocator& at) {
  Span span = diagnostic.span;
  if (diagnostic.kind == DiagnosticKind::Validation) {
    span = find_span(doc, SpanTable::Value, path).value_or(span);
  }
  const LineColumn begin = at.locate(span.start);
  const LineColumn end = at.locate(std::max(span.start, span.end));
  Ref module(PyImport_ImportModule("brindle._findings"));
  Ref finding_class(module ? PyObject_GetAttrString(module.get(), "Finding") : nullptr);
  if (!finding_class) return nullptr;
  Ref code(to_str(rule_code(diagnostic.message, path)));
  Ref message(code ? PyUnicode_DecodeUTF8(diagnostic.message.data(),
                                          static_cast<Py_ssize_t>(diagnostic.message.size()), "replace")
                   : nullptr);
  Ref key_path(message ? PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()), "replace")
                       : nullptr);
  if (!key_path) return nullptr;
  Ref kwargs(Py_BuildValue("{sOsssOsKsKsKsKsO}", "code", code.get(), "severity", "error", "message", message.get(),
                           "line", static_cast<unsigned long long>(begin.line), "column",
                           static_cast<unsigned long long>(begin.column), "end_line",
                           static_cast<unsigned long long>(end.line), "end_column",
                           static_cast<unsigned long long>(end.column), "path", key_path.get()));
  Ref args(kwargs ? PyTuple_New(0) : nullptr);
  if (!args) return nullptr;
  return PyObject_Call(finding_class.get(), args.get(), kwargs.get());
}

}  // namespace brindle::py
