// The lints: one walk over the lexer's records, in the builder's own modes
// (top level, `[vars]`, block), handing each record to the lint groups.
// Lints only read the source and the built document; they report what the
// parser accepted silently and never change what it builds.
//
//   lints.cpp              the walk, block structure (B311-B313), B315
//   lints_lines.cpp        ignored lines (B301-B308), duplicate keys (B310)
//   lints_annotations.cpp  annotations (B211, B401-B410)
//   lints_values.cpp       values (B501-B506)
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "check.h"
#include "finding.h"
#include "lexer.h"
#include "model.h"

namespace brindle {

void run_lints(std::string_view source, const Document& doc, const EnvLookup& env,
               const CheckOptions& options, std::vector<Finding>& out);

// ---- lines ---------------------------------------------------------------

// A record of kind Other with text on it: why it was ignored.
void lint_ignored_line(const LineRecord& rec, std::vector<Finding>& out);

// A key line at `path` whose entry a later line replaced; `later` is the
// key span of the entry that counts.
void lint_duplicate_key(std::string_view path, Span later, const LineRecord& rec,
                        std::vector<Finding>& out);

// The same for a variable; a later definition that uses the variable itself
// (`n = $n + 1`) builds on the earlier one and is fine.
// `builds_on_itself` names the variables whose last definition uses them.
void lint_duplicate_variable(const Document& doc, const LineRecord& rec,
                             const std::unordered_set<std::string_view, KeyHash>& builds_on_itself,
                             std::vector<Finding>& out);

// ---- annotations -----------------------------------------------------------

// What an annotation waits for: the next key, block or header in its scope.
class AnnotationLints {
 public:
  AnnotationLints(std::string_view source, const Document& doc, std::vector<Finding>& out)
      : source_(source), doc_(doc), out_(out) {}

  // An annotation line in the current scope (`in_vars`: a `[vars]` section).
  void annotation(const LineRecord& rec, bool in_vars);
  // A line between an annotation and its key: blank or ignored.
  void gap(const LineRecord& rec);
  // Whether any annotation waits for a target.
  bool waiting() const { return !waiting_.empty(); }
  // The annotations waiting apply to this key line, block key or header;
  // `path` is its key path and `value` what the configuration holds there
  // (null when nothing). `parsed` is false for a key whose value failed.
  void target(const LineRecord& rec, std::string_view path, bool parsed, const Value* value);
  // The annotations waiting are dropped: end of input, or of a block.
  void drop(std::string_view why);

 private:
  struct Waiting {
    Annotation annotation;
    size_t first_gap = 0;   // index into gaps_ of the first gap after it
    bool bad_form = false;  // already reported for its name or argument
  };
  // False when the name or the argument was reported.
  bool check_form(const Annotation& a);
  void clear();
  void check_target(const Waiting& w, const LineRecord& rec, std::string_view path,
                    const Value* value);

  std::string_view source_;
  const Document& doc_;
  std::vector<Finding>& out_;
  std::vector<Waiting> waiting_;
  // Blank or ignored lines passed while annotations wait, shared by all of
  // them so that many annotations and many gaps cost linear time.
  std::vector<Span> gaps_;
  size_t last_ignored_ = 0;  // 1 + index in gaps_ of the last ignored line; 0: none
};

// ---- values ----------------------------------------------------------------

// The value of a key line; `block_entry` allows one trailing comma.
void lint_value(const LineRecord& rec, bool block_entry, std::vector<Finding>& out);

// `$ENV.` names that are not set but close to one that is.
void lint_environment(const Document& doc, const EnvLookup& env,
                      const std::vector<std::string>& names, std::vector<Finding>& out);

}  // namespace brindle
