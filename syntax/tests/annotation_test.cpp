#include "annotation.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace brindle {
namespace {

// "name arg @arg-span [item@span,...]" or "!message @span", spans relative to
// kBase; arg is "-", i<int>, f<shortest double, with its sign>, '<text>' or a list.
std::string render_failure(const ParseFailure& f) { return "!" + f.message + " " + show(f.span, kBase); }

std::string render_record(const Annotation& a, const std::string& text) {
  std::string out = a.name + " ";
  if (a.span != Span{kBase, kBase + text.size()} || a.name_span() != Span{kBase, kBase + 1 + a.name.size()})
    out += "BAD-SPANS ";
  char buf[32];
  if (const auto* d = get_if<double>(&a.arg)) out.append("f").append(buf, std::to_chars(buf, buf + 32, *d).ptr);
  if (const auto* i = get_if<int64_t>(&a.arg)) out.append("i").append(std::to_string(*i));
  if (const auto* s = get_if<std::string>(&a.arg)) out += "'" + *s + "'";
  if (a.arg.index() == 0) out += "-";
  if (const auto* items = get_if<std::vector<std::string>>(&a.arg)) {
    out += "[";
    for (size_t k = 0; k < items->size(); ++k)
      out += (k ? "," : "") + (*items)[k] + (k < a.item_spans().size() ? show(a.item_spans()[k], kBase) : "?");
    out += "]";
  }
  return a.arg_span ? out + " " + show(*a.arg_span, kBase) : out;
}

std::string render(const std::string& text) {
  const auto r = parse_annotation(text, {kBase, kBase + text.size()});
  if (r.index() == 1) return render_failure(std::get<1>(r));
  return render_record(std::get<0>(r), text);
}

// The appending form, into a list that already holds a record: what it
// appends, or its failure when it left the list as it was.
std::string render_appended(const std::string& text) {
  std::vector<Annotation> into(1);
  into[0].name = "before";
  into[0].arg = std::vector<std::string>{"kept"};
  const auto failure = parse_annotation(text, {kBase, kBase + text.size()}, into);
  if (into.front().name != "before" || into.front().arg != AnnotationArg(std::vector<std::string>{"kept"}))
    return "EARLIER-RECORD-CHANGED";
  if (failure) return into.size() == 1 ? render_failure(*failure) : "APPENDED-ON-FAILURE";
  return into.size() == 2 ? render_record(into.back(), text) : "NOT-APPENDED";
}

TEST(Annotation, ParsesNameArgumentAndSpansOrFails) {
  const std::string zeros(400, '0');
  const std::pair<std::string, std::string> cases[] = {
      {"@required", "required -"}, {"@min   :   5", "min i5 @11-12"},
      {"@min: +3", "min i3 @6-8"}, {"@x: .5", "x f0.5 @4-6"},
      {"@min: -9223372036854775808", "min i-9223372036854775808 @6-26"},
      {"@min: 9223372036854775808", "min f9223372036854775808 @6-25"},
      {"@x: +1.5E+2", "x f150 @4-11"}, {"@x: 5e-324", "x f5e-324 @4-10"},
      // Out of range: the sign of the decimal magnitude, not of the written
      // exponent, tells overflow from underflow.
      {"@x: -1e400", "x f-inf @4-10"}, {"@x: -1e-400", "x f-0 @4-11"},
      {"@x: 0.000001e99999999999999999999", "x finf @4-33"},
      {"@x: 1" + zeros + "e-1", "x finf @4-408"},
      {"@x: 0." + zeros + "1e1", "x f0 @4-409"},
      {"@max: inf", "max finf @6-9"}, {"@max: -Infinity", "max f-inf @6-15"},
      {"@x: nan", "x fnan @4-7"}, {"@x: -NaN", "x f-nan @4-8"},
      {"@x: 1e", "x '1e' @4-6"}, {"@x: + 1", "x '+ 1' @4-7"},
      {"@x: infinit", "x 'infinit' @4-11"}, {"@x: [", "x '[' @4-5"},
      {"@min(5)", "min '5' @5-6"}, {"@x()", "x '' @3-3"},
      {"@x ( \"a b\" )", "x 'a b' @5-10"}, {"@x(\"a)", "x '\"a' @3-5"},
      {"@pattern: \"^[a-z]+$\"", "pattern '^[a-z]+$' @10-20"},
      {"@x: \"", "x '\"' @4-5"}, {"@x: \"\"", "x '' @4-6"},
      // Items are cut at every comma: quotes and brackets protect none.
      {"@enum: [a, \"b\", , c]", "enum [a@8-9,b@11-14,c@18-19] @7-20"},
      {"@enum: [\"x, y\"]", "enum [\"x@8-10,y\"@12-14] @7-15"},
      {"@enum: [ , ,]", "enum [] @7-13"}, {"@enum: [\xC2\xA0q\xC2\xA0]", "enum [q@10-11] @7-14"},
      {"min: 5", "!annotation must start with `@` @0-6"}, {"@\xC3\xA9t\xC3\xA9", "!annotation missing name @0-6"},
      {"@", "!annotation missing name @0-1"}, {"@1x", "!annotation missing name @0-3"},
      {" @min 5 ", "!invalid annotation syntax: ` @min 5 ` @0-8"},  // the text as passed in
      {"@min(5", "!invalid annotation syntax: `@min(5` @0-6"}, {"@min-len: 3", "!invalid annotation syntax: `@min-len: 3` @0-11"},
      {"@min: \t", "!annotation argument is empty @5-5"},  // right after its colon
  };
  for (const auto& [text, out] : cases) {
    EXPECT_EQ(render(text), out) << text;
    EXPECT_EQ(render_appended(text), out) << text;
  }
}

// Lists of every length around the room reserved for an ordinary one, with
// empty pieces between items: one item and one span per non-empty piece,
// each span the item as written.
TEST(Annotation, ListsOfAnyLengthKeepEveryItemAndItsSpan) {
  for (size_t n : {0, 1, 2, 15, 16, 17, 40, 300}) {
    for (const char* gap : {", ", ",,", " , ,\t,"}) {
      std::string text = "@enum: [";
      std::vector<std::string> written;
      for (size_t k = 0; k < n; ++k) {
        written.push_back(k % 3 == 0 ? "\"q" + std::to_string(k) + "\"" : "item" + std::to_string(k));
        text += (k ? gap : "") + written.back();
      }
      text += "]";
      std::vector<Annotation> into;
      ASSERT_FALSE(parse_annotation(text, {kBase, kBase + text.size()}, into)) << text;
      ASSERT_EQ(into.size(), 1u);
      const Annotation& a = into[0];
      const auto* items = get_if<std::vector<std::string>>(&a.arg);
      ASSERT_TRUE(items != nullptr) << text;
      ASSERT_EQ(items->size(), n) << text;
      ASSERT_EQ(a.item_spans().size(), n) << text;
      for (size_t k = 0; k < n; ++k) {
        const Span s = a.item_spans()[k];
        EXPECT_EQ(text.substr(s.start - kBase, s.end - s.start), written[k]) << text;
        const std::string& w = written[k];
        EXPECT_EQ((*items)[k], w[0] == '"' ? w.substr(1, w.size() - 2) : w) << text;
      }
    }
  }
}

// An absent span and present ones, the empty span at 0 among them, read as
// std::optional<Span> would.
TEST(Annotation, OptionalSpanReadsLikeAnOptional) {
  // Past 32-bit starts and 31-bit sizes, and reversed, a span is kept aside.
  constexpr uint64_t k4G = uint64_t{1} << 32;
  const std::optional<Span> forms[] = {std::nullopt, Span{0, 0}, Span{0, 1}, Span{5, 9},
                                       Span{~uint64_t{0} - 1, ~uint64_t{0} - 1},
                                       Span{k4G - 1, k4G + 5}, Span{k4G, k4G}, Span{7, 7 + (k4G >> 1) - 1},
                                       Span{7, 7 + (k4G >> 1)}, Span{9, 3}, Span{~uint64_t{0}, 0}};
  for (const auto& a : forms) {
    for (const auto& b : forms) {
      const OptionalSpan x(a);
      const OptionalSpan y = b ? OptionalSpan(*b) : OptionalSpan(std::nullopt);
      EXPECT_EQ(x.has_value(), a.has_value());
      EXPECT_EQ(static_cast<bool>(x), a.has_value());
      EXPECT_EQ(x.value_or(Span{7, 8}), a.value_or(Span{7, 8}));
      EXPECT_EQ(static_cast<std::optional<Span>>(x), a);
      if (a) {
        EXPECT_EQ(*x, *a);
        EXPECT_EQ(x->end, a->end);
      }
      EXPECT_EQ(x == y, a == b);
    }
    OptionalSpan cleared(a);
    cleared.reset();
    EXPECT_FALSE(cleared.has_value());
    EXPECT_EQ(cleared, OptionalSpan());
    // Copies and moves keep the span whole; a moved-from one is absent.
    const OptionalSpan original(a);
    OptionalSpan copy(original);
    OptionalSpan assigned(Span{1, 2});
    assigned = copy;
    EXPECT_EQ(static_cast<std::optional<Span>>(assigned), a);
    OptionalSpan moved(std::move(copy));
    EXPECT_EQ(static_cast<std::optional<Span>>(moved), a);
    EXPECT_FALSE(copy.has_value());  // NOLINT: moved from
    assigned = std::move(moved);
    EXPECT_EQ(static_cast<std::optional<Span>>(assigned), a);
    EXPECT_EQ(static_cast<std::optional<Span>>(original), a);
    // The always-present form keeps the same spans (absent reads as {0, 0}).
    const Span want = a.value_or(Span{});
    PackedSpan packed = a ? PackedSpan(*a) : PackedSpan();
    PackedSpan packed_copy(packed);
    packed = Span{3, 4};
    packed = packed_copy;
    EXPECT_EQ(Span(packed), want);
    EXPECT_EQ(packed.start(), want.start);
    EXPECT_EQ(packed.end(), want.end);
    const PackedSpan packed_moved(std::move(packed_copy));
    EXPECT_EQ(Span(packed_moved), want);
  }
}

TEST(Annotation, CategoriesAreDisjointAndExact) {
  // Each name followed by the categories that claim it: validation, metadata, type hint, tag.
  std::string got;
  for (const char* name : {"min", "max", "enum", "minlen", "maxlen", "pattern", "nonzero", "positive", "nonempty",
                           "required", "internal", "readonly", "deprecated", "experimental", "type", "tag",
                           "Min", "tags", "", "mi", "requiredx", "Type"})
    got.append(name).append(":").append(is_validation(name) ? "v" : "").append(is_metadata(name) ? "m" : "")
        .append(is_type_hint(name) ? "t" : "").append(is_tag(name) ? "g" : "").append(" ");
  EXPECT_EQ(got, "min:v max:v enum:v minlen:v maxlen:v pattern:v nonzero:v positive:v nonempty:v required:m "
                 "internal:m readonly:m deprecated:m experimental:m type:t tag:g Min: tags: : mi: requiredx: Type: ");
}

TEST(Annotation, NamesTakeLettersDigitsAndUnderscoresOnly) {
  // Every byte value inside a name: ASCII letters, digits and '_' continue
  // it; any other byte ends it there (the rest then parses or fails).
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const bool name_byte = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    const std::string text = std::string("@a") + c + "b";
    const auto r = parse_annotation(text, {0, text.size()});
    if (name_byte) {
      ASSERT_EQ(r.index(), 0u) << b;
      EXPECT_EQ(std::string(std::string_view(std::get<0>(r).name)), text.substr(1)) << b;
    } else if (r.index() == 0) {
      EXPECT_EQ(std::string(std::string_view(std::get<0>(r).name)), "a") << b;
    }
  }
}

TEST(Annotation, RandomInputs) {
  std::mt19937_64 rng(4242);
  // Doubles printed with 17 significant digits read back bit for bit.
  for (int i = 0; i < 500; ++i) {
    const uint64_t bits = rng();
    char buf[64];
    std::snprintf(buf, sizeof buf, "@x: %.17e", std::bit_cast<double>(bits));
    const auto r = parse_annotation(buf, {0, std::string_view(buf).size()});
    if (std::isfinite(std::bit_cast<double>(bits))) {
      ASSERT_EQ(std::bit_cast<uint64_t>(get<double>(std::get<0>(r).arg)), bits) << buf;
    }
  }
  // Random text never breaks the parser: every span stays inside its parent.
  const char alphabet[] = "@:()[]\",. +-eE0123456789_aZinf";
  auto inside = [](Span in, Span out) { return out.start <= in.start && in.start <= in.end && in.end <= out.end; };
  for (int round = 0; round < 4000; ++round) {
    std::string text = rng() % 4 == 0 ? "" : "@";
    for (size_t i = 0, n = rng() % 40; i < n; ++i)
      text.push_back(rng() % 4 == 0 ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % (sizeof(alphabet) - 1)]);
    const Span span{1000, 1000 + text.size()};
    ASSERT_EQ(render_appended(text), render(text)) << text;
    const auto r = parse_annotation(text, span);
    if (r.index() == 1) { ASSERT_TRUE(inside(std::get<1>(r).span, span)) << text; continue; }
    const Annotation& a = std::get<0>(r);
    ASSERT_TRUE(!a.name.empty() && (a.arg_span || a.item_spans().empty())) << text;
    ASSERT_TRUE(inside(a.arg_span.value_or(span), span)) << text;
    for (Span s : a.item_spans()) ASSERT_TRUE(inside(s, *a.arg_span)) << text;
  }
}

}  // namespace
}  // namespace brindle
