// Written text must read back as the document it came from: serialising a
// generated document, then building the text, gives the same config, vars
// and annotations, and writing that again gives the same text.
//
// Every float (NaN, infinities, -0.0), every integer and annotation
// arguments of every kind and shape (numbers, lists and quoted text as text,
// `#`, edge blanks, empty) are generated. Left out, because the language
// cannot carry them:
// - A double quote in a string of a value that holds an operator byte
//   anywhere (string, inline key, sign of a number): the expression splitter
//   knows no escapes, so an escaped quote flips its view of what is quoted.
// - Names and annotation arguments holding a line feed: no form keeps them
//   on one line; list items holding a comma, which always cuts an item; a
//   text or list with a `#` and a double quote or a backslash (in any item):
//   those change where the comment scanner thinks quoted text ends, so that
//   with blanks at an end no form may keep the `#` out of a comment.
// - Section names that are empty or hold a bracket: no header carries them.
// - Inline-dict keys holding a double quote or ending in an odd run of
//   backslashes: a quoted key there is taken verbatim, without escapes.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <array>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>
#include <vector>

#include "builder.h"
#include "display.h"
#include "serializer.h"
#include "value_parser.h"

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
    const int64_t i = chance(10) ? std::array{INT64_MAX, INT64_MIN}[below(2)] : static_cast<int64_t>(rng() >> (1 + below(63)));
    // A line whose strings may hold '"' gets no number written with a sign
    // or an operator.
    double d = number();
    if (quotes) d = std::isfinite(d) ? std::fabs(d) : 1.5;
    const int64_t n = quotes ? (i == INT64_MIN ? INT64_MAX : i) : chance(50) || i == INT64_MIN ? i : -i;
    Value made[] = {Value::string(pieces(7, quotes ? "+-*/" : "\"")), Value::integer(n),
                    Value::floating(d), Value::boolean(chance(50)), Value::null(),
                    Value::array({}), Value::dict({})};
    const size_t kept = below(depth == 3 ? 5 : dict_allowed ? 7 : 6);
    for (size_t n = kept < 5 ? 0 : below(4); n > 0; --n) {
      if (kept == 6) made[6].as_dict()[name(InlineKey)] = value(depth + 1, true);
      else made[5].as_array().push_back(value(depth + 1, true));
    }
    return made[kept];
  }

  double number() {
    const double d = std::bit_cast<double>(rng()), inf = std::numeric_limits<double>::infinity();
    if (chance(60)) return d;  // NaN and the infinities now and then, too
    return std::array{0.0, -0.0, 0.1, -3.0, 1e23, 5e-324, std::numeric_limits<double>::max(), inf, -inf,
                      std::numeric_limits<double>::quiet_NaN(), 5.0, -0x1p63}[below(12)];
  }

  // Any text on one line: numbers, lists, quotes, `#`, edge blanks, empty.
  std::string arg_text(std::string_view dropped) {
    static const std::vector<std::string> shapes = {"", " ", "5", "-1.5e3", "[a]", "\"q\"", "# x", "inf", "nan"};
    return chance(30) ? shapes[below(shapes.size())] : pieces(7, dropped);
  }

  void annotate(Document& doc, const std::string& path) {
    if (!chance(30)) return;
    std::vector<Annotation> list(1 + below(2));
    for (Annotation& a : list) {
      std::vector<std::string> items(below(4));
      std::vector<std::string> text{arg_text("\n")};
      for (auto* texts : {&items, &text}) {
        bool hash = false;
        for (std::string& item : *texts) hash |= (texts == &text ? item : item = arg_text(",\n")).find('#') != std::string::npos;
        for (std::string& item : *texts) std::erase_if(item, [&](char c) { return hash && (c == '"' || c == '\\'); });
      }
      const AnnotationArg made[] = {std::monostate{}, text[0], static_cast<int64_t>(rng()), number(), items};
      a.arg = made[below(5)];
      a.name = std::array{"min", "enum", "_n9", "X"}[below(4)];
    }
    doc.annotations.set(path, std::move(list));
  }
};

TEST(RoundTrip, GeneratedDocumentsReadBack) {
  for (uint64_t seed = 1; seed <= 3000; ++seed) {
    const Document doc = Generator{std::mt19937_64(seed)}.document();
    const std::string text = serialize_document(doc);
    const Document back = build_document(text, EmptyEnv{});
    ASSERT_TRUE(back.diagnostics.empty()) << "seed " << seed << ": " << back.diagnostics.front().message << "\n" << text;
    ASSERT_EQ(shape(back), shape(doc)) << "seed " << seed << "\n" << text;
    ASSERT_EQ(serialize_document(back), text) << "seed " << seed;
  }
}

// Sources that nest as deep as the reader allows, in every way it allows:
// long section paths, blocks, values 128 levels deep, and headers that reach
// into dicts written inline further up. Whatever parses is written within
// the limits and reads back the same.
TEST(RoundTrip, DeepDocumentsReadBack) {
  for (uint64_t seed = 1; seed <= 200; ++seed) {
    std::mt19937_64 rng(seed);
    auto below = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    auto path = [&](size_t depth) {
      std::string p = "s";
      for (size_t i = 1; i < depth; ++i) p += below(3) ? ".s" : ".\"t.u\"";
      return p;
    };
    auto value = [&](size_t depth) {
      std::string open, close;
      for (size_t i = 0; i < depth; ++i) {
        const bool dict = below(2);
        open += dict ? "#{ s = " : "[";
        close.insert(0, dict ? " }#" : "]");
      }
      return open + "1" + close;
    };
    std::string source;
    for (size_t n = 1 + below(4); n > 0; --n) {
      const size_t depth = below(2) ? 1 + below(kMaxSectionDepth) : kMaxSectionDepth - below(3);
      source += "[" + path(depth) + "]\n";
      source += "k" + std::to_string(below(3)) + " = " + value(below(2) ? size_t{kMaxValueDepth} : below(kMaxValueDepth)) + "\n";
      if (below(2)) source += "s = #{\n  k = " + value(size_t{kMaxValueDepth} - below(2)) + "\n  s = " + value(below(5)) + "\n}#\n";
    }
    const Document doc = build_document(source, EmptyEnv{});
    ASSERT_TRUE(doc.diagnostics.empty()) << "seed " << seed << ": " << doc.diagnostics.front().message;
    const std::optional<std::string> text = serialize_within_limits(doc);
    ASSERT_TRUE(text.has_value()) << "seed " << seed;
    const Document back = build_document(*text, EmptyEnv{});
    ASSERT_TRUE(back.diagnostics.empty()) << "seed " << seed << ": " << back.diagnostics.front().message;
    ASSERT_TRUE(back.config == doc.config) << "seed " << seed;
    ASSERT_EQ(serialize_document(back), *text) << "seed " << seed;
  }
}

}  // namespace
}  // namespace brindle
