#include "lints.h"

#include <algorithm>
#include <unordered_set>

#include "codes.h"
#include "lint_scope.h"
#include "text.h"
#include "value_parser.h"

namespace brindle {

namespace {

enum class Mode { TopLevel, Vars, Block };

// The walk. It follows the builder's structure pass record by record, so
// that every lint sees a line in the scope the builder gave it.
class LintWalk {
 public:
  LintWalk(std::string_view source, const Document& doc, std::vector<Finding>& out)
      : source_(source), doc_(doc), out_(out), annotations_(source, doc, out) {
    for (const Diagnostic& d : doc.diagnostics) failed_.push_back(d.span.start);
    std::sort(failed_.begin(), failed_.end());
    for (const VariableRefView ref : doc.variable_refs) {
      if (ref.kind != VariableKind::Document) continue;
      const std::optional<Span> value = doc.var_value_span(ref.name);
      if (value && ref.span.start >= value->start && ref.span.end <= value->end) {
        builds_on_itself_.insert(ref.name);
      }
    }
  }

  void run() {
    Lexer lexer(source_);
    LineRecord rec;
    while (lexer.next(rec)) {
      switch (mode_) {
        case Mode::TopLevel: top_level(rec); break;
        case Mode::Vars: in_vars(rec); break;
        case Mode::Block: in_block(rec); break;
      }
    }
    // A block left open is a parse error of its own.
    annotations_.drop(mode_ == Mode::Block ? "the block is never closed"
                                           : "nothing follows it in the file");
    unused_variables();
  }

 private:
  // True when the builder reported a problem inside this record's lines.
  bool failed(const LineRecord& rec) const {
    auto it = std::lower_bound(failed_.begin(), failed_.end(), rec.line_span.start);
    return it != failed_.end() && *it <= rec.line_span.end;
  }

  void other_line(const LineRecord& rec) {
    if (!trim(strip_comment(rec.raw)).empty()) lint_ignored_line(rec, out_);
    annotations_.gap(rec);
  }

  void top_level(const LineRecord& rec) {
    switch (rec.kind) {
      case LineKind::VarsHeader:
        // The builder keeps annotations waiting across a variables section.
        annotations_.gap(rec);
        mode_ = Mode::Vars;
        vars_after_section_ = section_seen_;
        break;
      case LineKind::Section:
        header(rec);
        break;
      case LineKind::AnnotationLine:
        annotations_.annotation(rec, false);
        break;
      case LineKind::KeyValue:
        key_line(rec, section_, false);
        break;
      case LineKind::BlockOpen: {
        const DictEntry* entry = section_.find_line(rec.key, rec.key_span.start);
        duplicate_key(rec, section_, entry);
        if (annotations_.waiting()) {
          annotations_.target(rec, path_of(section_, rec.key), true, value_of(entry));
        }
        mode_ = Mode::Block;
        block_key_ = std::string(rec.key);
        block_open_ = rec.key_span;
        block_.enter(section_, rec.key, entry);
        break;
      }
      case LineKind::BlockClose:
        out_.push_back(make_finding(codes::kStrayBlockClose,
                                    "`}#` with no block open is ignored", rec.line_span));
        annotations_.gap(rec);
        break;
      case LineKind::Other:
        other_line(rec);
        break;
    }
  }

  void in_vars(const LineRecord& rec) {
    switch (rec.kind) {
      case LineKind::Section:
        header(rec);
        mode_ = Mode::TopLevel;
        break;
      case LineKind::AnnotationLine:
        annotations_.annotation(rec, true);
        break;
      case LineKind::KeyValue:
        if (!failed(rec)) {
          lint_value(rec, false, out_);
          lint_duplicate_variable(doc_, rec, builds_on_itself_, out_);
        }
        if (vars_after_section_) {
          late_vars_.push_back(rec.key_span);
          late_var_names_.emplace_back(rec.key);
        }
        break;
      case LineKind::Other:
        if (!trim(strip_comment(rec.raw)).empty()) lint_ignored_line(rec, out_);
        break;
      default:
        break;
    }
  }

  void in_block(const LineRecord& rec) {
    switch (rec.kind) {
      case LineKind::AnnotationLine:
        annotations_.annotation(rec, false);
        break;
      case LineKind::KeyValue:
        key_line(rec, block_, true);
        break;
      case LineKind::BlockClose:
        annotations_.drop("the block closes right after it");
        mode_ = Mode::TopLevel;
        break;
      case LineKind::BlockOpen: {
        Finding f = make_finding(codes::kNestedBlock,
                                 "blocks do not nest: `" + std::string(rec.key) +
                                     " = #{` is ignored, and the next `}#` closes `" +
                                     block_key_ + "`",
                                 rec.line_span);
        f.related.push_back({"the open block starts here", block_open_});
        out_.push_back(std::move(f));
        break;
      }
      case LineKind::Section:
      case LineKind::VarsHeader: {
        Finding f = make_finding(codes::kHeaderInBlock,
                                 "a section header inside a block is ignored", rec.line_span);
        f.related.push_back({"the open block starts here", block_open_});
        f.suggestion = "close the block with `}#` first";
        out_.push_back(std::move(f));
        break;
      }
      case LineKind::Other:
        other_line(rec);
        break;
    }
  }

  void header(const LineRecord& rec) {
    std::vector<std::string> segments = split_key_path(rec.section_name);
    const bool valid = std::none_of(segments.begin(), segments.end(),
                                    [](const std::string& s) { return s.empty(); });
    // Reported by the builder, which keeps the current section.
    if (!valid || segments.size() > static_cast<size_t>(kMaxValueDepth)) return;
    const DictEntry* entry = section_.enter(doc_.config, segments);
    section_seen_ = true;
    if (annotations_.waiting()) {
      const std::string_view path = section_.path();
      annotations_.target(rec, path.substr(0, path.size() - 1), true, value_of(entry));
    }
  }

  static const Value* value_of(const DictEntry* entry) {
    return entry != nullptr ? &entry->second : nullptr;
  }

  // The dotted path of `key` in `scope`, for messages; built only when one
  // is needed.
  std::string_view path_of(const LintScope& scope, std::string_view key) {
    path_.assign(scope.path()).append(key);
    return path_;
  }

  // Reports a key line whose entry a later line replaced: the entry its
  // segments reach carries the later key's span.
  void duplicate_key(const LineRecord& rec, const LintScope& scope, const DictEntry* entry) {
    std::optional<Span> later = entry != nullptr ? entry->key_span() : std::nullopt;
    if (!later) {
      // No entry, or none with a position (a dict replaced further up): the
      // positions the builder kept aside for the path, if any.
      const auto it = doc_.replaced_spans.find(std::string(path_of(scope, rec.key)));
      if (it != doc_.replaced_spans.end() && it->second.has_key_span) later = it->second.key_span;
    }
    if (!later || later->start <= rec.key_span.start) return;
    lint_duplicate_key(path_of(scope, rec.key), *later, rec, out_);
  }

  void key_line(const LineRecord& rec, LintScope& scope, bool block_entry) {
    const bool parsed = !failed(rec);
    const DictEntry* entry = nullptr;
    if (parsed) {
      lint_value(rec, block_entry, out_);
      entry = scope.find_line(rec.key, rec.key_span.start);
      duplicate_key(rec, scope, entry);
    }
    if (annotations_.waiting()) {
      annotations_.target(rec, path_of(scope, rec.key), parsed, value_of(entry));
    }
  }

  // Keys of a `[vars]` section that comes after another section, which no
  // `$name` uses: probably meant for that section (variables are not part
  // of the configuration).
  void unused_variables() {
    if (late_var_names_.empty()) return;
    std::unordered_set<std::string_view, KeyHash> used;
    for (const VariableRefView ref : doc_.variable_refs) {
      if (ref.kind == VariableKind::Document) used.insert(ref.name);
    }
    for (size_t i = 0; i < late_var_names_.size(); ++i) {
      if (used.contains(late_var_names_[i])) continue;
      Finding f = make_finding(codes::kVarsAfterSection,
                               "variable `" + late_var_names_[i] +
                                   "` is never used; keys after `[vars]` are variables, not "
                                   "part of the configuration",
                               late_vars_[i]);
      f.suggestion = "move it above `[vars]`, under its section";
      out_.push_back(std::move(f));
    }
  }

  std::string_view source_;
  const Document& doc_;
  std::vector<Finding>& out_;
  AnnotationLints annotations_;
  std::vector<uint64_t> failed_;
  std::unordered_set<std::string_view, KeyHash> builds_on_itself_;

  Mode mode_ = Mode::TopLevel;
  bool section_seen_ = false;
  LintScope section_{&doc_.config};
  std::string path_;  // reused for every message that names a key

  std::string block_key_;
  Span block_open_;
  LintScope block_;

  bool vars_after_section_ = false;
  std::vector<Span> late_vars_;
  std::vector<std::string> late_var_names_;
};

}  // namespace

void run_lints(std::string_view source, const Document& doc, const EnvLookup& env,
               const CheckOptions& options, std::vector<Finding>& out) {
  LintWalk(source, doc, out).run();
  lint_environment(doc, env, options.environment_names, out);
}

}  // namespace brindle
