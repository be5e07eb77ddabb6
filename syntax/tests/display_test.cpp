#include "display.h"

#include <gtest/gtest.h>

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

TEST(Display, NumberForms) {
  EXPECT_EQ(decimal_form(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
  // The debug form is positional in [1e-4, 1e16) and for zero; one_decimal_form
  // (checked where given) is the exact binary value.
  const struct { double v; std::string shortest, debug, one = ""; } cases[] = {
      {1.0, "1", "1.0", "1.0"},
      {0.1 + 0.2, "0.30000000000000004", "0.30000000000000004"},
      {-0.0, "-0", "-0.0", "-0.0"},
      {1e23, "100000000000000000000000", "1e23", "99999999999999991611392.0"},
      {1.5e-7, "0.00000015", "1.5e-7"},
      {0.0001, "0.0001", "0.0001"},
      {std::nextafter(0.0001, 0.0), "0.00009999999999999999", "9.999999999999999e-5"},
      {9999999999999998.0, "9999999999999998", "9999999999999998.0"},
      {-1e16, "-10000000000000000", "-1e16"},
      {5e-324, "0." + std::string(323, '0') + "5", "5e-324"},
      {DBL_MAX, "17976931348623157" + std::string(292, '0'), "1.7976931348623157e308"},
      {-kInf, "-inf", "-inf", "-inf"},
      {-kNan, "NaN", "NaN", "NaN"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(std::tuple(shortest_form(c.v), debug_float(c.v), c.one.empty() ? "" : one_decimal_form(c.v)),
              std::tuple(c.shortest, c.debug, c.one));
}

TEST(Display, FloatFormsRoundTrip) {
  std::mt19937_64 rng(1234567);
  for (int i = 0; i < 5000; ++i) {
    const uint64_t bits = rng();
    const double d = std::bit_cast<double>(bits);
    if (!std::isfinite(d)) continue;
    const std::string s = shortest_form(d);
    ASSERT_EQ(s.find_first_of("eE"), std::string::npos) << s;
    ASSERT_EQ(s.find('.') == std::string::npos, std::trunc(d) == d) << s;  // no ".0" in this form
    ASSERT_EQ(read_bits(s), bits) << s;
    ASSERT_EQ(read_bits(debug_float(d)), bits) << debug_float(d);
    // Integral doubles below 2^53 print exactly like the integers.
    const int64_t n = static_cast<int64_t>(bits % (uint64_t{1} << 54)) - (int64_t{1} << 53);
    ASSERT_EQ(shortest_form(double(n)) + "|" + one_decimal_form(double(n)), decimal_form(n) + "|" + decimal_form(n) + ".0");
  }
}

TEST(Display, DebugString) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "\"\""}, {"\x01\x7f", "\"\\u{1}\\u{7f}\""},
      {std::string("\"\0\t\r\n\\'", 7), "\"\\\"\\0\\t\\r\\n\\\\'\""},
      {"\xC2\x85", "\"\\u{85}\""}, {"\xC2\xA0", "\"\\u{a0}\""},  // NEL (Cc), no-break space (Zs)
      {"\xE2\x80\xA8\xE2\x80\xA9", "\"\\u{2028}\\u{2029}\""},  // Zl, Zp
      {"\xC2\xAD", "\"\\u{ad}\""}, {"\xEE\x80\x80", "\"\\u{e000}\""},  // soft hyphen (Cf), private use (Co)
      {"\xF4\x8F\xBF\xBF", "\"\\u{10ffff}\""}, {"e\xCC\x81", "\"e\\u{301}\""},  // noncharacter (Cn), combining acute
      {"\xEF\xBE\x9E", "\"\\u{ff9e}\""},           // a letter modifier that is Grapheme_Extend
      {"\xE0\xA4\xBF\xC3\xA9", "\"\xE0\xA4\xBF\xC3\xA9\""},  // spacing mark, not Grapheme_Extend
      {"\xF0\x9F\x8F\xBB", "\"\xF0\x9F\x8F\xBB\""},  // emoji modifier: a symbol
      {"\xFF" "a", "\"\xEF\xBF\xBD" "a\""},         // malformed byte
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(debug_string(in), out) << out;
}

TEST(Display, DebugText) {
  const Value nested = Value::dict({{"x\n", Value::array({Value::array({}), Value::dict({})})}});
  const Value flat = Value::array({Value::boolean(true), Value::integer(-3), Value::floating(2.0), Value::string("a")});
  EXPECT_EQ(debug_text(Value::array({flat, nested, Value::null()})),
            "Array([Array([Bool(true), Integer(-3), Float(2.0), String(\"a\")]), "
            "Dict({\"x\\n\": Array([Array([]), Dict({})])}), Null])");
  EXPECT_EQ(debug_text(Value::dict({{"n", Value::null()}, {"k", Value::floating(1e16)}})),
            "Dict({\"k\": Float(1e16), \"n\": Null})");
  // Deeper than a recursive walk could go safely; built by moves, not copies.
  Value v = Value::integer(7);
  std::string expected = "Integer(7)";
  for (int i = 0; i < 5000; ++i) {
    Array a;
    Dict d;
    if (i % 2 == 0) a.push_back(std::move(v)), v = Value::array(std::move(a)), expected = "Array([" + expected + "])";
    else d.emplace("k", std::move(v)), v = Value::dict(std::move(d)), expected = "Dict({\"k\": " + expected + "})";
  }
  EXPECT_TRUE(debug_text(v) == expected);
}

}  // namespace
}  // namespace brindle
