// ArenaArrayBuilder: an arena-held array (see Value in model.h) built in
// place, item by item, packed while its items are integers, compact when
// it ends short and small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "arena.h"
#include "model.h"

namespace brindle {

// Builds an arena-held array in place: the items are placed one by one
// (each must already be arena-held or hold nothing: `push_back` does not
// move payloads), and `finish` gives the value. Items placed but never
// finished are destroyed with the builder.
//
// While every item is an integer they are kept packed, as narrow as the
// widest so far needs. The first few wait in the builder, so that an array
// that turns out not to be all integers takes its room once, as Values.
// Past them, a wider integer moves the items to wider room, and any other
// item to room for Values (in place when nothing else went into the arena
// since; else what they moved out of stays there).
//
// An item other than an integer that comes while the items still wait
// makes them wait as Values, up to CompactItems::kMostItems of them: if
// the array ends there and each fits a compact record, it becomes one
// (see CompactItems); otherwise they move to room for Values.
class ArenaArrayBuilder {
 public:
  explicit ArenaArrayBuilder(Arena& arena) : arena_(arena) {}
  ArenaArrayBuilder(const ArenaArrayBuilder&) = delete;
  ArenaArrayBuilder& operator=(const ArenaArrayBuilder&) = delete;
  ~ArenaArrayBuilder() {
    if (width_ != 0) return;
    Value* const items = items_ != nullptr ? values() : staged();
    for (size_t i = 0; i < size_; ++i) items[i].~Value();
  }

  // Room for `room` items in all, taken when the first item that needs it
  // comes; past it, room is taken again (what was taken before is left to
  // the arena, unless it can grow where it is).
  void reserve(size_t room) {
    if (room > Value::kMaxArenaItems) throw std::bad_alloc();
    if (room > wanted_) wanted_ = room;
    if (items_ != nullptr && room > room_) take_room(room);
  }
  void push_back(Value v) {
    if (width_ != 0 && v.is(Tag::Integer)) {
      push_integer(v.as_integer());
      return;
    }
    if (width_ != 0) {
      if (items_ == nullptr) {
        stage_waiting();
      } else {
        unpack();
      }
    }
    if (!v.holds_nothing_to_destroy()) tree_ = false;
    if (items_ == nullptr && size_ < kStaged) {
      new (staged() + size_++) Value(std::move(v));
      return;
    }
    if (size_ >= room_) grow();
    new (values() + size_++) Value(std::move(v));
  }
  // The same as push_back(Value::integer(i)), without making the Value.
  void push_integer(int64_t i) {
    if (width_ == 0) {
      push_back(Value::integer(i));
      return;
    }
    if (items_ == nullptr && size_ < kWaiting) {
      std::memcpy(local_ + sizeof(int64_t) * size_++, &i, sizeof i);
      while (!fits(i, width_)) width_ = static_cast<uint8_t>(width_ * 2);
      return;
    }
    if (size_ >= room_) grow();
    if (!fits(i, width_)) widen(i);
    switch (width_) {
      case 1: static_cast<int8_t*>(items_)[size_++] = static_cast<int8_t>(i); break;
      case 2: static_cast<int16_t*>(items_)[size_++] = static_cast<int16_t>(i); break;
      case 4: static_cast<int32_t*>(items_)[size_++] = static_cast<int32_t>(i); break;
      default: static_cast<int64_t*>(items_)[size_++] = i; break;
    }
  }
  size_t size() const { return size_; }
  // Bytes per item while packed (1, 2, 4 or 8); 0 once they are Values.
  unsigned packed_width() const { return width_; }
  // The array; room it did not use goes back to the arena when nothing was
  // placed there since.
  Value finish() {
    if (items_ == nullptr && width_ == 0 && size_ != 0) return finish_staged();
    return finish_rest();
  }

 private:
  static constexpr size_t kWaiting = 8;
  static constexpr size_t kStaged = 8;  // CompactItems::kMostItems
  static bool fits(int64_t i, unsigned width) {
    if (width >= 8) return true;
    const int64_t half = int64_t{1} << (8 * width - 1);
    return i >= -half && i < half;
  }
  Value* values() const { return static_cast<Value*>(items_); }
  Value* staged() { return std::launder(reinterpret_cast<Value*>(local_)); }
  int64_t waiting(size_t k) const {
    int64_t i;
    std::memcpy(&i, local_ + sizeof(int64_t) * k, sizeof i);
    return i;
  }
  // The waiting integers made waiting Values.
  void stage_waiting();
  // The array of the waiting Values: compact when they all fit, else
  // Values in exactly their room.
  Value finish_staged();
  // The array of packed items or of Values in their room.
  Value finish_rest();
  size_t item_bytes() const { return width_ != 0 ? width_ : sizeof(Value); }
  // Room for more items: what was reserved, else twice what there is.
  void grow();
  // Takes room for `room` items of the current width, the items there so
  // far (waiting ones included) moved over.
  void take_room(size_t room);
  // Moves the packed items to room wide enough for `i` as well.
  void widen(int64_t i);
  // Moves the packed items to room for Values.
  void unpack();
  // Packed item `k`, waiting or placed.
  int64_t packed_at(size_t k) const;
  // The packed items rewritten at `to`, `to_width` bytes each (0: as
  // Values); back to front, so that `to` may be their own room grown.
  void repack(void* to, unsigned to_width) const;

  Arena& arena_;
  void* items_ = nullptr;  // null while nothing needed room
  size_t size_ = 0;
  size_t room_ = 0;      // items the room at items_ holds
  size_t wanted_ = 0;    // items reserve() asked room for
  // The waiting integers, or later the waiting Values, which take their
  // place (see stage_waiting).
  alignas(Value) unsigned char local_[kStaged * sizeof(Value)];
  static_assert(kWaiting * sizeof(int64_t) <= sizeof local_);
  uint8_t width_ = 1;
  bool tree_ = true;
};

}  // namespace brindle
