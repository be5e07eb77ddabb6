#include "annotation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace brindle {
namespace {

constexpr uint64_t kBase = 100;  // where every test annotation "stands" in its source

std::variant<Annotation, ParseFailure> parse_at_base(const std::string& text) {
  return parse_annotation(text, Span{kBase, kBase + text.size()});
}

const Annotation& ok(const std::variant<Annotation, ParseFailure>& r, const std::string& text) {
  if (r.index() != 0) ADD_FAILURE() << text << ": " << std::get<1>(r).message;
  static const Annotation empty;
  return r.index() == 0 ? std::get<0>(r) : empty;
}

constexpr double kInf = std::numeric_limits<double>::infinity();

struct ArgCase {
  std::string text;
  std::string name;
  AnnotationArg arg;
  std::optional<Span> arg_span;  // relative to kBase
};

TEST(Annotation, ParsesNameArgumentAndSpans) {
  const ArgCase cases[] = {
      {"@required", "required", std::monostate{}, std::nullopt},
      {"@min: 5", "min", int64_t{5}, Span{6, 7}},
      {"@min:5", "min", int64_t{5}, Span{5, 6}},
      {"@min   :   5", "min", int64_t{5}, Span{11, 12}},
      {"@min: -3", "min", int64_t{-3}, Span{6, 8}},
      {"@min: +3", "min", int64_t{3}, Span{6, 8}},
      {"@min: 9223372036854775807", "min", std::numeric_limits<int64_t>::max(), Span{6, 25}},
      {"@min: -9223372036854775808", "min", std::numeric_limits<int64_t>::min(), Span{6, 26}},
      {"@min: 9223372036854775808", "min", 9223372036854775808.0, Span{6, 25}},
      {"@min: 5.5", "min", 5.5, Span{6, 9}},
      {"@max: 1e3", "max", 1000.0, Span{6, 9}},
      {"@x: +1.5E+2", "x", 150.0, Span{4, 11}},
      {"@x: .5", "x", 0.5, Span{4, 6}},
      {"@x: 0.1", "x", 0.1, Span{4, 7}},
      {"@x: 5e-324", "x", 5e-324, Span{4, 10}},
      {"@x: 1e400", "x", kInf, Span{4, 9}},
      {"@x: -1e400", "x", -kInf, Span{4, 10}},
      {"@x: 0.000001e99999999999999999999", "x", kInf, Span{4, 33}},
      {"@x: 1e-400", "x", 0.0, Span{4, 10}},
      {"@x: 12345e-330", "x", 0.0, Span{4, 14}},
      {"@max: inf", "max", kInf, Span{6, 9}},
      {"@max: -Infinity", "max", -kInf, Span{6, 15}},
      {"@max: +INF", "max", kInf, Span{6, 10}},
      {"@x: 1_000", "x", std::string("1_000"), Span{4, 9}},
      {"@x: 1e", "x", std::string("1e"), Span{4, 6}},
      {"@x: e5", "x", std::string("e5"), Span{4, 6}},
      {"@x: 0x10", "x", std::string("0x10"), Span{4, 8}},
      {"@x: + 1", "x", std::string("+ 1"), Span{4, 7}},
      {"@x: infinit", "x", std::string("infinit"), Span{4, 11}},
      {"@min(5)", "min", std::string("5"), Span{5, 6}},
      {"@x()", "x", std::string(""), Span{3, 3}},
      {"@x(\"\")", "x", std::string(""), Span{3, 5}},
      {"@x ( \"a b\" )", "x", std::string("a b"), Span{5, 10}},
      {"@x(\"a)", "x", std::string("\"a"), Span{3, 5}},
      {"@pattern: \"^[a-z]+$\"", "pattern", std::string("^[a-z]+$"), Span{10, 20}},
      {"@tag: env=prod", "tag", std::string("env=prod"), Span{6, 14}},
      {"@x: \"", "x", std::string("\""), Span{4, 5}},
      {"@x: \"\"", "x", std::string(""), Span{4, 6}},
      {"@x: [", "x", std::string("["), Span{4, 5}},
  };
  for (const auto& c : cases) {
    const auto r = parse_at_base(c.text);
    const Annotation& a = ok(r, c.text);
    EXPECT_EQ(a.name, c.name) << c.text;
    EXPECT_EQ(a.span, (Span{kBase, kBase + c.text.size()})) << c.text;
    EXPECT_EQ(a.name_span, (Span{kBase, kBase + 1 + c.name.size()})) << c.text;
    EXPECT_TRUE(a.item_spans.empty()) << c.text;
    ASSERT_EQ(a.arg.index(), c.arg.index()) << c.text;
    if (const auto* d = std::get_if<double>(&c.arg)) {
      const double got = std::get<double>(a.arg);
      EXPECT_EQ(got, *d) << c.text;
      EXPECT_EQ(std::signbit(got), std::signbit(*d)) << c.text;
    } else {
      EXPECT_EQ(a.arg, c.arg) << c.text;
    }
    ASSERT_EQ(a.arg_span.has_value(), c.arg_span.has_value()) << c.text;
    if (c.arg_span) {
      EXPECT_EQ(*a.arg_span, (Span{kBase + c.arg_span->start, kBase + c.arg_span->end})) << c.text;
    }
  }
}

TEST(Annotation, SignedZeroAndNanArguments) {
  struct Case {
    std::string text;
    bool nan;
    bool negative;
  };
  const Case cases[] = {
      {"@x: -1e-400", false, true}, {"@x: -0.0", false, true}, {"@x: 0.0", false, false},
      {"@x: nan", true, false},     {"@x: NaN", true, false},  {"@x: -nan", true, true},
      {"@x: +NAN", true, false},
  };
  for (const auto& c : cases) {
    const auto r = parse_at_base(c.text);
    const Annotation& a = ok(r, c.text);
    ASSERT_EQ(arg_kind(a.arg), ArgKind::Float) << c.text;
    const double d = std::get<double>(a.arg);
    EXPECT_EQ(std::isnan(d), c.nan) << c.text;
    if (!c.nan) {
      EXPECT_EQ(d, 0.0) << c.text;
    }
    EXPECT_EQ(std::signbit(d), c.negative) << c.text;
  }
}

struct ListCase {
  std::string text;
  std::vector<std::string> items;
  std::vector<Span> spans;  // relative to kBase
};

TEST(Annotation, BracketedArgumentsAreListsCutAtEveryComma) {
  const ListCase cases[] = {
      {"@enum: [a, \"b\", , c]", {"a", "b", "c"}, {{8, 9}, {11, 14}, {18, 19}}},
      {"@enum: [\"x, y\"]", {"\"x", "y\""}, {{8, 10}, {12, 14}}},
      {"@pattern: [abc]", {"abc"}, {{11, 14}}},
      {"@enum: []", {}, {}},
      {"@enum: [ , ,]", {}, {}},
      {"@enum: [[1], 2]", {"[1]", "2"}, {{8, 11}, {13, 14}}},
      {"@enum: [\xC2\xA0q\xC2\xA0]", {"q"}, {{10, 11}}},
  };
  for (const auto& c : cases) {
    const auto r = parse_at_base(c.text);
    const Annotation& a = ok(r, c.text);
    ASSERT_EQ(arg_kind(a.arg), ArgKind::List) << c.text;
    EXPECT_EQ(std::get<std::vector<std::string>>(a.arg), c.items) << c.text;
    std::vector<Span> expected;
    for (Span s : c.spans) expected.push_back({kBase + s.start, kBase + s.end});
    EXPECT_EQ(a.item_spans, expected) << c.text;
    ASSERT_TRUE(a.arg_span.has_value());
    EXPECT_EQ(a.arg_span->end, kBase + c.text.size()) << c.text;
  }
}

struct FailCase {
  std::string text;
  std::string message;
  std::optional<Span> span;  // relative to kBase; default: the whole text
};

TEST(Annotation, FailuresCarryTheirMessageAndSpan) {
  const FailCase cases[] = {
      {"", "annotation must start with `@`", std::nullopt},
      {"   ", "annotation must start with `@`", std::nullopt},
      {"min: 5", "annotation must start with `@`", std::nullopt},
      {"@", "annotation missing name", std::nullopt},
      {"@ min", "annotation missing name", std::nullopt},
      {"@1x", "annotation missing name", std::nullopt},
      {"@\xC3\xA9t\xC3\xA9", "annotation missing name", std::nullopt},
      {"@min 5", "invalid annotation syntax: `@min 5`", std::nullopt},
      {"@min(5", "invalid annotation syntax: `@min(5`", std::nullopt},
      {"@x)", "invalid annotation syntax: `@x)`", std::nullopt},
      {"@min-len: 3", "invalid annotation syntax: `@min-len: 3`", std::nullopt},
      {"@min:", "annotation argument is empty", Span{5, 5}},
      {"@min :", "annotation argument is empty", Span{6, 6}},
      {"@min: \t", "annotation argument is empty", Span{5, 5}},
      // The placeholder is the text exactly as passed in.
      {" @min 5 ", "invalid annotation syntax: ` @min 5 `", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto r = parse_at_base(c.text);
    ASSERT_EQ(r.index(), 1u) << c.text;
    const ParseFailure& f = std::get<1>(r);
    EXPECT_EQ(f.message, c.message) << c.text;
    const Span expected = c.span ? Span{kBase + c.span->start, kBase + c.span->end}
                                 : Span{kBase, kBase + c.text.size()};
    EXPECT_EQ(f.span, expected) << c.text;
  }
}

TEST(Annotation, NameSpanEndsAfterTheName) {
  const auto r = parse_annotation("@required", Span{10, 19});
  ASSERT_EQ(r.index(), 0u);
  EXPECT_EQ(std::get<0>(r).name_span, (Span{10, 19}));
  const auto m = parse_annotation("@min: 1", Span{0, 7});
  EXPECT_EQ(std::get<0>(m).name_span, (Span{0, 4}));
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
  // Decimal texts of random doubles, printed with 17 significant digits,
  // must read back bit for bit.
  std::mt19937_64 rng(77);
  for (int i = 0; i < 2000; ++i) {
    double d;
    const uint64_t bits = rng();
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) continue;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17e", d);
    const std::string text = std::string("@x: ") + buf;
    const auto r = parse_at_base(text);
    const Annotation& a = ok(r, text);
    ASSERT_EQ(arg_kind(a.arg), ArgKind::Float) << text;
    const double got = std::get<double>(a.arg);
    uint64_t got_bits;
    std::memcpy(&got_bits, &got, sizeof got);
    EXPECT_EQ(got_bits, bits) << text;
  }
}

TEST(Annotation, RandomTextNeverBreaksTheParser) {
  std::mt19937_64 rng(4242);
  const char alphabet[] = "@:()[]\",. +-eE0123456789_aZinf";
  for (int round = 0; round < 20000; ++round) {
    std::string text = rng() % 4 == 0 ? "" : "@";
    const size_t n = rng() % 40;
    for (size_t i = 0; i < n; ++i) {
      if (rng() % 4 == 0)
        text.push_back(static_cast<char>(rng() & 0xFF));
      else
        text.push_back(alphabet[rng() % (sizeof(alphabet) - 1)]);
    }
    const Span span{1000, 1000 + text.size()};
    const auto r = parse_annotation(text, span);
    if (r.index() == 1) {
      const Span s = std::get<1>(r).span;
      ASSERT_LE(s.start, s.end);
      ASSERT_GE(s.start, span.start);
      ASSERT_LE(s.end, span.end);
      continue;
    }
    const Annotation& a = std::get<0>(r);
    ASSERT_FALSE(a.name.empty());
    if (a.arg_span) {
      ASSERT_GE(a.arg_span->start, span.start);
      ASSERT_LE(a.arg_span->start, a.arg_span->end);
      ASSERT_LE(a.arg_span->end, span.end);
    }
    for (Span s : a.item_spans) {
      ASSERT_GE(s.start, a.arg_span->start);
      ASSERT_LE(s.end, a.arg_span->end);
    }
  }
}

}  // namespace
}  // namespace brindle
