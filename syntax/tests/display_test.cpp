#include "display.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace brindle {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNan = std::numeric_limits<double>::quiet_NaN();

double parse_double(const std::string& s) {
  double d = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
  EXPECT_EQ(ec, std::errc()) << s;
  EXPECT_EQ(ptr, s.data() + s.size()) << s;
  return d;
}

uint64_t bits_of(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

TEST(Display, DecimalForm) {
  const std::pair<int64_t, std::string> cases[] = {
      {0, "0"},
      {7, "7"},
      {-42, "-42"},
      {1000000, "1000000"},
      {std::numeric_limits<int64_t>::max(), "9223372036854775807"},
      {std::numeric_limits<int64_t>::min(), "-9223372036854775808"},
  };
  for (const auto& [v, s] : cases) EXPECT_EQ(decimal_form(v), s);
}

struct FloatCase {
  double value;
  std::string shortest;
  std::string debug;
};

TEST(Display, FloatForms) {
  const FloatCase cases[] = {
      {1.0, "1", "1.0"},
      {2.5, "2.5", "2.5"},
      {0.1, "0.1", "0.1"},
      {100.0, "100", "100.0"},
      {0.0, "0", "0.0"},
      {-0.0, "-0", "-0.0"},
      {0.5, "0.5", "0.5"},
      {-1.25, "-1.25", "-1.25"},
      {0.1 + 0.2, "0.30000000000000004", "0.30000000000000004"},
      {1e21, "1000000000000000000000", "1e21"},
      {1e-7, "0.0000001", "1e-7"},
      {1e-5, "0.00001", "1e-5"},
      {1.5e-7, "0.00000015", "1.5e-7"},
      {1.2345e20, "123450000000000000000", "1.2345e20"},
      {0.0001, "0.0001", "0.0001"},
      {std::nextafter(0.0001, 0.0), "0.00009999999999999999", "9.999999999999999e-5"},
      {1e15, "1000000000000000", "1000000000000000.0"},
      {9999999999999998.0, "9999999999999998", "9999999999999998.0"},
      {1e16, "10000000000000000", "1e16"},
      {-1e16, "-10000000000000000", "-1e16"},
      {9223372036854775808.0, "9223372036854776000", "9.223372036854776e18"},
      {1e23, "100000000000000000000000", "1e23"},
      {123456.789, "123456.789", "123456.789"},
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

TEST(Display, ShortestFormRoundTripsWithoutExponent) {
  std::mt19937_64 rng(1234567);
  int checked = 0;
  for (int i = 0; i < 200000; ++i) {
    const uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) continue;
    ++checked;
    const std::string s = shortest_form(d);
    ASSERT_EQ(s.find_first_of("eE"), std::string::npos) << s;
    ASSERT_EQ(bits_of(parse_double(s)), bits) << s;
    const std::string g = debug_float(d);
    ASSERT_EQ(bits_of(parse_double(g)), bits) << g;
    // Positional forms of integral values carry no fractional part.
    if (std::trunc(d) == d) ASSERT_EQ(s.find('.'), std::string::npos) << s;
    else ASSERT_NE(s.find('.'), std::string::npos) << s;
  }
  EXPECT_GT(checked, 190000);
}

TEST(Display, IntegralDoublesBelowTwoToThe53MatchTheirIntegers) {
  std::mt19937_64 rng(99);
  for (int i = 0; i < 20000; ++i) {
    const int64_t n = static_cast<int64_t>(rng() % (uint64_t{1} << 54)) - (int64_t{1} << 53);
    EXPECT_EQ(shortest_form(static_cast<double>(n)), decimal_form(n)) << n;
    EXPECT_EQ(one_decimal_form(static_cast<double>(n)), decimal_form(n) + ".0") << n;
  }
}

TEST(Display, OneDecimalForm) {
  const std::pair<double, std::string> cases[] = {
      {3.0, "3.0"},
      {-0.0, "-0.0"},
      {0.0, "0.0"},
      {-7.0, "-7.0"},
      {1e20, "100000000000000000000.0"},
      {1e23, "99999999999999991611392.0"},
      {9223372036854775808.0, "9223372036854775808.0"},
      {DBL_MAX, "179769313486231570814527423731704356798070567525844996598917476803157260780028538760"
                "589558632766878171540458953514382464234321326889464182768467546703537516986049910576"
                "551282076245490090389328944075868508455133942304583236903222948165808559332123348274"
                "797826204144723168738177180919299881250404026184124858368.0"},
  };
  for (const auto& [v, s] : cases) EXPECT_EQ(one_decimal_form(v), s);
}

TEST(Display, DebugString) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "\"\""},
      {"abc", "\"abc\""},
      {"a\"b", "\"a\\\"b\""},
      {"it's", "\"it's\""},
      {"a b", "\"a b\""},
      {std::string("\0", 1), "\"\\0\""},
      {"\t\r\n\\", "\"\\t\\r\\n\\\\\""},
      {"\x01", "\"\\u{1}\""},
      {"\x1b", "\"\\u{1b}\""},
      {"\x7f", "\"\\u{7f}\""},
      {"\xC2\x85", "\"\\u{85}\""},                 // NEL, Cc
      {"\xC2\xA0", "\"\\u{a0}\""},                 // no-break space, Zs
      {"\xE3\x80\x80", "\"\\u{3000}\""},           // ideographic space, Zs
      {"\xE2\x80\xA8", "\"\\u{2028}\""},           // Zl
      {"\xE2\x80\xA9", "\"\\u{2029}\""},           // Zp
      {"\xC2\xAD", "\"\\u{ad}\""},                 // soft hyphen, Cf
      {"\xE2\x80\x8D", "\"\\u{200d}\""},           // zero width joiner, Cf
      {"\xEF\xBB\xBF", "\"\\u{feff}\""},           // Cf
      {"\xEE\x80\x80", "\"\\u{e000}\""},           // private use, Co
      {"\xCD\xB8", "\"\\u{378}\""},                // unassigned, Cn
      {"\xF4\x8F\xBF\xBF", "\"\\u{10ffff}\""},     // noncharacter, Cn
      {"e\xCC\x81", "\"e\\u{301}\""},              // combining acute, Grapheme_Extend
      {"\xE0\xA6\xBE", "\"\\u{9be}\""},            // spacing mark that is Grapheme_Extend
      {"\xEF\xBE\x9E", "\"\\u{ff9e}\""},           // letter modifier that is Grapheme_Extend
      {"\xE0\xA4\xBF", "\"\xE0\xA4\xBF\""},        // spacing mark, not Grapheme_Extend
      {"\xF0\x9F\x8F\xBB", "\"\xF0\x9F\x8F\xBB\""},  // emoji modifier: a symbol
      {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},  // emoji
      {"\xC3\xA9\xE4\xB8\xAD", "\"\xC3\xA9\xE4\xB8\xAD\""},
      {"\xFF" "a", "\"\xEF\xBF\xBD" "a\""},         // malformed byte
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(debug_string(in), out) << in;
}

TEST(Display, DebugText) {
  Dict kn;
  kn.emplace("n", Value::null());
  kn.emplace("k", Value::floating(2.5));
  Dict ba;
  ba.emplace("b", Value::integer(1));
  ba.emplace("a", Value::boolean(false));
  Dict nested;
  nested.emplace("x\n", Value::array({Value::array({}), Value::dict({})}));

  const std::pair<Value, std::string> cases[] = {
      {Value::string("a\nb"), "String(\"a\\nb\")"},
      {Value::integer(-3), "Integer(-3)"},
      {Value::floating(2.0), "Float(2.0)"},
      {Value::floating(1e16), "Float(1e16)"},
      {Value::boolean(true), "Bool(true)"},
      {Value::boolean(false), "Bool(false)"},
      {Value::null(), "Null"},
      {Value::array({}), "Array([])"},
      {Value::dict({}), "Dict({})"},
      {Value::array({Value::integer(1), Value::string("a"), Value::floating(2.0)}),
       "Array([Integer(1), String(\"a\"), Float(2.0)])"},
      {Value::dict(kn), "Dict({\"k\": Float(2.5), \"n\": Null})"},
      {Value::dict(ba), "Dict({\"a\": Bool(false), \"b\": Integer(1)})"},
      {Value::array({Value::dict(nested), Value::null()}),
       "Array([Dict({\"x\\n\": Array([Array([]), Dict({})])}), Null])"},
  };
  for (const auto& [v, s] : cases) EXPECT_EQ(debug_text(v), s);
}

TEST(Display, DebugTextOfDeepNesting) {
  const int depth = 5000;
  Value v = Value::integer(7);
  for (int i = 0; i < depth; ++i) {
    if (i % 2 == 0) {
      Array a;
      a.push_back(std::move(v));
      v = Value::array(std::move(a));
    } else {
      Dict d;
      d.emplace("k", std::move(v));
      v = Value::dict(std::move(d));
    }
  }
  const std::string s = debug_text(v);
  EXPECT_EQ(s.find("Integer(7)"), static_cast<size_t>(depth / 2) * std::string("Dict({\"k\": ").size() +
                                       static_cast<size_t>(depth / 2) * std::string("Array([").size());
  EXPECT_EQ(s.substr(s.size() - 4), "])})");
}

}  // namespace
}  // namespace brindle
