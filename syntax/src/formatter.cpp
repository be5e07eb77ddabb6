#include "formatter.h"

#include <algorithm>
#include <variant>
#include <vector>

#include "annotation.h"
#include "builder.h"
#include "lexer.h"
#include "syntax_tree.h"
#include "text.h"

namespace brindle {

namespace {

constexpr size_t kIndent = 4;
// Lines of a joined value are indented by open brackets up to this depth.
constexpr int64_t kMaxIndentLevels = 16;

// One physical line of a node: where its code (everything but blanks and
// the comment) starts and ends, and its comment.
struct PhysicalLine {
  uint64_t start = 0;
  uint64_t end = 0;  // line end, terminator excluded
  uint64_t code_start = 0;
  uint64_t code_end = 0;
  bool has_code = false;
  std::string_view comment;
  size_t first_token = 0;
};

bool is_trivia(TokenKind k) {
  return k == TokenKind::Whitespace || k == TokenKind::Newline || k == TokenKind::Comment;
}

// Fills `lines` (cleared first) with the physical lines of a node.
void physical_lines(const SyntaxTree& t, const Node& n, std::vector<PhysicalLine>& lines) {
  lines.clear();
  PhysicalLine cur;
  cur.start = n.span.start;
  cur.first_token = n.first_token;
  bool open = false;
  for (size_t i = n.first_token; i < n.end_token; ++i) {
    const TokenKind k = t.token_kind(i);
    const Span s = t.token_span(i);
    if (!open) {
      cur = PhysicalLine{};
      cur.start = s.start;
      cur.first_token = i;
      open = true;
    }
    if (k == TokenKind::Newline) {
      cur.end = s.start;
      lines.push_back(cur);
      open = false;
      continue;
    }
    cur.end = s.end;
    if (k == TokenKind::Comment) {
      cur.comment = trim_end(t.token_text(i));
    } else if (!is_trivia(k)) {
      if (!cur.has_code) cur.code_start = s.start;
      cur.code_end = s.end;
      cur.has_code = true;
    }
  }
  if (open) lines.push_back(cur);
}

enum class LineClass { Blank, Comment, Annotation, Header, Opener, Other };

class Formatter {
 public:
  explicit Formatter(const SyntaxTree& t) : t_(t), src_(t.source()) {
    buf_.reserve(src_.size() + src_.size() / 8 + 16);
  }

  std::string run() {
    for (size_t c = 1; c < t_.node(0).end; c = t_.node(c).end) top_node(c);
    while (!out_.empty() && out_.back().cls == LineClass::Blank) out_.pop_back();
    keep_invalid_key_lines();
    std::string_view eol = "\n";
    for (size_t i = 0; i < t_.token_count(); ++i) {
      if (t_.token_kind(i) == TokenKind::Newline) {
        eol = t_.token_text(i);
        break;
      }
    }
    size_t size = 0;
    for (const Line& line : out_) size += line.end - line.begin + eol.size();
    std::string result;
    result.reserve(size + 3);
    if (t_.token_count() > 0 && t_.token_kind(0) == TokenKind::Bom) result.append(t_.token_text(0));
    for (const Line& line : out_) {
      result.append(text_of(line));
      result.append(eol);
    }
    return result;
  }

 private:
  // An output line: its text in buf_ and its class. Lines are written into
  // one buffer rather than one string each, and moved around as positions.
  struct Line {
    size_t begin;
    size_t end;
    LineClass cls;
  };

  // A key line whose layout changed: its span and where its lines went.
  struct Changed {
    size_t node;
    Span span;
    size_t first_out;
    size_t count;
  };

  // Key lines whose value does not build are kept as written. Whether one
  // builds is known only from a build of the whole document (a value may
  // name any variable of the file), so that is done only when some key line
  // changed, without an environment so the result does not depend on one.
  void keep_invalid_key_lines() {
    if (changed_.empty()) return;
    const uint64_t base = t_.token_count() > 0 && t_.token_kind(0) == TokenKind::Bom
                              ? t_.token_span(0).end
                              : 0;
    std::vector<uint64_t> starts;
    for (const Diagnostic& d : build_diagnostics(src_.substr(base), EmptyEnv{})) {
      if (!d.is_warning) starts.push_back(base + d.span.start);
    }
    if (starts.empty()) return;
    std::sort(starts.begin(), starts.end());
    for (const Changed& c : changed_) {
      const auto it = std::lower_bound(starts.begin(), starts.end(), c.span.start);
      if (it == starts.end() || *it >= c.span.end) continue;
      const std::vector<PhysicalLine>& lines = lines_of(t_.node(c.node));
      for (size_t k = 0; k < c.count && k < lines.size(); ++k) {
        Line& out = out_[c.first_out + k];
        out.begin = buf_.size();
        buf_.append(kept_text(lines[k]));
        out.end = buf_.size();
      }
    }
  }

  std::string_view kept_text(const PhysicalLine& line) const {
    std::string_view text = slice(line.start, line.end);
    while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return text;
  }

  // The physical lines of a node, in a buffer reused from call to call.
  const std::vector<PhysicalLine>& lines_of(const Node& n) {
    physical_lines(t_, n, lines_);
    return lines_;
  }

  std::string_view slice(uint64_t a, uint64_t b) const { return src_.substr(a, b - a); }

  std::string_view text_of(const Line& line) const {
    return std::string_view(buf_).substr(line.begin, line.end - line.begin);
  }

  // A line is written at the end of buf_, from start() to finish().
  void start(size_t indent = 0) {
    open_ = buf_.size();
    buf_.append(indent, ' ');
  }
  void finish(LineClass cls) { out_.push_back(Line{open_, buf_.size(), cls}); }
  void push(std::string_view text, LineClass cls) {
    start();
    buf_.append(text);
    finish(cls);
  }

  // One space before a comment that follows code on the line being written.
  void with_comment(std::string_view comment) {
    if (comment.empty()) return;
    if (!trim(std::string_view(buf_).substr(open_)).empty()) buf_ += ' ';
    buf_.append(comment);
  }

  void blank() {
    if (out_.empty()) return;
    const LineClass last = out_.back().cls;
    if (last == LineClass::Blank || last == LineClass::Annotation || last == LineClass::Header ||
        last == LineClass::Opener) {
      return;
    }
    push(std::string_view(), LineClass::Blank);
  }

  // A line kept as written, its line end aside. A carriage return at its
  // end would join the line end written after it, so it goes.
  void verbatim(const Node& n, LineClass cls) {
    for (const PhysicalLine& line : lines_of(n)) push(kept_text(line), cls);
  }

  void top_node(size_t i) {
    const Node& n = t_.node(i);
    if (n.kind == NodeKind::Section) {
      section(i);
      return;
    }
    line_node(i, 0);
  }

  void section(size_t i) {
    const Node& sec = t_.node(i);
    if (t_.node(i + 1).has(kNodeInvalid)) {
      // A header the document rejects is no section break: kept as written.
      for (size_t c = SyntaxTree::first_child(i); c < sec.end; c = t_.node(c).end) line_node(c, 0);
      return;
    }
    // Comments and annotations right above the header stay with it; one
    // blank line goes before them.
    size_t run = out_.size();
    while (run > 0 && (out_[run - 1].cls == LineClass::Comment ||
                       out_[run - 1].cls == LineClass::Annotation)) {
      --run;
    }
    std::vector<Line> attached(std::make_move_iterator(out_.begin() + static_cast<ptrdiff_t>(run)),
                               std::make_move_iterator(out_.end()));
    out_.resize(run);
    while (!out_.empty() && out_.back().cls == LineClass::Blank) out_.pop_back();
    if (!out_.empty()) push(std::string_view(), LineClass::Blank);
    for (Line& line : attached) out_.push_back(std::move(line));

    for (size_t c = SyntaxTree::first_child(i); c < sec.end; c = t_.node(c).end) {
      const Node& child = t_.node(c);
      if (child.kind == NodeKind::SectionHeader || child.kind == NodeKind::VarsHeader) {
        header(child);
      } else {
        line_node(c, 0);
      }
    }
  }

  void header(const Node& n) {
    if (n.has(kNodeInvalid)) return verbatim(n, LineClass::Other);
    const PhysicalLine line = lines_of(n).front();
    start();
    buf_ += '[';
    buf_.append(t_.token_text(t_.find_token(n, TokenKind::SectionName)));
    buf_ += ']';
    with_comment(line.comment);
    finish(LineClass::Header);
  }

  void line_node(size_t i, size_t indent) {
    const Node& n = t_.node(i);
    switch (n.kind) {
      case NodeKind::BlankLine:
        return blank();
      case NodeKind::CommentLine: {
        const PhysicalLine line = lines_of(n).front();
        start(indent);
        buf_.append(line.comment);
        return finish(LineClass::Comment);
      }
      case NodeKind::AnnotationLine:
        return annotation(n, indent);
      case NodeKind::KeyLine:
        return key_line(n, indent);
      case NodeKind::Block:
        return block(i, indent);
      case NodeKind::BlockCloseLine: {
        const PhysicalLine line = lines_of(n).front();
        start();
        buf_ += "}#";
        with_comment(line.comment);
        return finish(LineClass::Other);
      }
      case NodeKind::SectionHeader:
        return header(n);
      default:
        return verbatim(n, LineClass::Other);
    }
  }

  void block(size_t i, size_t indent) {
    const Node& b = t_.node(i);
    for (size_t c = SyntaxTree::first_child(i); c < b.end; c = t_.node(c).end) {
      const Node& child = t_.node(c);
      if (child.kind == NodeKind::BlockCloseLine) {
        while (!out_.empty() && out_.back().cls == LineClass::Blank) out_.pop_back();
        line_node(c, indent);
      } else if (child.kind == NodeKind::KeyLine && child.has(kNodeOpener)) {
        key_line(child, indent);
        out_.back().cls = LineClass::Opener;
      } else {
        line_node(c, indent + kIndent);
      }
    }
  }

  void annotation(const Node& n, size_t indent) {
    if (n.has(kNodeInvalid)) return verbatim(n, LineClass::Other);
    const PhysicalLine line = lines_of(n).front();
    const size_t tok = t_.find_token(n, TokenKind::Annotation);
    const Span at = t_.token_span(tok);
    const auto parsed = parse_annotation(t_.token_text(tok), at);
    const Annotation& a = std::get<Annotation>(parsed);
    start(indent);
    buf_.append(slice(a.name_span().start, a.name_span().end));
    if (a.arg_span) {
      const std::string_view rest = trim_start(slice(a.name_span().end, at.end));
      if (rest.front() == '(') {
        buf_ += '(';
        buf_.append(slice(a.arg_span->start, a.arg_span->end));
        buf_ += ')';
      } else if (a.arg.index() == static_cast<size_t>(ArgKind::List)) {
        buf_ += ": [";
        for (size_t k = 0; k < a.item_spans().size(); ++k) {
          if (k != 0) buf_ += ", ";
          buf_.append(slice(a.item_spans()[k].start, a.item_spans()[k].end));
        }
        buf_ += ']';
      } else {
        buf_ += ": ";
        buf_.append(slice(a.arg_span->start, a.arg_span->end));
      }
    }
    with_comment(line.comment);
    finish(LineClass::Annotation);
  }

  void key_line(const Node& n, size_t indent) {
    const std::vector<PhysicalLine>& lines = lines_of(n);
    const size_t key = t_.find_token(n, TokenKind::Key);
    const size_t eq = t_.find_token(n, TokenKind::Equals);
    const PhysicalLine& first = lines.front();
    // The value's first piece: from the first code token after '=' to the
    // end of the first line's code.
    size_t v = eq + 1;
    while (v < n.end_token && is_trivia(t_.token_kind(v))) ++v;
    std::string_view piece;
    if (v < n.end_token && t_.token_span(v).start < first.end) {
      piece = slice(t_.token_span(v).start, std::max(first.code_end, t_.token_span(v).start));
    }
    const size_t first_out = out_.size();
    start(indent);
    buf_.append(t_.token_text(key));
    buf_ += " =";
    if (!piece.empty()) buf_.append(" ").append(piece);
    with_comment(first.comment);
    finish(LineClass::Other);

    // Continuation lines: indented by the brackets open before them, one
    // level less when they start by closing one.
    int64_t depth = bracket_depth(piece);
    for (size_t k = 1; k < lines.size(); ++k) {
      const PhysicalLine& line = lines[k];
      const std::string_view code =
          line.has_code ? slice(line.code_start, line.code_end) : std::string_view();
      int64_t level = depth;
      if (!code.empty() && (code.front() == ']' || code.front() == ')' || code.front() == '}')) {
        --level;
      }
      level = std::clamp<int64_t>(level, 0, kMaxIndentLevels);
      start();
      if (!code.empty() || !line.comment.empty()) {
        buf_.append(indent + kIndent * static_cast<size_t>(level), ' ');
        buf_.append(code);
        with_comment(line.comment);
      }
      finish(LineClass::Other);
      depth += bracket_depth(code);
    }
    for (size_t k = 0; k < lines.size(); ++k) {
      if (text_of(out_[first_out + k]) != kept_text(lines[k])) {
        changed_.push_back({static_cast<size_t>(&n - t_.nodes().data()), n.span, first_out, lines.size()});
        break;
      }
    }
  }

  const SyntaxTree& t_;
  std::string_view src_;
  std::string buf_;
  size_t open_ = 0;  // where the line being written starts in buf_
  std::vector<Line> out_;
  std::vector<Changed> changed_;
  std::vector<PhysicalLine> lines_;
};

}  // namespace

std::string format_source(std::string_view source) {
  // Such a text has no tree to format by: it stays as it is.
  if (source.size() >= kMaxTreeSource) return std::string(source);
  const SyntaxTree tree = SyntaxTree::build(source);
  return Formatter(tree).run();
}

}  // namespace brindle
