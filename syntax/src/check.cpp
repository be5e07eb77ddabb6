#include "check.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <optional>

#include "builder.h"
#include "codes.h"
#include "lexer.h"
#include "lints.h"
#include "suggest.h"
#include "text.h"
#include "validator.h"

namespace brindle {

namespace {

constexpr std::array<std::string_view, 9> kBuiltinNames = {
    "NOW", "TODAY", "PID", "CWD", "PLATFORM", "HOSTNAME", "TRUE", "FALSE", "NULL"};

const CodeInfo& syntax_code(std::string_view message) {
  if (message.starts_with("invalid section name") ||
      message.starts_with("section nested too deeply")) {
    return codes::kBadSection;
  }
  if (message.starts_with("value too large") || message.starts_with("value nested too deeply")) {
    return codes::kTooLarge;
  }
  if (message.starts_with("unclosed block")) return codes::kUnclosedBlock;
  return codes::kBadValue;
}

// "undefined variable `$name`" -> name
std::string_view undefined_name(std::string_view message) {
  const size_t open = message.find("`$");
  if (open == std::string_view::npos || message.size() < open + 3) return {};
  return message.substr(open + 2, message.size() - open - 3);
}

Finding parse_finding(const Document& doc, const Diagnostic& d) {
  switch (d.kind) {
    case DiagnosticKind::Variable: {
      Finding f = make_finding(codes::kUndefinedVariable, d.message, d.span);
      const std::string_view name = undefined_name(d.message);
      std::vector<std::string_view> known(kBuiltinNames.begin(), kBuiltinNames.end());
      for (const auto& [var, value] : doc.vars) known.push_back(var);
      const std::string_view best = closest_name(name, known);
      if (!best.empty()) f.suggestion = "did you mean `$" + std::string(best) + "`?";
      return f;
    }
    case DiagnosticKind::Annotation:
      return make_finding(codes::kBadAnnotation, d.message, d.span);
    default: {
      Finding f = make_finding(syntax_code(d.message), d.message, d.span);
      if (d.message.starts_with("cannot parse value: `'")) {
        f.suggestion = "strings take double quotes: \"...\"";
      }
      return f;
    }
  }
}

const CodeInfo& rule_code(std::string_view rule) {
  if (rule == "required") return codes::kRequiredEmpty;
  if (rule == "nonempty") return codes::kNonemptyEmpty;
  if (rule == "type") return codes::kWrongType;
  if (rule == "min" || rule == "max") return codes::kOutOfRange;
  if (rule == "minlen" || rule == "maxlen") return codes::kBadLength;
  if (rule == "pattern") return codes::kNoMatch;
  if (rule == "enum") return codes::kNotInEnum;
  return codes::kNotPositive;  // positive, nonzero
}

// The name of the annotation written at `span`: the bytes after '@'.
std::string_view rule_name(std::string_view source, Span span) {
  if (span.start >= source.size()) return {};
  const std::string_view text = source.substr(span.start + 1, span.end - span.start - 1);
  size_t n = 0;
  while (n < text.size() && (std::isalnum(static_cast<unsigned char>(text[n])) || text[n] == '_'))
    ++n;
  return text.substr(0, n);
}

std::string_view slice(std::string_view source, Span span) {
  if (span.start >= source.size() || span.end < span.start) return {};
  return source.substr(span.start, span.end - span.start);
}

// A key line's value span runs to the end of its last line, over a
// trailing comment and blanks; a finding underlines the value alone. Only
// the last physical line can carry what follows the value.
Span value_only(std::string_view source, Span span) {
  const std::string_view text = slice(source, span);
  const size_t last_line = text.rfind('\n') + 1;  // 0 when there is none
  const std::string_view kept = strip_comment(text.substr(last_line));
  if (kept.empty()) return span;  // nothing but a comment: keep what we have
  return Span{span.start, span.start + last_line + kept.size()};
}

// Offset of the first byte that does not start well-formed UTF-8, if any.
std::optional<uint64_t> first_invalid_byte(std::string_view source) {
  if (is_valid_utf8(source)) return std::nullopt;
  size_t i = 0;
  while (i < source.size()) {
    const size_t at = i;
    // Malformed bytes decode to U+FFFD one byte at a time; the character
    // itself takes three.
    if (decode_utf8(source, i) == 0xFFFD && i - at == 1) return at;
  }
  return std::nullopt;
}

}  // namespace

std::vector<Finding> parse_findings(const Document& doc) {
  std::vector<Finding> out;
  out.reserve(doc.diagnostics.size());
  for (const Diagnostic& d : doc.diagnostics) out.push_back(parse_finding(doc, d));
  return out;
}

std::vector<Finding> validation_findings(std::string_view source, const Document& doc,
                                         PatternCache* patterns) {
  std::vector<Finding> out;
  for (const Diagnostic& d : validate_document(doc, ValidateOptions{.patterns = patterns})) {
    const Span rule = d.rule_span.value_or(d.span);
    const std::string_view written = slice(source, rule);
    Finding f;
    if (d.kind == DiagnosticKind::Deprecation) {
      f = make_finding(codes::kDeprecated, d.message, d.span);
      f.related.push_back({"marked here: " + std::string(written), rule});
    } else if (d.kind == DiagnosticKind::Annotation) {
      f = make_finding(codes::kBadPattern, d.message, rule);
    } else {
      // The table keeps the segments the path was parsed from, which tell a
      // quoted name holding a point from a nested one.
      const auto* segments = doc.annotations.find_segments(d.path);
      const std::optional<Span> value =
          segments ? doc.value_span(*segments) : doc.value_span(d.path);
      const Span at = value ? value_only(source, *value) : d.span;
      f = make_finding(rule_code(rule_name(source, rule)), d.message, at);
      f.related.push_back({"required by " + std::string(written) + " here", rule});
    }
    f.path = d.path;
    out.push_back(std::move(f));
  }
  return out;
}

std::vector<Finding> check_document(std::string_view source, const Document& doc,
                                    const EnvLookup& env, const CheckOptions& options) {
  std::vector<Finding> out = parse_findings(doc);
  if (const auto bad = first_invalid_byte(source)) {
    out.push_back(make_finding(codes::kNotUtf8, "not valid UTF-8", Span{*bad, *bad + 1}));
  }
  std::vector<Finding> validation = validation_findings(source, doc);
  std::move(validation.begin(), validation.end(), std::back_inserter(out));
  if (options.lints) run_lints(source, doc, env, options, out);
  finish_findings(out, options.strict);
  return out;
}

std::vector<Finding> check_source(std::string_view source, const EnvLookup& env,
                                  const CheckOptions& options) {
  const Document doc = build_document(source, env);
  return check_document(source, doc, env, options);
}

void finish_findings(std::vector<Finding>& findings, bool strict) {
  std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
    return a.span.start < b.span.start;
  });
  if (!strict) return;
  for (Finding& f : findings) {
    if (f.severity == Severity::Warning) f.severity = Severity::Error;
  }
}

}  // namespace brindle
