#include "check_support.h"

namespace brindle {
namespace {

TEST(ValueLints, StringsExpressionsAndItems) {
  expect_rows({
      {"cors = [\"https://a\" \"https://b\"]", {"B501@1:9"}},
      {"k = \"say \"hi\" now\"", {"B501@1:5"}},
      {"k = \"a\" + \"b\"\nj = [\"a\", \"b\"]\ni = \"a\\\"b\"", {}},
      {"k = 1 +", {"B502@1:7"}},
      {"k = 1 ??", {"B502@1:7"}},
      {"k = $ENV.X ?? 1 *", {"B502@1:17"}},
      {"k = [1 +, 2]", {"B502@1:8"}},
      {"a = #{\nb = 1 +,\n}#", {"B502@2:7"}},
      {"k = [1, , 2]", {"B503@1:7"}},
      {"k = [[1, , 2]]", {"B503@1:8"}},
      {"k = #{ a = 1, , b = 2 }#", {"B503@1:13"}},
      {"k = [\n  1,\n  ,\n  2,\n]", {"B503@2:4"}},
      {"k = [1, 2,]\nj = []\ni = -5\nh = 1 - 2", {}},
      {"k = 2024-01-15", {"B504@1:5"}},
      {"k = \"2024-01-15\"\nj = 2024 - 1", {}},
      {"k = \"C:\\new\\tools\"", {"B506@1:5"}},
      {"k = \"C:\\\\new\"\nj = \"C:/new\"", {}},
      {"k = \"\xc3\xa9\" +", {"B502@1:9"}},  // columns count characters
      // Items are split only when a byte could lead to a finding; these do.
      {"k = [1,\xc2\xa0, 2]", {"B503@1:7"}},  // a blank outside ASCII
      {"k = [, 1]", {"B503@1:5"}},
      {"k = [\"a,b\", , \"c\"]", {"B503@1:11"}},
      {"k = [1, 2024-01-15]", {"B504@1:9"}},
      {"k = [\"a\", 1 *]", {"B502@1:13"}},
      {"k = [\"a\", 1 ??]", {"B502@1:13"}},
      {"k = #{ a = 1 / }#", {"B502@1:14"}},
      {"k = [1, \"2\", null, 4.5, true]\nj = #{ a = 1, b = \"x\" }#", {}},
      // Strings are walked only when four quotes or a drive path are there.
      {"k = \"a\" \"b\"", {"B501@1:5"}},
      {"k = [\"D:\\data\"]", {"B506@1:6"}},
      {"k = \"a\\\"b\"", {}},
  });
}

TEST(ValueLints, EnvironmentNames) {
  const std::vector<std::string> names = {"HOME", "PATH"};
  EXPECT_EQ(finding_codes("k = $ENV.HOMR ?? \"/\"", names), Codes{"B505@1:5"});
  EXPECT_EQ(finding_codes("k = $ENV.UNRELATED ?? \"/\"", names), Codes{});
  FakeEnv env;
  env.vars["HOMR"] = "/x";
  EXPECT_EQ(finding_codes("k = $ENV.HOMR ?? \"/\"", names, env), Codes{});
  const auto findings = check_source("k = $ENV.HOMR", EmptyEnv{}, {true, false, names});
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].suggestion, "did you mean `$ENV.HOME`?");
}

}  // namespace
}  // namespace brindle
