// The caches of one conversion of a document's values to Python objects.
//
// KeyCache hands out the str of a key met before in the same conversion, so
// a key repeated over many dicts is decoded and hashed once. ShapeCache keeps,
// for dicts with the same keys, a dict with those keys: a later one starts
// as its copy, with its keys and a table of the final size, and only has its
// values replaced. Both live for one conversion, hold views into the
// document (which outlives it) and references they drop when destroyed;
// nothing is shared between conversions. The key cache keeps at most
// kMaxUsed keys; the shape cache at most 64 shapes, each one dict's key list.
#pragma once

#include "py_ref.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <string_view>
#include <vector>

#include "convert.h"
#include "model.h"

namespace brindle::py {

// Both halves of a 64 x 64 bit product, folded together: every bit of `a`
// reaches the low bits a table uses.
inline uint64_t fold(uint64_t a, uint64_t b) {
  __extension__ using Wide = unsigned __int128;
  const Wide product = static_cast<Wide>(a) * b;
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

// A hash of a key's bytes, eight at a time: keys are short, and a general
// byte hash spends more on its setup than on them. The last bytes, fewer
// than eight, are read as overlapping words rather than one by one. Not
// keyed, though keys come from the document: the key cache gives up on a
// key after a few probes, and the shape cache only misses on a collision.
inline uint64_t key_hash(std::string_view s) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  uint64_t w = 0;
  if (n >= 8) {
    const unsigned char* const last = p + n - 8;
    for (; p < last; p += 8) {
      std::memcpy(&w, p, 8);
      h = fold(h ^ w, 0xFF51AFD7ED558CCDull);
    }
    std::memcpy(&w, last, 8);
  } else if (n >= 4) {
    uint32_t lo;
    uint32_t hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + n - 4, 4);
    w = (uint64_t{hi} << 32) | lo;
  } else if (n != 0) {
    w = (uint64_t{p[0]} << 16) | (uint64_t{p[n / 2]} << 8) | p[n - 1];
  }
  return fold(h ^ w, 0xC4CEB9FE1A85EC53ull);
}

// a == b, without a call or a loop for the short keys most are: two
// overlapping words cover eight to sixteen bytes, or four to seven.
inline bool same_bytes(std::string_view a, std::string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  if (n > 16) return std::memcmp(a.data(), b.data(), n) == 0;
  if (n >= 8) {
    uint64_t a0, a1, b0, b1;
    std::memcpy(&a0, a.data(), 8);
    std::memcpy(&b0, b.data(), 8);
    std::memcpy(&a1, a.data() + n - 8, 8);
    std::memcpy(&b1, b.data() + n - 8, 8);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
  }
  if (n >= 4) {
    uint32_t a0, a1, b0, b1;
    std::memcpy(&a0, a.data(), 4);
    std::memcpy(&b0, b.data(), 4);
    std::memcpy(&a1, a.data() + n - 4, 4);
    std::memcpy(&b1, b.data() + n - 4, 4);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
  }
  // Up to three bytes: the first, middle and last are all of them.
  return n == 0 || (a[0] == b[0] && a[n / 2] == b[n / 2] && a[n - 1] == b[n - 1]);
}

class KeyCache {
 public:
  KeyCache() = default;
  KeyCache(const KeyCache&) = delete;
  KeyCache& operator=(const KeyCache&) = delete;
  ~KeyCache() {
    for (Slot& s : slots_) Py_XDECREF(s.str);
  }

  // A new reference to the str of `key`, or null with an error set.
  PyObject* get(std::string_view key) {
    if (key.size() > kMaxKey) return to_str(key);
    if (slots_.empty()) slots_.resize(kFirstSlots);
    const uint64_t hash = key_hash(key);
    size_t at = find(key, hash);
    if (at != kNoSlot && slots_[at].str != nullptr) return Py_NewRef(slots_[at].str);
    PyObject* str = to_str(key);
    if (str == nullptr) return nullptr;
    if (used_ >= kMaxUsed) return str;  // full: keys from here on are not kept
    if (2 * (used_ + 1) > slots_.size()) {
      grow();
      at = find(key, hash);
    }
    if (at == kNoSlot) return str;  // too far from its place: not kept
    slots_[at] = Slot{key.data(), key.size(), hash, Py_NewRef(str)};
    ++used_;
    return str;
  }

 private:
  // Most conversions meet a few keys; the table doubles as more come, up to
  // kMaxUsed keys (two megabytes of slots).
  static constexpr size_t kFirstSlots = 64;
  static constexpr size_t kMaxUsed = size_t{1} << 15;
  static constexpr size_t kMaxKey = 64;
  struct Slot {
    const char* data = nullptr;  // the key's bytes, in the document
    size_t size = 0;
    uint64_t hash = 0;
    PyObject* str = nullptr;  // null: free
  };

  // The slot holding `key`, or the free slot where it goes (open addressing,
  // probing one slot on: the table is never more than half full), or
  // kNoSlot past kMaxProbes slots: keys a document made to share a hash then
  // cost a few probes each and go uncached, never a walk through all of them.
  static constexpr size_t kMaxProbes = 16;
  static constexpr size_t kNoSlot = ~size_t{0};
  size_t find(std::string_view key, uint64_t hash) const {
    const size_t mask = slots_.size() - 1;
    size_t at = hash & mask;
    for (size_t probe = 0; probe < kMaxProbes; ++probe, at = (at + 1) & mask) {
      const Slot& s = slots_[at];
      if (s.str == nullptr) return at;
      if (s.hash == hash && same_bytes(std::string_view(s.data, s.size), key)) return at;
    }
    return kNoSlot;
  }

  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& s : old) {
      if (s.str == nullptr) continue;
      const size_t at = find(std::string_view(s.data, s.size), s.hash);
      if (at != kNoSlot) {
        slots_[at] = s;
      } else {
        Py_DECREF(s.str);  // crowded out by keys sharing its hash
        --used_;
      }
    }
  }

  std::vector<Slot> slots_;  // made on first use
  size_t used_ = 0;
};

// Dicts with one set of keys: the document's dict they were first seen in,
// their key str objects in order, and a dict with those keys to copy. That
// dict is first the converted one itself; once the keys come by again, a
// blank one, whose values are all None, takes its place: copying it and
// replacing its values then touches no earlier value. Never changed once
// made, so one in use stays valid while a nested conversion replaces its
// slot.
struct Shape {
  Shape(const Dict& from, PyObject* to_copy, std::vector<PyObject*> key_objects, bool is_blank)
      : source(&from), dict(Ref::borrowed(to_copy)), keys(std::move(key_objects)), blank(is_blank) {}
  const Dict* source;
  Ref dict;
  std::vector<PyObject*> keys;  // references held by `dict`
  bool blank;
};

class ShapeCache {
 public:
  // Dicts smaller than this fit Python's first table; a copy gains little.
  static constexpr size_t kMinSize = 6;

  // Size, first and last key: what makes dicts look alike (non-empty dicts).
  static uint64_t look_of(const Dict& dict) {
    return (key_hash(dict.begin()->first) * 31 + key_hash((dict.end() - 1)->first)) * 31 +
           dict.size();
  }

  // The shape with exactly the keys of `dict` in its order, its dict blank;
  // or null: with an error set when making the blank dict failed.
  std::shared_ptr<const Shape> find(const Dict& dict, uint64_t look) {
    if (!slots_) return nullptr;
    Slot& s = (*slots_)[look & (kSlots - 1)];
    if (!s.shape || s.look != look || s.shape->source->size() != dict.size()) return nullptr;
    auto a = dict.begin();
    for (auto b = s.shape->source->begin(); a != dict.end(); ++a, ++b) {
      if (!same_bytes(a->first, b->first)) return nullptr;
    }
    if (!s.shape->blank) {
      Ref blank(PyDict_New());
      if (!blank) return nullptr;
      for (PyObject* key : s.shape->keys) {
        if (PyDict_SetItem(blank.get(), key, Py_None) < 0) return nullptr;
      }
      s.shape = std::make_shared<const Shape>(*s.shape->source, blank.get(), s.shape->keys, true);
    }
    return s.shape;
  }

  // Whether `dict`, not found, is worth remembering once converted: a big
  // one at once, a smaller one from the second in a row that looks alike,
  // so that a conversion of small dicts that all differ records none.
  bool worth_remembering(const Dict& dict, uint64_t look) {
    return std::exchange(seen_[look & (kSlots - 1)], look) == look || dict.size() >= kAtOnce;
  }

  // Records `converted`, the finished conversion of `dict` whose key str
  // objects are `keys`, as the dict to copy for the next one with its keys.
  void remember(const Dict& dict, uint64_t look, PyObject* converted, std::vector<PyObject*> keys) {
    if (!slots_) slots_ = std::make_unique<std::array<Slot, kSlots>>();
    Slot& s = (*slots_)[look & (kSlots - 1)];
    s.look = look;
    s.shape = std::make_shared<const Shape>(dict, converted, std::move(keys), false);
  }

 private:
  static constexpr size_t kSlots = 64;
  static constexpr size_t kAtOnce = 64;
  struct Slot {
    uint64_t look = 0;
    std::shared_ptr<const Shape> shape;
  };
  std::array<uint64_t, kSlots> seen_{};  // the last look met in each slot
  std::unique_ptr<std::array<Slot, kSlots>> slots_;  // made on first use
};

// The caches of one conversion.
struct Caches {
  KeyCache keys;
  ShapeCache shapes;
};

}  // namespace brindle::py
