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
  static const unsigned char* read(const unsigned char* at, Value& out);
  // The entry after the one at `at`.
  static const unsigned char* skip(const unsigned char* at);
};

}  // namespace brindle
