// Relocatable types: those whose objects may be moved to another address as
// plain bytes (memcpy, realloc, mremap) with the old bytes then forgotten
// rather than destroyed.
//
// A type is relocatable when its move leaves nothing behind that its
// destructor must release and nothing in it points into the object itself.
// Trivially copyable types are; the core's own 16-byte handles (Key, Value,
// EntrySpans) opt in through `Relocatable<T>`, each next to its definition,
// and a dictionary entry is relocatable because each of its members is.
#pragma once

#include <type_traits>

namespace brindle {

template <class T>
struct Relocatable : std::is_trivially_copyable<T> {};

template <class T>
inline constexpr bool relocatable_v = Relocatable<T>::value;

}  // namespace brindle
