// The annotation parser on one line: spans inside the text (one per list
// item), and an annotation written back reads as the same annotation, or
// is refused for a line break or a comma in a list item.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "annotation.h"
#include "fuzz_support.h"
#include "lexer.h"
#include "serializer.h"
#include "text.h"

using namespace brindle;

namespace {

constexpr uint64_t kBase = 1000;

void check(const Annotation& a, uint64_t start, uint64_t end) {
  const bool ok = fuzz::inside(a.span, start, end) && fuzz::inside(a.name_span(), start, end) &&
                  (!a.arg_span || fuzz::inside(*a.arg_span, start, end));
  if (!ok) fuzz::fail("annotation span outside the text", a.name);
  for (const Span& s : a.item_spans()) {
    if (!fuzz::inside(s, start, end)) fuzz::fail("list item span outside the text", a.name);
  }
  const auto* list = get_if<std::vector<std::string>>(&a.arg);
  if (a.item_spans().size() != (list ? list->size() : 0)) fuzz::fail("one span per list item", a.name);
  if (a.arg_span.has_value() == (a.arg.index() == 0)) fuzz::fail("argument span without argument", a.name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = parse_annotation(text, Span{kBase, kBase + size});
  if (const auto* f = std::get_if<ParseFailure>(&parsed)) {
    if (!fuzz::inside(f->span, kBase, kBase + size)) fuzz::fail("failure span outside the text", f->message);
    return 0;
  }
  const Annotation& a = std::get<Annotation>(parsed);
  check(a, kBase, kBase + size);
  if (!is_valid_utf8(text)) return 0;

  std::string line;
  if (!write_annotations(line, {a}, "")) {
    // Refused: only a line break, or a comma inside a list item, has no
    // form on one line, unless the text itself is not one a line keeps
    // (a `#` the comment scanner takes for a comment).
    auto breaks = [](const std::string& s) { return s.find_first_of("\n\r") != std::string::npos; };
    bool explained = strip_comment(text).size() != trim_end(text).size();
    if (const auto* t = get_if<std::string>(&a.arg)) explained = explained || breaks(*t);
    if (const auto* list = get_if<std::vector<std::string>>(&a.arg)) {
      for (const std::string& item : *list) explained = explained || breaks(item) || item.find(',') != item.npos;
      // Past 64 items the writer tries only the all-quoted form (checking
      // each item costs a read of the line so far): a known gap.
      explained = explained || list->size() > 64;
    }
    if (!explained) fuzz::fail("an annotation one line carries is refused", line);
    return 0;
  }
  if (line.empty() || line.back() != '\n') fuzz::fail("annotation not written as one line", line);
  line.pop_back();
  const auto again = parse_annotation(line, Span{0, line.size()});
  if (const auto* f = std::get_if<ParseFailure>(&again)) {
    fuzz::fail("written annotation does not read back", f->message + "\n--- written:\n" + line);
  }
  const Annotation& b = std::get<Annotation>(again);
  const auto* x = get_if<double>(&a.arg);
  const auto* y = get_if<double>(&b.arg);
  const bool both_nan = x && y && std::isnan(*x) && std::isnan(*y);
  if (b.name != a.name || (b.arg != a.arg && !both_nan)) fuzz::fail("written annotation reads back as another", line);
  return 0;
}
