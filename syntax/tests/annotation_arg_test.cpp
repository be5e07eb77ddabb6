#include "annotation_arg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "annotation.h"
#include "builder.h"
#include "display.h"

namespace brindle {
namespace {

using List = std::vector<std::string>;

// The kind, then the value as the typed accessors give it; "?" marks an
// accessor that answered for a kind the argument does not hold.
std::string render(const AnnotationArg& a) {
  std::string out = std::to_string(a.index()) + ":";
  const int answered = (get_if<std::string>(&a) != nullptr) + (get_if<int64_t>(&a) != nullptr) +
                       (get_if<double>(&a) != nullptr) + (get_if<List>(&a) != nullptr);
  if (answered != (a.index() == 0 ? 0 : 1)) return out + "?";
  if (const auto* t = get_if<std::string>(&a)) out += "'" + *t + "'";
  if (const auto* i = get_if<int64_t>(&a)) out += decimal_form(*i);
  if (const auto* d = get_if<double>(&a)) out += debug_float(*d);
  if (const auto* items = get_if<List>(&a)) {
    for (const std::string& s : *items) out += "<" + s + ">";
  }
  return out;
}

struct KindRow {
  AnnotationArg arg;
  std::string expected;
};

TEST(AnnotationArg, HoldsEachKindAndSurvivesCopiesAndMoves) {
  const std::string long_text(300, 'x');
  const KindRow rows[] = {
      {AnnotationArg(), "0:"},
      {std::monostate{}, "0:"},
      {std::string(), "1:''"},
      {std::string("short"), "1:'short'"},
      {long_text, "1:'" + long_text + "'"},
      {int64_t{0}, "2:0"},
      {std::numeric_limits<int64_t>::min(), "2:-9223372036854775808"},
      {-0.0, "3:" + debug_float(-0.0)},
      {1e300, "3:" + debug_float(1e300)},
      {List{}, "4:"},
      {List{"a", "", long_text}, "4:<a><><" + long_text + ">"},
  };
  for (const KindRow& row : rows) {
    EXPECT_EQ(render(row.arg), row.expected);
    EXPECT_EQ(arg_kind(row.arg), static_cast<ArgKind>(row.arg.index()));
    EXPECT_TRUE(row.arg.item_spans().empty()) << row.expected;

    AnnotationArg copy(row.arg);
    EXPECT_EQ(render(copy), row.expected);
    EXPECT_TRUE(copy == row.arg) << row.expected;
    // The copy owns its text or list: changing it leaves the original.
    copy.emplace<std::string>("changed");
    EXPECT_EQ(render(row.arg), row.expected);

    AnnotationArg moved(row.arg);
    AnnotationArg target(List{"old"});
    target = std::move(moved);
    EXPECT_EQ(render(target), row.expected);
    EXPECT_EQ(render(moved), "0:");  // NOLINT: a moved-from argument holds nothing

    AnnotationArg assigned(int64_t{5});
    assigned = row.arg;
    EXPECT_EQ(render(assigned), row.expected);
    const AnnotationArg& same = assigned;
    assigned = same;  // self-assignment keeps the value
    EXPECT_EQ(render(assigned), row.expected);
  }
}

TEST(AnnotationArg, EmplaceMayReadTheValueItReplaces) {
  AnnotationArg a(std::string("kept text that is longer than a small string"));
  a.emplace<std::string>(get<std::string>(a));
  EXPECT_EQ(render(a), "1:'kept text that is longer than a small string'");
  a = List{"x", "y"};
  a.emplace<List>(get<List>(a));
  EXPECT_EQ(render(a), "4:<x><y>");
  a.emplace<std::string>(get<List>(a).front());
  EXPECT_EQ(render(a), "1:'x'");
  a.emplace<int64_t>(7);
  EXPECT_EQ(render(a), "2:7");
  a.emplace<double>(0.5);
  EXPECT_EQ(render(a), "3:0.5");
}

struct EqualityRow {
  AnnotationArg a;
  AnnotationArg b;
  bool equal;
};

TEST(AnnotationArg, ComparesKindsAndValues) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const EqualityRow rows[] = {
      {AnnotationArg(), std::monostate{}, true},
      {AnnotationArg(), std::string(), false},
      {int64_t{1}, 1.0, false},
      {int64_t{1}, int64_t{1}, true},
      {int64_t{1}, int64_t{2}, false},
      {0.0, -0.0, true},
      {nan, nan, false},
      {std::string("a"), std::string("a"), true},
      {std::string("a"), List{"a"}, false},
      {List{"a", "b"}, List{"a", "b"}, true},
      {List{"a", "b"}, List{"b", "a"}, false},
      {List{}, List{""}, false},
  };
  for (const EqualityRow& row : rows) {
    EXPECT_EQ(row.a == row.b, row.equal) << render(row.a) << " vs " << render(row.b);
    EXPECT_EQ(row.b == row.a, row.equal) << render(row.b) << " vs " << render(row.a);
  }
}

// A parsed list keeps one span per item in the argument's block; the spans
// follow the argument through copies and moves, and do not take part in
// equality.
TEST(AnnotationArg, ParsedListKeepsItemSpansThroughCopies) {
  const std::string text = "@enum: [a, \"b c\",, d]";
  const auto parsed = parse_annotation(text, Span{100, 100 + text.size()});
  ASSERT_EQ(parsed.index(), 0u);
  const Annotation& a = std::get<0>(parsed);
  const std::vector<Span> expected = {{108, 109}, {111, 116}, {119, 120}};
  auto spans_of = [](const Annotation& x) { return std::vector<Span>(x.item_spans().begin(), x.item_spans().end()); };
  EXPECT_EQ(render(a.arg), "4:<a><b c><d>");
  EXPECT_EQ(spans_of(a), expected);

  Annotation copy = a;
  EXPECT_EQ(spans_of(copy), expected);
  Annotation moved = std::move(copy);
  EXPECT_EQ(spans_of(moved), expected);
  EXPECT_TRUE(copy.item_spans().empty());  // NOLINT: moved from

  Annotation by_hand;
  by_hand.arg = List{"a", "b c", "d"};
  EXPECT_TRUE(by_hand.item_spans().empty());
  EXPECT_TRUE(by_hand.arg == a.arg);
  by_hand.arg = moved.arg;
  EXPECT_EQ(spans_of(by_hand), expected);
}

}  // namespace
}  // namespace brindle

namespace brindle {
namespace {

// Every span of a parsed annotation, shifted back by `base`, then the
// argument: an annotation parsed past 4 GiB reads as it does near 0.
std::string spans_from(const Annotation& a, uint64_t base) {
  auto at = [base](Span s) { return std::to_string(s.start - base) + "-" + std::to_string(s.end - base); };
  std::string out = std::string(a.name.view()) + " " + at(a.span) + " " + at(a.name_span());
  out += a.arg_span ? " arg " + at(*a.arg_span) + " " + std::to_string(a.arg_span->end - base) : " no-arg";
  for (const Span& s : a.item_spans()) out += " item " + at(s);
  return out + " " + render(a.arg);
}

TEST(AnnotationArg, SpansReadTheSameAtAnyOffset) {
  const char* texts[] = {"@required", "@min: 0", "@max: -2.5e3", "@description(some text)",
                         "@enum: [a, b,  c ]", "@pattern: \"^x$\"", "@tag:   spaced  ", "@enum: []"};
  const uint64_t bases[] = {0, 1000, (uint64_t{1} << 32) - 8, uint64_t{1} << 32, uint64_t{1} << 40};
  for (const char* text : texts) {
    const std::string t(text);
    std::string first;
    for (uint64_t base : bases) {
      const auto parsed = parse_annotation(t, Span{base, base + t.size()});
      ASSERT_EQ(parsed.index(), 0u) << t;
      const Annotation& a = std::get<0>(parsed);
      const std::string got = spans_from(a, base);
      if (first.empty()) first = got;
      EXPECT_EQ(got, first) << t << " at " << base;
      // A copy of the record, as the table makes, reads the same.
      const Annotation copy = a;
      EXPECT_EQ(spans_from(copy, base), first) << t << " at " << base;
    }
  }
}

}  // namespace
}  // namespace brindle
