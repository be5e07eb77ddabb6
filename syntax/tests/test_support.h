// Shared fixtures of the value grammar and builder tests: a compact value
// rendering, so that a table row states its expectation as one short string,
// an environment from a map, and a parse context at a fixed offset.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "display.h"
#include "model.h"
#include "value_parser.h"

namespace brindle {

constexpr uint64_t kBase = 1000;  // value texts sit here, so spans are absolute

// 1, 1.0, "s", null, true, [1, "a"], {"k": null}: tag, sign of zero and
// every digit stay visible, so equal text means equal values.
inline std::string brief(const Value& v) {
  std::string out;
  switch (v.tag()) {
    case Tag::String: return debug_string(v.as_string());
    case Tag::Integer: return decimal_form(v.as_integer());
    case Tag::Float: return debug_float(v.as_float());
    case Tag::Bool: return v.as_bool() ? "true" : "false";
    case Tag::Null: return "null";
    case Tag::Array:
      for (const Value& e : v.as_array()) out.append(out.empty() ? "" : ", ").append(brief(e));
      return "[" + out + "]";
    case Tag::Dict:
      for (const auto& [k, e] : v.as_dict()) out.append(out.empty() ? "" : ", ").append(debug_string(k) + ": " + brief(e));
      return "{" + out + "}";
  }
  return out;
}

// Appended piece by piece: `"@" + std::to_string(...)` trips a false -Wrestrict.
inline std::string show(Span s, uint64_t base = 0) {
  return std::string(1, '@').append(std::to_string(s.start - base)).append(1, '-').append(std::to_string(s.end - base));
}

struct FakeEnv final : EnvLookup {
  std::map<std::string, std::string, std::less<>> vars;
  std::optional<std::string> get(std::string_view name) const override {
    const auto it = vars.find(name);
    return it == vars.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
};

// One parse context at kBase; every failure span must lie inside the text,
// and the nesting level must be restored.
// run() gives the value as brief() shows it or
// "message @start-end", then, after " |", each reference it recorded as
// name:kind@start-end (kind 0 document, 1 built-in, 2 environment).
struct Session {
  Dict vars;
  FakeEnv env;
  std::vector<VariableRef> refs;
  ValueBudget* budget = nullptr;
  bool indexed = false;  // hand the grammar a GroupIndex of the text, as the builder does
  bool look_over = false;  // and let it look over the whole text first, as the builder does
  Arena* arena = nullptr;  // build the value there, as the builder does
  std::optional<Value> last;  // the value of the last run that gave one
  std::string run(std::string_view text, bool operand = false) {
    refs.clear();
    last.reset();
    GroupIndex groups(text);
    ValueContext ctx{refs, vars, env, Span{kBase, kBase + text.size()}, budget, 0, indexed ? &groups : nullptr};
    ctx.arena = arena;
    if (look_over) look_over_value(ctx, text);
    ValueResult r = operand ? parse_operand(ctx, text, kBase) : parse_value(ctx, text, kBase);
    EXPECT_EQ(ctx.depth, 0) << "nesting level not restored: " << text.substr(0, 40);
    const auto* fail = std::get_if<ParseFailure>(&r);
    EXPECT_TRUE(!fail || (kBase <= fail->span.start && fail->span.start <= fail->span.end &&
                          fail->span.end <= kBase + text.size())) << "span outside the text: " << text.substr(0, 40);
    std::string out = fail ? fail->message + " " + show(fail->span, kBase) : brief(std::get<Value>(r));
    for (size_t i = 0; i < refs.size(); ++i) {
      out.append(i ? " " : " | ").append(refs[i].name).append(1, ':');
      out.append(std::to_string(int(refs[i].kind))).append(show(refs[i].span, kBase));
    }
    if (!fail) last = std::get<Value>(std::move(r));
    return out;
  }
};

inline std::string repeat(std::string_view s, size_t n) {
  std::string out;
  while (n--) out.append(s);
  return out;
}

}  // namespace brindle
