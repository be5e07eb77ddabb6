// CompactItems: writing and reading compact records (see compact_items.h),
// and the ArrayView reads that go through them.
#include "compact_items.h"

#include <cstdint>
#include <cstring>

namespace brindle {

namespace {

static_assert(CompactItems::kMostItems < 256);  // a count is one byte

// The most bytes one entry takes (a nested array's kind, count and a
// 64-bit distance in 7-bit groups), and then some: an inline string is
// copied as its whole room, 14 bytes after its kind.
constexpr size_t kEntryRoom = 2 + 14;

// A record given up: its room goes back (it is the last thing placed).
bool give_back(Arena& arena, unsigned char* record, size_t room) {
  arena.resize_last(record, room, 0);
  return false;
}

unsigned char* put_varint(unsigned char* to, uint64_t v) {
  while (v >= 0x80) {
    *to++ = static_cast<unsigned char>(v | 0x80);
    v >>= 7;
  }
  *to++ = static_cast<unsigned char>(v);
  return to;
}

}  // namespace

bool CompactItems::write(const Value* items, size_t count, Arena& arena, Value& out) {
  // Written straight into room for the longest entries, then trimmed: the
  // record is the last thing in the arena, so giving back always works.
  const size_t room = count * kEntryRoom;
  auto* const record = static_cast<unsigned char*>(arena.allocate(room, 1));
  unsigned char* to = record;
  for (size_t k = 0; k < count; ++k) {
    const Value& v = items[k];
    switch (v.tag()) {
      case Tag::Integer: {
        const int64_t i = v.as_integer();
        if (i >= -kSmallBias && i < static_cast<int64_t>(kSmallEnd) - kSmallBias) {
          *to++ = static_cast<unsigned char>(i + kSmallBias);
        } else if (i == static_cast<int8_t>(i)) {
          *to++ = kInt8;
          *to++ = static_cast<unsigned char>(static_cast<int8_t>(i));
        } else if (i == static_cast<int16_t>(i)) {
          *to++ = kInt8 + 1;
          const auto n = static_cast<int16_t>(i);
          std::memcpy(to, &n, sizeof n);
          to += sizeof n;
        } else if (i == static_cast<int32_t>(i)) {
          *to++ = kInt8 + 2;
          const auto n = static_cast<int32_t>(i);
          std::memcpy(to, &n, sizeof n);
          to += sizeof n;
        } else {
          *to++ = kInt8 + 3;
          std::memcpy(to, &i, sizeof i);
          to += sizeof i;
        }
        break;
      }
      case Tag::Float: {
        *to++ = kFloat;
        const double d = v.as_float();  // the bits as they are: NaNs and -0.0 kept
        std::memcpy(to, &d, sizeof d);
        to += sizeof d;
        break;
      }
      case Tag::Bool: *to++ = v.as_bool() ? kTrue : kFalse; break;
      case Tag::Null: *to++ = kNull; break;
      case Tag::String: {
        if (!v.inline_string()) return give_back(arena, record, room);
        const size_t size = v.raw_[1] - 1u;
        *to++ = static_cast<unsigned char>(kString + size);
        std::memcpy(to, v.raw_ + 2, Value::kInline);  // the whole inline room: the next entry overwrites the rest
        to += size;
        break;
      }
      case Tag::Dict: return give_back(arena, record, room);
      case Tag::Array: {
        if (!v.compact()) return give_back(arena, record, room);
        const auto* child = v.load<const unsigned char*>();
        const unsigned char* const entry = to;
        *to++ = kNested;
        *to++ = v.raw_[2];  // the item count: at most kMostItems, one byte
        const auto distance = static_cast<int64_t>(reinterpret_cast<uintptr_t>(child) - reinterpret_cast<uintptr_t>(entry));
        const uint64_t zigzag = (static_cast<uint64_t>(distance) << 1) ^ static_cast<uint64_t>(distance >> 63);
        to = put_varint(to, zigzag);
        break;
      }
    }
  }
  arena.resize_last(record, room, static_cast<size_t>(to - record));
  // `out` is null: its bytes are written in place (as compact_array
  // would make them), in two words, which the next read takes whole.
  const uint64_t head = static_cast<uint64_t>(Tag::Array) | uint64_t{Value::kCompact} << 8 | uint64_t{count} << 16;
  std::memcpy(out.raw_, &head, sizeof head);
  std::memcpy(out.raw_ + 8, &record, sizeof record);
  return true;
}

const unsigned char* CompactItems::skip(const unsigned char* at) {
  const unsigned char kind = *at;
  if (kind < kSmallEnd) return at + 1;
  switch (kind) {
    case kInt8: return at + 2;
    case kInt8 + 1: return at + 3;
    case kInt8 + 2: return at + 5;
    case kInt8 + 3:
    case kFloat: return at + 9;
    case kFalse:
    case kTrue:
    case kNull: return at + 1;
    case kNested: {
      at += 2;
      while (*at >= 0x80) ++at;
      return at + 1;
    }
    default: return at + 1 + (kind - kString);
  }
}

const Value& ArrayView::compact_item(size_t i, Value& scratch) const {
  const auto* at = static_cast<const unsigned char*>(data_);
  for (; i > 0; --i) at = CompactItems::skip(at);
  CompactItems::read(at, scratch);
  return scratch;
}

const Value& ArrayView::iterator::decode() const {
  CompactItems::read(static_cast<const unsigned char*>(data_), current_);
  return current_;
}

void ArrayView::iterator::step() { data_ = CompactItems::skip(static_cast<const unsigned char*>(data_)); }

}  // namespace brindle
