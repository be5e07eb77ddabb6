#include "variable_refs.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace brindle {
namespace {

template <class Ref>
std::string render(const Ref& r) {
  return "$" + std::string(std::string_view(r.name)) + "@" + std::to_string(r.span.start) + "-" +
         std::to_string(r.span.end) + "/" + std::to_string(static_cast<int>(r.kind));
}

// Reads the list back every way it can be read: indexing and the walk must
// give the references as they were added, in order, and the views the walk
// gave must still read right after it (a reader may keep the names).
void expect_same(const VariableRefList& list, const std::vector<VariableRef>& model) {
  ASSERT_EQ(list.size(), model.size());
  EXPECT_EQ(list.empty(), model.empty());
  std::vector<VariableRefView> kept;
  for (const VariableRefView r : list) {
    ASSERT_LT(kept.size(), model.size());
    EXPECT_EQ(render(list[kept.size()]), render(model[kept.size()])) << kept.size();
    kept.push_back(r);
  }
  ASSERT_EQ(kept.size(), model.size());
  for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(render(kept[i]), render(model[i])) << i;
}

constexpr uint64_t k4G = uint64_t{1} << 32;

TEST(VariableRefList, KeepsEveryReferenceExactly) {
  const std::string long_name(40, 'n');
  const std::string huge_name(70000, 'h');  // past what a record's size field holds
  const std::vector<VariableRef> refs = {
      {Key("host"), {0, 5}, VariableKind::Document},
      {Key("port"), {10, 15}, VariableKind::Document},
      {Key("host"), {20, 25}, VariableKind::Document},  // shares the first one's bytes
      {Key("HOME"), {30, 39}, VariableKind::Environment},
      {Key("now"), {40, 44}, VariableKind::Builtin},
      {Key(""), {45, 46}, VariableKind::Document},
      {Key("axb"), {50, 54}, VariableKind::Document},   // differs from "ayb" in the middle only
      {Key("ayb"), {55, 59}, VariableKind::Document},
      {Key("axb"), {60, 64}, VariableKind::Document},
      {Key(long_name), {70, 111}, VariableKind::Document},
      {Key(huge_name), {200, 200 + 70001}, VariableKind::Document},
      {Key("far"), {k4G - 1, k4G + 3}, VariableKind::Document},  // start fits, end does not matter
      {Key("farther"), {k4G, k4G + 8}, VariableKind::Environment},
      {Key("long"), {5, 5 + k4G}, VariableKind::Builtin},  // size past 32 bits
      {Key("host"), {UINT32_MAX, UINT32_MAX}, VariableKind::Document},
      {Key("host"), {90, 95}, VariableKind::Document},
      // Either side of what a record holds: names of 255 and 256 bytes,
      // spans of 65535 and 65536 bytes, each of every kind.
      {Key(std::string(255, 'm')), {100, 356}, VariableKind::Environment},
      {Key(std::string(256, 'm')), {400, 657}, VariableKind::Builtin},
      {Key(std::string(255, 'm')), {700, 956}, VariableKind::Document},
      {Key("span"), {1000, 1000 + 65535}, VariableKind::Builtin},
      {Key("span"), {1000, 1000 + 65536}, VariableKind::Environment},
      {Key("span"), {k4G - 65536, k4G - 1}, VariableKind::Document},
  };
  VariableRefList list;
  std::vector<VariableRef> model;
  expect_same(list, model);
  for (const VariableRef& r : refs) {
    list.push_back(r);
    model.push_back(r);
    expect_same(list, model);
  }
}

TEST(VariableRefList, CopiesAndMovesAreWhole) {
  VariableRefList list;
  std::vector<VariableRef> model;
  const VariableRef refs[] = {{Key("a"), {1, 3}, VariableKind::Document},
                              {Key("b"), {k4G + 1, k4G + 3}, VariableKind::Builtin},
                              {Key("a"), {7, 9}, VariableKind::Environment}};
  for (const VariableRef& r : refs) {
    list.push_back(r);
    model.push_back(r);
  }
  VariableRefList copy = list;
  expect_same(copy, model);
  // Adding to the copy leaves the original, and names stay shared right.
  copy.push_back({Key("a"), {11, 13}, VariableKind::Document});
  expect_same(list, model);
  VariableRefList moved = std::move(copy);
  ASSERT_EQ(moved.size(), 4u);
  EXPECT_EQ(render(moved[3]), "$a@11-13/0");
  VariableRefList assigned;
  assigned.push_back({Key("z"), {0, 2}, VariableKind::Document});
  assigned = list;
  expect_same(assigned, model);
}

// Many references over a few names of every length (more names than the
// list remembers, so some share a place among the recent ones) and spans on
// both sides of 4 GiB read back as a plain vector of them would.
TEST(VariableRefList, MatchesAVectorOverRandomReferences) {
  std::mt19937_64 rng(7);
  const std::vector<std::string> names = {"h", "host", "port", "hp", "ph", std::string(20, 'q'),
                                          std::string(20, 'r'), "", "ENVNAME", "x1", "1x"};
  // 40 000 records go through many growths of the list.
  for (const int count : {5000, 40000}) {
    SCOPED_TRACE(count);
    VariableRefList list;
    std::vector<VariableRef> model;
    for (int i = 0; i < count; ++i) {
      const uint64_t start = (rng() % 8 == 0) ? k4G - 64 + rng() % 128 : rng() % 100000;
      const uint64_t size = rng() % 64;
      const VariableRef r{Key(names[rng() % names.size()]), {start, start + size},
                          static_cast<VariableKind>(rng() % 3)};
      list.push_back(r);
      model.push_back(r);
    }
    expect_same(list, model);
    const VariableRefList copy = list;
    list = VariableRefList{};
    expect_same(copy, model);
  }
}

}  // namespace
}  // namespace brindle
