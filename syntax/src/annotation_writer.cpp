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
  if (const auto* d = get_if<double>(&a)) return same_float(*d, get<double>(b));
  return a == b;
}

// True when `line` (one annotation line and its line feed) reads back as
// an annotation named `name` with argument `arg`.
bool reads_back(std::string_view line, const Annotation& a) {
  if (line.find('\n') != line.size() - 1) return false;
  Lexer lexer(line);
  LineRecord rec;
  if (!lexer.next(rec) || rec.kind != LineKind::AnnotationLine) return false;
  const Span span{0, rec.annotation_text.size()};
  auto result = parse_annotation(rec.annotation_text, span);
  const auto* back = std::get_if<Annotation>(&result);
  return back != nullptr && back->name == a.name && same_arg(back->arg, a.arg);
}

void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  out += text;
  out += '"';
}

// Candidate lines of one annotation, written one after another into the
// same buffer: most arguments read back in their first form, so the others
// are never made.
class Candidate {
 public:
  explicit Candidate(std::string_view name) {
    line_ += '@';
    line_ += name;
    head_ = line_.size();
  }

  // The text after `@name`, started afresh.
  std::string& restart() {
    line_.resize(head_);
    return line_;
  }
  // True when the line written since `restart` reads back as `a`.
  bool reads_back_as(const Annotation& a) {
    line_ += '\n';
    const bool back = reads_back(line_, a);
    line_.pop_back();
    return back;
  }
  std::string_view line() const { return line_; }

 private:
  std::string line_;
  size_t head_ = 0;
};

// A List argument: each item bare where the line so far still reads back
// with it bare, else quoted (an item's quotes and `#` change how the rest of
// the line is read, so items are not judged alone). Each check reads the line
// so far, so long lists have every item quoted instead (or when `quote_all`).
void list_form(Candidate& c, std::string_view name, const std::vector<std::string>& items,
               bool quote_all = false) {
  constexpr size_t kCheckedItems = 64;
  quote_all = quote_all || items.size() > kCheckedItems;
  std::string& line = c.restart();
  line += ": [";
  Annotation so_far;
  so_far.name = name;
  auto& done = so_far.arg.emplace<std::vector<std::string>>();
  for (const std::string& item : items) {
    if (!done.empty()) line += ", ";
    done.push_back(item);
    const size_t mark = line.size();
    if (!quote_all) {
      line += item;
      line += "]\n";
      const bool bare = reads_back(line, so_far);
      line.resize(line.size() - 2);
      if (bare) continue;
      line.resize(mark);
    }
    append_quoted(line, item);
  }
  line += ']';
}

// Writes each form an argument may take, in order of preference, until one
// reads back. When none does (false), the quoted form is left written: it
// says the most about what was meant.
bool choose_form(Candidate& c, const Annotation& a) {
  switch (arg_kind(a.arg)) {
    case ArgKind::None:
      c.restart();
      return c.reads_back_as(a);
    case ArgKind::Integer:
      c.restart().append(": ").append(decimal_form(get<int64_t>(a.arg)));
      return c.reads_back_as(a);
    case ArgKind::Float: {
      const double d = get<double>(a.arg);
      c.restart().append(": ").append(shortest_form(d));
      if (c.reads_back_as(a)) return true;
      if (!std::isfinite(d) || d != std::trunc(d)) return false;
      c.restart().append(": ").append(one_decimal_form(d));
      return c.reads_back_as(a);
    }
    case ArgKind::Text: {
      const std::string& t = get<std::string>(a.arg);
      c.restart().append(": ").append(t);
      if (c.reads_back_as(a)) return true;
      append_quoted(c.restart().append(": "), t);
      if (c.reads_back_as(a)) return true;
      c.restart().append("(").append(t).append(")");
      if (c.reads_back_as(a)) return true;
      std::string& line = c.restart().append("(");
      append_quoted(line, t);
      line += ')';
      if (c.reads_back_as(a)) return true;
      append_quoted(c.restart().append(": "), t);
      return false;
    }
    case ArgKind::List: {
      const auto& items = get<std::vector<std::string>>(a.arg);
      list_form(c, a.name, items);
      if (c.reads_back_as(a)) return true;
      list_form(c, a.name, items, true);
      return c.reads_back_as(a);
    }
  }
  c.restart();
  return false;
}

bool append_annotation(std::string& out, const Annotation& a) {
  Candidate c(a.name);
  const bool found = choose_form(c, a);
  out += c.line();
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
