// AnnotationArg: the argument of one annotation, in 16 bytes.
//
// It holds nothing, a text, an integer, a float or a list of texts, and
// reads like the std::variant it replaces: `index()` gives the kind (None 0,
// Text 1, Integer 2, Float 3, List 4), and `get_if<T>` / `get<T>` (found by
// argument-dependent lookup) give the value as a std::string, int64_t,
// double or std::vector<std::string>. Numbers sit in the object; a text or a
// list lives in a heap block it owns, so an annotation without one (most of
// them) costs no allocation. A list's block also keeps the item spans the
// parser recorded, one per item. Copies are deep; a moved-from argument
// holds nothing. Equality compares the kinds and values (floats by ==), not
// the item spans.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "relocatable.h"
#include "span_list.h"

namespace brindle {

enum class ArgKind : uint8_t { None = 0, Text = 1, Integer = 2, Float = 3, List = 4 };

class AnnotationArg {
 public:
  using Text = std::string;
  using List = std::vector<std::string>;

  AnnotationArg() noexcept = default;
  AnnotationArg(std::monostate) noexcept {}  // NOLINT: reads as the variant did
  AnnotationArg(Text text) { emplace<Text>(std::move(text)); }  // NOLINT
  AnnotationArg(int64_t i) noexcept { set_number(ArgKind::Integer, i); }  // NOLINT
  AnnotationArg(double d) noexcept { set_number(ArgKind::Float, d); }  // NOLINT
  AnnotationArg(List items) { emplace<List>(std::move(items)); }  // NOLINT
  AnnotationArg(const AnnotationArg& other);
  AnnotationArg(AnnotationArg&& other) noexcept : kind_(other.kind_), word_(other.word_) {
    other.kind_ = ArgKind::None;
  }
  AnnotationArg& operator=(const AnnotationArg& other) {
    if (this != &other) *this = AnnotationArg(other);
    return *this;
  }
  AnnotationArg& operator=(AnnotationArg&& other) noexcept {
    if (this != &other) {
      release();
      kind_ = std::exchange(other.kind_, ArgKind::None);
      word_ = other.word_;
    }
    return *this;
  }
  ~AnnotationArg() { release(); }

  size_t index() const { return static_cast<size_t>(kind_); }
  ArgKind kind() const { return kind_; }

  // Replaces the argument with a T made from `args`; T is one of Text,
  // int64_t, double, List.
  template <class T, class... Args>
  T& emplace(Args&&... args) {
    static_assert(kind_of<T>() != ArgKind::None, "not an argument type");
    AnnotationArg fresh;  // made first: `args` may refer into this argument
    if constexpr (std::is_same_v<T, Text>) {
      fresh.word_.text = new Text(std::forward<Args>(args)...);
    } else if constexpr (std::is_same_v<T, List>) {
      fresh.word_.list = new ListBlock{List(std::forward<Args>(args)...), SpanList()};
    } else {
      fresh.word_ = Word{};
      fresh.set_number(kind_of<T>(), T(std::forward<Args>(args)...));
    }
    fresh.kind_ = kind_of<T>();
    *this = std::move(fresh);
    return *get_if<T>();
  }

  // The value when it is a T, else null.
  template <class T>
  const T* get_if() const {
    if (kind_ != kind_of<T>()) return nullptr;
    if constexpr (std::is_same_v<T, Text>) {
      return word_.text;
    } else if constexpr (std::is_same_v<T, List>) {
      return &word_.list->items;
    } else if constexpr (std::is_same_v<T, int64_t>) {
      return &word_.integer;
    } else {
      return &word_.floating;
    }
  }
  template <class T>
  T* get_if() {
    return const_cast<T*>(std::as_const(*this).get_if<T>());
  }

  // The spans of a list's items as the parser recorded them: empty for any
  // other argument, and for a list made by hand.
  const SpanList& item_spans() const;
  // Those of a list (which it requires), to record them.
  SpanList& item_spans_of_list() { return word_.list->spans; }

  friend bool operator==(const AnnotationArg& a, const AnnotationArg& b);

 private:
  struct ListBlock {
    List items;
    SpanList spans;
  };
  union Word {
    int64_t integer;
    double floating;
    Text* text;
    ListBlock* list;
  };

  template <class T>
  static constexpr ArgKind kind_of() {
    if constexpr (std::is_same_v<T, Text>) return ArgKind::Text;
    else if constexpr (std::is_same_v<T, int64_t>) return ArgKind::Integer;
    else if constexpr (std::is_same_v<T, double>) return ArgKind::Float;
    else if constexpr (std::is_same_v<T, List>) return ArgKind::List;
    else return ArgKind::None;
  }
  void set_number(ArgKind kind, int64_t i) noexcept {
    kind_ = kind;
    word_.integer = i;
  }
  void set_number(ArgKind kind, double d) noexcept {
    kind_ = kind;
    word_.floating = d;
  }
  void release() noexcept {
    if (kind_ == ArgKind::Text) delete word_.text;
    if (kind_ == ArgKind::List) delete word_.list;
    kind_ = ArgKind::None;
  }

  ArgKind kind_ = ArgKind::None;
  Word word_{};
};
static_assert(sizeof(AnnotationArg) == 16);
// A move copies the kind and the word; a text or list is on the heap.
template <>
struct Relocatable<AnnotationArg> : std::true_type {};

inline ArgKind arg_kind(const AnnotationArg& a) { return a.kind(); }

// The variant-style accessors. `get` requires the argument to hold a T.
template <class T>
const T* get_if(const AnnotationArg* a) {
  return a == nullptr ? nullptr : a->get_if<T>();
}
template <class T>
T* get_if(AnnotationArg* a) {
  return a == nullptr ? nullptr : a->get_if<T>();
}
template <class T>
const T& get(const AnnotationArg& a) {
  return *a.get_if<T>();
}
template <class T>
T& get(AnnotationArg& a) {
  return *a.get_if<T>();
}

}  // namespace brindle
