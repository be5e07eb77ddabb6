// CompactItems: the compact record of a short arena-held array (see Value
// in model.h), written once from the array's items and read entry by entry.
//
// A record is its items alone, one entry each, one byte of kind first:
// integers from -16 to 111 are that byte alone, wider ones follow it in 1,
// 2, 4 or 8 bytes; a float follows in 8; false, true and null are the byte
// alone; an inline string follows as its bytes, its length in the kind; a
// nested compact array follows as its item count (one byte) and the
// distance from this entry to its own record (zigzag, 7 bits a byte). A
// nested record is written before the one naming it, usually right before,
// so that distance takes a byte or two; the child stays where it was built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "arena.h"
#include "model.h"

namespace brindle {

class CompactItems {
 public:
  // Items a record may hold: reading item i skips the i entries before it.
  static constexpr size_t kMostItems = 8;

  // The array of the `count` items at `items` (1 to kMostItems) as a
  // record placed in `arena` with no room to spare, into `out`, which
  // must be null; false, with `out` and the arena as they were, when an
  // item does not fit: a dict, a string too long to sit inline, or an
  // array other than a compact one.
  static bool write(const Value* items, size_t count, Arena& arena, Value& out);
  // Decodes the entry at `at` into `out`; returns the entry after it.
  // Inline: readers call it once per item.
  static const unsigned char* read(const unsigned char* at, Value& out);
  // The entry after the one at `at`.
  static const unsigned char* skip(const unsigned char* at);
  // Whether the entry at `at` is an integer of one byte, the commonest
  // entry, which a reader may then take as `small_integer(at)` and step
  // over by one byte, without decoding a Value.
  static bool is_small_integer(const unsigned char* at) { return *at < kSmallEnd; }
  static int64_t small_integer(const unsigned char* at) { return static_cast<int64_t>(*at) - kSmallBias; }
  // Likewise for a nested array: whether the entry at `at` is one, and its
  // items, with `next` set to the entry after it.
  static bool is_nested(const unsigned char* at) { return *at == kNested; }
  static ArrayView nested_items(const unsigned char* at, const unsigned char*& next) {
    return ArrayView::compact(reinterpret_cast<const void*>(nested_record(at, next)), at[1]);
  }

 private:
  // Entry kinds, in the byte that opens each entry.
  static constexpr unsigned char kSmallEnd = 0x80;  // below: the integer (byte - kSmallBias)
  static constexpr int64_t kSmallBias = 16;
  static constexpr unsigned char kInt8 = 0x80;      // to kInt8 + 3: 1, 2, 4 or 8 bytes follow
  static constexpr unsigned char kFloat = 0x84;
  static constexpr unsigned char kFalse = 0x85;
  static constexpr unsigned char kTrue = 0x86;
  static constexpr unsigned char kNull = 0x87;
  static constexpr unsigned char kString = 0x88;    // to kString + 14: that many bytes follow
  static constexpr unsigned char kNested = 0x97;
  static_assert(kString + 14 < kNested);

  // A distance as written: zigzag (the sign in the lowest bit), so that a
  // short one either way takes a byte or two.
  static uint64_t unzigzag(uint64_t z) { return (z >> 1) ^ (~(z & 1) + 1); }
  // Where the record of the nested entry at `at` lies (its distance back is
  // written after the count), with `next` set to the entry after it.
  static uintptr_t nested_record(const unsigned char* at, const unsigned char*& next) {
    uint64_t zigzag = 0;
    next = get_varint(at + 2, zigzag);
    return reinterpret_cast<uintptr_t>(at) + unzigzag(zigzag);
  }
  static const unsigned char* get_varint(const unsigned char* from, uint64_t& v) {
    v = 0;
    for (unsigned shift = 0;; shift += 7) {
      const unsigned char b = *from++;
      v |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (b < 0x80) return from;
    }
  }
  template <class T>
  static T get(const unsigned char* from) {
    T out;
    std::memcpy(&out, from, sizeof out);
    return out;
  }
};

inline const unsigned char* CompactItems::read(const unsigned char* at, Value& out) {
  // What `out` held is let go (a decoded item holds nothing, so reading
  // into the same Value again costs no call), then its bytes are written
  // as the factories would write them.
  if (!out.holds_nothing_to_destroy()) out.release();
  std::memset(out.raw_, 0, sizeof out.raw_);
  const unsigned char kind = *at;
  auto integer = [&](int64_t i) {
    out.raw_[0] = static_cast<unsigned char>(Tag::Integer);
    std::memcpy(out.raw_ + 8, &i, sizeof i);
  };
  if (kind < kSmallEnd) {
    integer(static_cast<int64_t>(kind) - kSmallBias);
    return at + 1;
  }
  switch (kind) {
    case kInt8: integer(static_cast<int8_t>(at[1])); return at + 2;
    case kInt8 + 1: integer(get<int16_t>(at + 1)); return at + 3;
    case kInt8 + 2: integer(get<int32_t>(at + 1)); return at + 5;
    case kInt8 + 3: integer(get<int64_t>(at + 1)); return at + 9;
    case kFloat:
      out.raw_[0] = static_cast<unsigned char>(Tag::Float);
      std::memcpy(out.raw_ + 8, at + 1, sizeof(double));
      return at + 9;
    case kFalse:
    case kTrue:
      out.raw_[0] = static_cast<unsigned char>(Tag::Bool);
      out.raw_[8] = kind == kTrue;
      return at + 1;
    case kNull: out.raw_[0] = static_cast<unsigned char>(Tag::Null); return at + 1;
    case kNested: {
      const unsigned char* next = nullptr;
      const uintptr_t child = nested_record(at, next);
      out.raw_[0] = static_cast<unsigned char>(Tag::Array);
      out.raw_[1] = Value::kCompact;
      out.raw_[2] = at[1];  // the count, at most kMostItems
      std::memcpy(out.raw_ + 8, &child, sizeof child);
      return next;
    }
    default: {
      const size_t size = kind - kString;
      out.raw_[0] = static_cast<unsigned char>(Tag::String);
      out.raw_[1] = static_cast<unsigned char>(size + 1);
      std::memcpy(out.raw_ + 2, at + 1, size);
      return at + 1 + size;
    }
  }
}

}  // namespace brindle
