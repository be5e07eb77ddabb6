#include "model.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "insertion_sort.h"
#include "key_hash.h"

namespace brindle {

namespace {

// Below this many entries a lookup compares paths one by one: cheaper than
// hashing for the few annotated keys of an ordinary file.
constexpr size_t kScanLimit = 16;
// Up to this many entries, reordering by source position sorts by insertion.
constexpr size_t kInsertionSortUpTo = 64;
// Annotation records per block: the first block holds a small file's
// annotations, later ones double up to this size (a longer list gets a
// block of its own size).
constexpr size_t kFirstBlock = 32;
constexpr size_t kBlockLimit = 4096;
// Entries, and bytes of their paths, that the first entry makes room for.
constexpr size_t kFirstSlots = 32;
constexpr size_t kFirstPathBytes = 512;
// How many paths ahead `finish` fetches the index slot of a path.
constexpr size_t kProbeAhead = 8;

// Where a list's first record starts; an empty list counts as past every
// other, so that reordering leaves empty lists at the end.
uint64_t first_start(const AnnotationList& list) {
  return list.empty() ? std::numeric_limits<uint64_t>::max() : list.front().span.start();
}

// Keyed: paths come from the file, and the index probes linearly; the
// index keeps 32 bits of it.
uint32_t path_hash(std::string_view path) { return static_cast<uint32_t>(keyed_hash(path)); }

// What the filter of a table without an index reads: cheap and unkeyed, as
// such a table holds at most kScanLimit paths, so a false match costs a
// bounded scan. The length and the first and last eight bytes (fewer when
// shorter): paths of one section differ in their ends.
uint32_t filter_hash(std::string_view path) {
  const size_t n = path.size();
  uint64_t head = 0;
  uint64_t tail = 0;
  if (n != 0) std::memcpy(&head, path.data(), std::min<size_t>(n, 8));
  if (n > 8) std::memcpy(&tail, path.data() + n - std::min<size_t>(n - 8, 8), std::min<size_t>(n - 8, 8));
  uint64_t h = head * 0x9E3779B97F4A7C15ull ^ tail * 0xC4CEB9FE1A85EC53ull ^ n;
  h ^= h >> 32;  // the high bytes reach the low bits the filter reads
  h *= 0xFF51AFD7ED558CCDull;
  return static_cast<uint32_t>(h >> 32);
}

}  // namespace

AnnotationTable::AnnotationTable(const AnnotationTable& other)
    : slots_(other.slots_), paths_(other.paths_), segments_(other.segments_),
      index_(other.index_), merged_(other.merged_), ordered_(other.ordered_),
      last_start_(other.last_start_) {
  // The copy packs the live lists into one block and points at them.
  size_t total = 0;
  for (const Slot& s : slots_) total += s.list.size();
  if (total == 0) return;
  std::vector<Annotation>& block = blocks_.emplace_back();
  block.reserve(total);
  for (Slot& s : slots_) {
    const size_t at = block.size();
    block.insert(block.end(), s.list.begin(), s.list.end());
    s.list = AnnotationList(block.data() + at, s.list.size());
  }
}

AnnotationTable& AnnotationTable::operator=(const AnnotationTable& other) {
  if (this != &other) {
    AnnotationTable copy(other);
    *this = std::move(copy);
  }
  return *this;
}

// The first of the first `count` entries whose path is `path` (found one by
// one while the table has no index), or `count` when there is none.
size_t AnnotationTable::scan(std::string_view path, size_t count) const {
  for (size_t at = 0; at < count; ++at) {
    const Slot& s = slots_[at];
    if (s.path_size == path.size() && path_of(s) == path) {
      return at;
    }
  }
  return count;
}

size_t AnnotationTable::find_index(std::string_view path) const {
  if (index_.empty()) return scan(path, slots_.size());
  return find_index_below(path, path_hash(path), slots_.size());
}

size_t AnnotationTable::find_index_below(std::string_view path, uint32_t hash,
                                         size_t count) const {
  if (index_.empty()) return scan(path, count);
  const size_t mask = index_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const uint64_t slot = index_[i];
    if (slot == 0) return count;
    const size_t at = static_cast<size_t>(slot & 0xFFFFFFFF) - 1;
    const Slot& s = slots_[at];
    if (static_cast<uint32_t>(slot >> 32) == hash && s.path_size == path.size() &&
        std::string_view(paths_).substr(s.path_at, s.path_size) == path) {
      return at;
    }
  }
}

void AnnotationTable::index_slot(size_t at, uint32_t hash) {
  const size_t mask = index_.size() - 1;
  size_t i = hash & mask;
  while (index_[i] != 0) i = (i + 1) & mask;  // paths are distinct: no compare
  index_[i] = (uint64_t{hash} << 32) | (at + 1);
}

void AnnotationTable::grow_index(size_t count) {
  size_t size = 64;
  while (size < 2 * (slots_.size() + 1)) size *= 2;
  std::vector<uint64_t> old(size, 0);
  old.swap(index_);
  const size_t mask = size - 1;
  for (const uint64_t held : old) {
    if (held == 0) continue;
    size_t i = (held >> 32) & mask;
    while (index_[i] != 0) i = (i + 1) & mask;
    index_[i] = held;
  }
  if (old.empty()) {
    for (size_t at = 0; at < count; ++at) index_slot(at, path_hash(path_of(slots_[at])));
  }
}

AnnotationList AnnotationTable::store(std::vector<Annotation>& list) {
  const size_t n = list.size();
  if (n == 0) return {};
  if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < n) {
    const size_t next =
        blocks_.empty() ? kFirstBlock : std::min(2 * blocks_.back().capacity(), kBlockLimit);
    blocks_.emplace_back().reserve(std::max(next, n));
  }
  std::vector<Annotation>& block = blocks_.back();
  const size_t at = block.size();
  for (Annotation& a : list) block.push_back(std::move(a));  // within capacity: nothing moves
  list.clear();
  return AnnotationList(block.data() + at, n);
}

void AnnotationTable::set_segments(Slot& slot, Segments segments) {
  if (segments.empty()) {
    slot.segments = 0;
  } else if (slot.segments != 0) {
    segments_[slot.segments - 1] = std::move(segments);
  } else {
    segments_.push_back(std::move(segments));
    slot.segments = static_cast<uint32_t>(segments_.size());
  }
}

void AnnotationTable::make_room() {
  if (slots_.capacity() != 0) return;
  slots_.reserve(kFirstSlots);
  paths_.reserve(kFirstPathBytes);
  blocks_.reserve(4);
}

void AnnotationTable::append(std::string_view path, std::vector<Annotation>& list,
                             Segments segments) {
  make_room();
  slots_.push_back(Slot{{}, paths_.size(), static_cast<uint32_t>(path.size()), 0});
  paths_.append(path);
  Slot& slot = slots_.back();
  slot.list = store(list);
  set_segments(slot, std::move(segments));
  note_appended(slot);
}

void AnnotationTable::note_appended(const Slot& slot) {
  const uint64_t start = first_start(slot.list);
  if (start < last_start_) ordered_ = false;
  last_start_ = start;
}

void AnnotationTable::finish() {
  const size_t all = slots_.size();
  if (merged_ >= all) {  // nothing appended (or a moved-from table)
    merged_ = all;
    return;
  }
  const bool grow = index_.empty() ? all > kScanLimit : 2 * (all + 1) > index_.size();
  if (grow) grow_index(merged_);
  // Survivors move down to `kept`; a repeat hands its list and segments to
  // the entry that came first and is dropped (its path bytes stay behind).
  // Without an index, a filter of the hashes kept so far tells most new
  // paths apart without scanning the entries before them.
  const bool scanning = index_.empty();
  uint64_t seen[4] = {0, 0, 0, 0};
  const auto mark = [&seen](uint32_t hash) { seen[(hash >> 6) & 3] |= uint64_t{1} << (hash & 63); };
  const auto maybe_seen = [&seen](uint32_t hash) { return (seen[(hash >> 6) & 3] >> (hash & 63)) & 1; };
  if (scanning) {
    for (size_t at = 0; at < merged_; ++at) mark(filter_hash(path_of(slots_[at])));
  }
  // With an index, the slot of each path is fetched a few paths ahead: in
  // a large document the index is far larger than the cache, and the waits
  // then overlap rather than come one after another. (Entries move down
  // only to `kept`, so those ahead are still where they were appended.)
  uint32_t ahead[kProbeAhead];
  const size_t mask = index_.size() - 1;
  const auto fetch = [&](size_t at) {
    const uint32_t hash = path_hash(path_of(slots_[at]));
    ahead[at % kProbeAhead] = hash;
    __builtin_prefetch(&index_[hash & mask]);
  };
  if (!scanning) {
    for (size_t at = merged_; at < all && at < merged_ + kProbeAhead; ++at) fetch(at);
  }
  size_t kept = merged_;
  for (size_t at = merged_; at < all; ++at) {
    const Slot s = slots_[at];
    const std::string_view path = path_of(s);
    uint32_t hash = 0;
    if (scanning) {
      hash = filter_hash(path);
    } else {
      hash = ahead[at % kProbeAhead];
      if (at + kProbeAhead < all) fetch(at + kProbeAhead);
    }
    const size_t first = scanning && !maybe_seen(hash) ? kept : find_index_below(path, hash, kept);
    if (first != kept) {
      ordered_ = false;  // an earlier entry takes a later list
      slots_[first].list = s.list;
      slots_[first].segments = s.segments;
      continue;
    }
    slots_[kept] = s;
    if (scanning) {
      mark(hash);
    } else {
      index_slot(kept, hash);
    }
    ++kept;
  }
  slots_.resize(kept);
  merged_ = kept;
}

void AnnotationTable::take(std::string_view path, std::vector<Annotation>& list,
                           Segments segments) {
  finish();
  const uint32_t hash = path_hash(path);
  size_t at = find_index_below(path, hash, slots_.size());
  if (at == slots_.size()) {
    make_room();
    slots_.push_back(Slot{{}, paths_.size(), static_cast<uint32_t>(path.size()), 0});
    paths_.append(path);
    if (!index_.empty() && 2 * (slots_.size() + 1) <= index_.size()) {
      index_slot(at, hash);
    } else if (slots_.size() > kScanLimit) {
      grow_index(at);
      index_slot(at, hash);
    }
    merged_ = slots_.size();
  }
  Slot& slot = slots_[at];
  slot.list = store(list);
  set_segments(slot, std::move(segments));
  if (at + 1 == slots_.size()) {
    note_appended(slot);
  } else {
    ordered_ = false;
  }
}

ProbeLoad AnnotationTable::index_load() const {
  ProbeLoad load;
  const size_t mask = index_.size() - 1;
  for (size_t i = 0; i < index_.size(); ++i) {
    if (index_[i] == 0) continue;
    const size_t at = static_cast<size_t>(index_[i] & 0xFFFFFFFF) - 1;
    load.entries += 1;
    load.steps += (i - (path_hash(path_of(slots_[at])) & mask)) & mask;
  }
  return load;
}

const AnnotationList* AnnotationTable::find(std::string_view path) const {
  const size_t at = find_index(path);
  return at == slots_.size() ? nullptr : &slots_[at].list;
}

const AnnotationTable::Segments* AnnotationTable::find_segments(std::string_view path) const {
  const size_t at = find_index(path);
  if (at == slots_.size() || slots_[at].segments == 0) return nullptr;
  return &segments_[slots_[at].segments - 1];
}

const AnnotationTable::Segments& AnnotationTable::segments(size_t index) const {
  static const Segments kNone;
  const uint32_t at = slots_[index].segments;
  return at == 0 ? kNone : segments_[at - 1];
}

void AnnotationTable::sort_by_source_position() {
  finish();
  if (ordered_) return;
  auto before = [](const Slot& a, const Slot& b) { return first_start(a.list) < first_start(b.list); };
  ordered_ = true;
  last_start_ = slots_.empty() ? 0 : first_start(slots_.back().list);
  // Not known to be in order (a path set again, say) is not out of order.
  if (std::is_sorted(slots_.begin(), slots_.end(), before)) return;
  if (slots_.size() <= kInsertionSortUpTo) {
    // The few entries of a small file, nearly in order: an insertion sort
    // (stable too) without the merge sort's buffer.
    insertion_sort(slots_.data(), slots_.size(), before);
  } else {
    std::stable_sort(slots_.begin(), slots_.end(), before);
  }
  if (!index_.empty()) {
    index_.clear();  // the entries moved: hash their paths again
    grow_index(slots_.size());
  }
}

}  // namespace brindle
