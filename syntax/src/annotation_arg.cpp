#include "annotation_arg.h"

namespace brindle {

AnnotationArg::AnnotationArg(const AnnotationArg& other) : kind_(other.kind_), word_(other.word_) {
  if (kind_ == ArgKind::Text) word_.text = new Text(*other.word_.text);
  if (kind_ == ArgKind::List) word_.list = new ListBlock(*other.word_.list);
}

const SpanList& AnnotationArg::item_spans() const {
  static const SpanList kNone;
  return kind_ == ArgKind::List ? word_.list->spans : kNone;
}

bool operator==(const AnnotationArg& a, const AnnotationArg& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case ArgKind::None: return true;
    case ArgKind::Text: return *a.word_.text == *b.word_.text;
    case ArgKind::Integer: return a.word_.integer == b.word_.integer;
    case ArgKind::Float: return a.word_.floating == b.word_.floating;
    case ArgKind::List: return a.word_.list->items == b.word_.list->items;
  }
  return false;
}

}  // namespace brindle
