#include "annotation.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace brindle {
namespace {

constexpr uint64_t kBase = 100;  // where every test annotation "stands" in its source
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNan = std::numeric_limits<double>::quiet_NaN();
using Items = std::vector<std::string>;

Span at_base(Span s) { return {kBase + s.start, kBase + s.end}; }

struct ArgCase {
  std::string text;
  std::string name;
  AnnotationArg arg;
  std::optional<Span> arg_span;  // relative to kBase, as are the item spans
  std::vector<Span> items = {};
};

TEST(Annotation, ParsesNameArgumentAndSpans) {
  const std::string zeros(400, '0');
  const ArgCase cases[] = {
      {"@required", "required", std::monostate{}, std::nullopt},
      {"@min   :   5", "min", int64_t{5}, Span{11, 12}},
      {"@min: +3", "min", int64_t{3}, Span{6, 8}},
      {"@min: 9223372036854775807", "min", std::numeric_limits<int64_t>::max(), Span{6, 25}},
      {"@min: -9223372036854775808", "min", std::numeric_limits<int64_t>::min(), Span{6, 26}},
      {"@min: 9223372036854775808", "min", 9223372036854775808.0, Span{6, 25}},
      {"@x: +1.5E+2", "x", 150.0, Span{4, 11}},
      {"@x: .5", "x", 0.5, Span{4, 6}},
      {"@x: 5e-324", "x", 5e-324, Span{4, 10}},
      // Out of range: the sign of the decimal magnitude, not of the written
      // exponent, tells overflow from underflow.
      {"@x: 1e400", "x", kInf, Span{4, 9}},
      {"@x: -1e400", "x", -kInf, Span{4, 10}},
      {"@x: 0.000001e99999999999999999999", "x", kInf, Span{4, 33}},
      {"@x: 1" + zeros + "e-1", "x", kInf, Span{4, 408}},
      {"@x: 1e-400", "x", 0.0, Span{4, 10}},
      {"@x: -1e-400", "x", -0.0, Span{4, 11}},
      {"@x: 0." + zeros + "1e1", "x", 0.0, Span{4, 409}},
      {"@max: inf", "max", kInf, Span{6, 9}},
      {"@max: -Infinity", "max", -kInf, Span{6, 15}},
      {"@x: nan", "x", kNan, Span{4, 7}},
      {"@x: -NaN", "x", -kNan, Span{4, 8}},
      {"@x: 1e", "x", std::string("1e"), Span{4, 6}},
      {"@x: 0x10", "x", std::string("0x10"), Span{4, 8}},
      {"@x: + 1", "x", std::string("+ 1"), Span{4, 7}},
      {"@x: infinit", "x", std::string("infinit"), Span{4, 11}},
      {"@min(5)", "min", std::string("5"), Span{5, 6}},
      {"@x()", "x", std::string(""), Span{3, 3}},
      {"@x ( \"a b\" )", "x", std::string("a b"), Span{5, 10}},
      {"@x(\"a)", "x", std::string("\"a"), Span{3, 5}},
      {"@pattern: \"^[a-z]+$\"", "pattern", std::string("^[a-z]+$"), Span{10, 20}},
      {"@x: \"", "x", std::string("\""), Span{4, 5}},
      {"@x: \"\"", "x", std::string(""), Span{4, 6}},
      {"@x: [", "x", std::string("["), Span{4, 5}},
      // Items are cut at every comma: quotes and brackets protect none.
      {"@enum: [a, \"b\", , c]", "enum", Items{"a", "b", "c"}, Span{7, 20}, {{8, 9}, {11, 14}, {18, 19}}},
      {"@enum: [\"x, y\"]", "enum", Items{"\"x", "y\""}, Span{7, 15}, {{8, 10}, {12, 14}}},
      {"@enum: [[1], 2]", "enum", Items{"[1]", "2"}, Span{7, 15}, {{8, 11}, {13, 14}}},
      {"@enum: [ , ,]", "enum", Items{}, Span{7, 13}},
      {"@enum: [\xC2\xA0q\xC2\xA0]", "enum", Items{"q"}, Span{7, 14}, {{10, 11}}},
  };
  for (const auto& c : cases) {
    const auto r = parse_annotation(c.text, at_base({0, c.text.size()}));
    ASSERT_EQ(r.index(), 0u) << c.text << ": " << std::get<1>(r).message;
    const Annotation& a = std::get<0>(r);
    EXPECT_EQ(std::tuple(a.name, a.span, a.name_span),
              std::tuple(c.name, at_base({0, c.text.size()}), at_base({0, 1 + c.name.size()})))
        << c.text;
    ASSERT_EQ(a.arg.index(), c.arg.index()) << c.text;
    if (const auto* want = std::get_if<double>(&c.arg)) {
      const double got = std::get<double>(a.arg);
      EXPECT_TRUE(got == *want || (std::isnan(got) && std::isnan(*want))) << c.text << " got " << got;
      EXPECT_EQ(std::signbit(got), std::signbit(*want)) << c.text;
    } else {
      EXPECT_EQ(a.arg, c.arg) << c.text;
    }
    EXPECT_EQ(a.arg_span, c.arg_span ? std::optional(at_base(*c.arg_span)) : std::nullopt) << c.text;
    std::vector<Span> items;
    for (Span s : c.items) items.push_back(at_base(s));
    EXPECT_EQ(a.item_spans, items) << c.text;
  }
}

TEST(Annotation, FailuresCarryTheirMessageAndSpan) {
  const std::pair<std::string, std::string> cases[] = {
      {"   ", "annotation must start with `@`"},
      {"min: 5", "annotation must start with `@`"},
      {"@", "annotation missing name"},
      {"@1x", "annotation missing name"},
      {"@\xC3\xA9t\xC3\xA9", "annotation missing name"},
      {" @min 5 ", "invalid annotation syntax: ` @min 5 `"},  // the text as passed in
      {"@min(5", "invalid annotation syntax: `@min(5`"},
      {"@min-len: 3", "invalid annotation syntax: `@min-len: 3`"},
      {"@min :", "annotation argument is empty"},
      {"@min: \t", "annotation argument is empty"},
  };
  for (const auto& [text, message] : cases) {
    const auto r = parse_annotation(text, at_base({0, text.size()}));
    ASSERT_EQ(r.index(), 1u) << text;
    EXPECT_EQ(std::get<1>(r).message, message) << text;
    // An empty argument is reported right after its colon, all else as a whole.
    const size_t colon = text.find(':');
    const Span expected = message.ends_with("empty") ? Span{colon + 1, colon + 1} : Span{0, text.size()};
    EXPECT_EQ(std::get<1>(r).span, at_base(expected)) << text;
  }
}

TEST(Annotation, CategoriesAreDisjointAndExact) {
  using Pred = bool (*)(std::string_view);
  const std::pair<Pred, std::vector<std::string>> categories[] = {
      {is_validation,
       {"min", "max", "enum", "minlen", "maxlen", "pattern", "nonzero", "positive", "nonempty"}},
      {is_metadata, {"required", "internal", "readonly", "deprecated", "experimental"}},
      {is_type_hint, {"type"}},
      {is_tag, {"tag"}},
  };
  for (size_t i = 0; i < 4; ++i)
    for (const auto& name : categories[i].second)
      for (size_t j = 0; j < 4; ++j) EXPECT_EQ(categories[j].first(name), i == j) << name;
  for (const char* other : {"Min", "tags", "", "custom", "mi", "requiredx", "Type"})
    for (const auto& [pred, names] : categories) EXPECT_FALSE(pred(other)) << other;
}

TEST(Annotation, FloatArgumentsAreCorrectlyRounded) {
  // Random doubles printed with 17 significant digits read back bit for bit.
  std::mt19937_64 rng(77);
  for (int i = 0; i < 1000; ++i) {
    const uint64_t bits = rng();
    const double d = std::bit_cast<double>(bits);
    if (!std::isfinite(d)) continue;
    char buf[64];
    std::snprintf(buf, sizeof buf, "@x: %.17e", d);
    const auto r = parse_annotation(buf, {0, std::strlen(buf)});
    ASSERT_EQ(r.index(), 0u) << buf;
    ASSERT_EQ(arg_kind(std::get<0>(r).arg), ArgKind::Float) << buf;
    EXPECT_EQ(std::bit_cast<uint64_t>(std::get<double>(std::get<0>(r).arg)), bits) << buf;
  }
}

TEST(Annotation, RandomTextNeverBreaksTheParser) {
  std::mt19937_64 rng(4242);
  const char alphabet[] = "@:()[]\",. +-eE0123456789_aZinf";
  for (int round = 0; round < 10000; ++round) {
    std::string text = rng() % 4 == 0 ? "" : "@";
    for (size_t i = 0, n = rng() % 40; i < n; ++i)
      text.push_back(rng() % 4 == 0 ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % (sizeof(alphabet) - 1)]);
    const Span span{1000, 1000 + text.size()};
    auto inside = [](Span in, Span out) { return out.start <= in.start && in.start <= in.end && in.end <= out.end; };
    const auto r = parse_annotation(text, span);
    if (r.index() == 1) {
      ASSERT_TRUE(inside(std::get<1>(r).span, span)) << text;
      continue;
    }
    const Annotation& a = std::get<0>(r);
    ASSERT_FALSE(a.name.empty()) << text;
    ASSERT_TRUE(a.arg_span || a.item_spans.empty()) << text;
    ASSERT_TRUE(inside(a.arg_span.value_or(span), span)) << text;
    for (Span s : a.item_spans) ASSERT_TRUE(inside(s, *a.arg_span)) << text;
  }
}

}  // namespace
}  // namespace brindle
