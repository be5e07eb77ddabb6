// Written text must read back as the document it came from: serialising a
// generated document, then building the text, gives the same config, vars
// and annotations, and writing that again gives the same text.
//
// Left out, because the language (or the written form) cannot carry them:
// - NaN and infinite float values: written "NaN", "inf", which are no value.
// - The integer -9223372036854775808: the digits after '-' are read as a
//   positive number first and overflow.
// - A double quote in a string of a value that holds an operator byte
//   anywhere (string, inline key, sign of a number): the expression splitter
//   knows no escapes, so an escaped quote flips its view of what is quoted.
// - Names holding a line feed: no form keeps them on one line.
// - Section names that are empty or hold a bracket: no header carries them.
// - Inline-dict keys holding a double quote or ending in an odd run of
//   backslashes: a quoted key there is taken verbatim, without escapes.
// - Annotation arguments whose colon form reads as another kind: Text and
//   List items start with a letter and end with one (else they may read as a
//   number, list or quoted text, or lose edge blanks), hold no '#' (a
//   comment), no line break, and items no comma; integral Float arguments
//   within the 64-bit range read back as Integer; NaN never compares equal.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <array>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>
#include <vector>

#include "builder.h"
#include "display.h"
#include "serializer.h"

namespace brindle {
namespace {

// Config, vars and, by path, each annotation list as written plus the kind
// of each argument. debug_text keeps tags, the sign of zero and every digit,
// and shortest_form every bit of a finite float, so equal texts mean equal
// documents.
auto shape(const Document& doc) {
  std::map<std::string, std::string> annotations;
  for (const auto& [path, list] : doc.annotations) {
    write_annotations(annotations[path], list, "");
    for (const Annotation& a : list) annotations[path] += std::to_string(a.arg.index());
  }
  return std::tuple(debug_text(Value::dict(doc.config)), debug_text(Value::dict(doc.vars)), annotations);
}

struct Generator {
  std::mt19937_64 rng;
  bool quotes = false;  // strings of the current line may hold '"', so no operator bytes

  size_t below(size_t n) { return rng() % n; }
  bool chance(size_t percent) { return below(100) < percent; }
  std::string pieces(size_t most, std::string_view dropped) {
    static const std::vector<std::string> pool = {
        "a", "Z", "0", "_", "-", " ", ".", "\"", "\\", "#", "=", ",", "[", "]", "{", "}", "(", ")",
        "+", "*", "/", "?", "@", ":", "$x", "#{", "}#", "\\n", "\n", "\r", "\t", "\x01", "\x7f",
        "\xC3\xA9", "\xC2\xA0", "\xE2\x80\xA8"};
    std::string s;
    for (size_t n = below(most); n > 0; --n) s += pool[below(pool.size())];
    std::erase_if(s, [&](char c) { return dropped.find(c) != dropped.npos; });
    return s;
  }

  Document document() {
    Document doc;
    for (size_t n = below(4); n > 0; --n) doc.vars[name(Key)] = value(0, true);
    entries(doc, doc.config, "", 0);
    return doc;
  }

  // Entries of the root (level 0), a section (1) or a block (2): a dict is a
  // section at the root, a block in a section and inline in a block. A name
  // already taken is skipped, so that every annotated path is written.
  void entries(Document& doc, Dict& into, const std::string& prefix, int level) {
    for (size_t n = below(6); n > 0; --n) {
      const bool nest = chance(level == 0 ? 60 : level == 1 ? 25 : 0);
      const std::string key = name(nest && level == 0 ? Section : Key);
      if (into.contains(key)) continue;
      annotate(doc, prefix + key);
      if (!nest) into[key] = value(0, level == 2);
      else entries(doc, (into[key] = Value::dict({})).as_dict(), prefix + key + ".", level + 1);
    }
  }

  enum Use { Key, Section, InlineKey };
  std::string name(Use use) {
    const std::string s = chance(50) ? std::string(std::array{"x-1", "9", "vars"}[below(3)]) : pieces(5, "\n");
    const bool odd_tail = (s.size() - (s.find_last_not_of('\\') + 1)) % 2;  // of backslashes
    if (use == Section && (s.empty() || s.find_first_of("[]") != s.npos)) return name(use);
    const char* banned = quotes ? "\"+-*/" : "\"";
    if (use == InlineKey && (odd_tail || s.find_first_of(banned) != s.npos)) return name(use);
    return s;
  }

  // At depth 0, the value of one written line; every kind is made, one is kept.
  Value value(int depth, bool dict_allowed) {
    if (depth == 0) quotes = chance(30);
    const int64_t i = chance(10) ? INT64_MAX : static_cast<int64_t>(rng() >> (1 + below(63)));  // never INT64_MIN
    const double d = finite();
    Value made[] = {Value::string(pieces(7, quotes ? "+-*/" : "\"")), Value::integer(quotes || chance(50) ? i : -i),
                    Value::floating(quotes ? std::fabs(d) : d), Value::boolean(chance(50)), Value::null(),
                    Value::array({}), Value::dict({})};
    const size_t kept = below(depth == 3 ? 5 : dict_allowed ? 7 : 6);
    for (size_t n = kept < 5 ? 0 : below(4); n > 0; --n) {
      if (kept == 6) made[6].as_dict()[name(InlineKey)] = value(depth + 1, true);
      else made[5].as_array().push_back(value(depth + 1, true));
    }
    return made[kept];
  }

  double finite() {
    const double d = std::bit_cast<double>(rng());
    if (std::isfinite(d) && chance(60)) return d;
    return std::array{0.0, -0.0, 0.1, -3.0, 1e23, 5e-324, std::numeric_limits<double>::max()}[below(7)];
  }

  std::string arg_text(char lead) { return lead + pieces(5, "#,\n\r") + 'z'; }

  void annotate(Document& doc, const std::string& path) {
    if (!chance(30)) return;
    std::vector<Annotation> list(1 + below(2));
    for (Annotation& a : list) {
      const double d = finite(), inf = std::numeric_limits<double>::infinity();
      const AnnotationArg made[] = {std::monostate{}, arg_text('k'), static_cast<int64_t>(rng()),
                                    d != std::trunc(d) || std::fabs(d) >= 0x1p63 ? d : std::copysign(inf, d),
                                    std::vector<std::string>(below(3), arg_text('i'))};
      a.arg = made[below(5)];
      a.name = std::array{"min", "enum", "_n9", "X"}[below(4)];
    }
    doc.annotations.set(path, std::move(list));
  }
};

TEST(RoundTrip, GeneratedDocumentsReadBack) {
  for (uint64_t seed = 1; seed <= 1000; ++seed) {
    const Document doc = Generator{std::mt19937_64(seed)}.document();
    const std::string text = serialize_document(doc);
    const Document back = build_document(text, EmptyEnv{});
    ASSERT_TRUE(back.diagnostics.empty()) << "seed " << seed << ": " << back.diagnostics.front().message << "\n" << text;
    ASSERT_EQ(shape(back), shape(doc)) << "seed " << seed << "\n" << text;
    ASSERT_EQ(serialize_document(back), text) << "seed " << seed;
  }
}

}  // namespace
}  // namespace brindle
