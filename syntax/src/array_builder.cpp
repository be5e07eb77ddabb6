// ArenaArrayBuilder: the room of an array being built, packed while its
// items are integers (see model.h).
#include <algorithm>
#include <new>

#include "array_builder.h"
#include "compact_items.h"

namespace brindle {

namespace {

// Writes item `k` of `width` bytes (0: a Value) at `to`.
void put(void* to, unsigned width, size_t k, int64_t v) {
  switch (width) {
    case 0: new (static_cast<Value*>(to) + k) Value(Value::integer(v)); break;
    case 1: static_cast<int8_t*>(to)[k] = static_cast<int8_t>(v); break;
    case 2: static_cast<int16_t*>(to)[k] = static_cast<int16_t>(v); break;
    case 4: static_cast<int32_t*>(to)[k] = static_cast<int32_t>(v); break;
    default: static_cast<int64_t*>(to)[k] = v; break;
  }
}

}  // namespace

int64_t ArenaArrayBuilder::packed_at(size_t k) const {
  if (items_ == nullptr) return waiting(k);
  return ArrayView::packed(items_, size_, width_).integer_at(k);
}

void ArenaArrayBuilder::repack(void* to, unsigned to_width) const {
  // Back to front: item k never lands on an item before it that is still
  // to be read, as the new width is not narrower.
  for (size_t k = size_; k-- > 0;) put(to, to_width, k, packed_at(k));
}

void ArenaArrayBuilder::grow() {
  take_room(wanted_ > size_ ? wanted_ : size_ == 0 ? 4 : 2 * size_);
}

void ArenaArrayBuilder::take_room(size_t room) {
  if (room > Value::kMaxArenaItems) throw std::bad_alloc();
  const size_t bytes = item_bytes();
  // Nothing placed in the arena since: the room grows where it is.
  if (items_ != nullptr && arena_.resize_last(items_, room_ * bytes, room * bytes)) {
    room_ = room;
    return;
  }
  // Packed room is aligned for the widest items, so that it can widen in
  // place, and for Values, so that it can become theirs.
  void* const fresh = arena_.allocate(room * bytes, alignof(Value));
  if (items_ == nullptr && width_ == 0) {
    if (size_ != 0) std::memcpy(fresh, local_, size_ * bytes);  // waiting Values, relocatable
  } else if (items_ == nullptr) {
    repack(fresh, width_);  // the waiting integers
  } else if (size_ != 0) {
    std::memcpy(fresh, items_, size_ * bytes);  // Values are relocatable
  }
  items_ = fresh;
  room_ = room;
}

void ArenaArrayBuilder::widen(int64_t i) {
  unsigned width = width_ * 2u;
  while (!fits(i, width)) width *= 2;
  if (arena_.resize_last(items_, room_ * width_, room_ * width)) {
    repack(items_, width);
  } else {
    void* const fresh = arena_.allocate(room_ * width, alignof(Value));
    repack(fresh, width);
    items_ = fresh;
  }
  width_ = static_cast<uint8_t>(width);
}

void ArenaArrayBuilder::unpack() {
  size_t room = std::max(room_, wanted_);
  if (room <= size_) room = size_ == 0 ? 4 : 2 * size_;
  if (room > Value::kMaxArenaItems) throw std::bad_alloc();
  if (items_ != nullptr && arena_.resize_last(items_, room_ * width_, room * sizeof(Value))) {
    repack(items_, 0);
  } else {
    void* const fresh = arena_.allocate(room * sizeof(Value), alignof(Value));
    repack(fresh, 0);
    items_ = fresh;
  }
  room_ = room;
  width_ = 0;
}

void ArenaArrayBuilder::stage_waiting() {
  // In place, back to front: Value k covers integers 2k and 2k + 1, read
  // before it (k > 0) or just now (k = 0).
  for (size_t k = size_; k-- > 0;) {
    const int64_t i = waiting(k);
    new (staged() + k) Value(Value::integer(i));
  }
  width_ = 0;
}

Value ArenaArrayBuilder::finish_staged() {
  // The Values waiting in the builder are the most a compact record holds.
  static_assert(kStaged == CompactItems::kMostItems);
  Value out;
  if (CompactItems::write(staged(), size_, arena_, out)) {
    size_ = 0;  // items that fit hold nothing to destroy
    return out;
  }
  void* const room = arena_.allocate(size_ * sizeof(Value), alignof(Value));
  std::memcpy(room, local_, size_ * sizeof(Value));
  out = Value::arena_array(static_cast<Value*>(room), size_, tree_);
  size_ = 0;
  return out;
}

Value ArenaArrayBuilder::finish_rest() {
  if (items_ == nullptr && size_ != 0) {
    // Waiting items alone: exactly their room.
    void* const room = arena_.allocate(size_ * width_, width_);
    repack(room, width_);
    items_ = room;
    room_ = size_;
  }
  // Room never used goes back when nothing followed it into the arena.
  const size_t bytes = item_bytes();
  if (size_ < room_ && arena_.resize_last(items_, room_ * bytes, size_ * bytes)) room_ = size_;
  // No items: the empty array reads the same in either form.
  Value out = width_ != 0 && size_ != 0 ? Value::packed_array(items_, size_, width_)
                                        : Value::arena_array(values(), size_, tree_);
  size_ = 0;
  return out;
}

}  // namespace brindle
