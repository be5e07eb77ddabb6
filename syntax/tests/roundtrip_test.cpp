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

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "builder.h"
#include "serializer.h"

namespace brindle {
namespace {

// ---------------------------------------------------------------------------
// Comparison (floats bitwise)

bool same_value(const Value& a, const Value& b) {
  if (a.tag() != b.tag()) return false;
  switch (a.tag()) {
    case Tag::Float:
      return std::bit_cast<uint64_t>(a.as_float()) == std::bit_cast<uint64_t>(b.as_float());
    case Tag::Array: {
      const Array& x = a.as_array();
      const Array& y = b.as_array();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i)
        if (!same_value(x[i], y[i])) return false;
      return true;
    }
    case Tag::Dict: {
      const Dict& x = a.as_dict();
      const Dict& y = b.as_dict();
      if (x.size() != y.size()) return false;
      for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j)
        if (i->first != j->first || !same_value(i->second, j->second)) return false;
      return true;
    }
    default:
      return a == b;
  }
}

bool same_arg(const AnnotationArg& a, const AnnotationArg& b) {
  if (a.index() != b.index()) return false;
  if (const double* x = std::get_if<double>(&a))
    return std::bit_cast<uint64_t>(*x) == std::bit_cast<uint64_t>(std::get<double>(b));
  return a == b;
}

bool same_annotations(const std::vector<Annotation>& a, const std::vector<Annotation>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || !same_arg(a[i].arg, b[i].arg)) return false;
  return true;
}

size_t non_empty_lists(const AnnotationTable& table) {
  size_t n = 0;
  for (const auto& entry : table) n += entry.second.empty() ? 0 : 1;
  return n;
}

// Checks that `text` builds back into `doc`; the message names what differs.
::testing::AssertionResult reads_back(const Document& doc, const std::string& text) {
  const Document back = build_document(text, EmptyEnv{});
  auto fail = [&](const std::string& what) {
    return ::testing::AssertionFailure() << what << "\n--- text ---\n" << text << "------------";
  };
  if (!back.diagnostics.empty()) return fail("diagnostic: " + back.diagnostics.front().message);
  if (!same_value(Value::dict(doc.config), Value::dict(back.config)))
    return fail("config differs; read back: " + format_value(Value::dict(back.config)));
  if (!same_value(Value::dict(doc.vars), Value::dict(back.vars)))
    return fail("vars differ; read back: " + format_value(Value::dict(back.vars)));
  for (const auto& [path, list] : doc.annotations) {
    if (list.empty()) continue;
    const auto* got = back.annotations.find(path);
    if (got == nullptr) return fail("annotations lost at path `" + path + "`");
    if (!same_annotations(list, *got)) {
      std::string written;
      write_annotations(written, *got, "");
      return fail("annotations differ at path `" + path + "`; read back:\n" + written);
    }
  }
  if (non_empty_lists(doc.annotations) != non_empty_lists(back.annotations))
    return fail("annotations appeared at paths that had none");
  return ::testing::AssertionSuccess();
}

Annotation ann(std::string name, AnnotationArg arg = {}) {
  Annotation a;
  a.name = std::move(name);
  a.arg = std::move(arg);
  return a;
}

// ---------------------------------------------------------------------------
// Named documents: the name-quoting and variables-placement cases.

struct NamedDoc {
  const char* label;
  Dict vars;
  Dict config;
  std::vector<std::pair<std::string, std::vector<Annotation>>> annotations;
};

TEST(RoundTrip, NamedDocumentsReadBack) {
  const Value one = Value::integer(1);
  const Value empty = Value::dict({});
  const NamedDoc cases[] = {
      {"keys that need quotes", {}, {{"a b", one}, {"x.y", one}, {"", one}, {"q\"\\", one}}, {}},
      {"section with a point", {}, {{"a.b", Value::dict({{"k", one}})}, {"a", empty}}, {}},
      {"section named vars", {}, {{"vars", Value::dict({{"k", one}})}}, {}},
      {"section names with quotes, backslashes, comments",
       {},
       {{"a\\", empty}, {"\"", empty}, {"#x", empty}, {"\\\"#", empty}, {" ", empty}},
       {}},
      {"block and entry keys that need quotes",
       {},
       {{"s", Value::dict({{"b c", Value::dict({{"d.e", one}, {"}#", one}})}})}},
       {{"s.b c", {ann("required")}}, {"s.b c.d.e", {ann("min", int64_t{0})}}}},
      {"inline keys that need quotes",
       {},
       {{"k", Value::array({Value::dict({{"a b", one}, {"", one}, {"x=y,z", one}, {"\\\\", one}})})}},
       {}},
      {"variables with top-level keys", {{"v", one}, {"w x", one}}, {{"k", one}}, {}},
      {"variables with an annotated first section",
       {{"v", one}},
       {{"s", empty}, {"t", empty}},
       {{"s", {ann("tag", std::string("env=prod"))}}}},
      {"variables before a section annotated later",
       {{"v", one}},
       {{"s", empty}, {"t", empty}},
       {{"t", {ann("deprecated")}}}},
  };
  for (const auto& c : cases) {
    Document doc;
    doc.vars = c.vars;
    doc.config = c.config;
    for (const auto& [path, list] : c.annotations) doc.annotations.set(path, list);
    EXPECT_TRUE(reads_back(doc, serialize_document(doc))) << c.label;
  }
}

// ---------------------------------------------------------------------------
// Generated documents

enum class NameUse { KeyLine, Section, InlineKey };

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {}

  // A name already taken is skipped rather than replaced, so that every
  // annotated path belongs to something that is written.
  Document document() {
    Document doc;
    for (size_t n = chance(50) ? below(4) : 0; n > 0; --n) doc.vars[name(NameUse::KeyLine)] = entry_value(0, true);
    for (size_t n = chance(50) ? below(3) : 0; n > 0; --n) {
      const std::string key = name(NameUse::KeyLine);
      if (!doc.config.try_emplace(key, entry_value(0, false)).second) continue;
      maybe_annotate(doc, key, 40);
    }
    for (size_t n = below(5); n > 0; --n) {
      const std::string section = name(NameUse::Section);
      if (doc.config.contains(section)) continue;
      maybe_annotate(doc, section, 30);
      Dict entries;
      for (size_t m = below(6); m > 0; --m) {
        const std::string key = name(NameUse::KeyLine);
        if (entries.contains(key)) continue;
        const std::string path = section + "." + key;
        maybe_annotate(doc, path, 30);
        if (chance(25)) {
          Dict block;
          for (size_t e = below(4); e > 0; --e) {
            const std::string entry = name(NameUse::KeyLine);
            if (!block.try_emplace(entry, entry_value(1, true)).second) continue;
            maybe_annotate(doc, path + "." + entry, 30);
          }
          entries[key] = Value::dict(std::move(block));
        } else {
          entries[key] = entry_value(1, false);
        }
      }
      doc.config[section] = Value::dict(std::move(entries));
    }
    return doc;
  }

 private:
  size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  bool chance(int percent) { return below(100) < static_cast<size_t>(percent); }
  template <size_t N>
  const char* pick(const char* const (&pool)[N]) {
    return pool[below(N)];
  }

  std::string name(NameUse use) {
    static constexpr const char* bare[] = {"a", "b", "port", "x-1", "_", "9", "vars", "Name_2"};
    static constexpr const char* pieces[] = {
        "a", "Z", "0", "_", "-", " ", ".", "\"", "\\", "#", "=", ",", "[", "]", "{",
        "}", "@", "$", "+", "?", "#{", "}#", "\xC3\xA9", "\xC2\xA0", "\t", "\r"};
    for (;;) {
      std::string s;
      if (chance(50)) {
        s = pick(bare);
      } else {
        for (size_t n = below(5); n > 0; --n) s += pick(pieces);
      }
      if (use == NameUse::Section && (s.empty() || s.find_first_of("[]") != std::string::npos))
        continue;
      if (use == NameUse::InlineKey) {
        size_t backslashes = 0;
        for (size_t i = s.size(); i > 0 && s[i - 1] == '\\'; --i) ++backslashes;
        if (s.find('"') != std::string::npos || backslashes % 2 == 1) continue;
        if (quotes_ && s.find_first_of(kOperators) != std::string::npos) continue;
      }
      return s;
    }
  }

  std::string string_value() {
    static constexpr const char* pieces[] = {
        "a", "Z", " ", "\"", "\\", "\n", "\r", "\t", "#", "#{", "}#", ",", "+", "-", "*",
        "/", "?", "??", "[", "]", "{", "}", "(", ")", "=", "$x", "\\n", "\xC3\xA9",
        "\xC2\xA0", "\xE2\x80\xA8", "\x01", "\x7f"};
    std::string s;
    for (size_t n = below(7); n > 0; --n) s += pick(pieces);
    if (quotes_)
      std::erase_if(s, [](char c) {
        return std::string_view(kOperators).find(c) != std::string_view::npos;
      });
    else
      std::erase(s, '"');
    return s;
  }

  int64_t integer() {
    constexpr int64_t max = std::numeric_limits<int64_t>::max();
    switch (below(5)) {
      case 0: return 0;
      case 1: return max;
      case 2: return quotes_ ? max : -max;
      default: {
        const auto i = static_cast<int64_t>(rng_());
        if (i == std::numeric_limits<int64_t>::min()) return 0;
        return quotes_ && i < 0 ? -i : i;
      }
    }
  }

  double finite_double() {
    static constexpr double special[] = {0.0, -0.0, 0.1, 2.5, 1.0, -3.0, 1e23, 1e300, -1e-300,
                                         5e-324, std::numeric_limits<double>::max()};
    if (chance(40)) return special[below(std::size(special))];
    for (;;) {
      const double d = std::bit_cast<double>(rng_());
      if (std::isfinite(d)) return d;
    }
  }

  // The value of one written line. Only some of them may hold double quotes
  // in strings; those do without operator bytes and negative numbers.
  Value entry_value(int depth, bool dict_allowed) {
    quotes_ = chance(30);
    return dict_allowed ? value(depth) : scalar_or_array(depth);
  }

  Value scalar_or_array(int depth) {
    return chance(80) ? scalar() : array(depth);
  }

  Value scalar() {
    switch (below(5)) {
      case 0: return Value::string(string_value());
      case 1: return Value::integer(integer());
      case 2: return Value::floating(quotes_ ? std::fabs(finite_double()) : finite_double());
      case 3: return Value::boolean(chance(50));
      default: return Value::null();
    }
  }

  Value array(int depth) {
    Array a;
    for (size_t n = below(4); n > 0; --n) a.push_back(value(depth + 1));
    return Value::array(std::move(a));
  }

  Value value(int depth) {
    if (depth >= 3 || chance(70)) return scalar();
    if (chance(50)) return array(depth);
    Dict d;
    for (size_t n = below(4); n > 0; --n) d[name(NameUse::InlineKey)] = value(depth + 1);
    return Value::dict(std::move(d));
  }

  // Argument texts start with a letter that no number, list, quoted text
  // or inf/nan word starts with, and end with a non-blank.
  std::string arg_text(const char* lead) {
    static constexpr const char* pieces[] = {"a", "Z", "0", "_", "-", ".", "=", "/", "^", "$", " ",
                                             "\xC3\xA9", "\"", "\\", "*", "(", ")", "{", "}",
                                             "[", "]", ":", "@"};
    std::string s = lead;
    for (size_t n = below(5); n > 0; --n) s += pick(pieces);
    if (s.back() == ' ') s += 'z';
    return s;
  }

  AnnotationArg argument() {
    switch (below(5)) {
      case 0: return std::monostate{};
      case 1: return arg_text("k");
      case 2: return static_cast<int64_t>(rng_());
      case 3: {
        for (;;) {
          const double d = chance(20) ? (chance(50) ? 1.0 : -1.0) * std::numeric_limits<double>::infinity()
                                      : finite_double();
          const bool integral_in_range = d == std::trunc(d) && std::fabs(d) < 0x1p63;
          if (!integral_in_range) return d;
        }
      }
      default: {
        std::vector<std::string> items;
        for (size_t n = below(4); n > 0; --n) items.push_back(arg_text("i"));
        return items;
      }
    }
  }

  void maybe_annotate(Document& doc, const std::string& path, int percent) {
    static constexpr const char* names[] = {"min", "max", "enum", "required", "tag", "pattern",
                                            "_n9", "X"};
    if (!chance(percent)) return;
    std::vector<Annotation> list;
    for (size_t n = 1 + below(2); n > 0; --n) list.push_back(ann(pick(names), argument()));
    doc.annotations.set(path, std::move(list));
  }

  static constexpr const char* kOperators = "+-*/";
  std::mt19937_64 rng_;
  bool quotes_ = false;
};

TEST(RoundTrip, GeneratedDocumentsReadBack) {
  for (uint64_t seed = 1; seed <= 1000; ++seed) {
    Generator gen(seed);
    const Document doc = gen.document();
    const std::string text = serialize_document(doc);
    ASSERT_TRUE(reads_back(doc, text)) << "seed " << seed;
    // Writing what was read gives the same text again.
    ASSERT_EQ(serialize_document(build_document(text, EmptyEnv{})), text) << "seed " << seed;
  }
}

}  // namespace
}  // namespace brindle
