// Annotation lines as the serializer writes them. An argument is written in
// the first form that the lexer and the annotation parser read back as the
// same argument: plain text may look like a number, a list or quoted text,
// hold a `#` that starts a comment, or lose blanks at its ends. Rather than
// list those cases, each candidate line is read back with the real readers.
// An argument that no form carries (a line feed, a comma inside a list item)
// is written in its quoted form and reported.
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "annotation.h"
#include "display.h"
#include "lexer.h"
#include "serializer.h"

namespace brindle {
namespace {

bool same_float(double a, double b) {
  return std::isnan(a) ? std::isnan(b) : std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

bool same_arg(const AnnotationArg& a, const AnnotationArg& b) {
  if (a.index() != b.index()) return false;
  if (const auto* d = std::get_if<double>(&a)) return same_float(*d, std::get<double>(b));
  return a == b;
}

// True when `line` (one annotation line, without its line feed) reads back
// as an annotation named `name` with argument `arg`.
bool reads_back(std::string_view line, const Annotation& a) {
  if (line.find('\n') != std::string_view::npos) return false;
  std::string text(line);
  text += '\n';
  Lexer lexer(text);
  LineRecord rec;
  if (!lexer.next(rec) || rec.kind != LineKind::AnnotationLine) return false;
  const Span span{0, rec.annotation_text.size()};
  auto result = parse_annotation(rec.annotation_text, span);
  const auto* back = std::get_if<Annotation>(&result);
  return back != nullptr && back->name == a.name && same_arg(back->arg, a.arg);
}

std::string quoted_arg(std::string_view text) {
  std::string q;
  q.reserve(text.size() + 2);
  q += '"';
  q += text;
  q += '"';
  return q;
}

// A List argument: each item bare where the line so far still reads back
// with it bare, else quoted (an item's quotes and `#` change how the rest of
// the line is read, so items are not judged alone). Each check reads the line
// so far, so long lists have every item quoted instead (or when `quote_all`).
std::string list_form(const std::string& name, const std::vector<std::string>& items,
                      bool quote_all = false) {
  constexpr size_t kCheckedItems = 64;
  quote_all = quote_all || items.size() > kCheckedItems;
  std::string line = "@" + name + ": [";
  Annotation so_far;
  so_far.name = name;
  auto& done = so_far.arg.emplace<std::vector<std::string>>();
  for (const std::string& item : items) {
    if (!done.empty()) line += ", ";
    done.push_back(item);
    const size_t mark = line.size();
    if (!quote_all) {
      line += item;
      if (reads_back(line + "]", so_far)) continue;
      line.resize(mark);
    }
    line += quoted_arg(item);
  }
  line += ']';
  return line.substr(1 + name.size());
}

// The text after `@name` for each form an argument may take, in order of
// preference.
std::vector<std::string> argument_forms(const Annotation& a) {
  switch (arg_kind(a.arg)) {
    case ArgKind::None:
      return {""};
    case ArgKind::Integer:
      return {": " + decimal_form(std::get<int64_t>(a.arg))};
    case ArgKind::Float: {
      const double d = std::get<double>(a.arg);
      std::vector<std::string> forms{": " + shortest_form(d)};
      if (std::isfinite(d) && d == std::trunc(d)) forms.push_back(": " + one_decimal_form(d));
      return forms;
    }
    case ArgKind::Text: {
      const std::string& t = std::get<std::string>(a.arg);
      // Appended piece by piece: `"(" + ... + ")"` trips a false -Wrestrict.
      return {std::string(": ").append(t), std::string(": ").append(quoted_arg(t)),
              std::string("(").append(t).append(")"), std::string("(").append(quoted_arg(t)).append(")")};
    }
    case ArgKind::List: {
      const auto& items = std::get<std::vector<std::string>>(a.arg);
      return {list_form(a.name, items), list_form(a.name, items, true)};
    }
  }
  return {""};
}

bool append_annotation(std::string& out, const Annotation& a) {
  const std::vector<std::string> forms = argument_forms(a);
  const std::string head = "@" + a.name;
  const std::string* chosen = nullptr;
  for (const std::string& form : forms) {
    if (reads_back(head + form, a)) {
      chosen = &form;
      break;
    }
  }
  // Nothing reads back: the quoted form says the most about what was meant.
  const bool found = chosen != nullptr;
  if (!found) chosen = &forms[forms.size() > 1 ? 1 : 0];
  out += head;
  out += *chosen;
  return found;
}

}  // namespace

bool write_annotations(std::string& out, AnnotationList annotations, std::string_view indent) {
  bool all = true;
  for (const Annotation& a : annotations) {
    out += indent;
    all = append_annotation(out, a) && all;
    out += '\n';
  }
  return all;
}

}  // namespace brindle
