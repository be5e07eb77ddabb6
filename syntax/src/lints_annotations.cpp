// Annotations that do not do what they seem to: misspelt names and types,
// arguments of the wrong form, annotations that attach to nothing or to a
// key other than the one they were written for, and rules that cannot apply
// to the value they sit on.
#include <array>
#include <unordered_map>
#include <string>
#include <utility>

#include "annotation.h"
#include "codes.h"
#include "lints.h"
#include "suggest.h"
#include "text.h"

namespace brindle {

namespace {

// `description` is read by the JSON Schema export.
constexpr std::array<std::string_view, 17> kKnownNames = {
    "required", "nonempty", "type",   "min",        "max",      "minlen",
    "maxlen",   "pattern",  "enum",   "positive",   "nonzero",  "deprecated",
    "internal", "readonly", "experimental", "tag", "description"};

// Names other tools use for our rules.
constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kNameAliases = {{
    {"maxlength", "maxlen"}, {"minlength", "minlen"}, {"max_length", "maxlen"},
    {"min_length", "minlen"}, {"regex", "pattern"}, {"regexp", "pattern"},
    {"choices", "enum"}, {"oneof", "enum"},
}};

constexpr std::array<std::string_view, 14> kKnownTypes = {
    "string", "int", "float", "bool", "list", "dict", "list[string]", "list[int]",
    "list[float]", "list[bool]", "url", "email", "path", "duration"};

constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kTypeAliases = {{
    {"boolean", "bool"}, {"integer", "int"}, {"str", "string"}, {"number", "float"},
    {"double", "float"}, {"array", "list"}, {"object", "dict"}, {"map", "dict"},
    {"uri", "url"}, {"text", "string"},
}};

template <size_t N>
std::string_view alias_of(std::string_view name,
                          const std::array<std::pair<std::string_view, std::string_view>, N>& table) {
  for (const auto& [from, to] : table) {
    if (from == name) return to;
  }
  return {};
}

template <class List>
bool contains(const List& list, std::string_view name) {
  for (std::string_view n : list) {
    if (n == name) return true;
  }
  return false;
}

bool is_bound_rule(std::string_view n) {
  return n == "min" || n == "max" || n == "minlen" || n == "maxlen";
}
bool is_numeric_rule(std::string_view n) {
  return n == "min" || n == "max" || n == "positive" || n == "nonzero";
}
bool is_flag_rule(std::string_view n) {
  return n == "required" || n == "nonempty" || n == "positive" || n == "nonzero";
}
// The rules the validator never applies to a dict (a section, a block).
bool skips_dicts(std::string_view n) {
  return n == "type" || is_numeric_rule(n) || n == "minlen" || n == "maxlen" || n == "pattern" ||
         n == "enum";
}

std::string at_name(std::string_view name) { return "`@" + std::string(name) + "`"; }

std::string_view kind_name(const Value& v) {
  switch (v.tag()) {
    case Tag::String: return "a string";
    case Tag::Integer: return "an integer";
    case Tag::Float: return "a float";
    case Tag::Bool: return "a boolean";
    case Tag::Null: return "null";
    case Tag::Array: return "an array";
    case Tag::Dict: return "a dict";
  }
  return "null";
}

// Whether the rule `name` can check a value of this kind.
bool applies_to(std::string_view name, const Value& v) {
  if (v.is(Tag::Dict)) return !skips_dicts(name);
  if (is_numeric_rule(name)) return v.is(Tag::Integer) || v.is(Tag::Float);
  if (name == "minlen" || name == "maxlen") return v.is(Tag::String) || v.is(Tag::Array);
  if (name == "pattern" || name == "enum") return v.is(Tag::String);
  return true;
}

}  // namespace

void AnnotationLints::annotation(const LineRecord& rec, bool in_vars) {
  // Located as the builder locates it.
  const size_t at = rec.raw.find('@');
  const uint64_t start = rec.line_span.start + (at == std::string_view::npos ? 0 : at);
  auto parsed = parse_annotation(rec.annotation_text, Span{start, start + rec.annotation_text.size()});
  auto* a = std::get_if<Annotation>(&parsed);
  if (a == nullptr) return;  // a parse error of its own
  const bool good_form = check_form(*a);
  if (in_vars) {
    Finding f = make_finding(codes::kAnnotationInVars,
                             "annotation in a `[vars]` section; no rule reads it", a->span);
    f.suggestion = "annotate the key that uses the variable instead";
    out_.push_back(std::move(f));
    return;
  }
  waiting_.push_back(Waiting{std::move(*a), gaps_.size(), !good_form});
}

bool AnnotationLints::check_form(const Annotation& a) {
  const size_t before = out_.size();
  const std::string_view name = a.name;
  const Span arg_span = a.arg_span.value_or(a.span);
  auto add = [&](const CodeInfo& code, std::string message, Span span, std::string suggestion) {
    Finding f = make_finding(code, std::move(message), span);
    f.suggestion = std::move(suggestion);
    out_.push_back(std::move(f));
  };

  if (!contains(kKnownNames, name)) {
    std::string_view best = alias_of(name, kNameAliases);
    if (best.empty()) best = closest_name(name, kKnownNames);
    if (!best.empty()) {
      add(codes::kUnknownAnnotation,
          "unknown annotation " + at_name(name) + "; it is kept as metadata and checks nothing",
          a.name_span(), "did you mean " + at_name(best) + "?");
    }
    return out_.size() == before;
  }
  const ArgKind kind = arg_kind(a.arg);
  const bool has_arg = a.arg_span.has_value();
  if (name == "type") {
    const auto* type = get_if<std::string>(&a.arg);
    if (type == nullptr) {
      add(codes::kBadArgument, "`@type` needs a type name, as in `@type: int`; it checks nothing",
          arg_span, {});
    } else if (!contains(kKnownTypes, *type)) {
      std::string_view best = alias_of(*type, kTypeAliases);
      if (best.empty()) best = closest_name(*type, kKnownTypes);
      add(codes::kUnknownType,
          "unknown type `" + *type + "`; `@type` accepts every value for it", arg_span,
          best.empty() ? std::string() : "did you mean `" + std::string(best) + "`?");
    }
  } else if (is_bound_rule(name)) {
    if (kind != ArgKind::Integer && kind != ArgKind::Float) {
      const auto* text = get_if<std::string>(&a.arg);
      add(codes::kBadArgument,
          at_name(name) + " needs a number after a colon; " +
              (text ? "`" + *text + "` is text" : std::string("this is not a number")) +
              ", so it checks nothing",
          arg_span, text ? "write `@" + std::string(name) + ": " + *text + "`" : std::string());
    }
  } else if (name == "enum") {
    if (kind != ArgKind::List) {
      const auto* text = get_if<std::string>(&a.arg);
      add(codes::kBadArgument,
          "`@enum` needs a list in brackets; without one it checks nothing", arg_span,
          text ? "write `@enum: [" + *text + "]`" : std::string("write `@enum: [a, b]`"));
    }
  } else if (name == "pattern") {
    if (kind != ArgKind::Text) {
      add(codes::kBadArgument, "`@pattern` needs a quoted regular expression; it checks nothing",
          arg_span, {});
    }
  } else if (is_flag_rule(name) && has_arg) {
    add(codes::kBadArgument, at_name(name) + " takes no argument; this one is ignored", arg_span,
        "write `@" + std::string(name) + "` alone, or remove it");
  }
  return out_.size() == before;
}

void AnnotationLints::gap(const LineRecord& rec) {
  if (waiting_.empty()) return;
  const bool blank = trim(rec.raw).empty();
  if (!blank && trim(strip_comment(rec.raw)).empty()) return;  // a comment line
  gaps_.push_back(rec.line_span);
  if (!blank) last_ignored_ = gaps_.size();
}

void AnnotationLints::target(const LineRecord& rec, std::string_view path, bool parsed,
                             const Value* value) {
  if (waiting_.empty()) return;
  if (!parsed) {
    // The builder drops them with the key; the parse error says why.
    clear();
    return;
  }
  // A key usually has a few annotations: compare them pairwise then, and
  // index them by name only when there are many.
  constexpr size_t kFew = 16;
  std::unordered_map<std::string_view, size_t, KeyHash> last;  // name -> index of its last one
  if (waiting_.size() > kFew) {
    for (size_t i = 0; i < waiting_.size(); ++i) last[waiting_[i].annotation.name] = i;
  }
  auto last_of = [&](size_t i) {
    if (waiting_.size() > kFew) return last[waiting_[i].annotation.name];
    size_t found = i;
    for (size_t j = i + 1; j < waiting_.size(); ++j) {
      if (waiting_[j].annotation.name == waiting_[i].annotation.name) found = j;
    }
    return found;
  };
  for (size_t i = 0; i < waiting_.size(); ++i) {
    const Waiting& w = waiting_[i];
    const Annotation& a = w.annotation;
    const size_t counts = last_of(i);
    if (a.name != "tag" && counts != i) {
      Finding f = make_finding(codes::kRepeatedAnnotation,
                               at_name(a.name) + " is written again below; only the last "
                                                 "one counts",
                               a.span);
      f.related.push_back({"this one counts", waiting_[counts].annotation.span});
      out_.push_back(std::move(f));
    }
    check_target(w, rec, path, value);
  }
  clear();
}

void AnnotationLints::clear() {
  waiting_.clear();
  gaps_.clear();
  last_ignored_ = 0;
}

void AnnotationLints::check_target(const Waiting& w, const LineRecord& rec,
                                   std::string_view path, const Value* value) {
  const Annotation& a = w.annotation;
  const Span target_span = rec.kind == LineKind::Section ? rec.name_span : rec.key_span;
  const bool has_gap = w.first_gap < gaps_.size();
  const bool past_ignored = last_ignored_ > w.first_gap;
  if (past_ignored && a.name == "required") {
    Finding f = make_finding(codes::kRequiredMissing,
                             "`@required` key is missing: the line after the annotation is not "
                             "a key line, so it applies to `" +
                                 std::string(path) + "` instead",
                             a.span);
    f.related.push_back({"the line it was written for is ignored", gaps_[last_ignored_ - 1]});
    f.path = std::string(path);
    out_.push_back(std::move(f));
    return;
  }
  if (has_gap) {
    Finding f = make_finding(codes::kDetachedAnnotation,
                             at_name(a.name) + " is separated from its key by " +
                                 (past_ignored ? "a line that is not a key" : "a blank line") +
                                 "; it applies to `" + std::string(path) + "`",
                             a.span);
    f.related.push_back({"it applies to this", target_span});
    f.path = std::string(path);
    out_.push_back(std::move(f));
  }
  if (value == nullptr) return;
  const bool from_env = rec.kind == LineKind::KeyValue &&
                        rec.value.find("$ENV.") != std::string_view::npos;
  const auto* type = get_if<std::string>(&a.arg);
  const bool wants_number =
      is_numeric_rule(a.name) ||
      (a.name == "type" && type && (*type == "int" || *type == "float" || *type == "bool"));
  if (from_env && wants_number && !value->is(Tag::Dict)) {
    Finding f = make_finding(codes::kEnvUnderNumericRule,
                             "environment values are strings: when the variable is set, " +
                                 at_name(a.name) + " fails or checks nothing",
                             rec.value_span);
    f.related.push_back({"the rule is here", a.span});
    f.path = std::string(path);
    out_.push_back(std::move(f));
    return;
  }
  if (w.bad_form || value->is(Tag::Null) || applies_to(a.name, *value)) return;
  const std::string_view where = rec.kind == LineKind::Section    ? "a section"
                                 : rec.kind == LineKind::BlockOpen ? "a block"
                                                                   : kind_name(*value);
  Finding f = make_finding(codes::kRuleNotApplied,
                           at_name(a.name) + " does not check " + std::string(where) +
                               "; on `" + std::string(path) + "` it checks nothing",
                           a.span);
  f.related.push_back({"the value is here", rec.kind == LineKind::KeyValue ? rec.value_span
                                                                            : target_span});
  f.path = std::string(path);
  out_.push_back(std::move(f));
}

void AnnotationLints::drop(std::string_view why) {
  for (const Waiting& w : waiting_) {
    const bool required = w.annotation.name == "required";
    Finding f = make_finding(required ? codes::kRequiredMissing : codes::kDanglingAnnotation,
                             (required ? std::string("`@required` has no key after it: ")
                                       : at_name(w.annotation.name) + " has no key after it: ") +
                                 std::string(why),
                             w.annotation.span);
    out_.push_back(std::move(f));
  }
  clear();
}

}  // namespace brindle
