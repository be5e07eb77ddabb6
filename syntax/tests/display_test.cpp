#include "display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace brindle {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNan = std::numeric_limits<double>::quiet_NaN();

// The bits of the double a text reads back as (all of it must be read).
uint64_t read_bits(const std::string& s) {
  double d = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
  EXPECT_TRUE(ec == std::errc() && ptr == s.data() + s.size()) << s;
  return std::bit_cast<uint64_t>(d);
}

TEST(Display, DecimalForm) {
  EXPECT_EQ(decimal_form(-42), "-42");
  EXPECT_EQ(decimal_form(std::numeric_limits<int64_t>::max()), "9223372036854775807");
  EXPECT_EQ(decimal_form(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
}

struct FloatCase {
  double value;
  std::string shortest, debug;
};

TEST(Display, FloatForms) {
  // The debug form is positional in [1e-4, 1e16) and for zero.
  const FloatCase cases[] = {
      {1.0, "1", "1.0"},
      {0.1, "0.1", "0.1"},
      {123456.789, "123456.789", "123456.789"},
      {0.1 + 0.2, "0.30000000000000004", "0.30000000000000004"},
      {0.0, "0", "0.0"},
      {-0.0, "-0", "-0.0"},
      {1e21, "1000000000000000000000", "1e21"},
      {1e-7, "0.0000001", "1e-7"},
      {1.5e-7, "0.00000015", "1.5e-7"},
      {0.0001, "0.0001", "0.0001"},
      {std::nextafter(0.0001, 0.0), "0.00009999999999999999", "9.999999999999999e-5"},
      {9999999999999998.0, "9999999999999998", "9999999999999998.0"},
      {1e16, "10000000000000000", "1e16"},
      {-1e16, "-10000000000000000", "-1e16"},
      {5e-324, "0." + std::string(323, '0') + "5", "5e-324"},
      {DBL_MAX, "17976931348623157" + std::string(292, '0'), "1.7976931348623157e308"},
      {kInf, "inf", "inf"},
      {-kInf, "-inf", "-inf"},
      {kNan, "NaN", "NaN"},
      {-kNan, "NaN", "NaN"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shortest_form(c.value), c.shortest) << c.debug;
    EXPECT_EQ(debug_float(c.value), c.debug) << c.shortest;
  }
}

TEST(Display, FloatFormsRoundTrip) {
  std::mt19937_64 rng(1234567);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t bits = rng();
    const double d = std::bit_cast<double>(bits);
    if (!std::isfinite(d)) continue;
    const std::string s = shortest_form(d);
    ASSERT_EQ(s.find_first_of("eE"), std::string::npos) << s;
    ASSERT_EQ(s.find('.') == std::string::npos, std::trunc(d) == d) << s;  // no ".0" in this form
    ASSERT_EQ(read_bits(s), bits) << s;
    ASSERT_EQ(read_bits(debug_float(d)), bits) << debug_float(d);
  }
  // Integral doubles below 2^53 print exactly like the integers.
  for (int i = 0; i < 2000; ++i) {
    const int64_t n = static_cast<int64_t>(rng() % (uint64_t{1} << 54)) - (int64_t{1} << 53);
    ASSERT_EQ(shortest_form(static_cast<double>(n)), decimal_form(n)) << n;
    ASSERT_EQ(one_decimal_form(static_cast<double>(n)), decimal_form(n) + ".0") << n;
  }
}

TEST(Display, OneDecimalFormIsTheExactValue) {
  const std::pair<double, std::string> cases[] = {
      {-0.0, "-0.0"},
      {1e23, "99999999999999991611392.0"},
      {DBL_MAX, "179769313486231570814527423731704356798070567525844996598917476803157260780028538760"
                "589558632766878171540458953514382464234321326889464182768467546703537516986049910576"
                "551282076245490090389328944075868508455133942304583236903222948165808559332123348274"
                "797826204144723168738177180919299881250404026184124858368.0"},
      {-kInf, "-inf"},
      {kNan, "NaN"},
  };
  for (const auto& [v, s] : cases) EXPECT_EQ(one_decimal_form(v), s) << s;
}

TEST(Display, DebugString) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "\"\""},
      {"a b'c", "\"a b'c\""},
      {std::string("\"\0\t\r\n\\", 6), "\"\\\"\\0\\t\\r\\n\\\\\""},
      {"\x01", "\"\\u{1}\""},
      {"\x7f", "\"\\u{7f}\""},
      {"\xC2\x85", "\"\\u{85}\""},                 // NEL, Cc
      {"\xC2\xA0", "\"\\u{a0}\""},                 // no-break space, Zs
      {"\xE2\x80\xA8", "\"\\u{2028}\""},           // Zl
      {"\xE2\x80\xA9", "\"\\u{2029}\""},           // Zp
      {"\xC2\xAD", "\"\\u{ad}\""},                 // soft hyphen, Cf
      {"\xEE\x80\x80", "\"\\u{e000}\""},           // private use, Co
      {"\xF4\x8F\xBF\xBF", "\"\\u{10ffff}\""},     // noncharacter, Cn
      {"e\xCC\x81", "\"e\\u{301}\""},              // combining acute, Grapheme_Extend
      {"\xEF\xBE\x9E", "\"\\u{ff9e}\""},           // a letter modifier that is Grapheme_Extend
      {"\xE0\xA4\xBF", "\"\xE0\xA4\xBF\""},        // spacing mark, not Grapheme_Extend
      {"\xF0\x9F\x8F\xBB", "\"\xF0\x9F\x8F\xBB\""},  // emoji modifier: a symbol
      {"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", "\"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\""},
      {"\xFF" "a", "\"\xEF\xBF\xBD" "a\""},         // malformed byte
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(debug_string(in), out) << out;
}

TEST(Display, DebugText) {
  const Value nested = Value::dict({{"x\n", Value::array({Value::array({}), Value::dict({})})}});
  const std::pair<Value, std::string> cases[] = {
      {Value::null(), "Null"},
      {Value::array({Value::boolean(true), Value::boolean(false), Value::integer(-3), Value::floating(2.0),
                     Value::string("a\nb")}),
       "Array([Bool(true), Bool(false), Integer(-3), Float(2.0), String(\"a\\nb\")])"},
      {Value::dict({{"n", Value::null()}, {"k", Value::floating(1e16)}}), "Dict({\"k\": Float(1e16), \"n\": Null})"},
      {Value::array({nested, Value::null()}), "Array([Dict({\"x\\n\": Array([Array([]), Dict({})])}), Null])"},
  };
  for (const auto& [v, s] : cases) EXPECT_EQ(debug_text(v), s);
}

TEST(Display, DebugTextOfDeepNesting) {
  const int depth = 5000;  // deeper than a recursive walk could go safely
  Value v = Value::integer(7);
  std::string expected = "Integer(7)";
  for (int i = 0; i < depth; ++i) {
    Array a;  // filled by moves: a braced list would copy the whole chain
    Dict d;
    if (i % 2 == 0) {
      a.push_back(std::move(v));
      v = Value::array(std::move(a));
      expected = "Array([" + expected + "])";
    } else {
      d.emplace("k", std::move(v));
      v = Value::dict(std::move(d));
      expected = "Dict({\"k\": " + expected + "})";
    }
  }
  const std::string s = debug_text(v);
  const auto diff = std::mismatch(s.begin(), s.end(), expected.begin(), expected.end());
  EXPECT_TRUE(s == expected) << "differs at byte " << (diff.first - s.begin());
}

}  // namespace
}  // namespace brindle
