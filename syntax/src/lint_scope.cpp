#include "lint_scope.h"

#include <algorithm>

namespace brindle {

namespace {

const Dict* dict_of(const DictEntry* entry) {
  return entry != nullptr && entry->second.is(Tag::Dict) ? &entry->second.as_dict() : nullptr;
}

}  // namespace

void LintScope::reset(const Dict* dict) {
  dict_ = dict;
  by_position_.clear();
  cursor_ = 0;
  lines_ = 0;
  indexed_ = false;
}

const DictEntry* LintScope::enter(const Dict& root, const std::vector<std::string>& segments) {
  reset(&root);
  path_.clear();
  const DictEntry* entry = nullptr;
  for (const std::string& segment : segments) {
    entry = find(segment);
    dict_ = dict_of(entry);
    path_.append(segment).push_back('.');
  }
  return entry;
}

void LintScope::enter(const LintScope& parent, std::string_view key, const DictEntry* entry) {
  reset(dict_of(entry));
  path_.assign(parent.path_).append(key).push_back('.');
}

const DictEntry* LintScope::find(std::string_view key) const {
  if (dict_ == nullptr) return nullptr;
  const auto it = dict_->find(key);
  return it == dict_->end() ? nullptr : &*it;
}

void LintScope::index_positions() {
  indexed_ = true;
  // A scope may be entered again and again (headers repeated): only a small
  // dict is indexed, so each entering costs a bounded amount.
  constexpr size_t kSmall = 64;
  if (dict_ == nullptr || dict_->size() > kSmall) return;
  for (const DictEntry& e : *dict_) {
    if (const auto span = e.key_span()) by_position_.emplace_back(span->start, &e);
  }
  std::sort(by_position_.begin(), by_position_.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
}

const DictEntry* LintScope::find_line(std::string_view key, uint64_t at) {
  // A scope entered for one key (a header repeated for each) is not worth
  // reading whole: its first line searches by key.
  if (!indexed_ && lines_++ == 0) return find(key);
  if (!indexed_) index_positions();
  // The entry whose key span starts at this line's key was stored by this
  // line: reading positions in order is cheaper than a search by key, which
  // remains for the rest (a key given again later, a dict replaced).
  while (cursor_ < by_position_.size() && by_position_[cursor_].first < at) ++cursor_;
  if (cursor_ < by_position_.size() && by_position_[cursor_].first == at &&
      by_position_[cursor_].second->first == key) {
    return by_position_[cursor_].second;
  }
  return find(key);
}

}  // namespace brindle
