#include "key_segments.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "builtins.h"
#include "lexer.h"

namespace brindle {
namespace {

// Each segment as <name>@start-end, so that both the unquoting and where the
// written segment stands are checked.
std::string render(std::string_view name) {
  std::string out;
  for (const KeySegment& s : split_key_segments(name)) {
    out += "<" + s.name + ">@" + std::to_string(s.start) + "-" + std::to_string(s.end);
  }
  return out;
}

TEST(KeySegments, NamesAndSpans) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "<>@0-0"},
      {"a", "<a>@0-1"},
      {"a . b", "<a>@0-1<b>@4-5"},
      {"a..b", "<a>@0-1<>@2-2<b>@3-4"},
      {"a.\"b.c\" . d", "<a>@0-1<b.c>@2-7<d>@10-11"},  // the point inside quotes does not cut
      {"\"x\\\".y\".z", "<x\".y>@0-7<z>@8-9"},        // an escaped quote does not close
      {"a.\"b", "<a>@0-1<\"b>@2-4"},                   // an unclosed quote runs to the end
      {"\xC2\xA0" "a\xC2\xA0.b", "<a>@2-3<b>@6-7"},   // any White_Space is trimmed
      {"\"\xC3\xA9 t\".x", "<\xC3\xA9 t>@0-6<x>@7-8"},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(render(name), expected) << name;
}

TEST(KeySegments, SplitKeyPathIsTheirNames) {
  for (std::string_view name : {"a.b", "\"a.b\".c", " x . \"y\\\\\" ", "..", "a.\"b"}) {
    std::vector<std::string> names;
    for (const KeySegment& s : split_key_segments(name)) names.push_back(s.name);
    EXPECT_EQ(split_key_path(name), names) << name;
  }
}

TEST(KeySegments, BuiltinNamesAreThoseWithAValue) {
  for (std::string_view name : {"NOW", "TODAY", "PID", "CWD", "PLATFORM", "HOSTNAME", "TRUE", "FALSE",
                                "NULL", "now", "ENV", "ENV.HOME", "", "NOWX", "x"}) {
    EXPECT_EQ(is_builtin_name(name), builtin_value(name).has_value()) << name;
  }
}

}  // namespace
}  // namespace brindle
