// Edits change only their own lines: one row per kind of target (key line,
// block, block entry, inline dict entry, section, new section, top level),
// with the whole expected text, and one row per refusal.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "builder.h"
#include "editor.h"

namespace brindle {
namespace {

enum class Op { SetText, Remove, AddAnnotation, RemoveAnnotation };

struct Row {
  const char* source;
  Op op;
  const char* path;
  const char* arg;
  const char* expected;  // the text after the edit, or "!" + the error message
};

std::string run(const Row& row) {
  Editor editor(row.source);
  EditResult r;
  switch (row.op) {
    case Op::SetText: r = editor.set_text(row.path, row.arg); break;
    case Op::Remove: r = editor.remove(row.path); break;
    case Op::AddAnnotation: r = editor.add_annotation(row.path, row.arg); break;
    case Op::RemoveAnnotation: r = editor.remove_annotation(row.path, row.arg); break;
  }
  if (r) {
    EXPECT_EQ(editor.text(), row.source) << "a failed edit changed the text";
    return "!" + r->message;
  }
  return editor.text();
}

constexpr const char* kDoc =
    "# top\n"
    "name = \"a\"  # trailing\n"
    "\n"
    "[server]\n"
    "@min: 1\n"
    "port = $base + 1   # why\n"
    "hosts = [\n"
    "    \"x\",  # first\n"
    "]\n"
    "limits = #{\n"
    "    @max: 9\n"
    "    rate = 5,\n"
    "}#\n"
    "cache = #{ size = 1, ttl = \"5m\" }#\n"
    "\n"
    "[vars]\n"
    "base = 8000\n";

TEST(Editor, EditsOnlyTheirOwnLines) {
  const Row rows[] = {
      {kDoc, Op::SetText, "server.port", "8080",
       "# top\nname = \"a\"  # trailing\n\n[server]\n@min: 1\nport = 8080   # why\nhosts = [\n"
       "    \"x\",  # first\n]\nlimits = #{\n    @max: 9\n    rate = 5,\n}#\n"
       "cache = #{ size = 1, ttl = \"5m\" }#\n\n[vars]\nbase = 8000\n"},
      {kDoc, Op::SetText, "server.hosts", "[\"y\"]",
       "# top\nname = \"a\"  # trailing\n\n[server]\n@min: 1\nport = $base + 1   # why\n"
       "# first\nhosts = [\"y\"]\nlimits = #{\n    @max: 9\n    rate = 5,\n}#\n"
       "cache = #{ size = 1, ttl = \"5m\" }#\n\n[vars]\nbase = 8000\n"},
      {kDoc, Op::SetText, "server.limits.rate", "7",
       "# top\nname = \"a\"  # trailing\n\n[server]\n@min: 1\nport = $base + 1   # why\nhosts = [\n"
       "    \"x\",  # first\n]\nlimits = #{\n    @max: 9\n    rate = 7,\n}#\n"
       "cache = #{ size = 1, ttl = \"5m\" }#\n\n[vars]\nbase = 8000\n"},
      {kDoc, Op::SetText, "server.limits.burst", "2",
       "# top\nname = \"a\"  # trailing\n\n[server]\n@min: 1\nport = $base + 1   # why\nhosts = [\n"
       "    \"x\",  # first\n]\nlimits = #{\n    @max: 9\n    rate = 5,\n    burst = 2\n}#\n"
       "cache = #{ size = 1, ttl = \"5m\" }#\n\n[vars]\nbase = 8000\n"},
      {kDoc, Op::SetText, "server.cache.ttl", "\"1h\"",
       "# top\nname = \"a\"  # trailing\n\n[server]\n@min: 1\nport = $base + 1   # why\nhosts = [\n"
       "    \"x\",  # first\n]\nlimits = #{\n    @max: 9\n    rate = 5,\n}#\n"
       "cache = #{ size = 1, ttl = \"1h\" }#\n\n[vars]\nbase = 8000\n"},
      {kDoc, Op::SetText, "server.cache.max", "3",
       "# top\nname = \"a\"  # trailing\n\n[server]\n@min: 1\nport = $base + 1   # why\nhosts = [\n"
       "    \"x\",  # first\n]\nlimits = #{\n    @max: 9\n    rate = 5,\n}#\n"
       "cache = #{ size = 1, ttl = \"5m\", max = 3 }#\n\n[vars]\nbase = 8000\n"},
      {kDoc, Op::SetText, "server.debug", "true",
       "# top\nname = \"a\"  # trailing\n\n[server]\n@min: 1\nport = $base + 1   # why\nhosts = [\n"
       "    \"x\",  # first\n]\nlimits = #{\n    @max: 9\n    rate = 5,\n}#\n"
       "cache = #{ size = 1, ttl = \"5m\" }#\ndebug = true\n\n[vars]\nbase = 8000\n"},
      {kDoc, Op::SetText, "version", "2",
       "# top\nname = \"a\"  # trailing\nversion = 2\n\n[server]\n@min: 1\nport = $base + 1   # why\n"
       "hosts = [\n    \"x\",  # first\n]\nlimits = #{\n    @max: 9\n    rate = 5,\n}#\n"
       "cache = #{ size = 1, ttl = \"5m\" }#\n\n[vars]\nbase = 8000\n"},
      {"b = #{\n  x = 1,\n  @min: 5\n}#\n", Op::SetText, "b.y", "2", "b = #{\n  x = 1,\n  y = 2\n  @min: 5\n}#\n"},
      // Comments inside a replaced multi-line text move above its line.
      {"  k = [1, # one\n    2] # end\n", Op::SetText, "k", "3", "  # one\n  k = 3 # end\n"},
      {"b = #{ # open\n  x = 1,\n  # last\n}#\n", Op::SetText, "b", "1", "# open\n# last\nb = 1\n"},
      {"a = 1", Op::SetText, "db.\"my host\".port", "5", "a = 1\n\n[db.\"my host\"]\nport = 5\n"},
      {"b = #{\n  x = 1\n}#\nc = 2\n", Op::SetText, "b", "#{ y = 2 }#", "b = #{ y = 2 }#\nc = 2\n"},
      {"a = 1\r\n[s]\r\nk = 1\r\n", Op::SetText, "s.j", "2", "a = 1\r\n[s]\r\nk = 1\r\nj = 2\r\n"},
      {"k = 1\n", Op::SetText, "k", "$nope", "!setting `k` to `$nope` would not read back"},
      {"k = 1\n", Op::SetText, "k.x", "1", "!`k` holds a value, not a table"},
      {"[s]\n", Op::SetText, "s", "1", "!`s` is a section; set its keys one by one"},
      {"k = 1\n", Op::SetText, "a..b", "1", "!invalid key path `a..b`"},
      {"k = 1\n", Op::SetText, "k", "1\n2", "!a value must be one non-empty line"},

      {kDoc, Op::Remove, "server.port", "",
       "# top\nname = \"a\"  # trailing\n\n[server]\nhosts = [\n    \"x\",  # first\n]\n"
       "limits = #{\n    @max: 9\n    rate = 5,\n}#\ncache = #{ size = 1, ttl = \"5m\" }#\n\n"
       "[vars]\nbase = 8000\n"},
      {kDoc, Op::Remove, "server.limits.rate", "",
       "# top\nname = \"a\"  # trailing\n\n[server]\n@min: 1\nport = $base + 1   # why\nhosts = [\n"
       "    \"x\",  # first\n]\nlimits = #{\n}#\ncache = #{ size = 1, ttl = \"5m\" }#\n\n"
       "[vars]\nbase = 8000\n"},
      {kDoc, Op::Remove, "server.cache.size", "",
       "# top\nname = \"a\"  # trailing\n\n[server]\n@min: 1\nport = $base + 1   # why\nhosts = [\n"
       "    \"x\",  # first\n]\nlimits = #{\n    @max: 9\n    rate = 5,\n}#\n"
       "cache = #{ ttl = \"5m\" }#\n\n[vars]\nbase = 8000\n"},
      {"c = #{ a = 1, b = 2 }#\n", Op::Remove, "c.b", "", "c = #{ a = 1 }#\n"},
      {"x = 1\n@required\n[s]\nk = 1\n[t]\nj = 2\n", Op::Remove, "s", "", "x = 1\n[t]\nj = 2\n"},
      {"k = 1\n", Op::Remove, "nope", "", "!no key `nope`"},

      {kDoc, Op::AddAnnotation, "server.limits.rate", "min: 1",
       "# top\nname = \"a\"  # trailing\n\n[server]\n@min: 1\nport = $base + 1   # why\nhosts = [\n"
       "    \"x\",  # first\n]\nlimits = #{\n    @max: 9\n    @min: 1\n    rate = 5,\n}#\n"
       "cache = #{ size = 1, ttl = \"5m\" }#\n\n[vars]\nbase = 8000\n"},
      {"# c\n[s]\nk = 1\n", Op::AddAnnotation, "s", "@required", "# c\n@required\n[s]\nk = 1\n"},
      {"k = 1\n", Op::AddAnnotation, "k", "@min 5", "!invalid annotation syntax: `@min 5`"},
      {"k = 1\n", Op::AddAnnotation, "k", "@min: 1 # no", "!an annotation must be one line without a comment"},
      {"k = 1\n", Op::AddAnnotation, "j", "@min: 1", "!no key `j`"},
      {"@min: 1\n# c\n@max: 3\nk = 1\n", Op::RemoveAnnotation, "k", "min", "# c\n@max: 3\nk = 1\n"},
      {"@min: 1\nk = 1\n", Op::RemoveAnnotation, "k", "max", "!no @max on `k`"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.source) + " / " + row.path);
    EXPECT_EQ(run(row), row.expected);
  }
}

TEST(Editor, ValuesAreWrittenInTheSerializersForm) {
  Editor editor("[s]\nk = 1 # keep\n");
  EXPECT_FALSE(editor.set_value("s.k", Value::string("a\"b\\c\n")));
  EXPECT_FALSE(editor.set_value("s.f", Value::floating(2.0)));
  Array items;
  items.push_back(Value::integer(1));
  items.push_back(Value::null());
  EXPECT_FALSE(editor.set_value("s.list", Value::array(std::move(items))));
  EXPECT_EQ(editor.text(), "[s]\nk = \"a\\\"b\\\\c\\n\" # keep\nf = 2.0\nlist = [1, null]\n");
  // The expression splitter knows no escapes: this string would not read back.
  const auto refused = editor.set_value("s.k", Value::string("\"+\""));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->kind, EditError::Kind::Invalid);
}

size_t errors(const std::string& text) {
  const Document doc = build_document(text, EmptyEnv{});
  return static_cast<size_t>(std::count_if(doc.diagnostics.begin(), doc.diagnostics.end(),
                                           [](const Diagnostic& d) { return !d.is_warning; }));
}

// Any edit on any text either applies, leaving no more problems than before,
// or changes nothing.
TEST(Editor, RandomEditsApplyCleanlyOrChangeNothing) {
  const std::vector<std::string> lines = {
      "[s]", "[s.t]", "[vars]", "[a..b]", "x = 1", "y = $x + 2 # c", "z = [1,", "  2,", "]",
      "w = #{ a = 1, b = [2] }#", "b = #{", "  e = 1,", "}#", "@min: 1", "@ bad", "# note", "",
      "key: value", "t = [", "\"k k\" = \"v\""};
  const std::vector<std::string> paths = {"x", "y", "s.x", "s.t.y", "w.a", "w.c", "s.b.e", "b.e",
                                          "s.w.b", "new.key", "s", "\"k k\"", "a..b", ""};
  std::mt19937 rng(3);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (size_t i = rng() % 10; i > 0; --i) text += lines[rng() % lines.size()] + "\n";
    Editor editor(text);
    const std::string& path = paths[rng() % paths.size()];
    EditResult r;
    switch (rng() % 4) {
      case 0: r = editor.set_value(path, Value::integer(7)); break;
      case 1: r = editor.remove(path); break;
      case 2: r = editor.add_annotation(path, "@required"); break;
      default: r = editor.remove_annotation(path, "min"); break;
    }
    SCOPED_TRACE(text + " / " + path);
    if (r) {
      ASSERT_EQ(editor.text(), text);
    } else {
      ASSERT_LE(errors(editor.text()), errors(text));
    }
  }
}

}  // namespace
}  // namespace brindle
