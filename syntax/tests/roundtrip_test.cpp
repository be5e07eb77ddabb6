// Written text must read back as the document it came from: serialising a
// generated document, then building the text, gives the same config, vars
// and annotations, and writing that again gives the same text.
//
// Every float (NaN, infinities, -0.0), every integer, strings and names of
// any bytes, annotations at every depth and arguments of every kind and
// shape (numbers, lists and quoted text as text, `#`, edge blanks, empty)
// are generated. What no text carries (a line feed in a name or an
// argument, a comma in a list item, some arguments holding a `#` with a
// quote or a backslash, a dict key that no inline dict carries
// where no section can hold it) and strings with a quote in a document
// without a variable holding `"` may be refused, but only those.
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
    std::string& written = annotations[std::string(path)];
    write_annotations(written, list, "");
    for (const Annotation& a : list) written += std::to_string(a.arg.index());
  }
  return std::tuple(debug_text(Value::dict(doc.config)), debug_text(Value::dict(doc.vars)), annotations);
}

struct Generator {
  std::mt19937_64 rng;
  bool odd = false;  // something no text may carry was generated

  size_t below(size_t n) { return rng() % n; }
  bool chance(size_t percent) { return below(100) < percent; }
  std::string pieces(size_t most) {
    static const std::vector<std::string> pool = {
        "a", "Z", "0", "_", "-", " ", ".", "\"", "\\", "#", "=", ",", "[", "]", "{", "}", "(", ")",
        "+", "*", "/", "?", "@", ":", "$x", "#{", "}#", "\\n", "\n", "\r", "\t", "\x01", "\x7f",
        "\xC3\xA9", "\xC2\xA0", "\xE2\x80\xA8"};
    std::string s;
    for (size_t n = below(most); n > 0; --n) s += pool[below(pool.size())];
    return s;
  }

  Document document() {
    Document doc;
    for (size_t n = below(4); n > 0; --n) doc.vars[name(Key)] = value(0, true, true);
    if (chance(30)) doc.vars["q"] = Value::string("\"");
    entries(doc, doc.config, "", {}, 0);
    return doc;
  }

  // Entries of the root (level 0), a section (1), a block (2) or deeper. A
  // name already taken is skipped, so that every annotated path is written.
  // Below a dict that no header names (at `headless`), a block is the only
  // form, so what lies two levels down is inline.
  void entries(Document& doc, Dict& into, const std::string& prefix, std::vector<std::string> segments, int level,
               int headless = -9) {
    for (size_t n = below(6); n > 0; --n) {
      const bool nest = chance(std::array{60, 25, 15, 10, 0}[std::min(level, 4)]);
      const std::string key = name(nest && level == 0 ? Section : Key);
      if (into.contains(key)) continue;
      const bool inline_here = level >= headless + 2;
      if (inline_here) odd = odd || key.find_first_of("\"\\") != key.npos;
      segments.push_back(key);
      annotate(doc, prefix + key, segments, inline_here);
      const bool no_header = key.empty() || key.find_first_of("[]\n") != key.npos;
      if (!nest) into[key] = value(0, level >= 2, level + 1 >= headless + 2);
      else entries(doc, (into[key] = Value::dict({})).as_dict(), prefix + key + ".", segments, level + 1,
                   headless >= 0 || !no_header ? headless : level);
      segments.pop_back();
    }
  }

  enum Use { Key, Section, InlineKey };
  std::string name(Use) {
    const std::string s = chance(50) ? std::string(std::array{"x-1", "9", "vars", "", "a]"}[below(5)]) : pieces(5);
    odd = odd || s.find('\n') != s.npos;
    return s;
  }

  // At depth 0, the value of one written line; every kind is made, one is
  // kept. Dicts inside arrays and variables have no other form than inline.
  Value value(int depth, bool dict_allowed, bool only_inline) {
    const int64_t i = chance(10) ? std::array{INT64_MAX, INT64_MIN}[below(2)] : static_cast<int64_t>(rng() >> (1 + below(63)));
    Value made[] = {Value::string(pieces(7)), Value::integer(chance(50) || i == INT64_MIN ? i : -i), Value::floating(number()),
                    Value::boolean(chance(50)), Value::null(), Value::array({}), Value::dict({})};
    const size_t kept = below(depth == 3 ? 5 : dict_allowed ? 7 : 6);
    for (size_t n = kept < 5 ? 0 : below(4); n > 0; --n) {
      if (kept == 6) {
        const std::string key = name(InlineKey);
        odd = odd || (only_inline && key.find_first_of("\"\\") != key.npos);
        made[6].as_dict()[key] = value(depth + 1, true, only_inline);
      } else {
        made[5].as_array().push_back(value(depth + 1, true, true));
      }
    }
    return made[kept];
  }

  double number() {
    const double d = std::bit_cast<double>(rng()), inf = std::numeric_limits<double>::infinity();
    if (chance(60)) return d;  // NaN and the infinities now and then, too
    return std::array{0.0, -0.0, 0.1, -3.0, 1e23, 5e-324, std::numeric_limits<double>::max(), inf, -inf,
                      std::numeric_limits<double>::quiet_NaN(), 5.0, -0x1p63}[below(12)];
  }

  // Any text: numbers, lists, quotes, `#`, edge blanks, empty, line breaks.
  std::string arg_text() {
    static const std::vector<std::string> shapes = {"", " ", "5", "-1.5e3", "[a]", "\"q\"", "# x", "inf", "nan"};
    return chance(30) ? shapes[below(shapes.size())] : pieces(7);
  }

  void annotate(Document& doc, const std::string& path, const std::vector<std::string>& segments, bool lost) {
    if (!chance(30)) return;
    odd = odd || lost;
    // A line break has no form on one line; a `#` with a quote or a
    // backslash may have none either (the comment scanner's view of what is
    // quoted changes with the quotes around the argument).
    auto breaks = [](const std::string& t) {
      return t.find_first_of("\n\r") != t.npos || (t.find('#') != t.npos && t.find_first_of("\"\\") != t.npos);
    };
    std::vector<Annotation> list(1 + below(2));
    for (Annotation& a : list) {
      std::vector<std::string> items(below(4));
      for (std::string& item : items) item = arg_text();
      const std::string text = arg_text();
      const AnnotationArg made[] = {std::monostate{}, text, static_cast<int64_t>(rng()), number(), items};
      a.arg = made[below(5)];
      if (a.arg.index() == 1) odd = odd || breaks(text);
      if (a.arg.index() == 4)
        for (const std::string& item : items) odd = odd || breaks(item) || item.find(',') != item.npos;
      a.name = std::array{"min", "enum", "_n9", "X"}[below(4)];
    }
    doc.annotations.set(path, std::move(list), segments);
  }
};

TEST(RoundTrip, GeneratedDocumentsReadBack) {
  size_t written = 0;
  for (uint64_t seed = 1; seed <= 3000; ++seed) {
    Generator g{std::mt19937_64(seed)};
    const Document doc = g.document();
    const SerializeResult result = serialize_checked(doc, {.may_define_quote = true});
    if (const auto* failure = std::get_if<SerializeFailure>(&result)) {
      const bool has_quote_var = doc.vars.contains("q") && doc.vars.at("q") == Value::string("\"");
      const bool allowed = failure->kind == SerializeFailure::Kind::NeedsQuoteVariable
                               ? !doc.vars.empty() && !has_quote_var
                               : g.odd && failure->kind == SerializeFailure::Kind::Unwritable;
      ASSERT_TRUE(allowed) << "seed " << seed << ": " << failure->message << "\n" << serialize_document(doc);
      continue;
    }
    ++written;
    const std::string& text = std::get<std::string>(result);
    const Document back = build_document(text, EmptyEnv{});
    ASSERT_TRUE(back.diagnostics.empty()) << "seed " << seed << ": " << back.diagnostics.front().message << "\n" << text;
    auto [config, vars, annotations] = shape(back);
    // Data without variables may have the quote variable defined for it.
    if (doc.vars.empty() && back.vars.size() == 1 && back.vars.contains("quote")) vars = "Dict({})";
    ASSERT_EQ(std::tuple(config, vars, annotations), shape(doc)) << "seed " << seed << "\n" << text;
    ASSERT_EQ(serialize_document(back), text) << "seed " << seed;
  }
  EXPECT_GT(written, 1500u);  // most documents are written
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
