#include "builder.h"

#include <optional>
#include <utility>
#include <variant>

#include "annotation.h"
#include "lexer.h"
#include "text.h"
#include "value_parser.h"

namespace brindle {

namespace {

static_assert(kMaxSectionDepth == static_cast<size_t>(kMaxValueDepth));

constexpr std::string_view kUndefinedVariable = "undefined variable";

// Descends from `root` along `segments`, creating missing sections and
// replacing any non-Dict value in the way by an empty Dict.
Dict& walk_sections(Dict& root, const std::vector<std::string>& segments) {
  Dict* cur = &root;
  for (const std::string& segment : segments) {
    auto it = cur->lower_bound(segment);
    if (it != cur->end() && it->first == segment) {
      if (it->second.is(Tag::Dict)) {
        cur = &it->second.as_dict();
        continue;
      }
      it = cur->erase(it);  // the old value is lost
    }
    cur = &cur->emplace_hint(it, segment, Value::dict({}))->second.as_dict();
  }
  return *cur;
}

std::string join_segments(const std::vector<std::string>& segments) {
  size_t size = segments.empty() ? 0 : segments.size() - 1;
  for (const std::string& s : segments) size += s.size();
  std::string path;
  path.reserve(size);
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i != 0) path += '.';
    path += segments[i];
  }
  return path;
}

// Sets `key` in `map`, replacing an earlier value, with one descent.
void put(Dict& map, std::string_view key, Value value) {
  auto it = map.lower_bound(key);
  if (it != map.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    map.emplace_hint(it, std::string(key), std::move(value));
  }
}

void set_span(SpanMap& map, std::string path, Span span) {
  auto [it, inserted] = map.try_emplace(std::move(path), span);
  if (!inserted) it->second = span;
}

// Stores `value` under `key` in `target` (the Dict of the entry's section)
// and records its spans and annotations under `path`. The annotations keep
// the path's segments (`parents` then `key`), so that they reach this entry
// even when a name holds a point.
void store_entry(Document& doc, Dict& target, std::string path,
                 const std::vector<std::string>& parents, std::string_view key, Span key_span,
                 Span value_span, Value value, std::vector<Annotation> annotations) {
  put(target, key, std::move(value));
  set_span(doc.key_spans, path, key_span);
  if (annotations.empty()) {
    set_span(doc.value_spans, std::move(path), value_span);
  } else {
    set_span(doc.value_spans, path, value_span);
    std::vector<std::string> segments;
    segments.reserve(parents.size() + 1);
    segments.assign(parents.begin(), parents.end());
    segments.emplace_back(key);
    doc.annotations.set(std::move(path), std::move(annotations), std::move(segments));
  }
}

enum class Mode { TopLevel, VarsSection, Block };

class Builder {
 public:
  Builder(std::string_view source, const EnvLookup& env)
      : source_(source), env_(env), budget_{value_budget_for(source.size())} {}

  Document run() {
    // Records are pulled from the lexer and dropped as each pass goes, so
    // memory follows what the document keeps, not the number of lines. A
    // variables header is the literal text "[vars]", so without it the
    // first pass has nothing to do.
    if (source_.find("[vars]") != std::string_view::npos) variables_pass();
    structure_pass();
    doc_.source_size = source_.size();
    // Consumers walk the annotation table in source order, so the first
    // problem they report is the first one in the file.
    doc_.annotations.sort_by_source_position();
    return std::move(doc_);
  }

 private:
  // ---- values ----------------------------------------------------------

  void add_diagnostic(std::string message, Span span, DiagnosticKind kind) {
    doc_.diagnostics.push_back(Diagnostic{std::move(message), span, false, kind});
  }

  // Evaluates the value of a KeyValue record. Block entries may end with one
  // comma. Positions are computed in the value's own coordinates (the joined
  // text) and mapped back to the source afterwards.
  std::optional<Value> evaluate(const LineRecord& rec, bool block_entry) {
    std::string_view text = trim_end(rec.value);
    if (block_entry && !text.empty() && text.back() == ',') {
      text.remove_suffix(1);
      text = trim_end(text);
    }
    const std::string_view trimmed = trim_start(text);
    const uint64_t offset = rec.value_span.start + (text.size() - trimmed.size());

    std::vector<VariableRef> refs;
    ValueContext ctx{refs, doc_.vars, env_, rec.value_span, &budget_, 0};
    ValueResult result = parse_value(ctx, trimmed, offset);
    if (failed(result)) {
      ParseFailure& failure = std::get<ParseFailure>(result);
      const DiagnosticKind kind = failure.message.starts_with(kUndefinedVariable)
                                      ? DiagnosticKind::Variable
                                      : DiagnosticKind::Syntax;
      add_diagnostic(std::move(failure.message), rec.map_span(failure.span), kind);
      return std::nullopt;
    }
    for (VariableRef& ref : refs) {
      ref.span = rec.map_span(ref.span);
      doc_.variable_refs.push_back(std::move(ref));
    }
    return std::get<Value>(std::move(result));
  }

  // A key path repeats its section's name, once in each span table, so its
  // bytes are charged to the parse's budget before it is built: a long
  // section name over many keys must not grow the tables quadratically in
  // the size of the source. (A header's own path is no longer than its line
  // and is not charged.)
  std::optional<std::string> charged_path(std::string_view prefix, std::string_view key,
                                          Span key_span) {
    const uint64_t size = prefix.size() + key.size();
    if (!budget_.charge(2 * size)) {
      add_diagnostic("value too large", key_span, DiagnosticKind::Syntax);
      return std::nullopt;
    }
    std::string path;
    path.reserve(size);
    path += prefix;
    path += key;
    return path;
  }

  // ---- first pass ------------------------------------------------------

  void variables_pass() {
    bool in_vars = false;
    Lexer lexer(source_);
    LineRecord rec;
    while (lexer.next(rec)) {
      switch (rec.kind) {
        case LineKind::Section:
          in_vars = false;
          break;
        case LineKind::VarsHeader:
          in_vars = true;
          break;
        case LineKind::KeyValue:
          if (in_vars) define_variable(rec);
          break;
        default:
          break;
      }
    }
  }

  void define_variable(const LineRecord& rec) {
    std::optional<Value> value = evaluate(rec, false);
    if (!value) return;
    set_span(doc_.var_key_spans, std::string(rec.key), rec.key_span);
    set_span(doc_.var_value_spans, std::string(rec.key), rec.value_span);
    put(doc_.vars, rec.key, std::move(*value));
  }

  // ---- second pass -----------------------------------------------------

  void structure_pass() {
    section_dict_ = &doc_.config;
    Lexer lexer(source_);
    LineRecord rec;
    while (lexer.next(rec)) {
      switch (mode_) {
        case Mode::TopLevel:
          top_level(rec);
          break;
        case Mode::VarsSection:
          if (rec.kind == LineKind::Section) {
            section_header(rec);
            mode_ = Mode::TopLevel;
          }
          break;
        case Mode::Block:
          in_block(rec);
          break;
      }
    }
    // End of input: waiting annotations are dropped. A block still open has
    // swallowed every line after its opener, sections included, so the
    // document is not what was written: that is the first thing to report.
    if (mode_ == Mode::Block) {
      doc_.diagnostics.insert(
          doc_.diagnostics.begin(),
          Diagnostic{"unclosed block: `" + block_opener_ + "` has no closing `}#`",
                     block_key_span_, false, DiagnosticKind::Syntax});
    }
  }

  void top_level(const LineRecord& rec) {
    switch (rec.kind) {
      case LineKind::VarsHeader:
        mode_ = Mode::VarsSection;
        break;
      case LineKind::Section:
        section_header(rec);
        break;
      case LineKind::AnnotationLine:
        annotation_line(rec, pending_);
        break;
      case LineKind::KeyValue:
        key_value(rec, *section_dict_, section_prefix(), section_, pending_, false);
        break;
      case LineKind::BlockOpen:
        open_block(rec);
        break;
      case LineKind::Other:
      case LineKind::BlockClose:
        break;
    }
  }

  void in_block(const LineRecord& rec) {
    switch (rec.kind) {
      case LineKind::AnnotationLine:
        annotation_line(rec, block_pending_);
        break;
      case LineKind::KeyValue:
        key_value(rec, block_entries_, block_prefix_, block_segments_, block_pending_, true);
        break;
      case LineKind::BlockClose:
        close_block();
        break;
      default:
        break;  // blocks do not nest; headers inside a block are ignored
    }
  }

  void section_header(const LineRecord& rec) {
    std::vector<std::string> segments = split_key_path(rec.section_name);
    for (const std::string& segment : segments) {
      if (segment.empty()) {
        add_diagnostic("invalid section name: `" + std::string(rec.section_name) + "`",
                       rec.name_span, DiagnosticKind::Syntax);
        return;
      }
    }
    if (segments.size() > kMaxSectionDepth) {
      add_diagnostic("section nested too deeply: `" + std::string(rec.section_name) + "`",
                     rec.name_span, DiagnosticKind::Syntax);
      return;
    }
    std::string path = join_segments(segments);
    section_dict_ = &walk_sections(doc_.config, segments);
    if (!pending_.empty()) {
      doc_.annotations.set(path, std::move(pending_), segments);
      pending_.clear();
    }
    prefix_ = path;
    prefix_ += '.';
    set_span(doc_.key_spans, std::move(path), rec.name_span);
    section_ = std::move(segments);
  }

  void annotation_line(const LineRecord& rec, std::vector<Annotation>& into) {
    const size_t at = rec.raw.find('@');
    const uint64_t start = rec.line_span.start + (at == std::string_view::npos ? 0 : at);
    const Span span{start, start + rec.annotation_text.size()};
    auto result = parse_annotation(rec.annotation_text, span);
    if (auto* annotation = std::get_if<Annotation>(&result)) {
      into.push_back(std::move(*annotation));
      return;
    }
    ParseFailure& failure = std::get<ParseFailure>(result);
    add_diagnostic(std::move(failure.message), failure.span, DiagnosticKind::Annotation);
  }

  // What precedes a key of the current section in its path.
  std::string_view section_prefix() const {
    return section_.empty() ? std::string_view() : std::string_view(prefix_);
  }

  // A key line of a section (or of the open block): stored in `target`
  // under `prefix` with the annotations waiting in `pending`, which are used
  // up either way.
  void key_value(const LineRecord& rec, Dict& target, std::string_view prefix,
                 const std::vector<std::string>& parents, std::vector<Annotation>& pending,
                 bool block_entry) {
    std::optional<Value> value = evaluate(rec, block_entry);
    std::optional<std::string> path;
    if (value) path = charged_path(prefix, rec.key, rec.key_span);
    if (path) {
      store_entry(doc_, target, std::move(*path), parents, rec.key, rec.key_span, rec.value_span,
                  std::move(*value), std::move(pending));
    }
    pending.clear();
  }

  void open_block(const LineRecord& rec) {
    mode_ = Mode::Block;
    block_key_ = std::string(rec.key);
    block_key_span_ = rec.key_span;
    block_opener_ = std::string(trim(strip_comment(rec.raw)));
    block_entries_.clear();
    block_key_annotations_ = std::move(pending_);
    pending_.clear();
    block_pending_.clear();
    block_prefix_ = section_prefix();
    block_prefix_ += block_key_;
    block_prefix_ += '.';
    block_segments_ = section_;
    block_segments_.push_back(block_key_);
  }

  void close_block() {
    if (auto path = charged_path(section_prefix(), block_key_, block_key_span_)) {
      Value entries = Value::dict({});
      entries.as_dict().swap(block_entries_);
      store_entry(doc_, *section_dict_, std::move(*path), section_, block_key_, block_key_span_,
                  block_key_span_, std::move(entries), std::move(block_key_annotations_));
    }
    block_entries_.clear();
    block_key_annotations_.clear();
    block_pending_.clear();
    mode_ = Mode::TopLevel;
  }

  std::string_view source_;
  const EnvLookup& env_;
  ValueBudget budget_;
  Document doc_;

  // Second-pass state.
  Mode mode_ = Mode::TopLevel;
  std::vector<std::string> section_;
  // The Dict of the current section inside doc_.config. Entries of a section
  // only ever replace its children, and a header is the only thing that
  // replaces a non-Dict on a section path, so this stays valid until the
  // next valid header recomputes it.
  Dict* section_dict_ = nullptr;
  std::string prefix_;  // the section path and a point; unused at the root
  std::vector<Annotation> pending_;

  std::string block_key_;
  Span block_key_span_;
  std::string block_opener_;  // the opening line as written, for messages
  std::string block_prefix_;  // path of the block key and a point
  std::vector<std::string> block_segments_;  // segments of the block key's path
  Dict block_entries_;
  std::vector<Annotation> block_key_annotations_;
  std::vector<Annotation> block_pending_;
};

}  // namespace

Document build_document(std::string_view source, const EnvLookup& env) {
  return Builder(source, env).run();
}

void insert_entry(Document& doc, const std::vector<std::string>& section, const std::string& key,
                  Span key_span, Span value_span, Value value,
                  std::vector<Annotation> annotations) {
  std::string path = join_segments(section);
  if (!section.empty()) path += '.';
  path += key;
  Dict& target = walk_sections(doc.config, section);
  store_entry(doc, target, std::move(path), section, key, key_span, value_span, std::move(value),
              std::move(annotations));
}

}  // namespace brindle
