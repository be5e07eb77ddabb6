// Key: the key of a dictionary entry, in 16 bytes.
//
// It reads as a std::string_view (it converts to one) and compares as
// std::string does, byte by byte as unsigned values. A key of up to 14 bytes
// sits inside the object; a longer one points to its bytes, which are either
// heap-owned (freed by the key) or arena-held (left to the arena).
//
// Ownership follows Value: copying any key gives a heap-owned copy; moving a
// key moves its bytes as they are (an arena-held key stays tied to its
// arena) and leaves the source empty; `move_into` puts the bytes of a
// heap-owned key into an arena.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <string>
#include <string_view>

#include "arena.h"
#include "relocatable.h"

namespace brindle {

class Key {
 public:
  static constexpr size_t kInline = 14;

  Key() noexcept = default;  // empty
  explicit Key(std::string_view s) { set(s, nullptr); }
  Key(const Key& other) { set(other.view(), nullptr); }
  Key(Key&& other) noexcept {
    std::memcpy(raw_, other.raw_, sizeof raw_);
    other.raw_[0] = 0;
  }
  Key& operator=(const Key& other) {
    if (this != &other) assign(other.view());
    return *this;
  }
  Key& operator=(Key&& other) noexcept {
    if (this != &other) {
      release();
      std::memcpy(raw_, other.raw_, sizeof raw_);
      other.raw_[0] = 0;
    }
    return *this;
  }
  Key& operator=(std::string_view s) { return assign(s); }
  ~Key() { release(); }

  // Replaces the bytes; a long key goes to `arena` when one is given, else
  // to the heap.
  Key& assign(std::string_view s, Arena* arena = nullptr) {
    if (s.size() <= kInline) {
      const Words w = inline_words(s);  // read before anything is written
      release();
      std::memcpy(raw_, &w, sizeof w);
      return *this;
    }
    Key fresh;  // made first: `s` may point into this key's bytes
    fresh.set(s, arena);
    return *this = std::move(fresh);
  }
  // A heap-owned long key moves its bytes into `arena`; others are unchanged.
  void move_into(Arena& arena) {
    if (raw_[0] != kOwned) return;
    char* const held = copy_out(view(), &arena);
    ::operator delete(pointer());
    raw_[0] = kHeld;
    std::memcpy(raw_ + 8, &held, sizeof held);
  }

  std::string_view view() const {
    if (raw_[0] <= kInline) return {reinterpret_cast<const char*>(raw_ + 2), raw_[0]};
    return {pointer(), long_size()};
  }
  operator std::string_view() const { return view(); }  // NOLINT: reads like std::string
  const char* data() const { return view().data(); }
  size_t size() const { return raw_[0] <= kInline ? raw_[0] : long_size(); }
  bool empty() const { return size() == 0; }
  bool is_inline() const { return raw_[0] <= kInline; }
  bool in_arena() const { return raw_[0] == kHeld; }
  int compare(std::string_view other) const { return view().compare(other); }
  // The key's 16 bytes as two words. Two keys of which one is inline hold
  // the same bytes exactly when their words are equal; `inline_words`
  // gives the words an inline key of `s` (at most kInline bytes) would have,
  // without making one, so a lookup compares words rather than bytes.
  struct Words {
    uint64_t low;
    uint64_t high;
    friend bool operator==(const Words&, const Words&) = default;
  };
  Words words() const {
    Words w;
    std::memcpy(&w, raw_, sizeof w);
    return w;
  }
  static Words inline_words(std::string_view s) {
    // The bytes are read by a few loads that may overlap (the bytes they
    // share agree) and put together in registers: no byte-wise copy, and
    // nothing written to memory that a read of the words must wait for.
    // Byte 0 is the length, byte 1 zero, bytes 2-15 the key's bytes 0-13.
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    if (n >= 8) {
      uint64_t low = 0;   // bytes 0-7
      uint64_t high = 0;  // bytes n-8 to n-1; its top n-6 are bytes 6 to n-1
      std::memcpy(&low, p, 8);
      std::memcpy(&high, p + n - 8, 8);
      return Words{n | (low << 16), high >> (8 * (14 - n))};
    }
    uint64_t bytes = 0;  // little-endian: byte i of the key at bits 8i
    if (n >= 4) {
      uint32_t low = 0;
      uint32_t high = 0;
      std::memcpy(&low, p, 4);
      std::memcpy(&high, p + n - 4, 4);
      bytes = uint64_t{low} | (uint64_t{high} << (8 * (n - 4)));
    } else if (n > 0) {
      bytes = uint64_t{p[0]} | (uint64_t{p[n / 2]} << (8 * (n / 2))) | (uint64_t{p[n - 1]} << (8 * (n - 1)));
    }
    return Words{n | (bytes << 16), bytes >> 48};
  }
  size_t find(char c, size_t from = 0) const { return view().find(c, from); }
  size_t find(std::string_view s, size_t from = 0) const { return view().find(s, from); }
  size_t find_first_of(std::string_view s, size_t from = 0) const { return view().find_first_of(s, from); }

  friend bool operator==(const Key& a, const Key& b) { return a.view() == b.view(); }
  friend bool operator==(const Key& a, std::string_view b) { return a.view() == b; }
  friend std::strong_ordering operator<=>(const Key& a, const Key& b) { return a.view() <=> b.view(); }
  friend std::strong_ordering operator<=>(const Key& a, std::string_view b) { return a.view() <=> b; }
  friend std::string operator+(std::string a, const Key& b) { return a.append(b.view()); }
  friend std::string operator+(const Key& a, std::string_view b) {
    return std::string(a.view()).append(b);
  }

 private:
  // Byte 0: the length of an inline key (its bytes in 2-15), else kOwned
  // or kHeld with the length in bytes 1-7 and a pointer to the bytes in
  // 8-15. All zero is the empty key.
  static constexpr unsigned char kOwned = 0x40;
  static constexpr unsigned char kHeld = 0x80;

  char* pointer() const {
    char* p;
    std::memcpy(&p, raw_ + 8, sizeof p);
    return p;
  }
  size_t long_size() const {
    uint64_t word;
    std::memcpy(&word, raw_, sizeof word);
    return static_cast<size_t>(word >> 8);  // little-endian: bytes 1-7
  }
  static char* copy_out(std::string_view s, Arena* arena) {
    char* const p = arena != nullptr ? static_cast<char*>(arena->allocate(s.size(), 1))
                                     : static_cast<char*>(::operator new(s.size()));
    std::memcpy(p, s.data(), s.size());
    return p;
  }
  // Sets the bytes of a key holding nothing (all of raw_ is rewritten).
  void set(std::string_view s, Arena* arena) {
    if (s.size() <= kInline) {
      const Words w = inline_words(s);
      std::memcpy(raw_, &w, sizeof w);
      return;
    }
    std::memset(raw_, 0, sizeof raw_);
    char* const p = copy_out(s, arena);
    const uint64_t word = (uint64_t{s.size()} << 8) | (arena != nullptr ? kHeld : kOwned);
    std::memcpy(raw_, &word, sizeof word);
    std::memcpy(raw_ + 8, &p, sizeof p);
  }
  void release() noexcept {
    if (raw_[0] == kOwned) ::operator delete(pointer());
    raw_[0] = 0;
  }

  alignas(8) unsigned char raw_[16] = {};
};
static_assert(sizeof(Key) == 16);
// A move copies the 16 bytes and leaves the source empty, which owns
// nothing; no byte points into the key itself.
template <>
struct Relocatable<Key> : std::true_type {};

// Writes the bytes of the key (for test output and debugging).
std::ostream& operator<<(std::ostream& out, const Key& key);

}  // namespace brindle
