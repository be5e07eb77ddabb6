// Written text must read back as the document it came from: serialising a
// document, then lexing and building the text, gives the same config, vars
// and annotations.
//
// Left out, because the language (or the written form) cannot carry them:
// - NaN and infinite float values: written "NaN", "inf", which are no value.
// - The integer -9223372036854775808: the digits after a '-' are read as a
//   positive number first and overflow.
// - A double quote in a string of a value whose text holds an operator byte
//   anywhere (in a string, an inline key, or the sign of a negative number):
//   the expression splitter knows no escapes, so an escaped quote flips its
//   view of what is quoted, and of the bracket depth, for the rest of the
//   value, and that operator may then cut the value.
// - Names holding a line feed: no form keeps them on one line.
// - Section names that are empty or hold a bracket: a header cannot carry
//   them.
// - Inline-dict keys holding a double quote or ending in an odd run of
//   backslashes: a quoted key is taken verbatim there, without escapes.
// - Annotation arguments whose colon form reads back as another kind or
//   text: Text that is empty, edged with blanks, reads as a number, a list
//   or a quoted text, or holds '#' (a comment); integral Float arguments
//   within the 64-bit range (written without a point, they read back as
//   Integer); List items that are blank, edged with blanks, quoted, or hold
//   a comma or '#'; NaN arguments (they cannot be compared).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "builder.h"
#include "display.h"
#include "serializer.h"

namespace brindle {
namespace {

bool same_annotation(const Annotation& a, const Annotation& b) {
  const double* x = std::get_if<double>(&a.arg);
  const double* y = std::get_if<double>(&b.arg);
  return a.name == b.name &&
         (x && y ? std::bit_cast<uint64_t>(*x) == std::bit_cast<uint64_t>(*y) : a.arg == b.arg);
}

// Checks that `text` builds back into `doc`; the message names what differs.
// debug_text keeps tags, the sign of zero and every digit, so equal texts
// mean equal values.
::testing::AssertionResult reads_back(const Document& doc, const std::string& text) {
  const Document back = build_document(text, EmptyEnv{});
  const auto show = [](const Dict& d) { return debug_text(Value::dict(d)); };
  const auto annotated = [](const AnnotationTable& table) {
    return std::ranges::count_if(table, [](const auto& entry) { return !entry.second.empty(); });
  };
  std::string what;
  if (!back.diagnostics.empty()) what = "diagnostic: " + back.diagnostics.front().message;
  else if (show(doc.config) != show(back.config)) what = "config read as " + show(back.config);
  else if (show(doc.vars) != show(back.vars)) what = "vars read back as " + show(back.vars);
  else if (annotated(doc.annotations) != annotated(back.annotations)) what = "new annotations";
  for (const auto& [path, list] : doc.annotations) {
    const auto* got = back.annotations.find(path);
    if (what.empty() && !(got && std::ranges::equal(list, *got, same_annotation)))
      what = "annotations differ at path `" + path + "`";
  }
  if (what.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << what << "\n--- text ---\n" << text << "------------";
}

enum class Use { Key, Section, InlineKey };

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {}

  Document document() {
    Document doc;
    for (size_t n = chance(50) ? below(4) : 0; n > 0; --n) doc.vars[name(Use::Key)] = value(0);
    if (chance(50)) add_keys(doc, doc.config, "", 3, 0);
    for (size_t n = below(5); n > 0; --n) {
      const std::string section = name(Use::Section);
      if (doc.config.contains(section)) continue;
      maybe_annotate(doc, section);
      Dict keys;
      add_keys(doc, keys, section + ".", 6, 1);
      doc.config[section] = Value::dict(std::move(keys));
    }
    return doc;
  }

 private:
  size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  bool chance(int percent) { return below(100) < static_cast<size_t>(percent); }
  template <class T, size_t N>
  const T& pick(const T (&pool)[N]) {
    return pool[below(N)];
  }

  // Keys of the root (level 0), of a section (1) or of a block (2). A name
  // already taken is skipped rather than replaced, so that every annotated
  // path belongs to something that is written.
  void add_keys(Document& doc, Dict& into, const std::string& prefix, size_t most, int level) {
    for (size_t n = below(most); n > 0; --n) {
      const std::string key = name(Use::Key);
      if (into.contains(key)) continue;
      maybe_annotate(doc, prefix + key);
      if (level == 1 && chance(25)) {
        Dict block;
        add_keys(doc, block, prefix + key + ".", 4, 2);
        into[key] = Value::dict(std::move(block));
      } else {
        into[key] = value(0, level == 2);
      }
    }
  }

  template <size_t N>
  std::string pieces(const char* const (&pool)[N], size_t most) {
    std::string s;
    for (size_t n = below(most); n > 0; --n) s += pick(pool);
    return s;
  }

  std::string name(Use use) {
    static constexpr const char* bare[] = {"a", "b", "port", "x-1", "_", "9", "vars", "Name_2"};
    static constexpr const char* pool[] = {"a", "Z", "0", "_", "-", " ", ".", "\"", "\\", "#", "=",
                                           ",", "[", "]", "{", "}", "@", "$", "+", "?", "#{", "}#",
                                           "\xC3\xA9", "\xC2\xA0", "\t", "\r"};
    for (;;) {
      const std::string s = chance(50) ? pick(bare) : pieces(pool, 5);
      const auto holds = [&](std::string_view bytes) { return s.find_first_of(bytes) != s.npos; };
      if (use == Use::Section && (s.empty() || holds("[]"))) continue;
      const size_t backslashes = s.size() - (s.find_last_not_of('\\') + 1);  // npos + 1 is 0
      const bool bad_inline = holds("\"") || backslashes % 2 == 1 || (quotes_ && holds(kOperators));
      if (use == Use::InlineKey && bad_inline) continue;
      return s;
    }
  }

  // At depth 0, the value of one written line. Only some of those may hold
  // double quotes in strings, and do without operator bytes and negative numbers.
  Value value(int depth, bool dict_allowed = true) {
    if (depth == 0) quotes_ = chance(30);
    if (depth >= 3 || chance(70)) return scalar();
    Value v = dict_allowed && chance(50) ? Value::dict({}) : Value::array({});
    for (size_t n = below(4); n > 0; --n) {
      if (v.is(Tag::Dict)) v.as_dict()[name(Use::InlineKey)] = value(depth + 1);
      else v.as_array().push_back(value(depth + 1));
    }
    return v;
  }

  Value scalar() {
    static constexpr const char* pool[] = {"a", "Z", " ", "\"", "\\", "\n", "\r", "\t", "#", "#{",
                                           "}#", ",", "+", "-", "*", "/", "?", "??", "[", "]", "{",
                                           "}", "(", ")", "=", "$x", "\\n", "\xC3\xA9", "\xC2\xA0",
                                           "\xE2\x80\xA8", "\x01", "\x7f"};
    constexpr int64_t max = std::numeric_limits<int64_t>::max();
    switch (below(5)) {
      case 0: {
        std::string s = pieces(pool, 7);
        std::erase_if(s, [&](char c) {
          return quotes_ ? kOperators.find(c) != kOperators.npos : c == '"';
        });
        return Value::string(s);
      }
      case 1: {  // never the smallest integer
        const int64_t i = chance(40) ? (chance(50) ? 0 : max) : static_cast<int64_t>(rng_() >> 1);
        return Value::integer(quotes_ || chance(50) ? i : -i);
      }
      case 2: return Value::floating(quotes_ ? std::fabs(finite_double()) : finite_double());
      case 3: return Value::boolean(chance(50));
      default: return Value::null();
    }
  }

  double finite_double() {
    static constexpr double special[] = {0.0,     -0.0,   0.1, 2.5, 1.0, -3.0, 1e23, 1e300,
                                         -1e-300, 5e-324, std::numeric_limits<double>::max()};
    double d = chance(40) ? pick(special) : std::bit_cast<double>(rng_());
    while (!std::isfinite(d)) d = std::bit_cast<double>(rng_());
    return d;
  }

  // Argument texts start with a letter that no number, list, quoted text
  // or inf/nan word starts with, and end with a non-blank.
  std::string arg_text(const char* lead) {
    static constexpr const char* pool[] = {"a", "Z", "0", "_", "-", ".", "=", "/", "^", "$", " ",
                                           "\"", "\\", "*", "(", ")", "{", "}", "[", "]", ":", "@",
                                           "\xC3\xA9"};
    std::string s = lead + pieces(pool, 5);
    return s.back() == ' ' ? s + 'z' : s;
  }

  AnnotationArg argument() {
    const double inf = std::numeric_limits<double>::infinity();
    switch (below(5)) {
      case 0: return std::monostate{};
      case 1: return arg_text("k");
      case 2: return static_cast<int64_t>(rng_());
      case 3:
        for (;;) {
          const double d = chance(20) ? (chance(50) ? inf : -inf) : finite_double();
          if (d != std::trunc(d) || std::fabs(d) >= 0x1p63) return d;
        }
      default: {
        std::vector<std::string> items;
        for (size_t n = below(4); n > 0; --n) items.push_back(arg_text("i"));
        return items;
      }
    }
  }

  void maybe_annotate(Document& doc, const std::string& path) {
    static constexpr const char* names[] = {"min", "max",     "enum", "required",
                                            "tag", "pattern", "_n9",  "X"};
    if (!chance(30)) return;
    std::vector<Annotation> list(1 + below(2));
    for (Annotation& a : list) {
      a.arg = argument();
      a.name = pick(names);
    }
    doc.annotations.set(path, std::move(list));
  }

  static constexpr std::string_view kOperators = "+-*/";
  std::mt19937_64 rng_;
  bool quotes_ = false;
};

TEST(RoundTrip, GeneratedDocumentsReadBack) {
  for (uint64_t seed = 1; seed <= 1000; ++seed) {
    const Document doc = Generator(seed).document();
    const std::string text = serialize_document(doc);
    ASSERT_TRUE(reads_back(doc, text)) << "seed " << seed;
    // Writing what was read gives the same text again.
    ASSERT_EQ(serialize_document(build_document(text, EmptyEnv{})), text) << "seed " << seed;
  }
}

}  // namespace
}  // namespace brindle
