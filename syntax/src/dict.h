// Dict: the map of a dictionary value, a flat array of entries.
//
// Observed from outside it is a map in byte-wise key order with unique keys,
// used like std::map (find, at, [], insert_or_assign, iteration by
// `first`/`second`). Each entry also carries the positions of its key and
// value when the builder stored it from the source.
//
// A parse fills a dictionary with `append` (a new entry each time; the last
// of a repeated key counts) or `upsert` (which finds an existing key, through
// a hash index once the dictionary is large and has been searched); `seal`
// then puts the entries into key order, dropping replaced ones, once. A
// dictionary read before it is sealed still answers `find` correctly; only
// its iteration order (and size, with repeated keys) is not final yet.
//
// The entry array is on the heap while a dictionary fills; entries move as
// bytes, so a large array grows without holding its old copy beside the
// new one (see RelocatableArray), and a large dictionary sorts its entries
// where they are. Sealing it with an arena (or `moved_into`) moves the
// entries into an array of exactly their number in that arena, and long
// keys with them (see Key); a copy of a dictionary is always on the heap,
// its keys heap-owned.
//
// Sealing into an arena also notes whether any entry holds something to
// destroy (a heap key or value, or a dictionary below that does); when none
// does, destroying the dictionary frees its array without visiting the
// entries. Any call that can change an entry (a non-const lookup or
// iteration included) drops that note; a reference to a dictionary below,
// taken before a later sealing of this one, must not then be used to change
// it, as this one has noted what it held at that sealing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "arena.h"
#include "key_hash.h"
#include "relocatable_array.h"
#include "span.h"

namespace brindle {

class Value;
struct DictEntry;

// What sealing calls with the path of a dictionary (its key path and a
// point, empty at the root) and each entry it drops for a later one. It
// refers to a callable without owning it: the callable must outlive it, as
// a temporary does for the call it is passed to. Empty by default.
class DictDropFn {
 public:
  DictDropFn() = default;
  template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, DictDropFn>)
  DictDropFn(const F& f)  // NOLINT: converts from any callable, as std::function does
      : target_(&f), call_([](const void* t, std::string_view prefix, const DictEntry& dropped) {
          (*static_cast<const F*>(t))(prefix, dropped);
        }) {}
  explicit operator bool() const { return call_ != nullptr; }
  void operator()(std::string_view prefix, const DictEntry& dropped) const { call_(target_, prefix, dropped); }

 private:
  const void* target_ = nullptr;
  void (*call_)(const void*, std::string_view, const DictEntry&) = nullptr;
};

class Dict {
 public:
  using value_type = DictEntry;
  using Entries = RelocatableArray<DictEntry>;
  using iterator = Entries::iterator;
  using const_iterator = Entries::const_iterator;

  Dict();
  // Duplicate keys: the first one is kept, as std::map does.
  Dict(std::initializer_list<std::pair<std::string, Value>> entries);
  Dict(const Dict& other);
  Dict(Dict&& other) noexcept;
  Dict& operator=(const Dict& other);
  Dict& operator=(Dict&& other) noexcept;
  ~Dict();

  iterator begin();
  iterator end();
  const_iterator begin() const;
  const_iterator end() const;
  size_t size() const;
  bool empty() const;
  void clear();
  void reserve(size_t n);

  iterator find(std::string_view key);
  const_iterator find(std::string_view key) const;
  bool contains(std::string_view key) const { return find(key) != end(); }
  size_t count(std::string_view key) const { return contains(key) ? 1 : 0; }
  // The value of a key that must be present (std::out_of_range otherwise;
  // for callers outside the core's entry points, such as tests).
  Value& at(std::string_view key);
  const Value& at(std::string_view key) const;
  // The value of `key`, inserting null first when absent.
  Value& operator[](std::string_view key);
  // Inserts when absent (the bool tells) or else leaves the entry alone.
  std::pair<iterator, bool> emplace(std::string key, Value value);
  std::pair<iterator, bool> try_emplace(std::string key, Value value);
  // Inserts when absent or replaces the value.
  std::pair<iterator, bool> insert_or_assign(std::string key, Value value);
  iterator erase(const_iterator at);
  size_t erase(std::string_view key);

  // The entry of `key`, appended (with a null value and no positions) when
  // absent; `inserted` tells which. Key order is restored by seal().
  DictEntry& upsert(std::string_view key, bool& inserted);
  // A new entry for `key` to be filled by the caller, even when the key is
  // present: of repeated keys the last one counts, for find() and for seal(),
  // which drops the others. Cheaper than upsert while nobody looks keys up.
  // With an arena, a key too long to sit in its entry is held there.
  DictEntry& append(std::string_view key, Arena* arena = nullptr) { return append(key, arena, {}, {}); }
  // Called with the path of the dictionary (its key path and a point, empty
  // at the root) and each entry that sealing drops for a later one.
  using DropFn = DictDropFn;
  // The same. A dictionary with an index hands back the entry already there
  // for `key`: `dropped` is called with it first, under `prefix`, as seal()
  // calls it for a repeat it drops, so what a caller learns of replaced
  // entries does not depend on the dictionary's size.
  DictEntry& append(std::string_view key, Arena* arena, const DropFn& dropped, std::string_view prefix);
  // Puts the entries in key order, dropping replaced ones, and drops the
  // hash index. With an arena, the sealed entries go to an array of their
  // exact number there (a large array stays on the heap).
  void seal(const DropFn& dropped = {}, std::string_view prefix = {}, Arena* arena = nullptr);
  // Seals this dictionary and every dictionary filled by upsert below it.
  void seal_tree(const DropFn& dropped = {}, Arena* arena = nullptr);
  // The same for a dictionary at `prefix` (its key path and a point) below
  // the one a later seal_tree starts from.
  void seal_tree(const DropFn& dropped, std::string_view prefix, Arena* arena);

  // Moves the entry array, exactly sized, into `arena`, keeping order and
  // lookups as they are: a section no longer written to gives its heap
  // array back while the parse still needs heap memory. A large array stays.
  void settle(Arena& arena);
  // A dictionary of this one's entries, sealed (repeats dropped silently),
  // its entry array of exactly their number and its long keys in `arena`;
  // values move over as they are. This one is left empty but keeps its room,
  // so that one dictionary can fill many in turn (the blocks of a parse).
  // A large array moves over as it is, on the heap, as seal() leaves it.
  Dict sealed_into(Arena& arena);
  // This dictionary, sealed, with its entries and values in `arena`.
  Dict moved_into(Arena& arena) &&;
  // Whether the entry array is in `arena`.
  bool in_arena(const Arena& arena) const { return entries_.arena() == &arena; }
  // Whether destroying this dictionary, once its header is arena-held, has
  // nothing to do: no entry holds anything to destroy and the array needs
  // no freeing.
  bool nothing_to_destroy() const { return inert_ && (entries_.arena() != nullptr || entries_.capacity() == 0); }

  // The hash index of a dictionary filling by upsert (none while small or
  // once sealed: all zero): its entries and their probe steps, once the
  // entries waiting to go in are placed.
  ProbeLoad index_load();

  // Same keys in the same order with equal values; positions are not compared.
  friend bool operator==(const Dict& a, const Dict& b);

 private:
  struct Index;
  size_t find_index(std::string_view key) const;  // size() when absent
  void index_entry(size_t i, uint64_t hash);
  void place_pending();  // puts the entries waiting into the index
  DictEntry& append_entry(std::string_view key, Arena* arena);
  void rebuild_index();
  void sort_entries(const DropFn& dropped, std::string_view prefix, Arena* arena);
  // After sorting: drops all but the last of each run of equal keys.
  void drop_repeats(const DropFn& dropped, std::string_view prefix);
  std::pair<iterator, bool> insert_sorted(std::string&& key, Value&& value, bool assign);
  void seal_tree_at(const DropFn& dropped, std::string& prefix, Arena* arena);
  // Fetches what sealing the dictionaries below entries ahead of `i` reads.
  void fetch_ahead(size_t i) const;
  void move_entries_into(Arena* arena);  // as they are; null: stay

  Entries entries_;
  std::unique_ptr<Index> index_;  // only while unsealed and large
  bool sorted_ = true;            // entries are in key order
  bool filled_ = false;           // upsert was used since the last seal
  // No entry holds anything to destroy: noted by sealing into an arena,
  // dropped by any call that can change an entry.
  bool inert_ = false;
};

}  // namespace brindle
