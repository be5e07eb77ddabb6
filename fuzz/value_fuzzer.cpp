// The value grammar on one value text: never a failure span or reference
// outside the text, the nesting level restored, and a value written with
// the serializer's line form reads back as the same value (strings holding a
// quote joined with a variable that holds `"`, which the variables here
// include).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz_support.h"
#include "lexer.h"
#include "text.h"
#include "value_parser.h"
#include "value_writer.h"

using namespace brindle;

namespace {

constexpr uint64_t kBase = 1000;  // the text sits here, so spans are absolute

Dict variables() {
  Dict vars;
  vars["s"] = Value::string("text");
  vars["n"] = Value::integer(42);
  vars["f"] = Value::floating(1.5);
  vars["a"] = Value::array({Value::integer(1), Value::string("x")});
  Dict inner;
  inner["k"] = Value::boolean(true);
  vars["d"] = Value::dict(std::move(inner));
  vars["q"] = Value::string("\"");
  return vars;
}

ValueResult parse(std::string_view input, const Dict& vars, const EnvLookup& env) {
  std::vector<VariableRef> refs;
  ValueBudget budget{value_budget_for(input.size())};
  ValueContext ctx{refs, vars, env, Span{kBase, kBase + input.size()}, &budget, 0};
  const std::string_view text = trim(input);
  const uint64_t offset = kBase + static_cast<uint64_t>(text.data() - input.data());
  ValueResult r = parse_value(ctx, text, offset);
  if (ctx.depth != 0) fuzz::fail("nesting level not restored", input);
  const uint64_t end = kBase + input.size();
  if (const auto* f = std::get_if<ParseFailure>(&r); f && !fuzz::inside(f->span, kBase, end)) {
    fuzz::fail("failure span outside the text", f->message);
  }
  for (const VariableRef& ref : refs) {
    if (!fuzz::inside(ref.span, kBase, end)) fuzz::fail("reference span outside the text", ref.name);
  }
  return r;
}

bool holds_key_without_line_form(const Value& v) {
  if (v.is(Tag::Array)) {
    for (const Value& e : v.as_array()) {
      if (holds_key_without_line_form(e)) return true;
    }
  } else if (v.is(Tag::Dict)) {
    for (const auto& [key, e] : v.as_dict()) {
      if (key.find_first_of("\"\\\n") != std::string::npos || holds_key_without_line_form(e)) return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Dict vars = variables();
  const fuzz::Env env;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const ValueResult r = parse(input, vars, env);
  const Value* value = std::get_if<Value>(&r);
  // Only a text that a key line keeps whole is one a document can hold: no
  // line feed (joined lines meet at a blank), no `#` the comment scanner
  // cuts at, no bracket left open.
  if (value == nullptr || !is_valid_utf8(input) || input.find('\n') != input.npos) return 0;
  const std::string line = "k = " + std::string(trim(input));
  if (strip_comment(line).size() != line.size() || bracket_depth(input) > 0) return 0;

  std::string written;
  const LineValue how = append_line_value(written, *value, "q");
  // A dict key holding a quote, backslash or line feed has no line form (a
  // document writes its dict as a section, or refuses); nothing else may be
  // refused.
  if (how == LineValue::Unwritable && holds_key_without_line_form(*value)) return 0;
  if (how != LineValue::Written && how != LineValue::WrittenWithQuote) {
    fuzz::fail("a value read from text cannot be written", debug_text(*value));
  }
  const ValueResult back = parse(written, vars, env);
  if (const auto* f = std::get_if<ParseFailure>(&back)) {
    fuzz::fail("written value does not read back", f->message + "\n--- written:\n" + written);
  }
  if (debug_text(std::get<Value>(back)) != debug_text(*value)) {
    fuzz::fail("written value reads back as another value",
               written + "\n--- before: " + debug_text(*value) + "\n--- after: " + debug_text(std::get<Value>(back)));
  }
  return 0;
}
