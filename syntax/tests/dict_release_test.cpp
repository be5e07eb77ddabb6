// A dictionary sealed into an arena notes whether its entries hold anything
// to destroy, and then is destroyed without visiting them. The note must
// never claim that of an entry that owns heap memory (the sanitizer build
// reports the leak), must be dropped by every change, and must hold for the
// plain sections of a document, which is what makes it pay.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "builder.h"
#include "editor.h"
#include "model.h"
#include "test_support.h"

namespace brindle {
namespace {

const EmptyEnv kNoEnv;
const std::string kLong = "a string far longer than fourteen bytes";

// Spans that do not fit the entry's word take a heap block (entry_spans.h):
// a key of 256 bytes or more, a value starting 128 bytes or more after its
// key (or before it), or one of 16 KB or more.
bool spans_on_heap(const DictEntry& e) {
  const auto k = e.key_span();
  const auto v = e.value_span();
  if (k && k->end - k->start > 0xFF) return true;
  if (v && v->end - v->start > 0x3FFF) return true;
  return k && v && (v->start < k->start || v->start - k->start > 0x7F);
}

// Whether anything below `v` is visibly heap-owned, read through the public
// accessors only.
bool value_owns_heap(const Value& v, const Arena& arena);

bool dict_owns_heap(const Dict& d, const Arena& arena) {
  if (!d.in_arena(arena) && d.begin() != d.end()) return true;
  for (const DictEntry& e : d) {
    if (!e.first.is_inline() && !e.first.in_arena()) return true;
    if (spans_on_heap(e) || value_owns_heap(e.second, arena)) return true;
  }
  return false;
}

bool value_owns_heap(const Value& v, const Arena& arena) {
  switch (v.tag()) {
    case Tag::String: return v.as_string().size() > 14 && !v.in_arena();
    case Tag::Array: {
      if (!v.in_arena()) return true;
      const ArrayView items = v.as_array();
      if (items.values() == nullptr) return false;  // packed integers
      for (const Value& item : items) {
        if (value_owns_heap(item, arena)) return true;
      }
      return false;
    }
    case Tag::Dict: return !v.in_arena() || dict_owns_heap(v.as_dict(), arena);
    default: return false;
  }
}

// Dotted paths of the arena-held dictionaries of the tree that are not noted
// as holding nothing; fails the test where a note is wrong.
void unmarked(const Dict& d, const Arena& arena, const std::string& path, std::set<std::string>& out) {
  for (const DictEntry& e : d) {
    if (!e.second.is(Tag::Dict)) continue;
    const std::string here = path + std::string(e.first);
    const Dict& child = e.second.as_dict();
    if (e.second.in_arena()) {
      if (child.nothing_to_destroy()) {
        EXPECT_FALSE(dict_owns_heap(child, arena)) << here << " is noted empty of heap memory but holds some";
        EXPECT_TRUE(e.second.nothing_to_destroy()) << here;
      } else {
        out.insert(here);
      }
    }
    unmarked(child, arena, here + ".", out);
  }
}

std::set<std::string> unmarked_of(const Document& doc) {
  std::set<std::string> out;
  unmarked(doc.config, *doc.arena.get(), "", out);
  return out;
}

std::string many_keys(size_t n) {
  std::string out = "[big]\n";
  for (size_t i = 0; i < n; ++i) out.append(1, 'k').append(std::to_string(i)).append(" = ").append(std::to_string(i)).append(1, '\n');
  return out;
}

TEST(DictRelease, BuiltDocumentsAreNotedExactlyWhereNothingIsOwned) {
  struct Case {
    const char* name;
    std::string source;
    std::set<std::string> unmarked;  // arena-held dicts that must be walked
  };
  const std::vector<Case> cases = {
      {"scalars and strings",
       "[a]\nx = 1\ny = \"short\"\nz = \"" + kLong + "\"\nf = 2.5\nb = true\nn = null\n", {}},
      {"arrays", "[a.b]\nx = [1, 2, 3]\ny = [\"p\", \"" + kLong + "\", [4, [5]]]\nz = []\n", {}},
      {"inline dicts", "[a]\nd = #{p = 1, q = #{r = \"" + kLong + "\"}#}#\n", {}},
      {"long and quoted keys",
       "[a]\na_key_longer_than_fourteen_bytes = 1\n\"quoted.key\" = 2\n[\"sec.tion\".b]\nk = 3\n", {}},
      {"blocks", "[a]\nblk = #{\n  p = 1,\n  q = \"" + kLong + "\",\n}#\nafter = 2\n", {}},
      {"variables", "[vars]\nv = \"" + kLong + "\"\n[a]\nx = $v + \"!\"\ny = [$v]\n", {}},
      {"sections entered again and below",
       "[a]\nx = 1\n[a.b]\ny = 2\n[c]\nz = 3\n[a]\nw = 4\n[a.b.c]\nv = 5\n", {}},
      {"a section replaced by a key", "[a.b]\nx = 1\n[a]\nb = 2\n", {}},
      // The entry keeps the value span of the key and takes the header's
      // name as its key span: the pair does not fit the entry's word.
      {"a key replaced by a section", "[a]\nb = 2\n[a.b]\nx = \"" + kLong + "\"\n", {"a"}},
      // An array of dictionaries destroys its items one by one.
      {"array of inline dicts", "[a]\nl = [#{p = 1}#]\n[c]\nk = 1\n", {"a"}},
      // Spans beyond the entry's word sit on the heap.
      {"a very long value", "[a]\nbig = \"" + repeat("x", 20000) + "\"\n[c]\nk = 1\n", {"a"}},
      // So does the array of a section too large to move into the arena.
      {"a very large section", many_keys(8000) + "[c]\nk = 1\n", {"big"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Document doc = build_document(c.source, kNoEnv);
    ASSERT_TRUE(doc.diagnostics.empty()) << doc.diagnostics.front().message;
    EXPECT_EQ(unmarked_of(doc), c.unmarked);
    // A copy owns all it holds: nothing in it is noted, and it outlives
    // the original (the sanitizer build checks both are freed).
    Document copy = doc;
    EXPECT_TRUE(copy.config == doc.config);
    for (const DictEntry& e : std::as_const(copy.config)) {
      if (e.second.is(Tag::Dict)) {
        EXPECT_FALSE(e.second.nothing_to_destroy()) << e.first;
      }
    }
  }
}

Dict& section_a(Document& doc) { return doc.config.at("a").as_dict(); }

// Changes after the build give entries heap memory or take it away; each
// drops the note of the dictionary it changes, and the document is then
// destroyed in full (the sanitizer build reports anything left behind).
TEST(DictRelease, ChangesDropTheNote) {
  const std::string source =
      "[a]\nx = 1\ny = \"" + kLong + "\"\nz = [1, \"" + kLong + "\"]\nd = #{p = \"" + kLong + "\"}#\n[b]\nk = 2\n";
  struct Case {
    const char* name;
    std::function<void(Document&)> change;
    std::string expect;  // the value of a.x afterwards, as a string
    bool a_marked;       // whether a is still noted afterwards
  };
  const std::vector<Case> cases = {
      {"heap string by operator[]", [](Document& d) { section_a(d)["x"] = Value::string(kLong); }, kLong, false},
      {"heap array by at", [](Document& d) { section_a(d).at("x") = Value::array(Array{Value::string(kLong)}); },
       "array", false},
      {"new key by insert_or_assign",
       [](Document& d) { section_a(d).insert_or_assign(kLong + "-key", Value::string(kLong)); }, "1", false},
      {"value moved out and back",
       [](Document& d) {
         Value held = std::move(section_a(d).find("y")->second);
         section_a(d)["y"] = Value::string(std::string(held.as_string()) + "!");
       },
       "1", false},
      {"every value replaced through iteration",
       [](Document& d) {
         for (DictEntry& e : section_a(d)) e.second = Value::string(kLong + std::string(e.first));
       },
       kLong + "x", false},
      {"an array made heap-owned in place", [](Document& d) { section_a(d).at("z").as_array().push_back(Value::string(kLong)); },
       "1", false},
      {"an inline dict changed below", [](Document& d) { section_a(d).at("d").as_dict()["q"] = Value::string(kLong); },
       "1", false},
      {"an entry erased", [](Document& d) { section_a(d).erase("y"); }, "1", false},
      // Stored by the builder: moved into the arena and sealed again.
      {"an entry inserted as the builder stores one",
       [](Document& d) { insert_entry(d, {"a"}, "w", Span{0, 1}, Span{2, 3}, Value::string(kLong), {}); }, "1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Document doc = build_document(source, kNoEnv);
    ASSERT_TRUE(doc.diagnostics.empty());
    ASSERT_TRUE(std::as_const(doc.config).at("a").nothing_to_destroy());
    c.change(doc);
    const Value& x = std::as_const(doc.config).at("a").as_dict().at("x");
    EXPECT_EQ(x.is(Tag::String) ? std::string(x.as_string()) : x.is(Tag::Array) ? "array" : std::to_string(x.as_integer()),
              c.expect);
    EXPECT_EQ(std::as_const(doc.config).at("a").nothing_to_destroy(), c.a_marked);
    EXPECT_TRUE(unmarked_of(doc).count("b") == 0);  // untouched: still noted
  }
}

// Dictionaries sealed by hand into an arena, holding one entry of each kind.
TEST(DictRelease, SealingNotesEachKindOfEntry) {
  struct Case {
    const char* name;
    std::function<void(Dict&, Arena&)> fill;
    bool noted;        // sealed with the arena, or sealed into it
    bool noted_moved;  // moved into it, values and all
  };
  const std::vector<Case> cases = {
      {"integer", [](Dict& d, Arena& a) { d.append("k", &a).second = Value::integer(1); }, true, true},
      {"inline string", [](Dict& d, Arena& a) { d.append("k", &a).second = Value::string("s"); }, true, true},
      {"arena string", [](Dict& d, Arena& a) { d.append("k", &a).second = Value::string_in(kLong, &a); }, true, true},
      {"heap string", [](Dict& d, Arena& a) { d.append("k", &a).second = Value::string(kLong); }, false, true},
      {"heap array", [](Dict& d, Arena& a) { d.append("k", &a).second = Value::array(Array{Value::integer(1)}); },
       false, true},
      {"long key on the heap, moved in by sealing",
       [](Dict& d, Arena&) {
         bool inserted = false;
         d.upsert(kLong, inserted).second = Value::integer(1);
       },
       true, true},
      {"spans beyond the word",
       [](Dict& d, Arena& a) { d.append("k", &a).set_spans(Span{0, 1}, Span{2, 40000}); }, false, false},
      {"an unsealed dictionary below",
       [](Dict& d, Arena& a) { d.append("k", &a).second = Value::dict_in(&a); }, false, true},
      {"a heap dictionary below", [](Dict& d, Arena& a) { d.append("k", &a).second = Value::dict(Dict{}); }, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int how = 0; how < 3; ++how) {
      Arena arena;
      Dict d;
      c.fill(d, arena);
      d.append("other", &arena).second = Value::integer(2);
      Dict sealed;
      if (how == 0) {
        d.seal({}, {}, &arena);
        sealed = std::move(d);
      } else if (how == 1) {
        sealed = d.sealed_into(arena);
      } else {
        sealed = Dict(d);  // a heap copy, sealed into the arena with its values
        sealed = std::move(sealed).moved_into(arena);
      }
      ASSERT_TRUE(sealed.in_arena(arena));
      EXPECT_EQ(sealed.nothing_to_destroy(), how == 2 ? c.noted_moved : c.noted) << how;
      EXPECT_EQ(std::as_const(sealed).at("other").as_integer(), 2);
      // Any mutable look drops the note.
      (void)sealed.find("other");
      EXPECT_FALSE(sealed.nothing_to_destroy());
    }
  }
}

}  // namespace
}  // namespace brindle
