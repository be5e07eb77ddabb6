#include "model.h"

#include <algorithm>
#include <functional>
#include <limits>

namespace brindle {

namespace {

constexpr uint64_t kHashHalf = ~uint64_t{0xFFFFFFFF};

uint64_t path_hash(std::string_view path) { return std::hash<std::string_view>{}(path); }

}  // namespace

size_t AnnotationTable::find_index(std::string_view path) const {
  if (slots_.empty()) return entries_.size();
  const size_t mask = slots_.size() - 1;
  const uint64_t hash = path_hash(path);
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const uint64_t slot = slots_[i];
    if (slot == 0) return entries_.size();
    const size_t at = static_cast<size_t>(slot & 0xFFFFFFFF) - 1;
    if ((slot & kHashHalf) == (hash & kHashHalf) && entries_[at].first == path) return at;
  }
}

void AnnotationTable::rebuild_index() {
  size_t count = 16;
  while (count < 2 * (entries_.size() + 1)) count *= 2;
  slots_.assign(count, 0);
  const size_t mask = count - 1;
  for (size_t e = 0; e < entries_.size(); ++e) {
    const uint64_t hash = path_hash(entries_[e].first);
    size_t i = hash & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;  // paths are distinct: no compare
    slots_[i] = (hash & kHashHalf) | (e + 1);
  }
}

void AnnotationTable::set(std::string path, std::vector<Annotation> list) {
  set(std::move(path), std::move(list), Segments{});
}

void AnnotationTable::set(std::string path, std::vector<Annotation> list, Segments segments) {
  const size_t found = find_index(path);
  if (found != entries_.size()) {
    entries_[found].second = std::move(list);
    segments_[found] = std::move(segments);
    return;
  }
  entries_.emplace_back(std::move(path), std::move(list));
  segments_.push_back(std::move(segments));
  if (2 * (entries_.size() + 1) > slots_.size()) {
    rebuild_index();
    return;
  }
  const size_t mask = slots_.size() - 1;
  const uint64_t hash = path_hash(entries_.back().first);
  size_t i = hash & mask;
  while (slots_[i] != 0) i = (i + 1) & mask;
  slots_[i] = (hash & kHashHalf) | entries_.size();
}

const std::vector<Annotation>* AnnotationTable::find(std::string_view path) const {
  const size_t found = find_index(path);
  return found == entries_.size() ? nullptr : &entries_[found].second;
}

const AnnotationTable::Segments* AnnotationTable::find_segments(std::string_view path) const {
  const size_t found = find_index(path);
  if (found == entries_.size() || segments_[found].empty()) return nullptr;
  return &segments_[found];
}

void AnnotationTable::sort_by_source_position() {
  auto first = [](const Entry& e) {
    return e.second.empty() ? std::numeric_limits<uint64_t>::max() : e.second.front().span.start;
  };
  auto before = [&](const Entry& a, const Entry& b) { return first(a) < first(b); };
  // Entries mostly arrive in source order already.
  if (std::is_sorted(entries_.begin(), entries_.end(), before)) return;
  std::vector<size_t> order(entries_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return before(entries_[a], entries_[b]); });
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
  rebuild_index();
}

}  // namespace brindle
