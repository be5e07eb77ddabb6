#include <cstdlib>
#include <new>
#include <utility>

#include "array_builder.h"
#include "model.h"

namespace brindle {

namespace {

// Arrays larger than this stay in their heap buffer when their value moves
// into an arena (as dict entry arrays do past the same size).
constexpr size_t kKeepArrayBytes = 256 * 1024;

}  // namespace

Value Value::string(std::string_view s) {
  Value v;
  v.raw_[0] = static_cast<unsigned char>(Tag::String);
  if (s.size() <= kInline) {
    v.raw_[1] = static_cast<unsigned char>(s.size() + 1);
    if (!s.empty()) std::memcpy(v.raw_ + 2, s.data(), s.size());
    return v;
  }
  // One allocation: the length, then the bytes.
  const size_t size = s.size();
  auto* block = static_cast<unsigned char*>(::operator new(sizeof(size_t) + size));
  std::memcpy(block, &size, sizeof size);
  std::memcpy(block + sizeof size, s.data(), size);
  v.raw_[1] = 0;
  v.store(block);
  return v;
}

std::string_view Value::as_string() const {
  if (inline_string()) return {reinterpret_cast<const char*>(raw_ + 2), static_cast<size_t>(raw_[1] - 1)};
  const auto* block = load<const unsigned char*>();
  if (raw_[1] == kArenaString) {
    if (const uint64_t size = arena_items(); size != 0) return {reinterpret_cast<const char*>(block), size};
  }
  size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  return {reinterpret_cast<const char*>(block + sizeof size), size};
}

Value Value::arena_string(std::string_view s, Arena& arena) {
  const uint64_t size = s.size();
  Value out;
  out.raw_[0] = static_cast<unsigned char>(Tag::String);
  out.raw_[1] = kArenaString;
  if (size <= kMaxArenaItems) {
    // The length sits in the value: the arena holds the bytes alone.
    auto* bytes = static_cast<unsigned char*>(arena.allocate(size, 1));
    std::memcpy(bytes, s.data(), size);
    std::memcpy(out.raw_ + 2, &size, 6);
    out.store(bytes);
    return out;
  }
  auto* block = static_cast<unsigned char*>(arena.allocate(sizeof(size_t) + size, alignof(size_t)));
  std::memcpy(block, &size, sizeof size);
  std::memcpy(block + sizeof size, s.data(), size);
  out.store(block);
  return out;
}

Value Value::dict_in(Arena* arena) {
  if (arena == nullptr) return Value(Tag::Dict, new Dict());
  auto* held = new (arena->allocate(sizeof(Dict), alignof(Dict))) Dict();
  Value out(Tag::Dict, held);
  out.raw_[1] = kArenaHeader;
  return out;
}

Value Value::array(Array a) { return Value(Tag::Array, new Array(std::move(a))); }

Value Value::dict(Dict d) { return Value(Tag::Dict, new Dict(std::move(d))); }

Value Value::move_payload_into(Value v, Arena& arena) {
  switch (v.tag()) {
    case Tag::String: {
      if (v.raw_[1] != 0) return v;  // inline, or in an arena already
      return arena_string(v.as_string(), arena);
    }
    case Tag::Array: {
      if (v.raw_[1] != 0) {
        // Held by an arena already: this one, or another whose items are
        // moved over (a moved value keeps its payload where it was).
        const uint64_t count = v.arena_items();
        Value* items = v.load<Value*>();
        if (count == 0 || arena.holds(items)) return v;
        if (v.raw_[1] == kCompact) {
          // Rebuilt here, nested records too (each is read from the other
          // arena and moved in on its own).
          ArenaArrayBuilder held(arena);
          held.reserve(count);
          const ArrayView from = std::as_const(v).as_array();
          for (uint64_t i = 0; i < count; ++i) {
            Value decoded;
            from.item(i, decoded);  // owns nothing: a view at most
            held.push_back(into_arena(std::move(decoded), arena));
          }
          return held.finish();
        }
        if (v.raw_[1] >= kPackedBase) {
          const size_t bytes = count << (v.raw_[1] - kPackedBase);
          void* const to = arena.allocate(bytes, 8);
          std::memcpy(to, items, bytes);
          v.store(to);
          return v;
        }
        ArenaArrayBuilder held(arena);
        held.reserve(count);
        for (uint64_t i = 0; i < count; ++i) held.push_back(into_arena(std::move(items[i]), arena));
        return held.finish();
      }
      Array& from = *v.load<Array*>();
      // A large array keeps its buffer: copying it would hold it twice at
      // the peak. Its items still move in.
      if (from.size() * sizeof(Value) > kKeepArrayBytes) {
        for (Value& item : from) item = into_arena(std::move(item), arena);
        return v;
      }
      ArenaArrayBuilder held(arena);
      held.reserve(from.size());
      for (Value& item : from) held.push_back(into_arena(std::move(item), arena));
      return held.finish();
    }
    case Tag::Dict: {
      Dict& from = v.as_dict();
      if (v.raw_[1] == kArenaHeader && from.in_arena(arena)) return v;
      auto* held = new (arena.allocate(sizeof(Dict), alignof(Dict))) Dict(std::move(from).moved_into(arena));
      Value out(Tag::Dict, held);
      out.raw_[1] = kArenaHeader;
      return out;
    }
    default:
      return v;
  }
}

Value::Value(const Value& other) {
  raw_[0] = static_cast<unsigned char>(Tag::Null);
  switch (other.tag()) {
    case Tag::String:
      if (!other.inline_string()) {
        *this = Value::string(other.as_string());
        return;
      }
      break;
    case Tag::Array: {
      const ArrayView items = other.as_array();
      auto* copy = new Array();
      copy->reserve(items.size());
      if (const Value* values = items.values()) {
        copy->insert(copy->end(), values, values + items.size());
      } else {
        for (const Value& item : items) copy->push_back(item);  // packed or compact: decoded, then copied
      }
      raw_[0] = static_cast<unsigned char>(Tag::Array);
      store(copy);
      return;
    }
    case Tag::Dict:
      raw_[0] = static_cast<unsigned char>(Tag::Dict);
      store(new Dict(other.as_dict()));
      return;
    default:
      break;
  }
  std::memcpy(raw_, other.raw_, sizeof raw_);
}

void Value::make_heap_array() {
  const uint64_t count = arena_items();
  auto* heap = new Array();
  heap->reserve(count);
  if (raw_[1] == kCompact) {
    // The decoded items own nothing (a nested record stays where it is).
    const ArrayView compact = std::as_const(*this).as_array();
    for (uint64_t i = 0; i < count; ++i) {
      Value item;
      compact.item(i, item);
      heap->push_back(std::move(item));
    }
  } else if (raw_[1] >= kPackedBase) {
    const ArrayView packed = std::as_const(*this).as_array();
    for (uint64_t i = 0; i < count; ++i) heap->push_back(Value::integer(packed.integer_at(i)));
  } else {
    Value* const items = load<Value*>();
    for (uint64_t i = 0; i < count; ++i) heap->push_back(std::move(items[i]));
  }
  raw_[1] = 0;
  std::memset(raw_ + 2, 0, 6);
  store(heap);
}

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value copy(other);
    *this = std::move(copy);
  }
  return *this;
}

void Value::release() noexcept {
  // Arrays and dicts nest only as deep as the parser allows, which bounds
  // this recursion.
  switch (tag()) {
    case Tag::String:
      if (raw_[1] == 0) ::operator delete(load<unsigned char*>());
      break;
    case Tag::Array:
      if (raw_[1] == 0) {
        delete load<Array*>();
      } else if (raw_[1] == kArenaItems) {
        Value* const items = load<Value*>();
        for (uint64_t i = 0, n = arena_items(); i < n; ++i) items[i].~Value();
      }
      break;
    case Tag::Dict:
      if (raw_[1] == kArenaHeader) {
        load<Dict*>()->~Dict();
      } else {
        delete load<Dict*>();
      }
      break;
    default: break;
  }
  raw_[0] = static_cast<unsigned char>(Tag::Null);
}

bool operator==(ArrayView a, ArrayView b) {
  if (a.size_ != b.size_) return false;
  if (a.width_ != 0 && a.width_ == b.width_) return a.size_ == 0 || std::memcmp(a.data_, b.data_, a.size_ * a.width_) == 0;
  Value scratch_a;
  Value scratch_b;
  for (size_t i = 0; i < a.size_; ++i) {
    if (!(a.item(i, scratch_a) == b.item(i, scratch_b))) return false;
  }
  return true;
}

bool operator==(const Value& a, const Value& b) {
  if (a.tag() != b.tag()) return false;
  switch (a.tag()) {
    case Tag::String: return a.as_string() == b.as_string();
    case Tag::Integer: return a.as_integer() == b.as_integer();
    case Tag::Float: return a.as_float() == b.as_float();
    case Tag::Bool: return a.as_bool() == b.as_bool();
    case Tag::Null: return true;
    case Tag::Array: return a.as_array() == b.as_array();
    case Tag::Dict: return a.as_dict() == b.as_dict();
  }
  return false;
}

}  // namespace brindle
