#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <optional>
#include <stdexcept>

#include "key_hash.h"
#include "key_order.h"
#include "key_order_in_place.h"
#include "model.h"

namespace brindle {

namespace {

// Below this many entries an unsealed dictionary is searched linearly.
constexpr size_t kIndexFrom = 16;
// Room a filling dictionary takes at its first entry.
constexpr size_t kFirstEntries = 8;
// Up to this many entries, a sorted dictionary is searched entry by entry.
constexpr size_t kFindByScan = 8;
// Up to this many entries (a section of a few dozen keys), sealing sorts
// without the heap: keys arrive in a few ordered runs, and most comparisons
// end on the heads.
constexpr size_t kStackSort = key_order::kSmallAtMost;

// How far ahead an entry read in random order is fetched.
constexpr int kPrefetchSteps = 8;

void prefetch_entry(const DictEntry* e) {
  __builtin_prefetch(e);
  __builtin_prefetch(reinterpret_cast<const char*>(e) + sizeof(DictEntry) - 1);
}

// From this many entries, sealing the dictionaries below one that holds
// sections fetches them ahead (fewer stay in cache from their filling).
constexpr size_t kFetchAheadFrom = 512;

// Entry arrays smaller than this (in bytes) are moved into the arena when
// sealed with one.
constexpr size_t kGatherBelow = 256 * 1024;

// From this many bytes of entries a dictionary sorted where it stands sorts
// its entries directly rather than handles to them.
constexpr size_t kSortInPlaceFrom = 256 * 1024;

// Keyed: entry names come from the file, and the index probes linearly.
uint64_t hash_of(std::string_view key) { return keyed_hash(key); }

bool key_less(const DictEntry& a, std::string_view b) { return std::string_view(a.first) < b; }

}  // namespace

// Open addressing, at most half full. A slot is 0 when empty, else the
// high half of the key's hash (compared before the key, so a probe rarely
// touches an entry that does not match) and the entry number + 1.
//
// In a large dictionary the slots are far larger than the cache, and most
// keys looked up while it fills (the headers of new sections) are new. A
// small filter, two bits per key out of four per slot, tells most new keys
// apart without a probe; the entries appended meanwhile wait in `pending`
// and go into the slots together, their slots fetched first, so that the
// waits for memory overlap. A lookup the filter lets through reads the few
// waiting entries before the slots: lookups never change the index.
struct Dict::Index {
  static constexpr size_t kPendingAtMost = 8;
  std::vector<uint64_t> slots;
  std::vector<uint64_t> filter;  // slots.size() / 16 words
  std::array<std::pair<uint64_t, uint32_t>, kPendingAtMost> pending;  // hash, entry number
  size_t waiting = 0;

  uint64_t filter_bits(uint64_t hash) const { return (uint64_t{1} << ((hash >> 26) & 63)) | (uint64_t{1} << ((hash >> 20) & 63)); }
  uint64_t& filter_word(uint64_t hash) { return filter[(hash >> 32) & (filter.size() - 1)]; }
  void mark(uint64_t hash) { filter_word(hash) |= filter_bits(hash); }
  bool may_hold(uint64_t hash) const {
    const uint64_t bits = filter_bits(hash);
    return (filter[(hash >> 32) & (filter.size() - 1)] & bits) == bits;
  }
};

namespace {

constexpr uint64_t kHashHalf = ~uint64_t{0xFFFFFFFF};

}  // namespace

Dict::Dict() = default;
Dict::~Dict() {
  // Nothing in the entries to destroy: only the array is freed (when on
  // the heap), without a walk over every entry of a large document.
  if (inert_) entries_.forget_items();
}
Dict::Dict(Dict&& other) noexcept = default;
Dict& Dict::operator=(Dict&& other) noexcept = default;

Dict::Dict(std::initializer_list<std::pair<std::string, Value>> entries) {
  for (const auto& [key, value] : entries) emplace(key, value);
}

Dict::Dict(const Dict& other)
    : entries_(other.entries_), sorted_(other.sorted_), filled_(other.filled_) {
  if (other.index_) index_ = std::make_unique<Index>(*other.index_);
}

Dict& Dict::operator=(const Dict& other) {
  if (this != &other) {
    Dict copy(other);
    *this = std::move(copy);
  }
  return *this;
}

void Dict::clear() {
  inert_ = false;
  entries_.clear();
  index_.reset();
  sorted_ = true;
  filled_ = false;
}

void Dict::reserve(size_t n) { entries_.reserve(n); }

size_t Dict::find_index(std::string_view key) const {
  const size_t n = entries_.size();
  if (sorted_) {
    // A few entries are compared one by one: most differ in size, and a
    // binary search would compare bytes at every step.
    if (n <= kFindByScan) {
      if (key.size() <= Key::kInline) {
        const Key::Words probe = Key::inline_words(key);
        for (size_t i = 0; i < n; ++i) {
          if (entries_[i].first.words() == probe) return i;
        }
        return n;
      }
      for (size_t i = 0; i < n; ++i) {
        if (entries_[i].first == key) return i;
      }
      return n;
    }
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key, key_less);
    return it != entries_.end() && it->first == key ? static_cast<size_t>(it - entries_.begin()) : n;
  }
  if (index_) {
    const uint64_t hash = hash_of(key);
    if (!index_->may_hold(hash)) return n;
    // The entries waiting came last: of a repeated key, theirs counts.
    for (size_t k = index_->waiting; k-- > 0;) {
      const auto [waiting_hash, at] = index_->pending[k];
      if (waiting_hash == hash && entries_[at].first == key) return at;
    }
    const size_t mask = index_->slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const uint64_t slot = index_->slots[i];
      if (slot == 0) return n;
      const size_t at = static_cast<size_t>(slot & 0xFFFFFFFF) - 1;
      if ((slot & kHashHalf) == (hash & kHashHalf) && entries_[at].first == key) return at;
    }
  }
  // Backwards: of repeated keys not yet sealed, the last one counts.
  if (key.size() <= Key::kInline) {
    const Key::Words probe = Key::inline_words(key);
    for (size_t i = n; i-- > 0;) {
      if (entries_[i].first.words() == probe) return i;
    }
    return n;
  }
  for (size_t i = n; i-- > 0;) {
    if (entries_[i].first == key) return i;
  }
  return n;
}

Dict::iterator Dict::find(std::string_view key) {
  inert_ = false;
  return entries_.begin() + static_cast<std::ptrdiff_t>(find_index(key));
}

Dict::const_iterator Dict::find(std::string_view key) const {
  return entries_.begin() + static_cast<std::ptrdiff_t>(find_index(key));
}

Value& Dict::at(std::string_view key) {
  inert_ = false;
  auto it = find(key);
  if (it == end()) throw std::out_of_range("no such key");
  return it->second;
}

const Value& Dict::at(std::string_view key) const {
  auto it = find(key);
  if (it == end()) throw std::out_of_range("no such key");
  return it->second;
}

Value& Dict::operator[](std::string_view key) {
  inert_ = false;
  auto it = find(key);
  if (it != end()) return it->second;
  return insert_sorted(std::string(key), Value(), false).first->second;
}

std::pair<Dict::iterator, bool> Dict::emplace(std::string key, Value value) {
  return insert_sorted(std::move(key), std::move(value), false);
}

std::pair<Dict::iterator, bool> Dict::try_emplace(std::string key, Value value) {
  return insert_sorted(std::move(key), std::move(value), false);
}

std::pair<Dict::iterator, bool> Dict::insert_or_assign(std::string key, Value value) {
  return insert_sorted(std::move(key), std::move(value), true);
}

std::pair<Dict::iterator, bool> Dict::insert_sorted(std::string&& key, Value&& value, bool assign) {
  inert_ = false;
  if (!sorted_) {
    bool inserted = false;
    DictEntry& e = upsert(key, inserted);
    if (inserted || assign) e.second = std::move(value);
    return {entries_.begin() + (&e - entries_.data()), inserted};
  }
  auto it = std::lower_bound(entries_.begin(), entries_.end(), std::string_view(key), key_less);
  if (it != entries_.end() && it->first == key) {
    if (assign) it->second = std::move(value);
    return {it, false};
  }
  DictEntry e;
  e.first = std::move(key);
  e.second = std::move(value);
  return {entries_.insert(it, std::move(e)), true};
}

Dict::iterator Dict::erase(const_iterator at) {
  inert_ = false;
  auto next = entries_.erase(at);
  if (index_) {
    const size_t offset = static_cast<size_t>(next - entries_.begin());
    rebuild_index();
    next = entries_.begin() + static_cast<std::ptrdiff_t>(offset);
  }
  return next;
}

size_t Dict::erase(std::string_view key) {
  auto it = find(key);
  if (it == end()) return 0;
  erase(it);
  return 1;
}

void Dict::index_entry(size_t i, uint64_t hash) {
  const size_t mask = index_->slots.size() - 1;
  const uint64_t tagged = (hash & kHashHalf) | (i + 1);
  for (size_t s = hash & mask;; s = (s + 1) & mask) {
    uint64_t& slot = index_->slots[s];
    const size_t at = static_cast<size_t>(slot & 0xFFFFFFFF) - 1;
    // A repeated key (appended before the index existed) takes the slot of
    // the earlier one: the last one counts.
    if (slot == 0 || ((slot & kHashHalf) == (hash & kHashHalf) && entries_[at].first == entries_[i].first)) {
      slot = tagged;
      return;
    }
  }
}

void Dict::rebuild_index() {
  if (sorted_ || entries_.size() < kIndexFrom) {
    index_.reset();
    return;
  }
  size_t slots = 32;
  while (slots < 2 * (entries_.size() + 1)) slots *= 2;
  if (!index_) index_ = std::make_unique<Index>();
  index_->slots.assign(slots, 0);
  index_->filter.assign(slots / 16, 0);
  index_->waiting = 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const uint64_t hash = hash_of(entries_[i].first);
    index_->mark(hash);
    index_entry(i, hash);
  }
}

ProbeLoad Dict::index_load() {
  ProbeLoad load;
  if (!index_) return load;
  if (index_->waiting != 0) place_pending();
  const size_t mask = index_->slots.size() - 1;
  for (size_t i = 0; i < index_->slots.size(); ++i) {
    const uint64_t slot = index_->slots[i];
    if (slot == 0) continue;
    const size_t at = static_cast<size_t>(slot & 0xFFFFFFFF) - 1;
    load.entries += 1;
    load.steps += (i - (hash_of(entries_[at].first) & mask)) & mask;
  }
  return load;
}

void Dict::place_pending() {
  Index& index = *index_;
  const size_t mask = index.slots.size() - 1;
  for (size_t k = 0; k < index.waiting; ++k) __builtin_prefetch(&index.slots[index.pending[k].first & mask]);
  // In the order appended: of repeated keys the last one takes the slot.
  for (size_t k = 0; k < index.waiting; ++k) index_entry(index.pending[k].second, index.pending[k].first);
  index.waiting = 0;
}

DictEntry& Dict::append_entry(std::string_view key, Arena* arena) {
  // Arrival in key order keeps the dictionary sorted, so seal() has nothing
  // to do and lookups stay binary searches.
  if (sorted_ && !entries_.empty() && !(std::string_view(entries_.back().first) < key)) {
    sorted_ = false;
  }
  entries_.emplace_back();
  entries_.back().first.assign(key, arena);
  if (index_) {
    if (2 * (entries_.size() + 1) > index_->slots.size()) {
      rebuild_index();
    } else {
      Index& index = *index_;
      const uint64_t hash = hash_of(entries_.back().first);
      index.mark(hash);
      index.pending[index.waiting++] = {hash, static_cast<uint32_t>(entries_.size() - 1)};
      if (index.waiting == Index::kPendingAtMost) place_pending();
    }
  }
  return entries_.back();
}

DictEntry& Dict::upsert(std::string_view key, bool& inserted) {
  filled_ = true;
  inert_ = false;
  if (!sorted_ && !index_ && entries_.size() >= kIndexFrom) rebuild_index();
  const size_t found = find_index(key);
  inserted = found == entries_.size();
  if (!inserted) return entries_[found];
  DictEntry& e = append_entry(key, nullptr);
  if (!sorted_ && !index_ && entries_.size() >= kIndexFrom) rebuild_index();
  return e;
}

DictEntry& Dict::append(std::string_view key, Arena* arena, const DropFn& dropped, std::string_view prefix) {
  filled_ = true;
  inert_ = false;
  if (index_) {
    bool inserted = false;
    DictEntry& e = upsert(key, inserted);
    if (!inserted && dropped) dropped(prefix, e);
    if (arena != nullptr) e.first.move_into(*arena);
    return e;
  }
  // A dictionary filled key by key (a section, a block) starts with room
  // for a few entries: doubling from one would allocate and move at each of
  // the first steps, which is most of what a small one costs. A dictionary
  // that only holds sections (filled by upsert) keeps growing from one, as
  // it stays on the heap, at its size, to the end of the parse.
  if (entries_.capacity() == 0) entries_.reserve(kFirstEntries);
  return append_entry(key, arena);
}

void Dict::seal(const DropFn& dropped, std::string_view prefix, Arena* arena) {
  filled_ = false;
  index_.reset();
  // A large array stays where it is: copying it would hold it twice at the
  // peak, and its spare room was never touched, so costs no memory.
  Arena* const gather_into = entries_.size() * sizeof(DictEntry) < kGatherBelow ? arena : nullptr;
  if (!sorted_) sort_entries(dropped, prefix, gather_into);
  if (arena != nullptr) {
    // The values were moved in as they were stored (or are heap-owned,
    // which an arena array may hold as well).
    move_entries_into(gather_into);
    return;
  }
  // A section's array grew by doubling; a small one gives its spare room
  // back (a large one's spare room was never touched, so costs no memory).
  constexpr size_t kTrimBelow = 64 * 1024;
  if (entries_.capacity() > entries_.size() + entries_.size() / 4 &&
      entries_.capacity() * sizeof(DictEntry) < kTrimBelow) {
    entries_.shrink_to_fit();
  }
}

void Dict::move_entries_into(Arena* arena) {
  if (arena == nullptr || in_arena(*arena)) return;
  Entries moved(arena);
  moved.reserve(entries_.size());
  bool inert = true;
  for (DictEntry& e : entries_) {
    moved.push_back(std::move(e));
    moved.back().first.move_into(*arena);
    inert = inert && moved.back().nothing_to_destroy();
  }
  entries_ = std::move(moved);
  inert_ = inert;
}

void Dict::settle(Arena& arena) {
  if (entries_.size() * sizeof(DictEntry) < kGatherBelow) move_entries_into(&arena);
}

Dict Dict::sealed_into(Arena& arena) {
  index_.reset();
  filled_ = false;
  // Sorted where it is, on the heap, then copied once into the arena.
  if (!sorted_) sort_entries({}, {}, nullptr);
  Dict out;
  if (entries_.size() * sizeof(DictEntry) >= kGatherBelow) {
    // A large array stays where it is, as seal() leaves it: a copy would
    // hold it twice at the peak.
    bool inert = true;
    for (DictEntry& e : entries_) {
      e.first.move_into(arena);
      inert = inert && e.nothing_to_destroy();
    }
    out.entries_ = std::move(entries_);
    out.inert_ = inert;
    clear();
    return out;
  }
  out.entries_ = Entries(&arena);
  out.entries_.reserve(entries_.size());
  bool inert = true;
  for (DictEntry& e : entries_) {
    e.first.move_into(arena);
    out.entries_.push_back(std::move(e));
    inert = inert && out.entries_.back().nothing_to_destroy();
  }
  out.inert_ = inert;
  entries_.clear();
  sorted_ = true;
  return out;
}

Dict Dict::moved_into(Arena& arena) && {
  Dict out;
  // Noted already (a section sealed as it was left): moving leaves its
  // entries holding nothing to destroy, and a large one is not read again.
  const bool known = inert_;
  seal({}, {}, &arena);
  bool inert = true;
  for (DictEntry& e : entries_) {
    e.first.move_into(arena);
    // A scalar holds nothing to move; skipping it spares a large
    // dictionary of numbers a write to every entry.
    if (e.second.is(Tag::String) || e.second.is(Tag::Array) || e.second.is(Tag::Dict)) {
      e.second = Value::into_arena(std::move(e.second), arena);
    }
    if (!known) inert = inert && e.nothing_to_destroy();
  }
  out.entries_ = std::move(entries_);
  out.sorted_ = true;
  out.inert_ = inert;
  clear();
  return out;
}

void Dict::sort_entries(const DropFn& dropped, std::string_view prefix, Arena* arena) {
  // Sorting small handles and moving each entry once is far cheaper than
  // sorting the entries (see key_order.h).
  using key_order::Handle;
  const size_t n = entries_.size();
  if ((arena == nullptr || in_arena(*arena)) && n * sizeof(DictEntry) >= kSortInPlaceFrom) {
    // Handles to all the entries would cost two thirds of them again at the
    // peak; the entries sort where they are, with a bounded scratch area.
    const size_t chunk = std::min(n, key_order::kInPlaceChunk);
    const bool pairs = n > chunk;
    auto area = std::make_unique_for_overwrite<unsigned char[]>(key_order::in_place_scratch_bytes(chunk, pairs));
    const key_order::InPlaceScratch scratch{area.get(), chunk, pairs};
    const auto key_of = [](const DictEntry& e) { return std::string_view(e.first); };
    // Entries stored from the source carry the positions of their keys,
    // which grow with arrival as a rule: then they order repeated keys, and
    // no array of numbers need stand beside the entries. The sort checks
    // that they grow before it moves anything.
    const auto position = [](const DictEntry& e) -> uint64_t {
      const std::optional<Span> at = e.key_span();
      return at ? at->start + 1 : 0;
    };
    std::optional<size_t> repeats =
        key_order::sort_in_place(entries_.data(), nullptr, n, key_of, position, scratch);
    if (!repeats) {
      std::vector<uint32_t> numbers(n);
      std::iota(numbers.begin(), numbers.end(), 0u);
      repeats = key_order::sort_in_place(entries_.data(), numbers.data(), n, key_of, position, scratch);
    }
    area.reset();
    sorted_ = true;
    if (*repeats != 0) drop_repeats(dropped, prefix);
    return;
  }
  // Most dictionaries (a section, a block) are small: their handles and
  // permutation sit on the stack, where the heap would cost more than the
  // sort.
  std::array<Handle, kStackSort> stack_order;
  std::vector<Handle> heap_order;
  Handle* order = stack_order.data();
  if (n > kStackSort) {
    heap_order.resize(n);
    order = heap_order.data();
  }
  for (size_t i = 0; i < n; ++i) {
    order[i] = Handle{key_order::head_of(std::string_view(entries_[i].first)), static_cast<uint32_t>(i)};
  }
  const DictEntry* const data = entries_.data();
  const auto key_of = [data](uint32_t i) { return std::string_view(data[i].first); };
  if (n > kStackSort) {
    key_order::sort_handles(heap_order, key_of);
  } else {
    std::array<Handle, kStackSort> spare;
    key_order::sort_small(order, spare.data(), n, key_of);
  }
  auto same_key = [&key_of](const Handle& a, const Handle& b) {
    return a.head == b.head && key_of(a.index) == key_of(b.index);
  };
  size_t repeats = 0;
  for (size_t i = 0; i + 1 < n; ++i) repeats += same_key(order[i], order[i + 1]) ? 1 : 0;
  if (arena == nullptr || in_arena(*arena)) {
    // In place: no second array of entries, which for a large dictionary
    // would double its peak memory. Of a run of equal keys the last one
    // stored counts; the others are dropped in key order, then the kept
    // ones close up.
    std::array<uint32_t, kStackSort> stack_from;
    std::vector<uint32_t> heap_from(n > kStackSort ? n : 0);
    uint32_t* from = n > kStackSort ? heap_from.data() : stack_from.data();
    for (size_t i = 0; i < n; ++i) from[i] = order[i].index;
    std::vector<Handle>().swap(heap_order);
    key_order::permute(entries_.data(), from, n);
    std::vector<uint32_t>().swap(heap_from);
    sorted_ = true;
    if (repeats != 0) drop_repeats(dropped, prefix);
    return;
  }
  // Gathered into the arena, in an array of exactly the entries kept
  // (the heap array filled by doubling was not).
  Entries sorted(arena);
  sorted.reserve(n - repeats);
  for (size_t i = 0; i < n; ++i) {
    if (i + kPrefetchSteps < n) prefetch_entry(&entries_[order[i + kPrefetchSteps].index]);
    // Of a run of equal keys the last one stored counts.
    if (i + 1 < n && same_key(order[i], order[i + 1])) {
      if (dropped) dropped(prefix, entries_[order[i].index]);
      continue;
    }
    sorted.push_back(std::move(entries_[order[i].index]));
  }
  entries_ = std::move(sorted);
  sorted_ = true;
}

void Dict::drop_repeats(const DropFn& dropped, std::string_view prefix) {
  // Of a run of equal keys the last one stored counts; the others are
  // dropped in key order, then the kept ones close up.
  const size_t n = entries_.size();
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i) {
    if (i + 1 < n && std::string_view(entries_[i].first) == std::string_view(entries_[i + 1].first)) {
      if (dropped) dropped(prefix, entries_[i]);
      continue;
    }
    if (kept != i) entries_[kept] = std::move(entries_[i]);
    ++kept;
  }
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(kept), entries_.end());
}

void Dict::fetch_ahead(size_t i) const {
  const size_t n = entries_.size();
  if (i + 2 * kPrefetchSteps < n) {
    const Value& v = entries_[i + 2 * kPrefetchSteps].second;
    if (v.is(Tag::Dict)) __builtin_prefetch(&v.as_dict());
  }
  if (i + kPrefetchSteps < n) {
    const Value& v = entries_[i + kPrefetchSteps].second;
    if (v.is(Tag::Dict) && v.as_dict().filled_) __builtin_prefetch(v.as_dict().entries_.data());
  }
}

void Dict::seal_tree(const DropFn& dropped, Arena* arena) {
  std::string prefix;
  seal_tree_at(dropped, prefix, arena);
}

void Dict::seal_tree(const DropFn& dropped, std::string_view prefix, Arena* arena) {
  std::string path(prefix);
  seal_tree_at(dropped, path, arena);
}

void Dict::seal_tree_at(const DropFn& dropped, std::string& prefix, Arena* arena) {
  // Only dictionaries filled entry by entry can hold unsealed ones; values
  // made whole (inline dicts, copies) are sealed already. Sections nest at
  // most as deep as the builder allows, which bounds the recursion.
  if (!filled_) return;
  // A large dictionary looked up while it filled (one holding sections)
  // fetches the dictionaries below ahead; one filled key by key holds few.
  const bool fetch = index_ != nullptr && entries_.size() >= kFetchAheadFrom;
  seal(dropped, prefix, arena);
  // What the entries hold is noted on the way, once each dictionary below
  // is sealed and in place.
  bool inert = true;
  const size_t n = entries_.size();
  for (size_t i = 0; i < n; ++i) {
    // Many dictionaries below (the sections of a large document) lie all
    // over its memory, in an order unlike key order: each header, then its
    // entries, is fetched some entries ahead.
    if (fetch) fetch_ahead(i);
    DictEntry& e = entries_[i];
    if (e.second.is(Tag::Dict)) {
      Dict& child = e.second.as_dict();
      if (child.filled_) {
        const size_t size = prefix.size();
        prefix.append(e.first).push_back('.');
        child.seal_tree_at(dropped, prefix, arena);
        prefix.resize(size);
        if (arena != nullptr) e.second = Value::into_arena(std::move(e.second), *arena);
      }
    }
    inert = inert && e.nothing_to_destroy();
  }
  inert_ = inert;
}

bool operator==(const Dict& a, const Dict& b) {
  if (a.size() != b.size()) return false;
  if (!a.sorted_ || !b.sorted_) {
    Dict x(a), y(b);
    x.seal();
    y.seal();
    return x == y;
  }
  for (size_t i = 0; i < a.entries_.size(); ++i) {
    if (a.entries_[i].first != b.entries_[i].first || !(a.entries_[i].second == b.entries_[i].second))
      return false;
  }
  return true;
}

const DictEntry* entry_at(const Dict& root, std::string_view path) {
  const Dict* table = &root;
  size_t start = 0;
  while (true) {
    const size_t dot = path.find('.', start);
    const std::string_view piece =
        path.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    auto it = table->find(piece);
    if (it == table->end()) return nullptr;
    if (dot == std::string_view::npos) return &*it;
    if (!it->second.is(Tag::Dict)) return nullptr;
    table = &it->second.as_dict();
    start = dot + 1;
  }
}

const DictEntry* entry_at(const Dict& root, const std::vector<std::string>& segments) {
  const Dict* table = &root;
  const DictEntry* found = nullptr;
  for (const std::string& segment : segments) {
    if (table == nullptr) return nullptr;
    auto it = table->find(segment);
    if (it == table->end()) return nullptr;
    found = &*it;
    table = found->second.is(Tag::Dict) ? &found->second.as_dict() : nullptr;
  }
  return found;
}

namespace {

std::string joined(const std::vector<std::string>& segments) {
  std::string path;
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i != 0) path += '.';
    path += segments[i];
  }
  return path;
}

size_t count_key_spans(const Dict& d, int depth) {
  size_t n = 0;
  for (const DictEntry& e : d) {
    n += e.has_key_span() ? 1 : 0;
    // Only stored entries have positions below them; inline dict values do
    // not, and sections nest a bounded depth.
    if (e.second.is(Tag::Dict) && depth < 512) n += count_key_spans(e.second.as_dict(), depth + 1);
  }
  return n;
}

}  // namespace

std::optional<Span> Document::key_span(std::string_view path) const {
  const DictEntry* e = entry_at(config, path);
  if (e != nullptr && e->has_key_span()) return e->key_span();
  auto it = replaced_spans.find(std::string(path));
  if (it == replaced_spans.end() || !it->second.has_key_span) return std::nullopt;
  return it->second.key_span;
}

std::optional<Span> Document::value_span(std::string_view path) const {
  const DictEntry* e = entry_at(config, path);
  if (e != nullptr && e->has_value_span()) return e->value_span();
  auto it = replaced_spans.find(std::string(path));
  if (it == replaced_spans.end() || !it->second.has_value_span) return std::nullopt;
  return it->second.value_span;
}

// Replaced positions are kept by dotted path; only a path whose entry has
// none of its own gets there, so the join happens off the common path.
std::optional<Span> Document::key_span(const std::vector<std::string>& segments) const {
  const DictEntry* e = entry_at(config, segments);
  if (e != nullptr && e->has_key_span()) return e->key_span();
  if (replaced_spans.empty() || segments.empty()) return std::nullopt;
  auto it = replaced_spans.find(joined(segments));
  if (it == replaced_spans.end() || !it->second.has_key_span) return std::nullopt;
  return it->second.key_span;
}

std::optional<Span> Document::value_span(const std::vector<std::string>& segments) const {
  const DictEntry* e = entry_at(config, segments);
  if (e != nullptr && e->has_value_span()) return e->value_span();
  if (replaced_spans.empty() || segments.empty()) return std::nullopt;
  auto it = replaced_spans.find(joined(segments));
  if (it == replaced_spans.end() || !it->second.has_value_span) return std::nullopt;
  return it->second.value_span;
}

std::optional<Span> Document::var_key_span(std::string_view name) const {
  auto it = vars.find(name);
  if (it == vars.end()) return std::nullopt;
  return it->key_span();
}

std::optional<Span> Document::var_value_span(std::string_view name) const {
  auto it = vars.find(name);
  if (it == vars.end()) return std::nullopt;
  return it->value_span();
}

size_t Document::key_span_count() const { return count_key_spans(config, 0); }

}  // namespace brindle
