// The regular-expression dialect of `@pattern`, in front of the RE2 engine.
//
// RE2 accepts more than our dialect and words its errors with positions and
// with the text it was given (which includes our anchoring wrapper). The gate
// therefore scans the user's pattern first, rejects what the dialect leaves
// out with a sentence of its own, rewrites the one spelling this RE2 lacks,
// and maps every RE2 failure to a fixed sentence.
//
// Accepted: literals; escapes of punctuation, \a \f \t \n \r \v, octal \0nn,
// hex \xHH and \x{H...}; `.`; bracket classes with ranges, negation and POSIX
// names ([[:alpha:]]); \d \w \s \D \W \S (ASCII); \b \B; the anchors ^ $ \A \z;
// alternation; capturing groups, named as (?P<n>...) or (?<n>...) (the latter
// is rewritten); non-capturing groups; * + ? {n} {n,} {n,m} and their lazy
// forms; inline flags (?i) (?m) (?s) (?U), alone or scoped (?i:...).
//
// Rejected by the gate: look-around; backreferences (\1..\9, \k, \g,
// (?P=n)); Unicode property classes \p \P (also \pN); nested bracket classes
// and the class set operations && -- ~~; \C (a single byte, which breaks
// character matching); \Q...\E quoting (outside the dialect; escape the
// characters instead). Everything else RE2 does not know fails in RE2 and is
// reported through the fixed sentences.
//
// Limits: groups and bracket classes nested more than 50 deep, counted in the
// user's pattern only, and a compiled program over 10 MiB.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace re2 {
class RE2;
}

namespace brindle {

inline constexpr int kPatternMaxDepth = 50;
inline constexpr int64_t kPatternMaxMemory = 10 * 1024 * 1024;

// One compiled `@pattern`, anchored to match whole texts only.
class Pattern {
 public:
  // Never throws for bad input: a failure leaves ok() false and error() set
  // to one sentence without position.
  static Pattern compile(std::string_view source);

  Pattern(Pattern&&) noexcept;
  Pattern& operator=(Pattern&&) noexcept;
  ~Pattern();

  bool ok() const { return re_ != nullptr; }
  const std::string& error() const { return error_; }

  // True when the whole text matches; false also when compilation failed.
  bool full_match(std::string_view text) const;

  // Instructions of the compiled program, a measure of the work compiling
  // took; 0 when compilation failed.
  int64_t program_size() const;

 private:
  Pattern() = default;
  std::unique_ptr<re2::RE2> re_;
  std::string error_;
};

}  // namespace brindle
