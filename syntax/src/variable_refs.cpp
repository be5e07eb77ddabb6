#include "variable_refs.h"

#include <cstring>
#include <new>

namespace brindle {

namespace {

// Up to the first eight bytes and the size, mixed: names of a document
// differ early and are short.
size_t recent_slot(std::string_view name) {
  uint64_t word = 0;
  if (!name.empty()) std::memcpy(&word, name.data(), name.size() < 8 ? name.size() : 8);
  return static_cast<size_t>(((word ^ name.size()) * 0x9E3779B97F4A7C15ull) >> 61);
}

}  // namespace

uint64_t VariableRefList::name_offset(std::string_view name) {
  uint64_t& recent = recent_[recent_slot(name)];
  if (recent != 0) {
    const uint64_t at = (recent - 1) >> 16;
    const size_t size = static_cast<size_t>((recent - 1) & 0xFFFF);
    if (size == name.size() && std::string_view(names_).substr(at, size) == name) return at;
  }
  const uint64_t at = names_.size();
  names_.append(name);
  if (name.size() <= 0xFFFF) recent = ((at << 16) | name.size()) + 1;
  return at;
}

void VariableRefList::push_back(const VariableRef& ref) {
  const uint64_t size = ref.span.end - ref.span.start;
  const auto kind = static_cast<uint8_t>(ref.kind);
  if (ref.span.start <= UINT32_MAX && ref.span.end >= ref.span.start && size <= UINT16_MAX &&
      ref.name.size() <= UINT8_MAX) {
    const uint64_t at = name_offset(ref.name);
    if (at <= UINT32_MAX) {
      records_.push_back(Record{static_cast<uint32_t>(ref.span.start), static_cast<uint32_t>(at),
                                static_cast<uint16_t>(size), static_cast<uint8_t>(ref.name.size()),
                                kind});
      return;
    }
  }
  if (wide_.size() >= UINT32_MAX) throw std::bad_alloc();  // as a vector past its room would
  records_.push_back(Record{0, static_cast<uint32_t>(wide_.size()), 0, 0, static_cast<uint8_t>(kind | kWide)});
  wide_.push_back(ref);
}

VariableRefView VariableRefList::operator[](size_t i) const {
  const Record& r = records_[i];
  if ((r.kind_wide & kWide) != 0) {
    const VariableRef& w = wide_[r.name_at];
    return {w.name.view(), w.span, w.kind};
  }
  return {std::string_view(names_).substr(r.name_at, r.name_size),
          Span{r.start, uint64_t{r.start} + r.size}, static_cast<VariableKind>(r.kind_wide)};
}

}  // namespace brindle
