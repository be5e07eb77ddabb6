// The catalogue of finding codes. Codes are stable: a code keeps its meaning
// for good, and a retired code is never reused. Families:
//   B1xx  the file does not parse (errors)
//   B2xx  a validation annotation rejects a value (errors; B210 a warning)
//   B3xx  lines the parser ignores or overrides (lints)
//   B4xx  annotations that do not do what they seem to (lints)
//   B5xx  values that parse but were probably meant differently (lints)
// Lints are warnings; strict checking turns every warning into an error.
#pragma once

#include <span>
#include <string_view>

#include "finding.h"

namespace brindle {

struct CodeInfo {
  std::string_view code;
  Severity severity;
  std::string_view name;     // short kebab-case name, e.g. "ignored-line"
  std::string_view summary;  // one line: what triggers it
  std::string_view example;  // a minimal source that triggers it
};

namespace codes {
// B1xx: parse errors.
inline constexpr CodeInfo kNotUtf8{"B100", Severity::Error, "not-utf8",
    "the file is not valid UTF-8", "port = \"\xff\""};
inline constexpr CodeInfo kBadValue{"B101", Severity::Error, "bad-value",
    "a value that is not a string, number, keyword, array, dict or expression", "k = 'text'"};
inline constexpr CodeInfo kUndefinedVariable{"B102", Severity::Error, "undefined-variable",
    "`$name` is not a variable defined above, a built-in or `$ENV.`", "k = $undefined"};
inline constexpr CodeInfo kBadAnnotation{"B103", Severity::Error, "bad-annotation",
    "an annotation line that is not `@name`, `@name: arg` or `@name(text)`", "@min 5\nk = 1"};
inline constexpr CodeInfo kBadSection{"B104", Severity::Error, "bad-section",
    "a section header with an empty segment or nested too deeply", "[a..b]"};
inline constexpr CodeInfo kTooLarge{"B105", Severity::Error, "too-large",
    "a value nested too deeply or expanding beyond what the file can hold",
    // 130 levels of arrays, two more than a value may hold.
    "k = [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["
    "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["
    "[["
    "1"
    "]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]"
    "]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]"
    "]]"};

inline constexpr CodeInfo kUnclosedBlock{"B106", Severity::Error, "unclosed-block",
    "a block never closed by `}#`", "a = #{\nb = 1"};

// B2xx: validation.
inline constexpr CodeInfo kRequiredEmpty{"B201", Severity::Error, "required-empty",
    "a `@required` value is null, \"\", [] or an empty dict", "@required\nk = \"\""};
inline constexpr CodeInfo kNonemptyEmpty{"B202", Severity::Error, "nonempty-empty",
    "a `@nonempty` value is null, \"\", [] or an empty dict", "@nonempty\nk = []"};
inline constexpr CodeInfo kWrongType{"B203", Severity::Error, "wrong-type",
    "a value that is not of its `@type`", "@type: int\nk = \"80\""};
inline constexpr CodeInfo kOutOfRange{"B204", Severity::Error, "out-of-range",
    "a number below its `@min` or above its `@max`", "@min: 1\nk = 0"};
inline constexpr CodeInfo kBadLength{"B205", Severity::Error, "bad-length",
    "a string or array shorter than `@minlen` or longer than `@maxlen`", "@maxlen: 2\nk = \"abc\""};
inline constexpr CodeInfo kNoMatch{"B206", Severity::Error, "pattern-mismatch",
    "a string that does not match its `@pattern` as a whole", "@pattern: \"[a-z]+\"\nk = \"A\""};
inline constexpr CodeInfo kBadPattern{"B207", Severity::Error, "bad-pattern",
    "a `@pattern` that is not a valid regular expression", "@pattern: \"(\"\nk = \"a\""};
inline constexpr CodeInfo kNotInEnum{"B208", Severity::Error, "not-in-enum",
    "a string that is not one of its `@enum` words", "@enum: [a, b]\nk = \"c\""};
inline constexpr CodeInfo kNotPositive{"B209", Severity::Error, "not-positive",
    "a number that breaks `@positive` (> 0) or `@nonzero`", "@positive\nk = 0"};
inline constexpr CodeInfo kDeprecated{"B210", Severity::Warning, "deprecated",
    "a key marked `@deprecated` is set", "@deprecated: use port\nold_port = 1"};
inline constexpr CodeInfo kRequiredMissing{"B211", Severity::Error, "required-missing",
    "a `@required` annotation whose key line is missing (ignored, or none follows)",
    "@required\nport: 80"};

// B3xx: lines.
inline constexpr CodeInfo kIgnoredLine{"B301", Severity::Warning, "ignored-line",
    "a line that fits no form and is ignored", "port 80"};
inline constexpr CodeInfo kColonKey{"B302", Severity::Warning, "colon-key",
    "`key: value` is ignored; keys take `=`", "level: \"debug\""};
inline constexpr CodeInfo kArrayOfTables{"B303", Severity::Warning, "array-of-tables",
    "`[[name]]` is not a header and is ignored; its keys go to the section above",
    "[[replicas]]"};
inline constexpr CodeInfo kForeignComment{"B304", Severity::Warning, "foreign-comment",
    "`;` and `//` do not start comments; the line is ignored", "; comment"};
inline constexpr CodeInfo kUnclosedHeader{"B305", Severity::Warning, "unclosed-header",
    "a header without its `]` (or with extra brackets) is ignored", "[http.tls"};
inline constexpr CodeInfo kDottedKey{"B306", Severity::Warning, "dotted-key",
    "a dotted key on the left of `=` is ignored; write it under its section header",
    "database.port = 5433"};
inline constexpr CodeInfo kBadKey{"B307", Severity::Warning, "bad-key",
    "a key with a blank or a character a bare key cannot hold is ignored",
    "log level = \"x\""};
inline constexpr CodeInfo kMissingValue{"B308", Severity::Warning, "missing-value",
    "a key with nothing after `=` is ignored", "k ="};
inline constexpr CodeInfo kDuplicateKey{"B310", Severity::Warning, "duplicate-key",
    "a key set twice, replaced by a section, or a variable defined twice; the later one wins",
    "k = 1\nk = 2"};
inline constexpr CodeInfo kNestedBlock{"B311", Severity::Warning, "nested-block",
    "a block opened inside a block; blocks do not nest, and its `}#` closes the outer one",
    "a = #{\nb = #{\nc = 1\n}#\n}#"};
inline constexpr CodeInfo kHeaderInBlock{"B312", Severity::Warning, "header-in-block",
    "a section header inside a block is ignored", "a = #{\n[b]\n}#"};
inline constexpr CodeInfo kStrayBlockClose{"B313", Severity::Warning, "stray-block-close",
    "a `}#` line with no block open is ignored", "}#"};
inline constexpr CodeInfo kVarsAfterSection{"B315", Severity::Warning, "unused-variable",
    "a variable after a section that nothing uses; it may have been meant for that section",
    "[server]\nport = 1\n[vars]\nhost = \"x\""};

// B4xx: annotations.
inline constexpr CodeInfo kUnknownAnnotation{"B401", Severity::Warning, "unknown-annotation",
    "an annotation name close to a known one (a misspelling)", "@requried\nk = 1"};
inline constexpr CodeInfo kUnknownType{"B402", Severity::Warning, "unknown-type",
    "a `@type` name the validator does not know; it accepts every value",
    "@type: boolean\nk = true"};
inline constexpr CodeInfo kBadArgument{"B403", Severity::Warning, "bad-argument",
    "an annotation argument of the wrong form for its rule; the rule checks nothing",
    "@min: \"5\"\nk = 1"};
inline constexpr CodeInfo kDanglingAnnotation{"B405", Severity::Warning, "dangling-annotation",
    "an annotation with no key after it: at the end of the file or of a block", "k = 1\n@min: 1"};
inline constexpr CodeInfo kDetachedAnnotation{"B406", Severity::Warning, "detached-annotation",
    "an annotation separated from the key it applies to by a blank or ignored line",
    "@min: 1\n\nk = 1"};
inline constexpr CodeInfo kAnnotationInVars{"B407", Severity::Warning, "annotation-in-vars",
    "an annotation in a `[vars]` section; no rule reads it", "[vars]\n@min: 1\nk = 1"};
inline constexpr CodeInfo kRuleNotApplied{"B408", Severity::Warning, "rule-not-applied",
    "a rule on a value of a kind it does not check (`@min` on a string, a section or a block)",
    "@min: 1\nk = \"5\""};
inline constexpr CodeInfo kRepeatedAnnotation{"B409", Severity::Warning, "repeated-annotation",
    "the same rule written twice on one key; only the last counts", "@min: 1\n@min: 2\nk = 5"};
inline constexpr CodeInfo kEnvUnderNumericRule{"B410", Severity::Warning, "env-not-number",
    "an `$ENV.` value under a numeric rule or type; environment values are strings",
    "@type: int\nport = $ENV.PORT ?? 80"};

// B5xx: values.
inline constexpr CodeInfo kQuoteInString{"B501", Severity::Warning, "quote-in-string",
    "a string holding an unescaped `\"` (usually a missing comma between two strings)",
    "k = [\"a\" \"b\"]"};
inline constexpr CodeInfo kTrailingOperator{"B502", Severity::Warning, "trailing-operator",
    "an expression ending in an operator or `??`; the dangling part is dropped", "k = 1 +"};
inline constexpr CodeInfo kEmptyItem{"B503", Severity::Warning, "empty-item",
    "an empty item in an array or inline dict (two commas in a row)", "k = [1, , 2]"};
inline constexpr CodeInfo kBareDate{"B504", Severity::Warning, "bare-date",
    "a date written without quotes is subtraction: `2024-01-15` is 2008", "k = 2024-01-15"};
inline constexpr CodeInfo kUnknownEnvironment{"B505", Severity::Warning, "unknown-env",
    "an unset `$ENV.` name close to one that is set (a misspelling)", "k = $ENV.HOMR ?? \"/\""};
inline constexpr CodeInfo kWindowsPath{"B506", Severity::Warning, "windows-path",
    "a Windows path in a string: its backslashes are escapes (`\\n` is a newline)",
    "k = \"C:\\new\\tools\""};

// Every code, in code order.
inline constexpr const CodeInfo* kAll[] = {
    &kNotUtf8, &kBadValue, &kUndefinedVariable, &kBadAnnotation, &kBadSection, &kTooLarge, &kUnclosedBlock,
    &kRequiredEmpty, &kNonemptyEmpty, &kWrongType, &kOutOfRange, &kBadLength, &kNoMatch,
    &kBadPattern, &kNotInEnum, &kNotPositive, &kDeprecated, &kRequiredMissing,
    &kIgnoredLine, &kColonKey, &kArrayOfTables, &kForeignComment, &kUnclosedHeader,
    &kDottedKey, &kBadKey, &kMissingValue, &kDuplicateKey, &kNestedBlock, &kHeaderInBlock,
    &kStrayBlockClose, &kVarsAfterSection,
    &kUnknownAnnotation, &kUnknownType, &kBadArgument, &kDanglingAnnotation,
    &kDetachedAnnotation, &kAnnotationInVars, &kRuleNotApplied, &kRepeatedAnnotation,
    &kEnvUnderNumericRule,
    &kQuoteInString, &kTrailingOperator, &kEmptyItem, &kBareDate, &kUnknownEnvironment,
    &kWindowsPath,
};
}  // namespace codes

inline std::span<const CodeInfo* const> all_codes() { return codes::kAll; }

// A finding of `info`'s code and default severity.
inline Finding make_finding(const CodeInfo& info, std::string message, Span span) {
  Finding f;
  f.code = info.code;
  f.severity = info.severity;
  f.message = std::move(message);
  f.span = span;
  return f;
}

}  // namespace brindle
