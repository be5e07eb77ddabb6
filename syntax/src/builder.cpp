#include "builder.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>
#include <variant>

#include "annotation.h"
#include "byte_match.h"
#include "lexer.h"
#include "text.h"
#include "value_parser.h"

namespace brindle {

namespace {

static_assert(kMaxSectionDepth == static_cast<size_t>(kMaxValueDepth));

constexpr std::string_view kUndefinedVariable = "undefined variable";

// Descends from `root` along `segments`, creating missing sections and
// replacing any non-Dict value in the way by an empty Dict (the entry keeps
// its positions). Returns the entry of the last segment. With an arena the
// new Dicts' headers are made there, so that storing them moves nothing.
DictEntry& walk_sections(Dict& root, const std::vector<std::string>& segments,
                         Arena* arena = nullptr) {
  Dict* cur = &root;
  DictEntry* entry = nullptr;
  for (const std::string& segment : segments) {
    bool inserted = false;
    entry = &cur->upsert(segment, inserted);
    if (!entry->second.is(Tag::Dict)) entry->second = Value::dict_in(arena);  // the old value is lost
    cur = &entry->second.as_dict();
  }
  return *entry;
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

// Whether a segment holds a point. Only then do the annotations of a path
// keep its segments: otherwise cutting the path at every point gives them.
bool holds_point(const std::vector<std::string>& segments) {
  for (const std::string& s : segments) {
    if (s.find('.') != std::string::npos) return true;
  }
  return false;
}

// Moves the annotations waiting for an entry out of `annotations` to the
// table under the entry's path, which is only built for them (in `path`,
// reused from call to call). When a name holds a point they keep the path's
// segments (`parents` then `key`), so that they reach this entry.
void store_annotations(Document& doc, std::string_view prefix, const std::vector<std::string>& parents,
                       std::string_view key, std::vector<Annotation>& annotations, std::string& path) {
  path.assign(prefix).append(key);
  std::vector<std::string> segments;
  if (holds_point(parents) || key.find('.') != std::string_view::npos) {
    segments.reserve(parents.size() + 1);
    segments.assign(parents.begin(), parents.end());
    segments.emplace_back(key);
  }
  doc.annotations.append(path, annotations, std::move(segments));
}

// Stores `value` under `key` in `target` (the Dict of the entry's section),
// replacing an earlier value, with its spans beside it, and then the
// annotations waiting for it (see store_annotations). An earlier entry
// replaced on the spot goes to `dropped`, as one replaced when sealed does.
// Inline: it is the builder's step for every key line, and most entries
// have no annotations.
inline void store_entry(Document& doc, Dict& target, std::string_view prefix,
                        const std::vector<std::string>& parents, std::string_view key, Span key_span,
                        Span value_span, Value&& value, std::vector<Annotation>& annotations,
                        std::string& path, const Dict::DropFn& dropped) {
  Arena* const arena = doc.arena.get();
  DictEntry& e = target.append(key, arena, dropped, prefix);  // replaces an earlier one when sealed
  e.second = arena != nullptr ? Value::into_arena(std::move(value), *arena) : std::move(value);
  e.set_spans(key_span, value_span);
  if (!annotations.empty()) store_annotations(doc, prefix, parents, key, annotations, path);
}

// Where the text "[vars]" last occurs. Read backwards 64 bytes at a time
// for a `]` just after an `s`, which few places hold, fetching well ahead:
// a large source is no longer in cache when a build starts.
size_t last_vars_header(std::string_view source) {
  constexpr std::string_view kHeader = "[vars]";
  constexpr size_t kStep = 4 * kMatchWidth;
  constexpr size_t kFetchBehind = 1024;
  const char* const text = source.data();
  const auto header_ends_at = [&](size_t at) {
    return at + 1 >= kHeader.size() && source.substr(at + 1 - kHeader.size(), kHeader.size()) == kHeader;
  };
  size_t end = source.size();  // what is left to read is [0, end)
  while (end >= kStep + 1) {
    const size_t from = end - kStep;  // the `s` before each `]` is at from - 1 or later
    uint64_t hits = 0;
    for (size_t k = 0; k < 4; ++k) {
      const char* const p = text + from + k * kMatchWidth;
      hits |= uint64_t{match16(p, ']') & match16(p - 1, 's')} << (k * kMatchWidth);
    }
    while (hits != 0) {
      const size_t at = from + 63 - static_cast<size_t>(std::countl_zero(hits));
      if (header_ends_at(at)) return at + 1 - kHeader.size();
      hits &= ~(uint64_t{1} << (at - from));
    }
    end = from;
    if (end >= kFetchBehind) __builtin_prefetch(text + end - kFetchBehind);
  }
  while (end-- > 0) {
    if (text[end] == ']' && header_ends_at(end)) return end + 1 - kHeader.size();
  }
  return std::string_view::npos;
}

// The segments of a section name into `out`, as split_key_path gives them.
// A name of key bytes and points only (most are) is cut at its points into
// the strings `out` already holds, which keep their storage.
void cut_section_name(std::string_view name, std::vector<std::string>& out) {
  for (const char c : name) {
    if (c != '.' && !is_bare_key_byte(c)) {
      out = split_key_path(name);
      return;
    }
  }
  size_t count = 0;
  for (size_t from = 0;; ++count) {
    const size_t dot = name.find('.', from);
    const std::string_view piece = name.substr(from, dot == std::string_view::npos ? dot : dot - from);
    if (count < out.size()) {
      out[count].assign(piece);
    } else {
      out.emplace_back(piece);
    }
    if (dot == std::string_view::npos) break;
    from = dot + 1;
  }
  out.resize(count + 1);
}

enum class Mode { TopLevel, VarsSection, Block };

// The first pass keeps its records for the second when the last variables
// header starts within this many bytes: a few hundred lines at most.
constexpr size_t kKeepRecordsBelow = 16 * 1024;
constexpr size_t kKeepRecordsAtMost = 512;
constexpr size_t kKeepRecordsFirst = 32;

// Room the annotations waiting for a key take at their first.
constexpr size_t kAnnotationsPerKey = 4;
// Room the references of one value take at the first value that has any.
constexpr size_t kReferencesPerValue = 4;
// Source bytes between two looks at what the whole document will take.
constexpr uint64_t kForeseeEvery = 256 * 1024;
// Tables smaller than this grow as usual.
constexpr size_t kForeseenFrom = 1024;

class Builder {
 public:
  // With `errors_only`, values are evaluated (and charged) as in a build but
  // nothing is stored: only the variables and the diagnostics are made.
  Builder(std::string_view source, const EnvLookup& env, bool errors_only = false)
      : source_(source), env_(env), budget_{value_budget_for(source.size())},
        errors_only_(errors_only) {}
  // keep_dropped_ refers to a member of this object: it stays where it is.
  Builder(const Builder&) = delete;
  Builder& operator=(const Builder&) = delete;

  Document run() {
    // Stored values move into the document's arena as they are stored; the
    // source size is a fair guess at what they take.
    Arena* const arena = errors_only_ ? nullptr : &doc_.arena.make(source_.size());
    // Records are pulled from the lexer and dropped as each pass goes, so
    // memory follows what the document keeps, not the number of lines. A
    // variables header is the literal text "[vars]", so without it the
    // first pass has nothing to do, and it stops after the last one.
    const size_t last_vars = last_vars_header(source_);
    if (last_vars != std::string_view::npos) variables_pass(last_vars);
    doc_.vars.seal({}, {}, arena);
    if (!errors_only_) keep_dropped_ = Dict::DropFn(keep_replaced_);
    structure_pass();
    if (errors_only_) return std::move(doc_);
    // Key order is made once every entry is in, for what the sections did
    // not settle as they were left; the positions below a dict replaced by a
    // later entry of the same key are kept aside.
    doc_.config.seal_tree(keep_dropped_, arena);
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
    // The lexer trims the value of one line at both ends; a joined value
    // may end in the blank that stands for an empty last piece.
    std::string_view text = rec.joins.empty() ? rec.value : trim_end(rec.value);
    if (block_entry && !text.empty() && text.back() == ',') {
      text.remove_suffix(1);
      text = trim_end(text);
    }
    const std::string_view trimmed = rec.joins.empty() && !block_entry ? text : trim_start(text);
    // Most values are one literal: read without a context or the layers.
    if (std::optional<Value> literal = parse_literal(trimmed, doc_.arena.get())) return literal;
    // So are short arrays of literals, the next most common values.
    if (std::optional<Value> array = parse_literal_array(trimmed, doc_.arena.get())) return array;
    const uint64_t offset = rec.value_span.start + (text.size() - trimmed.size());

    std::vector<VariableRef>& refs = value_refs_;
    refs.clear();
    if (refs.capacity() == 0) refs.reserve(kReferencesPerValue);
    value_groups_.reset(trimmed);  // built only if the value nests deeply
    ValueContext ctx{refs, doc_.vars, env_, rec.value_span, &budget_, 0, &value_groups_};
    ctx.pieces = std::move(value_pieces_);
    ctx.arena = doc_.arena.get();  // null when nothing is stored
    look_over_value(ctx, trimmed);
    ValueResult result = parse_value(ctx, trimmed, offset);
    value_pieces_ = std::move(ctx.pieces);
    if (failed(result)) {
      ParseFailure& failure = std::get<ParseFailure>(result);
      const DiagnosticKind kind = failure.message.starts_with(kUndefinedVariable)
                                      ? DiagnosticKind::Variable
                                      : DiagnosticKind::Syntax;
      add_diagnostic(std::move(failure.message), rec.map_span(failure.span), kind);
      return std::nullopt;
    }
    for (VariableRef& ref : refs) {
      if (errors_only_) break;
      ref.span = rec.map_span(ref.span);
      doc_.variable_refs.push_back(ref);
    }
    return std::get<Value>(std::move(result));
  }

  // Charges the key path of an entry to the parse's budget: a long section
  // name repeated over many keys must not let what the document keeps about
  // its paths grow quadratically in the size of the source. (A header's own
  // path is no longer than its line and is not charged.)
  bool charge_path(std::string_view prefix, std::string_view key, Span key_span) {
    const uint64_t size = prefix.size() + key.size();
    if (!budget_.charge(2 * size)) {
      add_diagnostic("value too large", key_span, DiagnosticKind::Syntax);
      return false;
    }
    return true;
  }

  // ---- first pass ------------------------------------------------------

  // `last_vars` is where the text "[vars]" last occurs. A header's record
  // holds that text, so once a record outside a variables section ends past
  // it, no later record can be a header and the pass is over.
  void variables_pass(size_t last_vars) {
    bool in_vars = false;
    // Near the start of the source the records read here are kept for the
    // second pass, which then reads on from where this one stopped (most
    // files are small; a large one pays no memory per line for this).
    bool keep = last_vars <= kKeepRecordsBelow;
    if (keep) kept_.reserve(kKeepRecordsFirst);
    LineRecord rec;
    while (lexer_.next(rec)) {
      const bool past = !in_vars && rec.kind != LineKind::VarsHeader && rec.line_span.start > last_vars;
      if (!past) visit_for_variables(rec, in_vars);
      if (keep && kept_.size() == kKeepRecordsAtMost) {  // a long variables section
        keep = false;
        std::vector<LineRecord>().swap(kept_);
      }
      if (keep) kept_.push_back(std::move(rec));
      if (past) break;
    }
    // Otherwise the second pass reads the source again from its start.
    if (!keep) lexer_ = Lexer(source_);
  }

  // Follows whether records stand in a variables section, defining the
  // variables of those that do.
  void visit_for_variables(const LineRecord& rec, bool& in_vars) {
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

  void define_variable(const LineRecord& rec) {
    std::optional<Value> value = evaluate(rec, false);
    if (!value) return;
    bool inserted = false;
    DictEntry& e = doc_.vars.upsert(rec.key, inserted);
    e.second = std::move(*value);
    e.set_key_span(rec.key_span);
    e.set_value_span(rec.value_span);
  }

  // ---- second pass -----------------------------------------------------

  // Foresees, from what the source before `at` made, what the whole of it
  // will: the arena is told what the rest should place in it, so that it
  // backs with large pages only what will be filled, and the annotation
  // table and the reference list take room for their foreseen size rather
  // than double past it.
  [[gnu::noinline]] void foresee(uint64_t at) {
    next_foresight_ = at + kForeseeEvery;
    Arena* const arena = doc_.arena.get();
    if (arena == nullptr || at >= source_.size()) return;
    const double scale = static_cast<double>(source_.size()) / static_cast<double>(at);
    const auto whole = [scale](size_t part) { return static_cast<size_t>(static_cast<double>(part) * scale); };
    // Nothing placed yet says nothing of what will be: no hint then.
    if (arena->used() != 0) arena->expect_more(static_cast<size_t>(static_cast<double>(arena->used()) * (scale - 1)));
    AnnotationTable& table = doc_.annotations;
    if (table.size() >= kForeseenFrom) table.foresee(whole(table.size()), whole(table.path_bytes()));
    if (doc_.variable_refs.size() >= kForeseenFrom) doc_.variable_refs.foresee(whole(doc_.variable_refs.size()));
  }

  void structure_pass() {
    section_dict_ = &doc_.config;
    // One loop over the kept records, then the lexer's: a single call site
    // keeps the per-record work inline.
    size_t replayed = 0;
    LineRecord read;
    for (;;) {
      const LineRecord* rec = &read;
      if (replayed < kept_.size()) {
        rec = &kept_[replayed++];
      } else if (!lexer_.next(read)) {
        break;
      }
      if (__builtin_expect(rec->line_span.start >= next_foresight_, 0)) foresee(rec->line_span.start);
      structure_record(*rec);
    }
    std::vector<LineRecord>().swap(kept_);
    // End of input: waiting annotations are dropped. A block still open has
    // swallowed every line after its opener, sections included, so the
    // document is not what was written: that is the first thing to report.
    // Its entries are dropped too, but not the positions they recorded.
    if (!errors_only_) settle_section();
    if (mode_ == Mode::Block) {
      if (!errors_only_) keep_positions_of_dropped_block();
      doc_.diagnostics.insert(
          doc_.diagnostics.begin(),
          Diagnostic{"unclosed block: `" + std::string(block_opener_) + "` has no closing `}#`",
                     block_key_span_, false, DiagnosticKind::Syntax});
    }
  }

  void structure_record(const LineRecord& rec) {
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

  // Records the positions of every entry below `dict`, whose path is
  // `prefix` (with its point). Section paths are bounded in depth, and
  // blocks hold no positions below their own entries.
  void keep_replaced_positions(const Dict& dict, std::string& prefix) {
    for (const DictEntry& e : dict) {
      const size_t size = prefix.size();
      prefix += e.first;
      const std::optional<Span> key_span = e.key_span();
      const std::optional<Span> value_span = e.value_span();
      if (key_span || value_span) {
        Document::ReplacedSpans& kept = doc_.replaced_spans[prefix];
        if (key_span) kept.key_span = *key_span, kept.has_key_span = true;
        if (value_span) kept.value_span = *value_span, kept.has_value_span = true;
      }
      if (e.second.is(Tag::Dict)) {
        prefix += '.';
        keep_replaced_positions(e.second.as_dict(), prefix);
      }
      prefix.resize(size);
    }
  }

  // The entries of a block left open are dropped, but their positions were
  // recorded as they came and, being the last ones recorded for their paths,
  // remain what those paths report when the path names an entry of the
  // configuration (as it does when the block's key already held a dict).
  void keep_positions_of_dropped_block() {
    for (const DictEntry& dropped : block_entries_) {
      std::string path = block_prefix_;
      path += dropped.first;
      auto* e = const_cast<DictEntry*>(entry_at(doc_.config, path));
      if (e == nullptr) continue;
      e->set_key_span(*dropped.key_span());
      e->set_value_span(*dropped.value_span());
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
    std::vector<std::string>& segments = next_section_;
    cut_section_name(rec.section_name, segments);
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
    if (!errors_only_) {
      settle_section();
      // The arena's first block is sized for the whole document: the values
      // of a section take it, not its header alone (which moves there when
      // the section is left).
      Arena* const arena = doc_.arena.get();
      DictEntry& entry =
          walk_sections(doc_.config, segments, arena != nullptr && arena->block_count() > 0 ? arena : nullptr);
      entry.set_key_span(rec.name_span);
      section_entry_ = &entry;
      section_dict_ = &entry.second.as_dict();
      // Sections tend to be alike: a new one is given the room the last
      // one took, rather than growing to it by doubling.
      if (section_dict_->empty()) section_dict_->reserve(std::min(last_section_size_, kReserveAtMost));
    }
    // The new path and a point, built where it stays (and keeps its room):
    // the section being left was settled under the old one.
    prefix_.clear();
    for (const std::string& segment : segments) prefix_.append(segment).push_back('.');
    const std::string_view path(prefix_.data(), prefix_.size() - 1);
    if (!pending_.empty() && !errors_only_) {
      doc_.annotations.append(path, pending_,
                            holds_point(segments) ? segments : std::vector<std::string>{});
    }
    pending_.clear();
    section_.swap(segments);  // both keep their storage for later headers
    in_section_ = true;
  }

  // The section being left is likely complete: it is sealed now, while its
  // entries are still in cache, and it moves to the arena with its entries
  // in key order, so the heap array they grew in serves the next section.
  // Sections below it entered since it was last sealed are sealed with it:
  // a dictionary that the final seal_tree finds sealed is one it does not
  // descend into. A section written to again is sealed again (the entries
  // of each sealing precede the later ones, so the last of a key still
  // counts). The root is left alone, as every header adds to it.
  void settle_section() {
    Arena* const arena = doc_.arena.get();
    if (arena == nullptr || section_dict_ == &doc_.config) return;
    last_section_size_ = section_dict_->size();
    section_dict_->seal_tree(keep_dropped_, prefix_, arena);
    section_dict_->settle(*arena);  // a section nothing was written to too
    // A header made on the heap moves in too. Nothing has written to the
    // section's parent since its header, so its entry is still where the
    // header left it.
    Value& held = section_entry_->second;
    if (!held.in_arena()) {
      held = Value::into_arena(std::move(held), *arena);
      section_dict_ = &held.as_dict();
    }
  }

  void annotation_line(const LineRecord& rec, std::vector<Annotation>& into) {
    // A key rarely has more than a few annotations; the list keeps its room
    // from key to key.
    if (into.capacity() == 0) into.reserve(kAnnotationsPerKey);
    // The text is a view of the line from its '@', the line's first byte
    // that is not blank.
    const auto at = static_cast<uint64_t>(rec.annotation_text.data() - rec.raw.data());
    const uint64_t start = rec.line_span.start + at;
    const Span span{start, start + rec.annotation_text.size()};
    if (auto failure = parse_annotation(rec.annotation_text, span, into))
      add_diagnostic(std::move(failure->message), failure->span, DiagnosticKind::Annotation);
  }

  // What precedes a key of the current section in its path.
  std::string_view section_prefix() const {
    return in_section_ ? std::string_view(prefix_) : std::string_view();
  }

  // A key line of a section (or of the open block): stored in `target`
  // under `prefix` with the annotations waiting in `pending`, which are used
  // up either way.
  void key_value(const LineRecord& rec, Dict& target, std::string_view prefix,
                 const std::vector<std::string>& parents, std::vector<Annotation>& pending,
                 bool block_entry) {
    std::optional<Value> value = evaluate(rec, block_entry);
    if (value && charge_path(prefix, rec.key, rec.key_span) && !errors_only_) {
      store_entry(doc_, target, prefix, parents, rec.key, rec.key_span, rec.value_span,
                  std::move(*value), pending, path_, keep_dropped_);
    }
    pending.clear();
  }

  void open_block(const LineRecord& rec) {
    mode_ = Mode::Block;
    block_key_ = std::string(rec.key);
    block_key_span_ = rec.key_span;
    block_opener_ = trim(strip_comment(rec.raw));  // an opener never joins: a view of the source
    block_entries_.clear();
    block_key_annotations_.clear();
    block_key_annotations_.swap(pending_);  // both keep their capacity
    block_pending_.clear();
    block_prefix_ = section_prefix();
    block_prefix_ += block_key_;
    block_prefix_ += '.';
    block_segments_ = section_;
    block_segments_.push_back(block_key_);
  }

  void close_block() {
    if (charge_path(section_prefix(), block_key_, block_key_span_) && !errors_only_) {
      // Straight into the arena, header and entries; block_entries_ keeps
      // its heap room for the next block.
      Value block = Value::dict_in(doc_.arena.get());
      block.as_dict() = block_entries_.sealed_into(*doc_.arena.get());
      store_entry(doc_, *section_dict_, section_prefix(), section_, block_key_, block_key_span_,
                  block_key_span_, std::move(block), block_key_annotations_, path_, keep_dropped_);
    }
    block_entries_.clear();
    block_key_annotations_.clear();
    block_pending_.clear();
    mode_ = Mode::TopLevel;
  }

  // A fresh section reserves room for at most this many entries.
  static constexpr size_t kReserveAtMost = 1024;

  std::string_view source_;
  const EnvLookup& env_;
  ValueBudget budget_;
  // Scratch of the value parser, reused by every value so that its storage
  // is allocated once per parse rather than once per value.
  GroupIndex value_groups_{std::string_view{}};
  std::vector<Piece> value_pieces_;
  std::vector<VariableRef> value_refs_;
  bool errors_only_ = false;
  Document doc_;
  // The records both passes read: the first pass reads with it, the second
  // replays what the first kept and reads on with it.
  Lexer lexer_{source_};
  std::vector<LineRecord> kept_;
  uint64_t next_foresight_ = kForeseeEvery;  // source position of the next look ahead

  // Second-pass state.
  Mode mode_ = Mode::TopLevel;
  bool in_section_ = false;  // a valid header was seen
  std::vector<std::string> section_;  // its segments
  std::vector<std::string> next_section_;  // a header's segments, until it is valid
  // The Dict of the current section inside doc_.config. Entries of a section
  // only ever replace its children, and a header is the only thing that
  // replaces a non-Dict on a section path, so this stays valid until the
  // next valid header recomputes it.
  Dict* section_dict_ = nullptr;
  DictEntry* section_entry_ = nullptr;  // the entry holding it (valid as long)
  std::string prefix_;  // the section path and a point; unused at the root
  size_t last_section_size_ = 0;  // entries of the last section left
  // What sealing calls with each dropped entry: the positions below a dict
  // replaced by a later entry of its key are kept aside.
  struct KeepReplaced {
    Builder* builder;
    void operator()(std::string_view prefix, const DictEntry& dropped) const {
      if (!dropped.second.is(Tag::Dict)) return;
      std::string path(prefix);
      path += dropped.first;
      path += '.';
      builder->keep_replaced_positions(dropped.second.as_dict(), path);
    }
  };
  KeepReplaced keep_replaced_{this};
  Dict::DropFn keep_dropped_;  // refers to keep_replaced_ when documents are built
  std::vector<Annotation> pending_;
  std::string path_;  // an annotated entry's path, reused to spare allocations

  std::string block_key_;
  Span block_key_span_;
  std::string_view block_opener_;  // the opening line as written, for messages
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

std::vector<Diagnostic> build_diagnostics(std::string_view source, const EnvLookup& env) {
  return Builder(source, env, true).run().diagnostics;
}

void insert_entry(Document& doc, const std::vector<std::string>& section, const std::string& key,
                  Span key_span, Span value_span, Value value,
                  std::vector<Annotation> annotations) {
  std::string prefix = join_segments(section);
  if (!section.empty()) prefix += '.';
  Dict& target = section.empty() ? doc.config : walk_sections(doc.config, section).second.as_dict();
  std::string path;
  store_entry(doc, target, prefix, section, key, key_span, value_span, std::move(value),
              annotations, path, {});
  doc.config.seal_tree();
  doc.annotations.finish();
}

}  // namespace brindle
