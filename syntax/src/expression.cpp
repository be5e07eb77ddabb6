// Expressions over operands: `??` fallbacks, the left-to-right fold of
// `+ - * /`, and `$` references to variables, built-ins and the environment.
#include <algorithm>
#include <charconv>
#include <deque>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "builtins.h"
#include "byte_table.h"
#include "display.h"
#include "expression_split.h"
#include "group_index.h"
#include "text.h"
#include "value_parser.h"

namespace brindle {

namespace {

size_t leading_blank(std::string_view s) { return s.size() - trim_start(s).size(); }

// False when `text` (trimmed) certainly has no operator byte outside quotes
// and brackets under the splitter's quote rule, so that it is one operand.
// Reads the level's own bytes and jumps over its groups; true whenever an
// operator byte shows or the index cannot tell (a closer below the level).
bool may_split(GroupIndex& groups, std::string_view text) {
  if (!groups.covers(text, QuoteRule::Plain)) return true;
  QuoteState<QuoteRule::Plain> quotes;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!quotes.structural(c)) continue;
    switch (c) {
      case '#':
        if (i + 1 == text.size() || text[i + 1] != '{') break;
        [[fallthrough]];
      case '(': case '[': case '{': {
        const size_t resume = groups.resume(text, i, QuoteRule::Plain);
        if (resume == GroupIndex::kNone) return true;
        if (resume >= text.size()) return false;  // open to the end: no byte left at this level
        i = resume - 1;
        break;
      }
      case ')': case ']': case '}': case '+': case '*': case '/':
        return true;
      case '-':
        if (i != 0) return true;  // a leading minus is a sign
        break;
      default:
        break;
    }
  }
  return false;
}

// The value's group index for a text inside a bracketed level and long
// enough to be worth it; see kIndexWorthBytes.
GroupIndex* index_for(const ValueContext& ctx, std::string_view text) {
  return ctx.depth >= 1 && text.size() >= kIndexWorthBytes ? ctx.groups : nullptr;
}

// Size and nesting of a value, walked without recursion so that any stored
// value can be measured.
struct Measure {
  uint64_t bytes = 0;
  int depth = 0;  // levels of arrays and dicts; 0 for a scalar
};

Measure measure(const Value& root) {
  // Rough heap cost of a map node beyond the key and value it holds.
  constexpr uint64_t kDictNodeBytes = 32 + sizeof(std::string);
  Measure m;
  if (root.is(Tag::String)) return Measure{sizeof(Value) + root.as_string().size(), 0};
  if (!root.is(Tag::Array) && !root.is(Tag::Dict)) return Measure{sizeof(Value), 0};
  std::vector<std::pair<const Value*, int>> pending{{&root, 0}};
  std::deque<Value> decoded;  // items of compact arrays, kept while pending points at them
  while (!pending.empty()) {
    const auto [v, level] = pending.back();
    pending.pop_back();
    m.bytes += sizeof(Value);
    switch (v->tag()) {
      case Tag::String:
        m.bytes += v->as_string().size();
        break;
      case Tag::Array:
        m.depth = std::max(m.depth, level + 1);
        if (const ArrayView a = v->as_array(); const Value* items = a.values()) {
          for (size_t i = 0; i < a.size(); ++i) pending.emplace_back(items + i, level + 1);
        } else if (a.is_compact()) {
          for (size_t i = 0; i < a.size(); ++i) pending.emplace_back(&a.item(i, decoded.emplace_back()), level + 1);
        } else {
          m.bytes += a.size() * sizeof(Value);  // packed integers: what each would cost popped
        }
        break;
      case Tag::Dict:
        m.depth = std::max(m.depth, level + 1);
        for (const auto& [key, e] : v->as_dict()) {
          m.bytes += kDictNodeBytes + key.size();
          pending.emplace_back(&e, level + 1);
        }
        break;
      default:
        break;
    }
  }
  return m;
}

bool charge(ValueContext& ctx, uint64_t bytes) {
  return ctx.budget == nullptr || ctx.budget->charge(bytes);
}

// Text of a value as string concatenation sees it.
std::string concat_text(const Value& v) {
  switch (v.tag()) {
    case Tag::String: return std::string(v.as_string());
    case Tag::Integer: return decimal_form(v.as_integer());
    case Tag::Float: return shortest_form(v.as_float());
    case Tag::Bool: return v.as_bool() ? "true" : "false";
    case Tag::Null: return "null";
    default: return debug_text(v);
  }
}

bool is_number(const Value& v) { return v.is(Tag::Integer) || v.is(Tag::Float); }

double as_double(const Value& v) {
  return v.is(Tag::Integer) ? static_cast<double>(v.as_integer()) : v.as_float();
}

// Folding state of one expression: operand tokens at even positions,
// operator tokens at odd ones, combined as they arrive so no token list is
// kept.
class Fold {
 public:
  // `text`/`offset` name the whole expression: when a concatenation crosses
  // the budget, that expression is what "value too large" points at.
  Fold(ValueContext& ctx, std::string_view text, uint64_t offset)
      : ctx_(ctx), whole_{offset, offset + text.size()} {}

  // Takes the next token; false once the fold has failed.
  bool feed(std::string_view token, uint64_t at) {
    const size_t position = count_++;
    if (position % 2 == 1) {
      op_ = token[0];
      op_offset_ = at;
      return true;
    }
    ValueResult r = parse_operand(ctx_, token, at);
    if (failed(r)) {
      failure_ = std::get<ParseFailure>(std::move(r));
      return false;
    }
    if (position == 0) {
      acc_ = std::get<Value>(std::move(r));
      return true;
    }
    return combine(std::get<Value>(std::move(r)));
  }

  ValueResult finish(uint64_t offset) && {
    if (failure_) return std::move(*failure_);
    if (count_ == 0) return ParseFailure{"empty value", Span{offset, offset}};
    settle();
    return std::move(acc_);
  }

 private:
  bool invalid_operands() {
    failure_ = ParseFailure{std::string("invalid operands for `") + op_ + "`",
                            Span{op_offset_, op_offset_ + 1}};
    return false;
  }

  bool integer_overflow() {
    failure_ = ParseFailure{std::string("integer overflow in `") + op_ + "`",
                            Span{op_offset_, op_offset_ + 1}};
    return false;
  }

  bool too_large() {
    failure_ = ParseFailure{"value too large", whole_};
    return false;
  }

  // A concatenation grows `text_` in place, so that a long chain of `+`
  // stays linear; the string value is made once, when something else needs
  // the accumulated value.
  bool concatenate(Value rhs) {
    if (!text_pending_ && !acc_.is(Tag::String)) {  // then the right side is a string
      text_ = concat_text(acc_);
      if (!charge(ctx_, text_.size() + rhs.as_string().size())) return too_large();
      text_.append(rhs.as_string());
      text_pending_ = true;
      return true;
    }
    if (!text_pending_) {
      text_.assign(acc_.as_string());
      text_pending_ = true;
    }
    if (rhs.is(Tag::String)) {
      if (!charge(ctx_, rhs.as_string().size())) return too_large();
      text_.append(rhs.as_string());
    } else {
      const std::string tail = concat_text(rhs);
      if (!charge(ctx_, tail.size())) return too_large();
      text_.append(tail);
    }
    return true;
  }

  void settle() {
    if (!text_pending_) return;
    acc_ = Value::string_in(text_, ctx_.arena);
    text_pending_ = false;
  }

  bool combine(Value rhs) {
    if (op_ == '+' && (text_pending_ || acc_.is(Tag::String) || rhs.is(Tag::String))) {
      return concatenate(std::move(rhs));
    }
    settle();
    if (!is_number(acc_) || !is_number(rhs)) return invalid_operands();
    if (op_ == '/') {
      if (rhs.is(Tag::Integer) && rhs.as_integer() == 0) return invalid_operands();
      acc_ = Value::floating(as_double(acc_) / as_double(rhs));
      return true;
    }
    if (acc_.is(Tag::Integer) && rhs.is(Tag::Integer)) {
      // A result outside the 64-bit range is an error, never a wrapped
      // number that silently stands for something else.
      const int64_t l = acc_.as_integer();
      const int64_t r = rhs.as_integer();
      int64_t result = 0;
      bool overflow = false;
      switch (op_) {
        case '+': overflow = __builtin_add_overflow(l, r, &result); break;
        case '-': overflow = __builtin_sub_overflow(l, r, &result); break;
        case '*': overflow = __builtin_mul_overflow(l, r, &result); break;
        default: return invalid_operands();
      }
      if (overflow) return integer_overflow();
      acc_ = Value::integer(result);
      return true;
    }
    const double l = as_double(acc_);
    const double r = as_double(rhs);
    switch (op_) {
      case '+': acc_ = Value::floating(l + r); break;
      case '-': acc_ = Value::floating(l - r); break;
      case '*': acc_ = Value::floating(l * r); break;
      default: return invalid_operands();
    }
    return true;
  }

  ValueContext& ctx_;
  Span whole_;
  size_t count_ = 0;
  Value acc_;
  std::string text_;  // the accumulated string while text_pending_
  bool text_pending_ = false;
  char op_ = 0;
  uint64_t op_offset_ = 0;
  std::optional<ParseFailure> failure_;
};

// ---- concatenations --------------------------------------------------

// Operands of a concatenation read in one walk: a `$` reference, a quoted
// string without backslashes, or a word (number or keyword).
enum class OperandKind : uint8_t { Reference, String, Word };

struct Operand {
  OperandKind kind;
  uint32_t start;  // of the operand's first byte in the expression
  uint32_t size;
};

// An expression this long at most, of this many operands at most, may take
// the one-walk path; anything longer goes through the fold.
constexpr size_t kConcatMostBytes = 1024;
constexpr size_t kConcatMostOperands = 8;

// Bytes of a reference's name and of a word: none is a quote, a blank, a
// bracket or an operator, so the operand ends where they do.
constexpr ByteTable kNameBytes = byte_table(kAsciiAlnum, "._");

// Cuts `text` into operands joined by `+` alone, each of the three kinds
// above; 0 for any other text (then nothing is written past the count).
size_t concatenation_operands(std::string_view text, Operand (&out)[kConcatMostOperands]) {
  const size_t n = text.size();
  if (n > kConcatMostBytes) return 0;
  size_t count = 0;
  size_t i = 0;
  for (;;) {
    while (i < n && is_ascii_blank(text[i])) ++i;
    if (i == n || count == kConcatMostOperands) return 0;
    const size_t from = i;
    OperandKind kind = OperandKind::Word;
    if (text[i] == '"') {
      // Closed by the first quote and holding no backslash, a string reads
      // alike under every quote rule.
      const size_t close = find_either(text, i + 1, '"', '\\');
      if (close == n || text[close] != '"') return 0;
      kind = OperandKind::String;
      i = close + 1;
    } else {
      if (text[i] == '$') {
        kind = OperandKind::Reference;
        ++i;
      }
      const size_t name = i;
      while (i < n && kNameBytes[static_cast<unsigned char>(text[i])]) ++i;
      if (i == name) return 0;
    }
    out[count++] = Operand{kind, static_cast<uint32_t>(from), static_cast<uint32_t>(i - from)};
    while (i < n && is_ascii_blank(text[i])) ++i;
    if (i == n) return count >= 2 ? count : 0;
    if (text[i] != '+') return 0;
    ++i;
  }
}

}  // namespace

std::optional<Value> evaluate_concatenation(ValueContext& ctx, std::string_view text, uint64_t offset) {
  Operand operands[kConcatMostOperands];
  const size_t count = concatenation_operands(text, operands);
  if (count == 0) return std::nullopt;

  // Each operand's text as concatenation sees it; numbers are written into
  // `digits`, long enough for any integer.
  std::string_view pieces[kConcatMostOperands];
  char digits[kConcatMostOperands][24];
  bool is_string[kConcatMostOperands];
  uint64_t copied = 0;  // what copying the referenced values is charged
  size_t total = 0;
  for (size_t k = 0; k < count; ++k) {
    const std::string_view token = text.substr(operands[k].start, operands[k].size);
    Value word;
    const Value* v = &word;
    switch (operands[k].kind) {
      case OperandKind::String:
        pieces[k] = token.substr(1, token.size() - 2);
        is_string[k] = true;
        total += pieces[k].size();
        continue;
      case OperandKind::Reference: {
        const std::string_view name = token.substr(1);
        if (name.starts_with("ENV.") || is_builtin_name(name)) return std::nullopt;
        const auto it = ctx.vars.find(name);
        if (it == ctx.vars.end()) return std::nullopt;
        v = &it->second;
        break;
      }
      case OperandKind::Word: {
        std::optional<Value> literal = parse_literal(token);
        if (!literal) return std::nullopt;
        word = std::move(*literal);
        break;
      }
    }
    is_string[k] = v->is(Tag::String);
    switch (v->tag()) {
      case Tag::String: pieces[k] = v->as_string(); break;
      case Tag::Integer: {
        const auto written = std::to_chars(digits[k], digits[k] + sizeof digits[k], v->as_integer());
        pieces[k] = std::string_view(digits[k], static_cast<size_t>(written.ptr - digits[k]));
        break;
      }
      case Tag::Bool: pieces[k] = v->as_bool() ? "true" : "false"; break;
      case Tag::Null: pieces[k] = "null"; break;
      default: return std::nullopt;  // floats, arrays and dicts: the fold
    }
    if (operands[k].kind == OperandKind::Reference) copied += sizeof(Value) + (is_string[k] ? pieces[k].size() : 0);
    total += pieces[k].size();
  }
  if (!is_string[0] && !is_string[1]) return std::nullopt;  // the first `+` adds
  // The fold charges every byte it appends, the first operand's too when
  // that is not a string; all its charges pass exactly when their sum does.
  const uint64_t charged = copied + total - (is_string[0] ? pieces[0].size() : 0);
  if (ctx.budget != nullptr && charged > ctx.budget->remaining) return std::nullopt;
  if (ctx.budget != nullptr) ctx.budget->remaining -= charged;

  for (size_t k = 0; k < count; ++k) {
    if (operands[k].kind != OperandKind::Reference) continue;
    const uint64_t start = offset + operands[k].start;
    ctx.variable_refs.push_back(VariableRef{Key(text.substr(operands[k].start + 1, operands[k].size - 1)),
                                            Span{start, start + operands[k].size}, VariableKind::Document});
  }
  char small[256];
  std::string large;
  char* out = small;
  if (total > sizeof small) {
    large.resize(total);
    out = large.data();
  }
  size_t at = 0;
  for (size_t k = 0; k < count; ++k) {
    if (!pieces[k].empty()) std::memcpy(out + at, pieces[k].data(), pieces[k].size());
    at += pieces[k].size();
  }
  return Value::string_in(std::string_view(out, total), ctx.arena);
}

void look_over_long_value(ValueContext& ctx, std::string_view text) {
  // A search per operator byte: each runs many bytes per step, where a
  // search for any of a set of bytes would take one byte at a time.
  bool operators = false;
  for (const char op : {'+', '-', '*', '/'}) {
    if (text.find(op) != std::string_view::npos) {
      operators = true;
      break;
    }
  }
  ctx.may_have_operators = operators;
  ctx.may_have_fallbacks = text.find("??") != std::string_view::npos;
}

ValueResult parse_value(ValueContext& ctx, std::string_view text, uint64_t offset) {
  // `a ?? b ?? c` is walked as a loop: each round evaluates one left side
  // and moves on to the rest only when that side is null.
  std::string_view rest = text;
  uint64_t at = offset;
  // A concatenation holds no `?`: its one walk needs no look for `??` first.
  if (std::optional<Value> joined = evaluate_concatenation(ctx, text, offset)) return std::move(*joined);
  if (!ctx.may_have_fallbacks) return evaluate_expression(ctx, rest, at);
  for (;;) {
    const auto split = find_top_level(rest, "??", index_for(ctx, rest));
    if (!split) return evaluate_expression(ctx, rest, at);
    const std::string_view left_raw = rest.substr(0, *split);
    const size_t left_lead = leading_blank(left_raw);
    ValueResult left =
        evaluate_expression(ctx, trim_end(left_raw.substr(left_lead)), at + left_lead);
    if (failed(left) || !std::get<Value>(left).is(Tag::Null)) return left;
    const std::string_view right_raw = rest.substr(*split + 2);
    const size_t right_lead = leading_blank(right_raw);
    at += *split + 2 + right_lead;
    rest = trim_end(right_raw.substr(right_lead));
  }
}

ValueResult evaluate_expression(ValueContext& ctx, std::string_view text, uint64_t offset) {
  // Without any operator byte the text is a single operand (or blank); so
  // it is when its one operator byte is a '-' opening it, which the walk
  // below would keep with the operand as its sign.
  bool may_have_operator = false;
  // Inside a nested level the index tells, from this level's own bytes,
  // that no operator stands outside its groups, without reading the groups.
  GroupIndex* groups = index_for(ctx, text);
  if (ctx.may_have_operators && (groups == nullptr || may_split(*groups, trim(text)))) {
    const size_t lead = leading_blank(text);
    for (size_t i = 0; i < text.size() && !may_have_operator; ++i) {
      const char c = text[i];
      may_have_operator = (c == '+' || c == '*' || c == '/' || c == '-') && !(c == '-' && i == lead);
    }
  }
  if (!may_have_operator) {
    const size_t lead = leading_blank(text);
    const std::string_view operand = trim_end(text.substr(lead));
    if (operand.empty()) return ParseFailure{"empty value", Span{offset, offset}};
    return parse_operand(ctx, operand, offset + lead);
  }

  if (std::optional<Value> joined = evaluate_concatenation(ctx, text, offset)) return std::move(*joined);
  return fold_expression(ctx, text, offset);
}

ValueResult fold_expression(ValueContext& ctx, std::string_view text, uint64_t offset) {
  Fold fold(ctx, text, offset);
  split_expression(text, [&](std::string_view token, size_t at, bool) {
    return fold.feed(token, offset + at);
  });
  return std::move(fold).finish(offset);
}

ValueResult resolve_variable(ValueContext& ctx, std::string_view text, uint64_t offset) {
  const std::string_view t = trim(text);
  const Span span{offset, offset + t.size()};
  const std::string_view name = t.empty() ? t : t.substr(1);

  if (name.starts_with("ENV.")) {
    const std::string_view env_name = name.substr(4);
    ctx.variable_refs.push_back(
        VariableRef{Key(env_name), span, VariableKind::Environment});
    auto found = ctx.env.get(env_name);
    return found ? Value::string(std::move(*found)) : Value::null();
  }
  if (auto builtin = builtin_value(name)) {
    ctx.variable_refs.push_back(VariableRef{Key(name), span, VariableKind::Builtin});
    return std::move(*builtin);
  }
  const auto it = ctx.vars.find(name);
  if (it == ctx.vars.end()) {
    std::string message = "undefined variable `$";
    message.append(name).push_back('`');
    return ParseFailure{std::move(message), span};
  }
  // Checked before copying: the copy must neither push the value being
  // built past the nesting limit nor outgrow the budget. Either failure
  // points at this reference.
  const Measure m = measure(it->second);
  if (ctx.depth + m.depth > kMaxValueDepth) return ParseFailure{"value nested too deeply", span};
  if (!charge(ctx, m.bytes)) return ParseFailure{"value too large", span};
  ctx.variable_refs.push_back(VariableRef{Key(name), span, VariableKind::Document});
  return Value(it->second);
}

uint64_t value_budget_for(uint64_t source_size) {
  // A file of a few kilobytes may cost some tens of MiB, never more.
  constexpr uint64_t kFloor = uint64_t{32} << 20;
  constexpr uint64_t kPerByte = 64;
  if (source_size > std::numeric_limits<uint64_t>::max() / kPerByte) {
    return std::numeric_limits<uint64_t>::max();
  }
  return std::max(kFloor, source_size * kPerByte);
}

uint64_t value_footprint(const Value& value) { return measure(value).bytes; }

}  // namespace brindle
