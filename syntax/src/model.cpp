#include "model.h"

#include <algorithm>
#include <limits>

namespace brindle {

void AnnotationTable::set(std::string path, std::vector<Annotation> list) {
  set(std::move(path), std::move(list), Segments{});
}

void AnnotationTable::set(std::string path, std::vector<Annotation> list, Segments segments) {
  auto it = index_.find(path);
  if (it != index_.end()) {
    entries_[it->second].second = std::move(list);
    segments_[it->second] = std::move(segments);
    return;
  }
  index_.emplace(path, entries_.size());
  entries_.emplace_back(std::move(path), std::move(list));
  segments_.push_back(std::move(segments));
}

const std::vector<Annotation>* AnnotationTable::find(std::string_view path) const {
  auto it = index_.find(path);
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

void AnnotationTable::sort_by_source_position() {
  auto first = [](const Entry& e) {
    return e.second.empty() ? std::numeric_limits<uint64_t>::max() : e.second.front().span.start;
  };
  std::vector<size_t> order(entries_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return first(entries_[a]) < first(entries_[b]); });
  std::vector<Entry> entries;
  std::vector<Segments> segments;
  entries.reserve(entries_.size());
  segments.reserve(segments_.size());
  for (size_t i : order) {
    entries.push_back(std::move(entries_[i]));
    segments.push_back(std::move(segments_[i]));
  }
  entries_ = std::move(entries);
  segments_ = std::move(segments);
  for (size_t i = 0; i < entries_.size(); ++i) index_[entries_[i].first] = i;
}

}  // namespace brindle
