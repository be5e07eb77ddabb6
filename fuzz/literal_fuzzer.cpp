// The builder's two shortcuts (parse_literal, parse_literal_array) against
// the value grammar, on any text used as a value:
//   - what a shortcut reads, the grammar reads to the same value (kinds,
//     float bits, string bytes, array shapes), heap-held or arena-held;
//   - the line `k = <text>` gives the entry, spans and diagnostic the
//     grammar gives for the value text the lexer cut, and, when a shortcut
//     takes that text, the same entry as a line the shortcut cannot take
//     (the text followed by ` ?? null`);
//   - the entry's value, in whatever form its arrays were stored (packed,
//     compact, plain), writes as its plain heap copy does, and what is
//     written reads back as the same value.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "builder.h"
#include "fuzz_support.h"
#include "lexer.h"
#include "serializer.h"
#include "text.h"
#include "value_parser.h"
#include "value_writer.h"

using namespace brindle;

namespace {

// Equal kinds, float bits, string bytes, item counts and keys in order.
bool same(const Value& a, const Value& b) {
  if (a.tag() != b.tag()) return false;
  switch (a.tag()) {
    case Tag::Integer: return a.as_integer() == b.as_integer();
    case Tag::Bool: return a.as_bool() == b.as_bool();
    case Tag::Float: {
      const double x = a.as_float();
      const double y = b.as_float();
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case Tag::String: return a.as_string() == b.as_string();
    case Tag::Array: {
      const ArrayView x = a.as_array();
      const ArrayView y = b.as_array();
      if (x.size() != y.size()) return false;
      Value sx;
      Value sy;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!same(x.item(i, sx), y.item(i, sy))) return false;
      }
      return true;
    }
    case Tag::Dict: {
      const Dict& x = a.as_dict();
      const Dict& y = b.as_dict();
      if (x.size() != y.size()) return false;
      auto j = y.begin();
      for (const auto& [key, v] : x) {
        if (key != j->first || !same(v, j->second)) return false;
        ++j;
      }
      return true;
    }
    default: return true;
  }
}

// The grammar at its plainest: heap-held, every level scanned byte by
// byte (no group index, no look over the whole text first), so that the
// builder's own use of them is checked too.
ValueResult grammar(std::string_view text, uint64_t offset, const Dict& vars, std::vector<VariableRef>& refs) {
  const fuzz::Env env;
  refs.clear();
  ValueBudget budget{value_budget_for(text.size())};
  ValueContext ctx{refs, vars, env, Span{offset, offset + text.size()}, &budget, 0, nullptr};
  ValueResult r = parse_value(ctx, text, offset);
  if (ctx.depth != 0) fuzz::fail("nesting level not restored", text);
  return r;
}

std::string shown(const ValueResult& r) {
  if (const auto* f = std::get_if<ParseFailure>(&r)) {
    return f->message + " @" + std::to_string(f->span.start) + "-" + std::to_string(f->span.end);
  }
  return debug_text(std::get<Value>(r));
}

// A shortcut's reading, heap-held and arena-held, against the grammar's.
void check_shortcut(std::string_view text) {
  std::optional<Value> heap = parse_literal(text);
  if (!heap) heap = parse_literal_array(text);
  Arena arena;
  std::optional<Value> held = parse_literal(text, &arena);
  if (!held) held = parse_literal_array(text, &arena);
  if (heap.has_value() != held.has_value()) fuzz::fail("a shortcut reads a text only with an arena", text);
  if (!heap) return;
  const Dict vars;
  std::vector<VariableRef> refs;
  const ValueResult r = grammar(text, 0, vars, refs);
  const Value* want = std::get_if<Value>(&r);
  if (want == nullptr) {
    fuzz::fail("a shortcut reads a text the grammar rejects", std::string(text) + "\n--- grammar: " + shown(r));
  }
  if (!refs.empty()) fuzz::fail("a shortcut reads a text holding a reference", text);
  if (!same(*heap, *want) || !same(*held, *want)) {
    fuzz::fail("a shortcut reads another value than the grammar",
               std::string(text) + "\n--- shortcut: " + debug_text(*heap) + "\n--- grammar: " + shown(r));
  }
}

// The written form of `v`, read back by the grammar, is `v` again.
void check_written(const Value& v, const Dict& vars) {
  std::string written;
  const LineValue how = append_line_value(written, v, "q");
  if (how != LineValue::Written && how != LineValue::WrittenWithQuote) return;  // a key with no line form
  std::vector<VariableRef> refs;
  const ValueResult back = grammar(written, 0, vars, refs);
  const Value* got = std::get_if<Value>(&back);
  if (got == nullptr || !same(*got, v)) {
    fuzz::fail("a stored value does not read back from what it writes",
               written + "\n--- stored: " + debug_text(v) + "\n--- read back: " + shown(back));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  check_shortcut(trim(input));
  // One physical line, so that the lexer joins nothing.
  if (input.find('\n') != std::string_view::npos) return 0;
  const std::string line = "k = " + std::string(input);
  const std::vector<LineRecord> records = lex(line);
  if (records.size() != 1 || records[0].kind != LineKind::KeyValue) return 0;  // no entry, or a block
  const std::string_view value = records[0].value;
  check_shortcut(value);

  const fuzz::Env env;
  const Document doc = build_document(line, env);
  fuzz::check_spans(doc.diagnostics, line.size(), "diagnostic span outside the line");
  const uint64_t offset = static_cast<uint64_t>(value.data() - line.data());
  const Dict no_vars;
  std::vector<VariableRef> refs;
  const ValueResult want = grammar(value, offset, no_vars, refs);
  const DictEntry* entry = entry_at(doc.config, "k");
  if (const auto* f = std::get_if<ParseFailure>(&want)) {
    if (entry != nullptr || doc.diagnostics.size() != 1 || doc.diagnostics[0].message != f->message ||
        doc.diagnostics[0].span != f->span) {
      fuzz::fail("a line fails other than its value text", line + "\n--- grammar: " + shown(want));
    }
    return 0;
  }
  if (entry == nullptr || !doc.diagnostics.empty()) {
    fuzz::fail("a line is refused though its value text reads", line + "\n--- grammar: " + shown(want));
  }
  const Value& got = entry->second;
  // The clock moves between two reads of it.
  const auto clock = [](const VariableRef& r) {
    return r.kind == VariableKind::Builtin && (r.name == "NOW" || r.name == "TODAY");
  };
  if (std::any_of(refs.begin(), refs.end(), clock)) return 0;
  if (!same(got, std::get<Value>(want))) {
    fuzz::fail("a line holds another value than its value text",
               line + "\n--- line: " + debug_text(got) + "\n--- grammar: " + shown(want));
  }
  if (entry->key_span() != Span{0, 1} || entry->value_span() != Span{offset, line.size()}) {
    fuzz::fail("a line's spans are off", line);
  }
  if (doc.variable_refs.size() != refs.size()) fuzz::fail("a line records other references", line);

  // Where a shortcut took the line, a line the grammar must read agrees.
  if (parse_literal(value) || parse_literal_array(value)) {
    const std::string full = line.substr(0, offset + value.size()) + " ?? null";
    const Document slow = build_document(full, env);
    const DictEntry* e = entry_at(slow.config, "k");
    if (e == nullptr || !slow.diagnostics.empty() || !same(e->second, got) || e->key_span() != entry->key_span() ||
        e->value_span()->start != offset) {
      fuzz::fail("a line read by a shortcut differs from the grammar's line", line);
    }
  }

  // The stored forms (packed, compact, plain) write alike and read back.
  Dict vars;
  vars["q"] = Value::string("\"");
  check_written(got, vars);
  const Document copy = doc;  // every array plain and heap-held
  if (serialize_document(doc) != serialize_document(copy)) {
    fuzz::fail("a stored form writes other text than its plain copy", line);
  }
  std::string written;
  std::string written_copy;
  append_line_value(written, got, "q");
  append_line_value(written_copy, entry_at(copy.config, "k")->second, "q");
  if (written != written_copy) fuzz::fail("a stored form writes another line value than its plain copy", line);
  // A document reads back from its text unless writing it says it would
  // not (a dict key no inline dict carries, a quote with no variable for it).
  const SerializeResult checked = serialize_checked(doc);
  const std::string* text = std::get_if<std::string>(&checked);
  if (text == nullptr || !is_valid_utf8(line)) return 0;
  const Document back = build_document(*text, env);
  const DictEntry* b = entry_at(back.config, "k");
  if (fuzz::has_error(back.diagnostics) || b == nullptr || !same(b->second, got)) {
    fuzz::fail("a written document reads back as another value", *text + "\n--- stored: " + debug_text(got));
  }
  return 0;
}
