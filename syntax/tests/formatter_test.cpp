// The formatter: one row per layout rule, then properties over every file
// of the repository and random texts: formatting is idempotent, keeps every
// comment, and the formatted text builds the same document (config, vars,
// annotations, diagnostic messages).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "builder.h"
#include "display.h"
#include "formatter.h"
#include "syntax_tree.h"
#include "text.h"

namespace brindle {
namespace {

struct Row {
  const char* input;
  const char* expected;
};

TEST(Formatter, LayoutRules) {
  const Row rows[] = {
      {"", ""},
      {"\n\n  \n", ""},
      {"a=1", "a = 1\n"},
      {"   a   =   1 +  2   # c  \n", "a = 1 +  2 # c\n"},
      {"\n\n# head\n\n\n\na = 1\n\n\n", "# head\n\na = 1\n"},
      {"a = 1\n[s]\nb = 2\n[t]\n", "a = 1\n\n[s]\nb = 2\n\n[t]\n"},
      {"a = 1\n\n\n# about s\n@required\n[ s.t ] # c\n\nb = 2",
       "a = 1\n\n# about s\n@required\n[s.t] # c\nb = 2\n"},
      {"[vars]\n  x = 1\n", "[vars]\nx = 1\n"},
      {"@min :  5\n\n@enum:[ a,b ,, \"c\" ]\n@x ( t )\n@flag # why\nk = 1\n",
       "@min: 5\n@enum: [a, b, \"c\"]\n@x(t)\n@flag # why\nk = 1\n"},
      {"b = #{\n\n@min: 1\n  x = 1,\n\n\n y = 2\n\n}#   # end\n",
       "b = #{\n    @min: 1\n    x = 1,\n\n    y = 2\n}# # end\n"},
      {"a = [\n1,\n  [2,\n3],\n  # note\n\n]\n",
       "a = [\n    1,\n    [2,\n        3],\n    # note\n\n]\n"},
      {"a = 1\r\nb=2\n", "a = 1\r\nb = 2\r\n"},
      {"\xEF\xBB\xBF" "a=1", "\xEF\xBB\xBF" "a = 1\n"},
      // Ignored and invalid lines stay exactly as written.
      {"  key: value  \n[a..b]  \n@ bad  \n}#\n", "  key: value  \n[a..b]  \n@ bad  \n}#\n"},
      {"  k   =  $nope  # c\nj=1\nb = #{\n   x=\"open\n  y=[1,\n 2 ; ]\n}#\n",
       "  k   =  $nope  # c\nj = 1\nb = #{\n   x=\"open\n  y=[1,\n 2 ; ]\n}#\n"},
      {"a = \"x\" }  # not a comment", "a = \"x\" }  # not a comment\n"},
      // A carriage return ending an ignored line would merge with the line end.
      {"]\r\r\n", "]\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    EXPECT_EQ(format_source(row.input), row.expected);
  }
}

// Whether a key line builds depends on the whole document: once variables
// have spent the value budget, even `k=1` fails, and is kept as written.
TEST(Formatter, KeepsKeyLinesThatFailOnlyForTheBudget) {
  std::string vars = "[vars]\nv0 = \"" + std::string(64, 'x') + "\"\n";
  for (int i = 1; i <= 22; ++i) {
    vars += "v" + std::to_string(i) + " = $v" + std::to_string(i - 1) + " + $v" + std::to_string(i - 1) + "\n";
  }
  EXPECT_EQ(format_source(vars + "[s]\n  k=1\nj=2\n"), vars + "\n[s]\n  k=1\nj=2\n");
  EXPECT_EQ(format_source("[s]\n  k=1\nj=2\n"), "[s]\nk = 1\nj = 2\n");
}

std::string render_arg(const AnnotationArg& arg) {
  switch (static_cast<ArgKind>(arg.index())) {
    case ArgKind::None: return "-";
    case ArgKind::Text: return "T" + get<std::string>(arg);
    case ArgKind::Integer: return "I" + decimal_form(get<int64_t>(arg));
    case ArgKind::Float: return "F" + debug_float(get<double>(arg));
    case ArgKind::List: {
      std::string out = "L";
      for (const std::string& item : get<std::vector<std::string>>(arg)) out += item + "|";
      return out;
    }
  }
  return "?";
}

// What a text means: values, annotations and problems, without positions.
std::string meaning(std::string_view source) {
  const Document doc = build_document(source, EmptyEnv{});
  std::string out = debug_text(Value::dict(Dict(doc.config))) + "\n" +
                    debug_text(Value::dict(Dict(doc.vars))) + "\n";
  std::vector<std::string> annotations;
  for (const auto& [path, list] : doc.annotations) {
    std::string line = std::string(path) + ":";
    for (const Annotation& a : list) line += " @" + a.name + "=" + render_arg(a.arg);
    annotations.push_back(line);
  }
  std::sort(annotations.begin(), annotations.end());
  for (const std::string& a : annotations) out += a + "\n";
  for (const Diagnostic& d : doc.diagnostics) out += d.message + "\n";
  // $NOW reads the clock, so two builds of one text differ in its digits.
  static const std::regex clock(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d+\+00:00)");
  return std::regex_replace(out, clock, "<now>");
}

std::vector<std::string> comments(std::string_view source) {
  const SyntaxTree t = SyntaxTree::build(source);
  std::vector<std::string> out;
  for (size_t i = 0; i < t.token_count(); ++i) {
    if (t.token_kind(i) != TokenKind::Comment) continue;
    // Trailing blanks are layout, not part of what a comment says.
    out.emplace_back(trim_end(t.token_text(i)));
  }
  std::sort(out.begin(), out.end());
  return out;
}

void expect_properties(const std::string& input) {
  const std::string once = format_source(input);
  ASSERT_EQ(format_source(once), once) << "not idempotent";
  EXPECT_EQ(comments(once), comments(input));
  EXPECT_EQ(meaning(once), meaning(input));
}

TEST(Formatter, PropertiesOnRepositoryExamples) {
  namespace fs = std::filesystem;
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(BRINDLE_SOURCE_DIR) / "examples")) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    SCOPED_TRACE(entry.path().string());
    expect_properties(buffer.str());
    ++files;
  }
  EXPECT_GE(files, 2u);
}

// Random texts made of lines the language knows, mangled in their spacing,
// plus some arbitrary bytes.
TEST(Formatter, PropertiesOnRandomDocuments) {
  const std::vector<std::string> lines = {
      "[s]", " [ s . t ]  ", "[vars]", "[a..b]", "x = 1", "  y=  $x + 2 # c", "z = [1,",
      "  2, # two", "]", "w = #{ a = 1, b = [2] }#", "b = #{", "}#", "  }# # end", "@min: 1",
      "@enum:[a , b]", "@ bad", "@x(t)", "# note", "", "   ", "key: value", "q = \"a # b\" ",
      "r = $nope", "t = [", "u = 1 +", "\"k k\" = \"v\"", "e = 1,", "@required  # r", "\t", "v = \"x\" }  # x"};
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const size_t n = rng() % 14;
    for (size_t i = 0; i < n; ++i) {
      text += lines[rng() % lines.size()];
      if (rng() % 10 == 0) text += static_cast<char>(rng() % 256);
      text += rng() % 6 == 0 ? "\r\n" : "\n";
    }
    SCOPED_TRACE(::testing::PrintToString(text));
    expect_properties(text);
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace brindle
