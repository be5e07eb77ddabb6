#include "model.h"

#include <algorithm>
#include <limits>

namespace brindle {

void AnnotationTable::set(std::string path, std::vector<Annotation> list) {
  auto it = index_.find(path);
  if (it != index_.end()) {
    entries_[it->second].second = std::move(list);
    return;
  }
  index_.emplace(path, entries_.size());
  entries_.emplace_back(std::move(path), std::move(list));
}

const std::vector<Annotation>* AnnotationTable::find(std::string_view path) const {
  auto it = index_.find(path);
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

void AnnotationTable::sort_by_source_position() {
  auto first = [](const Entry& e) {
    return e.second.empty() ? std::numeric_limits<uint64_t>::max() : e.second.front().span.start;
  };
  std::stable_sort(entries_.begin(), entries_.end(),
                   [&](const Entry& a, const Entry& b) { return first(a) < first(b); });
  for (size_t i = 0; i < entries_.size(); ++i) index_[entries_[i].first] = i;
}

}  // namespace brindle
