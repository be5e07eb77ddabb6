#include "env_lookup.h"

#include <cstdlib>

#include "convert.h"
#include "text.h"

namespace brindle::py {

std::optional<std::string> ProcessEnv::get(std::string_view name) const {
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string key(name);
  std::optional<std::string> found;
  if (unlocked_ != nullptr) unlocked_->relock();
  if (const char* value = std::getenv(key.c_str())) found.emplace(value);
  if (unlocked_ != nullptr) unlocked_->unlock();
  if (found && !is_valid_utf8(*found)) return std::nullopt;
  return found;
}

bool SnapshotEnv::take(PyObject* mapping) {
  Ref items(PyObject_CallMethod(mapping, "items", nullptr));
  if (!items) {
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
      PyErr_Clear();
      Ref name(type_qualname(mapping));
      if (name) PyErr_Format(PyExc_TypeError, "argument 'env' must be a mapping of str to str, not %U", name.get());
    }
    return false;
  }
  Ref iterator(PyObject_GetIter(items.get()));
  if (!iterator) return false;
  while (Ref item{PyIter_Next(iterator.get())}) {
    Ref key(PySequence_GetItem(item.get(), 0));
    Ref value(key ? PySequence_GetItem(item.get(), 1) : nullptr);
    if (!value) return false;
    if (!PyUnicode_Check(key.get()) || !PyUnicode_Check(value.get())) {
      PyErr_Format(PyExc_TypeError, "env must map str to str; got %R: %R", key.get(), value.get());
      return false;
    }
    std::string_view name;
    std::string_view text;
    if (!utf8_view(key.get(), name) || !utf8_view(value.get(), text)) return false;
    values_.insert_or_assign(std::string(name), std::string(text));
  }
  return !PyErr_Occurred();
}

std::optional<std::string> SnapshotEnv::get(std::string_view name) const {
  auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

}  // namespace brindle::py
