#include "syntax_tree.h"

#include <algorithm>

#include "annotation.h"
#include "expression_split.h"
#include "lexer.h"
#include "text.h"
#include "value_parser.h"

namespace brindle {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The builder rejects section names with an empty segment, and more
// segments than values may nest.
bool valid_section_name(std::string_view name) {
  const std::vector<std::string> segments = split_key_path(name);
  if (segments.size() > static_cast<size_t>(kMaxValueDepth)) return false;
  for (const std::string& segment : segments) {
    if (segment.empty()) return false;
  }
  return true;
}

}  // namespace

// Builds the tree from the lexer's records. Structural tokens are placed at
// their source offsets; whatever lies between them (indentation, blanks,
// comments, line ends) is filled in as trivia, so coverage is exact by
// construction. Offsets of texts the lexer leaves as views into the source
// (raw lines, single-line values, section names, annotation texts) are taken
// from the views themselves; joined values go through their pieces.
class TreeBuilder {
 public:
  explicit TreeBuilder(SyntaxTree& tree) : t_(tree), src_(tree.source_) {}

  void run() {
    open(NodeKind::Document);
    uint64_t base = 0;
    if (src_.starts_with(kBom)) {
      push_token(TokenKind::Bom, 0, kBom.size());
      base = kBom.size();
    }
    Lexer lexer(src_.substr(base));
    LineRecord rec;
    while (lexer.next(rec)) line(rec, base);
    while (open_.size() > 1) close();
    fill_to(src_.size());
    close();
    t_.starts_.push_back(src_.size());
  }

 private:
  enum class Mode { TopLevel, Block };

  // ---- tokens and nodes --------------------------------------------------

  size_t open(NodeKind kind, uint8_t flags = 0) {
    Node n;
    n.kind = kind;
    n.flags = flags;
    n.parent = open_.empty() ? 0 : static_cast<uint32_t>(open_.back());
    n.first_token = static_cast<uint32_t>(t_.kinds_.size());
    n.span = {cursor_, cursor_};
    t_.nodes_.push_back(n);
    open_.push_back(t_.nodes_.size() - 1);
    return t_.nodes_.size() - 1;
  }

  void close() {
    Node& n = t_.nodes_[open_.back()];
    n.end = static_cast<uint32_t>(t_.nodes_.size());
    n.end_token = static_cast<uint32_t>(t_.kinds_.size());
    n.span.end = cursor_;
    open_.pop_back();
  }

  void push_token(TokenKind kind, uint64_t start, uint64_t end) {
    if (end <= start) return;
    t_.starts_.push_back(start);
    t_.kinds_.push_back(kind);
    cursor_ = end;
  }

  // A structural token at [start, end); trivia first fills the gap to it.
  void token(TokenKind kind, uint64_t start, uint64_t end) {
    fill_to(start);
    push_token(kind, start, end);
  }

  // Trivia up to `to`: blanks, line ends, and from the first other byte of a
  // line to its end a comment (or text, when it does not start with '#').
  void fill_to(uint64_t to) {
    while (cursor_ < to) {
      const uint64_t at = cursor_;
      const char c = src_[at];
      if (c == '\n') {
        push_token(TokenKind::Newline, at, at + 1);
        continue;
      }
      if (c == '\r' && at + 1 < to && src_[at + 1] == '\n') {
        push_token(TokenKind::Newline, at, at + 2);
        continue;
      }
      uint64_t i = at;
      while (i < to && src_[i] != '\n' && !(src_[i] == '\r' && i + 1 < to && src_[i + 1] == '\n')) {
        const auto b = static_cast<unsigned char>(src_[i]);
        if (b < 0x80) {  // ASCII: blanks are space and tab to carriage return
          if (b != ' ' && (b < '\t' || b > '\r')) break;
          ++i;
          continue;
        }
        size_t next = i;
        if (!is_white_space(decode_utf8(src_, next))) break;
        i = std::min<uint64_t>(next, to);
      }
      if (i > at) {
        push_token(TokenKind::Whitespace, at, i);
        continue;
      }
      const size_t nl = src_.find('\n', at);
      uint64_t end = nl == std::string_view::npos || nl > to ? to : nl;
      if (end < to && end > at && src_[end - 1] == '\r') --end;
      // Trailing blanks of a comment stay with it; only the line end is cut.
      push_token(c == '#' ? TokenKind::Comment : TokenKind::Text, at, end);
    }
  }

  // End of the physical line at `end` (terminator excluded), terminator included.
  uint64_t after_terminator(uint64_t end) const {
    if (end < src_.size() && src_[end] == '\n') return end + 1;
    if (end + 1 < src_.size() && src_[end] == '\r' && src_[end + 1] == '\n') return end + 2;
    return end;
  }

  uint64_t offset_of(std::string_view view) const {
    return static_cast<uint64_t>(view.data() - src_.data());
  }

  uint64_t first_non_blank(uint64_t from, uint64_t to) const {
    const std::string_view s = src_.substr(from, to - from);
    return from + (s.size() - trim_start(s).size());
  }

  // ---- lines --------------------------------------------------------------

  void line(const LineRecord& rec, uint64_t base) {
    const uint64_t start = base + rec.line_span.start;
    const uint64_t end = base + rec.line_span.end;
    switch (rec.kind) {
      case LineKind::Section:
      case LineKind::VarsHeader:
        if (mode_ == Mode::Block) return simple_line(NodeKind::IgnoredLine, rec, end);
        return header(rec, start, end);
      case LineKind::AnnotationLine: {
        const uint64_t at = offset_of(rec.annotation_text);
        const uint64_t annotation_end = at + rec.annotation_text.size();
        const bool ok = valid_annotation(rec.annotation_text, at);
        open(NodeKind::AnnotationLine, ok ? 0 : kNodeInvalid);
        token(TokenKind::Annotation, at, annotation_end);
        fill_to(after_terminator(end));
        close();
        return;
      }
      case LineKind::BlockOpen:
        if (mode_ == Mode::Block) return simple_line(NodeKind::IgnoredLine, rec, end);
        open(NodeKind::Block);
        open(NodeKind::KeyLine, kNodeOpener);
        key_and_equals(rec, base);
        {
          const uint64_t brace = first_non_blank(cursor_, end);
          token(TokenKind::BlockOpen, brace, brace + 2);
        }
        fill_to(after_terminator(end));
        close();
        mode_ = Mode::Block;
        t_.nodes_[open_.back()].flags |= kNodeUnclosed;
        return;
      case LineKind::BlockClose:
        if (mode_ != Mode::Block) return simple_line(NodeKind::IgnoredLine, rec, end);
        open(NodeKind::BlockCloseLine);
        {
          const uint64_t at = first_non_blank(start, end);
          token(TokenKind::BlockClose, at, at + 2);
        }
        fill_to(after_terminator(end));
        close();
        t_.nodes_[open_.back()].flags &= static_cast<uint8_t>(~kNodeUnclosed);
        close();  // the block
        mode_ = Mode::TopLevel;
        return;
      case LineKind::KeyValue:
        return key_line(rec, base, end);
      case LineKind::Other:
        break;
    }
    const std::string_view code = trim(strip_comment(rec.raw));
    if (!code.empty()) return simple_line(NodeKind::IgnoredLine, rec, end);
    const bool blank = trim(rec.raw).empty();
    return simple_line(blank ? NodeKind::BlankLine : NodeKind::CommentLine, rec, end);
  }

  // A line kept whole: its code part as one Text token, the rest as trivia.
  void simple_line(NodeKind kind, const LineRecord& rec, uint64_t end) {
    open(kind);
    if (kind == NodeKind::IgnoredLine) {
      const std::string_view code = trim(strip_comment(rec.raw));
      const uint64_t at = offset_of(code);
      token(TokenKind::Text, at, at + code.size());
    }
    fill_to(after_terminator(end));
    close();
  }

  bool valid_annotation(std::string_view text, uint64_t at);

  void header(const LineRecord& rec, uint64_t start, uint64_t end) {
    // A header ends the section before it.
    while (open_.size() > 1) close();
    open(NodeKind::Section);
    const bool vars = rec.kind == LineKind::VarsHeader;
    uint8_t flags = 0;
    if (!vars && !valid_section_name(rec.section_name)) flags = kNodeInvalid;
    open(vars ? NodeKind::VarsHeader : NodeKind::SectionHeader, flags);
    const uint64_t open_at = first_non_blank(start, end);
    token(TokenKind::HeaderOpen, open_at, open_at + 1);
    uint64_t name_start = open_at + 1;
    uint64_t name_end = name_start + 4;  // "vars"
    if (!vars) {
      name_start = offset_of(rec.section_name);
      name_end = name_start + rec.section_name.size();
    }
    token(TokenKind::SectionName, name_start, name_end);
    const uint64_t close_at = first_non_blank(name_end, end);
    token(TokenKind::HeaderClose, close_at, close_at + 1);
    fill_to(after_terminator(end));
    close();
  }

  void key_and_equals(const LineRecord& rec, uint64_t base) {
    const uint64_t key_start = base + rec.key_span.start;
    const uint64_t key_end = base + rec.key_span.end;
    token(TokenKind::Key, key_start, key_end);
    const uint64_t eq = first_non_blank(key_end, base + rec.line_span.end);
    token(TokenKind::Equals, eq, eq + 1);
  }

  void key_line(const LineRecord& rec, uint64_t base, uint64_t end) {
    rec_ = &rec;
    rec_base_ = base;
    piece_ = 0;
    open(NodeKind::KeyLine, rec.joins.empty() ? 0 : kNodeJoined);
    key_and_equals(rec, base);
    // A block entry may end with one comma, which is not part of its value.
    std::string_view value = trim_end(rec.value);
    size_t comma = std::string_view::npos;
    if (mode_ == Mode::Block && !value.empty() && value.back() == ',') {
      comma = value.size() - 1;
      value = trim_end(value.substr(0, comma));
    }
    value_node(rec.value, 0, value.size(), 0);
    if (comma != std::string_view::npos) value_token(TokenKind::Comma, comma, comma + 1);
    if (!rec.joins.empty()) advance_pieces(rec.joins.size() - 1);
    fill_to(after_terminator(end));
    close();
    rec_ = nullptr;
  }

  // ---- values, in the coordinates of the record's value text -------------

  // Opens Join nodes for the line breaks up to piece `to`.
  void advance_pieces(size_t to) {
    while (piece_ < to) {
      ++piece_;
      open(NodeKind::Join);
      fill_to(rec_base_ + rec_->joins[piece_].source_start);
      close();
    }
  }

  // A token over value[a, b), cut at line breaks when the value is joined.
  void value_token(TokenKind kind, size_t a, size_t b) {
    const LineRecord& rec = *rec_;
    if (rec.joins.empty()) {
      const uint64_t at = rec_base_ + rec.value_span.start;
      token(kind, at + a, at + b);
      return;
    }
    for (size_t p = piece_; p < rec.joins.size(); ++p) {
      const JoinPiece& piece = rec.joins[p];
      const size_t lo = std::max<size_t>(a, piece.text_start);
      const size_t hi = std::min<size_t>(b, piece.text_start + piece.length);
      if (piece.text_start >= b) break;
      if (lo >= hi) continue;
      advance_pieces(p);
      const uint64_t at = rec_base_ + piece.source_start - piece.text_start;
      token(kind, at + lo, at + hi);
    }
  }

  // value[a, b) trimmed: expressions joined by `??`.
  void value_node(std::string_view v, size_t a, size_t b, int depth) {
    open(NodeKind::Value);
    for (;;) {
      const std::string_view rest = v.substr(a, b - a);
      const auto split = find_top_level(rest, "??");
      if (!split) {
        expression(v, a, b, depth);
        break;
      }
      expression(v, a, a + *split, depth);
      value_token(TokenKind::Fallback, a + *split, a + *split + 2);
      a += *split + 2;
    }
    close();
  }

  void expression(std::string_view v, size_t a, size_t b, int depth) {
    split_expression(v.substr(a, b - a), [&](std::string_view token_text, size_t at, bool op) {
      const size_t s = a + at;
      if (op) {
        value_token(TokenKind::Operator, s, s + 1);
      } else {
        operand(v, s, s + token_text.size(), depth);
      }
      return true;
    });
  }

  void operand(std::string_view v, size_t s, size_t e, int depth) {
    const std::string_view t = v.substr(s, e - s);
    const bool nest = depth < kMaxValueDepth;
    if (t.front() == '"') return value_token(TokenKind::String, s, e);
    if (t.front() == '$') return value_token(TokenKind::Variable, s, e);
    if (nest && t.size() >= 4 && t.starts_with("#{") && t.ends_with("}#")) {
      open(NodeKind::InlineDict);
      value_token(TokenKind::DictOpen, s, s + 2);
      pieces(v, s + 2, e - 2, [&](size_t ps, size_t pe) { dict_entry(v, ps, pe, depth + 1); });
      value_token(TokenKind::DictClose, e - 2, e);
      close();
      return;
    }
    if (nest && t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      open(NodeKind::Array);
      value_token(TokenKind::ArrayOpen, s, s + 1);
      pieces(v, s + 1, e - 1, [&](size_t ps, size_t pe) { value_node(v, ps, pe, depth + 1); });
      value_token(TokenKind::ArrayClose, e - 1, e);
      close();
      return;
    }
    value_token(TokenKind::Scalar, s, e);
  }

  // The non-blank pieces of value[a, b) between top-level commas, trimmed.
  template <class Each>
  void pieces(std::string_view v, size_t a, size_t b, Each each) {
    for (const Piece& piece : split_top_level(v.substr(a, b - a), a)) {
      const std::string_view body = trim(piece.text);
      const size_t ps = piece.offset + static_cast<size_t>(body.data() - piece.text.data());
      if (!body.empty()) each(ps, ps + body.size());
      const size_t comma = piece.offset + piece.text.size();
      if (comma < b) value_token(TokenKind::Comma, comma, comma + 1);
    }
  }

  void dict_entry(std::string_view v, size_t s, size_t e, int depth) {
    open(NodeKind::DictEntry);
    const std::string_view entry = v.substr(s, e - s);
    const auto eq = find_top_level(entry, "=");
    if (!eq) {
      value_token(TokenKind::Text, s, e);
    } else {
      const std::string_view key = trim(entry.substr(0, *eq));
      if (!key.empty()) {
        const size_t ks = s + static_cast<size_t>(key.data() - entry.data());
        value_token(TokenKind::DictKey, ks, ks + key.size());
      }
      value_token(TokenKind::Equals, s + *eq, s + *eq + 1);
      const std::string_view rest = trim(entry.substr(*eq + 1));
      if (!rest.empty()) {
        const size_t vs = s + static_cast<size_t>(rest.data() - entry.data());
        value_node(v, vs, vs + rest.size(), depth);
      }
    }
    close();
  }

  SyntaxTree& t_;
  std::string_view src_;
  uint64_t cursor_ = 0;
  std::vector<size_t> open_;
  Mode mode_ = Mode::TopLevel;
  const LineRecord* rec_ = nullptr;
  uint64_t rec_base_ = 0;
  size_t piece_ = 0;
};

bool TreeBuilder::valid_annotation(std::string_view text, uint64_t at) {
  return parse_annotation(text, Span{at, at + text.size()}).index() == 0;
}

SyntaxTree SyntaxTree::build(std::string_view source) {
  SyntaxTree tree;
  tree.source_.assign(source);
  if (source.size() >= kMaxTreeSource) {
    // Too large for 32-bit indices: one ignored line of one token.
    const Span all{0, source.size()};
    tree.starts_ = {0, source.size()};
    tree.kinds_ = {TokenKind::Text};
    tree.nodes_ = {Node{NodeKind::Document, 0, 0, 2, 0, 1, all},
                   Node{NodeKind::IgnoredLine, 0, 0, 2, 0, 1, all}};
    return tree;
  }
  // Typical documents have about one token per two or three bytes and one
  // node per seven; growing these arrays instead means copying them and
  // touching fresh pages again.
  tree.starts_.reserve(source.size() / 2 + 2);
  tree.kinds_.reserve(source.size() / 2 + 1);
  tree.nodes_.reserve(source.size() / 6 + 1);
  TreeBuilder(tree).run();
  return tree;
}

size_t SyntaxTree::find_token(const Node& n, TokenKind k) const {
  for (size_t i = n.first_token; i < n.end_token; ++i) {
    if (kinds_[i] == k) return i;
  }
  return n.end_token;
}

std::string SyntaxTree::print() const {
  std::string out;
  out.reserve(source_.size());
  for (size_t i = 0; i < kinds_.size(); ++i) out.append(token_text(i));
  return out;
}

std::string_view token_kind_name(TokenKind kind) {
  static constexpr std::string_view names[] = {
      "Whitespace", "Newline",    "Bom",      "Comment",   "Text",       "Key",
      "Equals",     "HeaderOpen", "SectionName", "HeaderClose", "Annotation", "BlockOpen",
      "BlockClose", "String",     "Variable", "Scalar",    "Operator",   "Fallback",
      "ArrayOpen",  "ArrayClose", "DictOpen", "DictClose", "DictKey",    "Comma"};
  return names[static_cast<size_t>(kind)];
}

std::string_view node_kind_name(NodeKind kind) {
  static constexpr std::string_view names[] = {
      "Document",   "Section",     "SectionHeader", "VarsHeader", "KeyLine",   "AnnotationLine",
      "Block",      "BlockCloseLine", "CommentLine", "BlankLine", "IgnoredLine", "Value",
      "Array",      "InlineDict",  "DictEntry",     "Join"};
  return names[static_cast<size_t>(kind)];
}

}  // namespace brindle
