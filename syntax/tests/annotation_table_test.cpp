// The annotation table as the builder fills it and as callers query it: walk
// order, lookups by path and by segments, repeated and replaced paths, and
// tables large enough to be looked up through their index.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "annotation.h"
#include "builder.h"

namespace brindle {
namespace {

std::string arg_text(const AnnotationArg& arg) {
  switch (arg_kind(arg)) {
    case ArgKind::None: return "";
    case ArgKind::Text: return "(" + get<std::string>(arg) + ")";
    case ArgKind::Integer: return ":" + std::to_string(get<int64_t>(arg));
    case ArgKind::Float: return ":f";
    case ArgKind::List: return ":[" + std::to_string(get<std::vector<std::string>>(arg).size()) + "]";
  }
  return "?";
}

std::string list_text(AnnotationList list) {
  std::string out;
  for (const Annotation& a : list) out += " @" + a.name + arg_text(a.arg);
  return out;
}

// One line per entry in walk order: the path, its segments in braces when
// kept, then its annotations. Every entry must also be what a lookup by its
// path answers, down to the same records.
std::vector<std::string> walk(const AnnotationTable& table) {
  std::vector<std::string> out;
  size_t i = 0;
  for (const auto& [path, list] : table) {
    std::string line(path);
    const auto& segments = table.segments(i);
    if (!segments.empty()) {
      line += " {";
      for (const std::string& s : segments) line += "<" + s + ">";
      line += "}";
    }
    out.push_back(line + ":" + list_text(list));
    const AnnotationList* found = table.find(path);
    EXPECT_NE(found, nullptr) << path;
    if (found != nullptr) {
      EXPECT_EQ(found->data(), list.data()) << path;
      EXPECT_EQ(found->size(), list.size()) << path;
    }
    const auto* kept = table.find_segments(path);
    EXPECT_EQ(kept == nullptr ? 0 : kept->size(), segments.size()) << path;
    ++i;
  }
  EXPECT_EQ(i, table.size());
  return out;
}

using Lines = std::vector<std::string>;

struct Case {
  const char* name;
  const char* source;
  Lines expected;
};

TEST(AnnotationTable, WalkAndLookupsFollowTheSource) {
  const Case cases[] = {
      {"plain", "@a\nk = 1\n[s]\n@b: 2\n@c(x y)\nv = 1\n", {"k: @a", "s.v: @b:2 @c(x y)"}},
      {"repeated key keeps the last list", "@a\nk = 1\n@b\n@c\nk = 2\n", {"k: @b @c"}},
      {"repeated header moves to its new first annotation",
       "@a\n[s]\nx = 1\n@b\n[t]\n@c\n[s]\n", {"t: @b", "s: @c"}},
      {"a header replaces an annotated value",
       "[a]\n@n\ns = 1\n[a.s]\n@m\nk = 2\n", {"a.s: @n", "a.s.k: @m"}},
      {"a value replaces an annotated section",
       "[a.s]\n@m\nk = 2\n[a]\n@n\ns = 1\n", {"a.s.k: @m", "a.s: @n"}},
      {"quoted key holding a point keeps its segments",
       "[s]\n@a\n\"x.y\" = 1\n@b\nz = 2\n", {"s.x.y {<s><x.y>}: @a", "s.z: @b"}},
      {"quoted header holding a point", "[\"a.b\"]\n@t\nk = 1\n",
       {"a.b.k {<a.b><k>}: @t"}},
      {"a nested path of the same text drops the segments",
       "@a\n\"x.y\" = 1\n@b\n[x]\n@c\ny = 2\n", {"x: @b", "x.y: @c"}},
      {"annotations wait across a variables section", "@a\n[vars]\nv = 1\n[s]\nk = 1\n",
       {"s: @a"}},
      {"annotations inside a variables section attach to nothing",
       "[vars]\n@min: 1\nv = 2\n[s]\nk = $v\n", {}},
      {"annotations at the end attach to nothing", "k = 1\n@a\n", {}},
      {"block key and its entries", "@blk\nb = #{\n  @in\n  x = 1,\n}#\n",
       {"b: @blk", "b.x: @in"}},
      {"unclosed block keeps what its lines recorded", "@blk\nb = #{\n  @in\n  x = 1,\n",
       {"b.x: @in"}},
      {"list arguments", "@enum: [a, b, c]\nk = \"a\"\n", {"k: @enum:[3]"}},
  };
  for (const Case& c : cases) {
    const Document doc = build_document(c.source, EmptyEnv{});
    EXPECT_EQ(walk(doc.annotations), c.expected) << c.name;
    EXPECT_EQ(doc.annotations.find("nope"), nullptr) << c.name;
    EXPECT_EQ(doc.annotations.find(""), nullptr) << c.name;
  }
}

// `n` sections, each with an annotated header and one annotated key, then a
// repeat of the first header with a new annotation.
std::string many_sections(int n) {
  std::string src;
  for (int i = 0; i < n; ++i) {
    src += "@description(sec " + std::to_string(i) + ")\n[s" + std::to_string(i) + "]\n";
    src += "@min: " + std::to_string(i) + "\n@max: 100\nk = 1\n";
  }
  src += "@late\n[s0]\n";
  return src;
}

void expect_many(const Document& doc, int n) {
  const AnnotationTable& table = doc.annotations;
  ASSERT_EQ(table.size(), static_cast<size_t>(2 * n));
  // s0 moved to the end: its list is now the late one.
  size_t i = 0;
  for (int s = 0; s < n; ++s) {
    const std::string header = "s" + std::to_string(s);
    if (s != 0) {
      const auto [path, list] = table.entry(i++);
      EXPECT_EQ(path, header);
      EXPECT_EQ(list_text(list), " @description(sec " + header.substr(1) + ")");
    }
    const auto [path, list] = table.entry(i++);
    EXPECT_EQ(path, header + ".k");
    EXPECT_EQ(list_text(list), " @min:" + std::to_string(s) + " @max:100");
    const AnnotationList* found = table.find(header + ".k");
    ASSERT_NE(found, nullptr) << header;
    EXPECT_EQ(found->data(), list.data());
    EXPECT_EQ(table.find(header + ".x"), nullptr);
    EXPECT_EQ(table.find(header + "k"), nullptr);
  }
  const auto [path, list] = table.entry(i);
  EXPECT_EQ(path, "s0");
  EXPECT_EQ(list_text(list), " @late");
  ASSERT_NE(table.find("s0"), nullptr);
  EXPECT_EQ(list_text(*table.find("s0")), " @late");
}

TEST(AnnotationTable, LargeTablesAnswerLikeSmallOnes) {
  for (int n : {1, 7, 8, 9, 10, 11, 16, 17, 33, 3000}) {
    SCOPED_TRACE(n);
    const std::string src = many_sections(n);
    Document doc = build_document(src, EmptyEnv{});
    expect_many(doc, n);
    // A copy packs the lists anew and answers the same once the original
    // is gone; a move keeps them where they are.
    auto copy = std::make_unique<Document>(doc);
    doc = Document{};
    expect_many(*copy, n);
    Document moved = std::move(*copy);
    copy.reset();
    expect_many(moved, n);
    Document assigned;
    assigned = moved;
    expect_many(assigned, n);
  }
}

// Entries stored into a built document join its indexed table: a repeated
// path keeps its place and takes the new list, a new one goes last.
TEST(AnnotationTable, InsertedEntriesJoinABuiltTable) {
  for (int n : {2, 9, 300}) {
    SCOPED_TRACE(n);
    Document doc = build_document(many_sections(n), EmptyEnv{});
    const size_t before = doc.annotations.size();
    Annotation note;
    note.name = "note";
    for (const char* key : {"k", "fresh"}) {
      insert_entry(doc, {"s1"}, key, Span{0, 1}, Span{0, 1}, Value::integer(1), {note, note});
    }
    ASSERT_EQ(doc.annotations.size(), before + 1);
    EXPECT_EQ(doc.annotations.entry(before).first, "s1.fresh");
    EXPECT_EQ(doc.annotations.entry(2).first, "s1.k");
    for (const char* path : {"s1.k", "s1.fresh"}) {
      ASSERT_NE(doc.annotations.find(path), nullptr) << path;
      EXPECT_EQ(list_text(*doc.annotations.find(path)), " @note @note") << path;
    }
    ASSERT_NE(doc.annotations.find("s0.k"), nullptr);
    EXPECT_EQ(list_text(*doc.annotations.find("s0.k")), " @min:0 @max:100");
  }
}

// Random sets, takes and appends against a plain list of (path, names,
// segments) searched one by one, across the size where the table starts
// hashing. The later rounds reorder by source position: with lists made in
// source order, in random order, and reordered halfway and then added to.
TEST(AnnotationTable, MatchesAPlainListUnderRandomSets) {
  struct Model {
    std::string path;
    std::vector<std::string> names;
    AnnotationTable::Segments segments;
    uint64_t first;  // where the list starts; after every other when empty
  };
  uint64_t seed = 7;
  auto below = [&](uint64_t n) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return (seed >> 33) % n;
  };
  const auto by_first = [](const Model& a, const Model& b) { return a.first < b.first; };
  for (int round = 0; round < 6; ++round) {
    AnnotationTable table;
    std::vector<Model> model;
    const uint64_t kinds = round == 0 ? 5 : round == 1 ? 40 : 400;
    for (int step = 0; step < 3000; ++step) {
      // Paths share long prefixes and differ in their last bytes, as key
      // paths of one section do.
      const std::string path = "service.settings.key_" + std::to_string(below(kinds)) +
                               (below(3) == 0 ? ".x" : "");
      std::vector<Annotation> list(below(4));
      std::vector<std::string> names;
      const uint64_t at = round == 4 ? below(3000) : static_cast<uint64_t>(step);
      for (Annotation& a : list) {
        a.name = "n" + std::to_string(below(1000));
        a.span = Span{at, at + 1};
        names.emplace_back(a.name.view());
      }
      AnnotationTable::Segments segments;
      if (below(4) == 0) segments = {"service", "settings.key", std::to_string(step)};
      auto it = model.begin();
      while (it != model.end() && it->path != path) ++it;
      const uint64_t first = names.empty() ? UINT64_MAX : at;
      if (it == model.end()) model.push_back(Model{path, names, segments, first});
      else *it = Model{path, names, segments, first};
      switch (below(round == 0 ? 2 : 3)) {
        case 0:
          table.set(path, std::move(list), segments);
          break;
        case 1:
          table.take(path, list, segments);
          EXPECT_TRUE(list.empty());
          break;
        default:
          table.append(path, list, segments);
          EXPECT_TRUE(list.empty());
          break;
      }
      if (round == 5 && step == 1500) {
        table.sort_by_source_position();
        std::stable_sort(model.begin(), model.end(), by_first);
      }
    }
    if (round >= 3) {
      table.sort_by_source_position();
      std::stable_sort(model.begin(), model.end(), by_first);
    } else {
      table.finish();
    }
    ASSERT_EQ(table.size(), model.size());
    for (size_t i = 0; i < model.size(); ++i) {
      const auto [path, list] = table.entry(i);
      EXPECT_EQ(path, model[i].path);
      std::vector<std::string> names;
      for (const Annotation& a : list) names.emplace_back(a.name.view());
      EXPECT_EQ(names, model[i].names) << path;
      EXPECT_EQ(table.segments(i), model[i].segments) << path;
      ASSERT_NE(table.find(model[i].path), nullptr);
      EXPECT_EQ(table.find(model[i].path)->data(), list.data());
    }
    EXPECT_EQ(table.find("service.settings.key_"), nullptr);
    EXPECT_EQ(table.find("service.settings.key_1.x.x"), nullptr);
  }
}

}  // namespace
}  // namespace brindle

namespace brindle {
namespace {

// A table reordered by source position, then grown and replaced into, then
// copied and moved: every path keeps answering with its last list. The
// index is grown from what it holds and rebuilt after the reordering, so
// each stage must find the paths of the stages before.
TEST(AnnotationTable, AnswersAfterReorderingGrowingAndCopying) {
  AnnotationTable table;
  std::vector<std::pair<std::string, std::string>> model;  // path, its one annotation's name
  auto one = [](const std::string& name, uint64_t at) {
    std::vector<Annotation> list(1);
    list[0].name = name;
    list[0].arg = int64_t(at);
    list[0].span = Span{at, at + 1};
    return list;
  };
  auto put = [&](const std::string& path, const std::string& name, uint64_t at, bool append) {
    std::vector<Annotation> list = one(name, at);
    if (append) {
      table.append(path, list, {});
    } else {
      table.take(path, list, {});
    }
    for (auto& [p, n] : model) {
      if (p == path) {
        n = name;
        return;
      }
    }
    model.emplace_back(path, name);
  };
  auto check = [&](const AnnotationTable& t, const char* stage) {
    ASSERT_EQ(t.size(), model.size()) << stage;
    for (const auto& [path, name] : model) {
      const AnnotationList* found = t.find(path);
      ASSERT_NE(found, nullptr) << stage << " " << path;
      ASSERT_EQ(found->size(), 1u) << stage << " " << path;
      EXPECT_EQ((*found)[0].name, name) << stage << " " << path;
    }
    EXPECT_EQ(t.find("absent.path"), nullptr) << stage;
  };
  // Appended against source order, so that sorting moves every entry.
  for (int i = 0; i < 300; ++i) put("s.k" + std::to_string(i), "a" + std::to_string(i), 10000 - i, true);
  table.sort_by_source_position();
  check(table, "sorted");
  for (int i = 0; i < 300; i += 3) put("s.k" + std::to_string(i), "b" + std::to_string(i), 20000 + i, false);
  for (int i = 300; i < 700; ++i) put("s.k" + std::to_string(i), "c" + std::to_string(i), 30000 + i, i % 2 == 0);
  table.finish();
  check(table, "grown");
  const AnnotationTable copy = table;
  check(copy, "copy");
  AnnotationTable moved = std::move(table);
  check(moved, "moved");
  AnnotationTable assigned;
  put("s.k1", "d1", 40000, false);  // the model moves on; `assigned` gets it below
  assigned = copy;
  std::vector<Annotation> list = one("d1", 40000);
  assigned.take("s.k1", list, {});
  check(assigned, "assigned");
}


// Documents past a megabyte, where the builder sizes the table and the
// reference list from the part read so far: evenly spread, dense only at
// the end (the guess falls short and they grow past it) and dense only at
// the start (the guess overshoots). Every annotated key and every
// reference is found as written, and repeated keys keep their last list.
TEST(AnnotationTable, LargeDocumentsWhoseDensityChanges) {
  enum class Profile { Even, DenseLate, DenseEarly };
  for (const Profile profile : {Profile::Even, Profile::DenseLate, Profile::DenseEarly}) {
    SCOPED_TRACE(static_cast<int>(profile));
    constexpr int kSections = 9000;
    std::string src = "[vars]\nv = 1\n";
    std::vector<std::pair<std::string, std::string>> want;  // path, its list
    size_t refs = 0;
    for (int s = 0; s < kSections; ++s) {
      const bool dense = profile == Profile::Even ? s % 2 == 0
                         : profile == Profile::DenseLate ? s >= kSections * 3 / 4
                                                         : s < kSections / 4;
      const std::string name = "sec" + std::to_string(s);
      src += "[" + name + "]\n";
      const int keys = dense ? 6 : 1;
      for (int k = 0; k < keys; ++k) {
        const std::string key = "key" + std::to_string(k);
        src += "@min: " + std::to_string(k) + "\n" + key + " = $v\n";
        ++refs;
        want.emplace_back(name + "." + key, " @min:" + std::to_string(k));
      }
      // Padding with neither, so that sparse parts are really sparse.
      src += "plain = \"" + std::string(dense ? 10 : 120, 'p') + "\"\n";
      if (dense) {
        // The first key again: the last list wins, and the walk, in source
        // order of the lists, meets it after the others.
        src += "@max: 9\n@tag: t\nkey0 = $v + $v\n";
        refs += 2;
        want.erase(want.end() - keys);
        want.emplace_back(name + ".key0", " @max:9 @tag(t)");
      }
    }
    ASSERT_GT(src.size(), size_t{1} << 20);
    const Document doc = build_document(src, EmptyEnv{});
    ASSERT_TRUE(doc.diagnostics.empty()) << doc.diagnostics.front().message;
    ASSERT_EQ(doc.annotations.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      const auto [path, list] = doc.annotations.entry(i);
      ASSERT_EQ(path, want[i].first) << i;
      ASSERT_EQ(list_text(list), want[i].second) << path;
      const AnnotationList* found = doc.annotations.find(path);
      ASSERT_NE(found, nullptr) << path;
      EXPECT_EQ(found->data(), list.data()) << path;
    }
    ASSERT_EQ(doc.variable_refs.size(), refs);
    for (const VariableRefView r : doc.variable_refs) {
      ASSERT_EQ(src.substr(r.span.start, r.span.end - r.span.start), "$v");
      ASSERT_EQ(r.name, "v");
    }
  }
}

}  // namespace
}  // namespace brindle
