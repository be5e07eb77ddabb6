#include "pattern_gate.h"

#include <re2/re2.h>

#include <array>
#include <optional>
#include <utility>

namespace brindle {
namespace {

constexpr std::string_view kLookAround = "look-around is not supported";
constexpr std::string_view kBackreference = "backreferences are not supported";
constexpr std::string_view kProperty = "Unicode property classes are not supported";
constexpr std::string_view kAnyByte = "the escape \\C is not supported";
constexpr std::string_view kQuoting = "quoting with \\Q...\\E is not supported";
constexpr std::string_view kNestedClass = "nested character classes are not supported";
constexpr std::string_view kSetOperation =
    "set operations inside character classes are not supported";
constexpr std::string_view kPosixName = "unknown POSIX class name in character class";
constexpr std::string_view kTooDeep = "pattern is nested more than 50 levels deep";
constexpr std::string_view kTrailingBackslash = "found trailing backslash at end of pattern";
constexpr std::string_view kOpenGroup = "found open group without closing ')'";
constexpr std::string_view kUnmatchedParen = "found unmatched ')'";
constexpr std::string_view kOpenClass = "found open character class without closing ']'";

// The POSIX names this RE2 knows; each may also be negated as [:^name:].
constexpr std::array<std::string_view, 14> kPosixNames = {
    "alnum", "alpha", "ascii", "blank", "cntrl", "digit",  "graph",
    "lower", "print", "punct", "space", "upper", "word",   "xdigit"};

bool starts_with(std::string_view s, size_t i, std::string_view prefix) {
  return s.size() - i >= prefix.size() && s.compare(i, prefix.size(), prefix) == 0;
}

// What an escape letter means to the gate, outside and inside classes alike.
std::optional<std::string_view> excluded_escape(char e) {
  switch (e) {
    case '1': case '2': case '3': case '4': case '5':
    case '6': case '7': case '8': case '9':
    case 'k': case 'g':
      return kBackreference;
    case 'p': case 'P':
      return kProperty;
    case 'C':
      return kAnyByte;
    case 'Q': case 'E':
      return kQuoting;
    default:
      return std::nullopt;
  }
}

// Scans the bracket class that starts at p[i] == '['. On success sets `end`
// to the index just past its closing ']'.
std::optional<std::string_view> scan_class(std::string_view p, size_t i, size_t& end) {
  size_t j = i + 1;
  if (j < p.size() && p[j] == '^') ++j;
  if (j < p.size() && p[j] == ']') ++j;  // a leading ']' is a literal
  while (j < p.size()) {
    char c = p[j];
    if (c == ']') {
      end = j + 1;
      return std::nullopt;
    }
    if (c == '\\') {
      if (j + 1 >= p.size()) return kTrailingBackslash;
      if (auto why = excluded_escape(p[j + 1])) return why;
      j += 2;
      continue;
    }
    if (c == '[') {
      if (!starts_with(p, j, "[:")) return kNestedClass;
      size_t close = p.find(":]", j + 2);
      if (close == std::string_view::npos) return kNestedClass;
      std::string_view name = p.substr(j + 2, close - (j + 2));
      if (!name.empty() && name.front() == '^') name.remove_prefix(1);
      bool known = false;
      for (auto n : kPosixNames) known = known || n == name;
      if (!known) return kPosixName;
      j = close + 2;
      continue;
    }
    if ((c == '&' || c == '-' || c == '~') && j + 1 < p.size() && p[j + 1] == c) {
      return kSetOperation;
    }
    ++j;
  }
  return kOpenClass;
}

// Checks the user's pattern against the dialect and writes the form handed
// to RE2 into `out`. The pattern that passes is self-contained (balanced
// groups, closed classes, no trailing backslash), so wrapping it cannot
// change how any piece of it parses.
std::optional<std::string_view> gate(std::string_view p, std::string& out) {
  out.reserve(p.size() + 8);
  int depth = 0;
  size_t i = 0;
  while (i < p.size()) {
    char c = p[i];
    if (c == '\\') {
      if (i + 1 >= p.size()) return kTrailingBackslash;
      if (auto why = excluded_escape(p[i + 1])) return why;
      out.append(p.substr(i, 2));
      i += 2;
      continue;
    }
    if (c == '(') {
      if (starts_with(p, i, "(?=") || starts_with(p, i, "(?!") || starts_with(p, i, "(?<=") ||
          starts_with(p, i, "(?<!")) {
        return kLookAround;
      }
      if (starts_with(p, i, "(?P=")) return kBackreference;
      if (++depth > kPatternMaxDepth) return kTooDeep;
      if (starts_with(p, i, "(?<")) {
        // This RE2 only knows the (?P<name>...) spelling.
        out.append("(?P<");
        i += 3;
      } else {
        out.push_back('(');
        ++i;
      }
      continue;
    }
    if (c == ')') {
      if (depth == 0) return kUnmatchedParen;
      --depth;
      out.push_back(')');
      ++i;
      continue;
    }
    if (c == '[') {
      if (depth + 1 > kPatternMaxDepth) return kTooDeep;
      size_t end = i;
      if (auto why = scan_class(p, i, end)) return why;
      out.append(p.substr(i, end - i));
      i = end;
      continue;
    }
    out.push_back(c);
    ++i;
  }
  if (depth > 0) return kOpenGroup;
  return std::nullopt;
}

// RE2's own error texts carry positions and fragments of the wrapped
// pattern, so only the code is used.
std::string_view sentence_for(RE2::ErrorCode code) {
  switch (code) {
    case RE2::ErrorBadEscape: return "invalid escape sequence";
    case RE2::ErrorBadCharClass: return "invalid character class";
    case RE2::ErrorBadCharRange: return "invalid character class range";
    case RE2::ErrorMissingBracket: return kOpenClass;
    case RE2::ErrorMissingParen: return kOpenGroup;
    case RE2::ErrorUnexpectedParen: return kUnmatchedParen;
    case RE2::ErrorTrailingBackslash: return kTrailingBackslash;
    case RE2::ErrorRepeatArgument: return "found repetition operator without anything to repeat";
    case RE2::ErrorRepeatSize: return "repetition count is invalid or larger than 1000";
    case RE2::ErrorRepeatOp: return "invalid repetition operator";
    case RE2::ErrorBadPerlOp: return "invalid or unsupported group syntax";
    case RE2::ErrorBadUTF8: return "invalid UTF-8 in pattern";
    case RE2::ErrorBadNamedCapture: return "invalid capture group name";
    case RE2::ErrorPatternTooLarge: return "pattern is too large: its compiled form exceeds 10 MiB";
    default: return "invalid regular expression";
  }
}

}  // namespace

Pattern::Pattern(Pattern&&) noexcept = default;
Pattern& Pattern::operator=(Pattern&&) noexcept = default;
Pattern::~Pattern() = default;

Pattern Pattern::compile(std::string_view source) {
  Pattern result;
  std::string body;
  if (auto why = gate(source, body)) {
    result.error_ = std::string(*why);
    return result;
  }
  RE2::Options options;
  options.set_encoding(RE2::Options::EncodingUTF8);
  options.set_log_errors(false);
  options.set_max_mem(kPatternMaxMemory);
  options.set_posix_syntax(false);  // Perl classes, \b, non-greedy, inline flags
  options.set_longest_match(false);
  options.set_dot_nl(false);
  options.set_never_nl(false);
  options.set_case_sensitive(true);
  std::string anchored;
  anchored.reserve(body.size() + 6);
  anchored.append("^(?:").append(body).append(")$");
  auto re = std::make_unique<RE2>(anchored, options);
  if (!re->ok()) {
    result.error_ = std::string(sentence_for(re->error_code()));
    return result;
  }
  result.re_ = std::move(re);
  return result;
}

bool Pattern::full_match(std::string_view text) const {
  if (!re_) return false;
  return RE2::FullMatch(re2::StringPiece(text.data(), text.size()), *re_);
}

int64_t Pattern::program_size() const { return re_ ? re_->ProgramSize() : 0; }

}  // namespace brindle
