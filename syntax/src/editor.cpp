#include "editor.h"

#include <algorithm>
#include <variant>
#include <vector>

#include "annotation.h"
#include "builder.h"
#include "display.h"
#include "lexer.h"
#include "serializer.h"
#include "syntax_tree.h"
#include "text.h"

namespace brindle {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);
using Path = std::vector<std::string>;

EditError not_found(std::string message) { return {EditError::Kind::NotFound, std::move(message)}; }
EditError invalid(std::string message) { return {EditError::Kind::Invalid, std::move(message)}; }

std::string quoted(std::string_view path) { return "`" + std::string(path) + "`"; }

bool is_line_kind(NodeKind k) {
  switch (k) {
    case NodeKind::SectionHeader: case NodeKind::VarsHeader: case NodeKind::KeyLine:
    case NodeKind::AnnotationLine: case NodeKind::BlockCloseLine: case NodeKind::CommentLine:
    case NodeKind::BlankLine: case NodeKind::IgnoredLine:
      return true;
    default:
      return false;
  }
}

bool is_prefix(const Path& prefix, const Path& path) {
  return prefix.size() <= path.size() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

// Where each key path of the document is written, found the way the builder
// walks the lines: sections by their headers (an invalid header keeps the
// section before it, a variables section holds no config), blocks with their
// entries.
struct Index {
  struct Entry {
    Path path;
    size_t node;  // KeyLine, or Block for a block key
    size_t line;  // position of its first line in `lines`
  };
  struct Group {
    Path path;
    size_t node;  // Section
    size_t line;
  };
  std::vector<size_t> lines;  // every line node, in order
  std::vector<Entry> entries;
  std::vector<Group> groups;  // sections with a valid header, not [vars]
  size_t last_root_entry = kNone;

  explicit Index(const SyntaxTree& t) {
    std::vector<size_t> position(t.nodes().size(), kNone);
    for (size_t i = 0; i < t.nodes().size(); ++i) {
      if (is_line_kind(t.node(i).kind)) {
        position[i] = lines.size();
        lines.push_back(i);
      }
    }
    Path section;
    bool in_vars = false;
    const auto key_of = [&](size_t node) {
      return unquote_key(t.token_text(t.find_token(t.node(node), TokenKind::Key)));
    };
    const auto add_line = [&](size_t c, bool at_root) {
      const Node& n = t.node(c);
      if (in_vars) return;
      if (n.kind == NodeKind::KeyLine) {
        Path p = section;
        p.push_back(key_of(c));
        entries.push_back({std::move(p), c, position[c]});
        if (at_root) last_root_entry = c;
      } else if (n.kind == NodeKind::Block) {
        Path p = section;
        p.push_back(key_of(c + 1));
        entries.push_back({p, c, position[c + 1]});
        if (at_root) last_root_entry = c;
        for (size_t e = c + 2; e < n.end; e = t.node(e).end) {
          if (t.node(e).kind != NodeKind::KeyLine) continue;
          Path q = p;
          q.push_back(key_of(e));
          entries.push_back({std::move(q), e, position[e]});
        }
      }
    };
    for (size_t c = 1; c < t.node(0).end; c = t.node(c).end) {
      if (t.node(c).kind != NodeKind::Section) {
        add_line(c, true);
        continue;
      }
      const Node& header = t.node(c + 1);
      if (header.kind == NodeKind::VarsHeader) {
        in_vars = true;
      } else {
        in_vars = false;
        if (!header.has(kNodeInvalid)) {
          section = split_key_path(t.token_text(t.find_token(header, TokenKind::SectionName)));
          groups.push_back({section, c, position[c + 1]});
        }
      }
      for (size_t e = c + 2; e < t.node(c).end; e = t.node(e).end) add_line(e, false);
    }
  }
};

// From the first to the last token of a node that is not blank, line end or comment.
Span code_range(const SyntaxTree& t, const Node& n) {
  Span s{n.span.start, n.span.start};
  bool found = false;
  for (size_t i = n.first_token; i < n.end_token; ++i) {
    const TokenKind k = t.token_kind(i);
    if (k == TokenKind::Whitespace || k == TokenKind::Newline || k == TokenKind::Comment) continue;
    if (!found) s.start = t.token_span(i).start;
    s.end = t.token_span(i).end;
    found = true;
  }
  return s;
}

size_t child_of_kind(const SyntaxTree& t, size_t node, NodeKind kind) {
  for (size_t c = node + 1; c < t.node(node).end; c = t.node(c).end) {
    if (t.node(c).kind == kind) return c;
  }
  return kNone;
}

// The inline dict a Value node consists of, if that is all it holds.
size_t sole_inline_dict(const SyntaxTree& t, size_t value) {
  if (value == kNone) return kNone;
  const Node& v = t.node(value);
  const size_t dict = child_of_kind(t, value, NodeKind::InlineDict);
  if (dict == kNone || t.node(dict).end != v.end) return kNone;
  const Span code = code_range(t, v);
  return code == code_range(t, t.node(dict)) ? dict : kNone;
}

std::string dict_key_of(const SyntaxTree& t, size_t entry) {
  const size_t k = t.find_token(t.node(entry), TokenKind::DictKey);
  if (k == t.node(entry).end_token) return std::string();
  std::string_view key = t.token_text(k);
  if (key.size() >= 2 && key.front() == '"' && key.back() == '"') key = key.substr(1, key.size() - 2);
  return std::string(key);
}

// The last entry of `dict` named `key`, or kNone.
size_t find_dict_entry(const SyntaxTree& t, size_t dict, std::string_view key) {
  size_t found = kNone;
  for (size_t c = dict + 1; c < t.node(dict).end; c = t.node(c).end) {
    if (t.node(c).kind == NodeKind::DictEntry && dict_key_of(t, c) == key) found = c;
  }
  return found;
}

struct Edit {
  uint64_t start;
  uint64_t end;
  std::string text;
};

std::string apply_edits(std::string_view text, std::vector<Edit> edits) {
  std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.start < b.start; });
  std::string out;
  uint64_t at = 0;
  for (const Edit& e : edits) {
    if (e.start < at) continue;  // overlaps one already applied
    out.append(text.substr(at, e.start - at));
    out.append(e.text);
    at = e.end;
  }
  out.append(text.substr(at));
  return out;
}

const Value* lookup(const Document& doc, const Path& path) {
  const Dict* dict = &doc.config;
  const Value* v = nullptr;
  for (const std::string& seg : path) {
    if (dict == nullptr) return nullptr;
    const auto it = dict->find(seg);
    if (it == dict->end()) return nullptr;
    v = &it->second;
    dict = v->is(Tag::Dict) ? &v->as_dict() : nullptr;
  }
  return v;
}

size_t error_count(const Document& doc) {
  return static_cast<size_t>(std::count_if(doc.diagnostics.begin(), doc.diagnostics.end(),
                                           [](const Diagnostic& d) { return !d.is_warning; }));
}

// True when `after` has more problems than `before_text`, which is built
// only when `after` has any: the common case costs one build.
bool gained_errors(const Document& after, const std::string& before_text) {
  const size_t n = error_count(after);
  return n > 0 && n > error_count(build_document(before_text, EmptyEnv{}));
}

std::string join(const Path& path) {
  std::string out;
  for (const std::string& s : path) out += (out.empty() ? "" : ".") + s;
  return out;
}

// One edit session over a fixed text.
class Session {
 public:
  explicit Session(const std::string& text) : text_(text), t_(SyntaxTree::build(text)), idx_(t_) {
    for (size_t i = 0; i < t_.token_count(); ++i) {
      if (t_.token_kind(i) == TokenKind::Newline) {
        eol_ = t_.token_text(i);
        break;
      }
    }
  }

  const SyntaxTree& tree() const { return t_; }
  const Index& index() const { return idx_; }
  std::string_view eol() const { return eol_; }

  size_t last_entry(const Path& p) const {
    size_t found = kNone;
    for (size_t k = 0; k < idx_.entries.size(); ++k) {
      if (idx_.entries[k].path == p) found = k;
    }
    return found;
  }

  // The annotation lines that attach to the line at `line`: those above it,
  // over comments, blank and ignored lines, up to anything else.
  std::vector<size_t> attached(size_t line) const {
    std::vector<size_t> out;
    while (line > 0) {
      const size_t node = idx_.lines[--line];
      const NodeKind k = t_.node(node).kind;
      if (k == NodeKind::AnnotationLine) {
        out.push_back(node);
      } else if (k != NodeKind::CommentLine && k != NodeKind::BlankLine && k != NodeKind::IgnoredLine) {
        break;
      }
    }
    return out;
  }

  // The comments of node `node` that start inside `range`, each as a line
  // of its own with `indent`: what a replaced multi-line text held, kept
  // above the line that replaces it.
  std::string comment_lines(size_t node, Span range, const std::string& indent) const {
    std::string out;
    const Node& n = t_.node(node);
    for (size_t i = n.first_token; i < n.end_token; ++i) {
      if (t_.token_kind(i) != TokenKind::Comment) continue;
      const Span at = t_.token_span(i);
      if (at.start < range.start || at.start >= range.end) continue;
      out.append(indent).append(trim_end(t_.token_text(i))).append(eol_);
    }
    return out;
  }

  // The key line holding node `node`.
  size_t key_line_of(size_t node) const {
    while (node != 0 && t_.node(node).kind != NodeKind::KeyLine) node = t_.node(node).parent;
    return node;
  }

  // Leading blanks of the line node `node`.
  std::string indent_of(size_t node) const {
    const Node& n = t_.node(node);
    if (n.first_token < n.end_token && t_.token_kind(n.first_token) == TokenKind::Whitespace) {
      return std::string(t_.token_text(n.first_token));
    }
    return std::string();
  }

  // A full line inserted at `at`, a line start or the end of the text.
  Edit insert_line(uint64_t at, std::string line) const {
    std::string text;
    if (at == text_.size() && !text_.empty() && text_.back() != '\n') text.append(eol_);
    text += line;
    text.append(eol_);
    return Edit{at, at, std::move(text)};
  }

  // Follows `rest` into the inline dicts of the key line `node`'s value.
  // Returns (dict, entry): the entry for the whole path, or kNone with the
  // dict that would hold its last segment.
  std::pair<size_t, size_t> descend(size_t node, const Path& rest) const {
    size_t value = child_of_kind(t_, node, NodeKind::Value);
    for (size_t k = 0; k < rest.size(); ++k) {
      const size_t dict = sole_inline_dict(t_, value);
      if (dict == kNone) return {kNone, kNone};
      const size_t entry = find_dict_entry(t_, dict, rest[k]);
      if (entry == kNone) return {k + 1 == rest.size() ? dict : kNone, kNone};
      if (k + 1 == rest.size()) return {dict, entry};
      value = child_of_kind(t_, entry, NodeKind::Value);
    }
    return {kNone, kNone};
  }

  // The deepest key line that is a proper prefix of `p`, followed into its
  // inline dicts.
  std::pair<size_t, size_t> inline_target(const Path& p) const {
    for (size_t k = idx_.entries.size(); k-- > 0;) {
      const Index::Entry& e = idx_.entries[k];
      if (e.path.size() >= p.size() || !is_prefix(e.path, p)) continue;
      if (t_.node(e.node).kind != NodeKind::KeyLine) continue;
      return descend(e.node, Path(p.begin() + static_cast<ptrdiff_t>(e.path.size()), p.end()));
    }
    return {kNone, kNone};
  }

 private:
  const std::string& text_;
  SyntaxTree t_;
  Index idx_;
  std::string eol_ = "\n";
};

std::optional<Path> parse_path(std::string_view path) {
  if (trim(path).empty()) return std::nullopt;
  Path p = split_key_path(path);
  for (const std::string& s : p) {
    if (s.empty()) return std::nullopt;
  }
  return p;
}

// A key of an inline dict: bare when the bare form reads back, else quoted
// (such keys are taken verbatim, so a key holding a quote cannot be written).
std::optional<std::string> dict_key_text(std::string_view key) {
  const std::string bare = quote_name(key);
  if (bare == key) return bare;
  if (key.find('"') != std::string_view::npos || key.find('\n') != std::string_view::npos) return std::nullopt;
  return "\"" + std::string(key) + "\"";
}

}  // namespace

EditResult Editor::set_value(std::string_view path, const Value& value) {
  return set(path, format_value(value), &value);
}

EditResult Editor::set_text(std::string_view path, std::string_view value_text) {
  const std::string_view v = trim(value_text);
  if (v.empty() || v.find('\n') != std::string_view::npos || v.find('\r') != std::string_view::npos) {
    return invalid("a value must be one non-empty line");
  }
  return set(path, v, nullptr);
}

EditResult Editor::set(std::string_view path_text, std::string_view value_text, const Value* expected) {
  const auto path = parse_path(path_text);
  if (!path) return invalid("invalid key path " + quoted(path_text));
  const Path& p = *path;
  const Session s(text_);
  const SyntaxTree& t = s.tree();
  std::vector<Edit> edits;

  if (const size_t k = s.last_entry(p); k != kNone) {
    const Index::Entry& e = s.index().entries[k];
    const Node& n = t.node(e.node);
    if (n.kind == NodeKind::Block) {
      // The whole block becomes one key line; annotations above it stay.
      const size_t opener = e.node + 1;
      std::string line = s.indent_of(opener);
      line.append(t.token_text(t.find_token(t.node(opener), TokenKind::Key))).append(" = ");
      line.append(value_text);
      Edit edit = s.insert_line(n.span.start, line);
      edit.end = n.span.end;
      edit.text.insert(0, s.comment_lines(e.node, n.span, s.indent_of(opener)));
      edits.push_back(std::move(edit));
    } else {
      const Span code = code_range(t, t.node(child_of_kind(t, e.node, NodeKind::Value)));
      edits.push_back({code.start, code.end, std::string(value_text)});
      const uint64_t line = n.span.start;
      edits.push_back({line, line, s.comment_lines(e.node, code, s.indent_of(e.node))});
    }
  } else if (const auto [dict, entry] = s.inline_target(p); entry != kNone) {
    const Span code = code_range(t, t.node(child_of_kind(t, entry, NodeKind::Value)));
    edits.push_back({code.start, code.end, std::string(value_text)});
    const size_t key_line = s.key_line_of(entry);
    const uint64_t line = t.node(key_line).span.start;
    edits.push_back({line, line, s.comment_lines(key_line, code, s.indent_of(key_line))});
  } else if (std::any_of(s.index().groups.begin(), s.index().groups.end(),
                         [&](const Index::Group& g) { return g.path == p; })) {
    return invalid(quoted(path_text) + " is a section; set its keys one by one");
  } else {
    const Path parent(p.begin(), p.end() - 1);
    const std::string& key = p.back();
    const size_t block_key = s.last_entry(parent);
    if (dict != kNone) {
      // A new entry at the end of an inline dict.
      const auto key_text = dict_key_text(key);
      if (!key_text) return invalid("the key " + quoted(key) + " cannot be written in an inline dict");
      size_t last = kNone;
      for (size_t c = dict + 1; c < t.node(dict).end; c = t.node(c).end) {
        if (t.node(c).kind == NodeKind::DictEntry) last = c;
      }
      const std::string item = *key_text + " = " + std::string(value_text);
      if (last == kNone) {
        const size_t open = t.find_token(t.node(dict), TokenKind::DictOpen);
        const size_t close = t.find_token(t.node(dict), TokenKind::DictClose);
        edits.push_back({t.token_span(open).end, t.token_span(close).start, " " + item + " "});
      } else {
        const uint64_t at = code_range(t, t.node(last)).end;
        edits.push_back({at, at, ", " + item});
      }
    } else if (block_key != kNone && t.node(s.index().entries[block_key].node).kind == NodeKind::Block) {
      const size_t block = s.index().entries[block_key].node;
      const size_t close = child_of_kind(t, block, NodeKind::BlockCloseLine);
      if (close == kNone) return invalid("the block " + quoted(join(parent)) + " is never closed");
      // After the last entry, so that annotations left dangling below it
      // do not attach to the new one.
      std::string indent = s.indent_of(block + 1) + "    ";
      uint64_t at = t.node(block + 1).span.end;
      for (size_t c = block + 2; c < t.node(block).end; c = t.node(c).end) {
        if (t.node(c).kind != NodeKind::KeyLine) continue;
        indent = s.indent_of(c);
        at = t.node(c).span.end;
      }
      edits.push_back(s.insert_line(at, indent + quote_name(key) + " = " + std::string(value_text)));
    } else if (block_key != kNone) {
      return invalid(quoted(join(parent)) + " holds a value, not a table");
    } else {
      const std::string line = quote_name(key) + " = " + std::string(value_text);
      const Index::Group* group = nullptr;
      for (const Index::Group& g : s.index().groups) {
        if (g.path == parent) group = &g;
      }
      if (parent.empty()) {
        const size_t last = s.index().last_root_entry;
        uint64_t at = t.nodes().size() > 1 ? t.node(1).span.start : t.source().size();
        if (t.token_count() > 0 && t.token_kind(0) == TokenKind::Bom) at = t.token_span(0).end;
        if (last != kNone) at = t.node(last).span.end;
        edits.push_back(s.insert_line(at, line));
      } else if (group != nullptr) {
        const Node& g = t.node(group->node);
        uint64_t at = t.node(group->node + 1).span.end;
        for (size_t c = group->node + 2; c < g.end; c = t.node(c).end) {
          const NodeKind k = t.node(c).kind;
          if (k == NodeKind::KeyLine || k == NodeKind::Block) at = t.node(c).span.end;
        }
        edits.push_back(s.insert_line(at, line));
      } else {
        // A new section at the end of the file.
        std::string header;
        if (!text_.empty() && text_.back() != '\n') header.append(s.eol());
        if (!text_.empty()) header.append(s.eol());
        std::string name;
        for (const std::string& seg : parent) name += (name.empty() ? "" : ".") + quote_name(seg);
        header += "[" + name + "]";
        header.append(s.eol()).append(line).append(s.eol());
        edits.push_back({text_.size(), text_.size(), std::move(header)});
      }
    }
  }

  std::string result = apply_edits(text_, std::move(edits));
  const Document after = build_document(result, EmptyEnv{});
  const Value* now = lookup(after, p);
  if (now == nullptr || gained_errors(after, text_) ||
      (expected != nullptr && debug_text(*now) != debug_text(*expected))) {
    return invalid("setting " + quoted(path_text) + " to `" + std::string(value_text) +
                   "` would not read back");
  }
  text_ = std::move(result);
  return std::nullopt;
}

EditResult Editor::remove(std::string_view path_text) {
  const auto path = parse_path(path_text);
  if (!path) return invalid("invalid key path " + quoted(path_text));
  const Path& p = *path;
  const Session s(text_);
  const SyntaxTree& t = s.tree();
  std::vector<Edit> edits;
  const auto drop_with_annotations = [&](size_t node, size_t line) {
    edits.push_back({t.node(node).span.start, t.node(node).span.end, std::string()});
    for (size_t a : s.attached(line)) edits.push_back({t.node(a).span.start, t.node(a).span.end, std::string()});
  };
  for (const Index::Entry& e : s.index().entries) {
    if (e.path == p) drop_with_annotations(e.node, e.line);
  }
  if (edits.empty()) {
    if (const auto [dict, entry] = s.inline_target(p); entry != kNone) {
      // The entry and the comma after it, or else the one before it.
      uint64_t start = t.node(entry).span.start;
      uint64_t end = t.node(entry).span.end;
      const Node& d = t.node(dict);
      size_t after = t.node(entry).end_token;
      while (after < d.end_token && t.token_kind(after) == TokenKind::Whitespace) ++after;
      if (after < d.end_token && t.token_kind(after) == TokenKind::Comma) {
        end = t.token_span(after).end;
      } else {
        size_t before = t.node(entry).first_token;
        while (before > d.first_token && t.token_kind(before - 1) == TokenKind::Whitespace) --before;
        if (before > d.first_token && t.token_kind(before - 1) == TokenKind::Comma) {
          start = t.token_span(before - 1).start;
        }
      }
      edits.push_back({start, end, std::string()});
    }
  }
  if (edits.empty()) {
    for (const Index::Group& g : s.index().groups) {
      if (is_prefix(p, g.path)) drop_with_annotations(g.node, g.line);
    }
  }
  if (edits.empty()) return not_found("no key " + quoted(path_text));
  std::string result = apply_edits(text_, std::move(edits));
  if (gained_errors(build_document(result, EmptyEnv{}), text_)) {
    return invalid("removing " + quoted(path_text) + " would break the document");
  }
  text_ = std::move(result);
  return std::nullopt;
}

namespace {

// The line an annotation of `p` goes above, and where its annotations are:
// the last definition that has annotations, else the last one. kNone when
// the path names no key, block entry or section.
size_t annotated_line(const Session& s, const Path& p) {
  size_t last = kNone;
  size_t with_annotations = kNone;
  const auto consider = [&](size_t line) {
    last = line;
    if (!s.attached(line).empty()) with_annotations = line;
  };
  for (const Index::Entry& e : s.index().entries) {
    if (e.path == p) consider(e.line);
  }
  if (last == kNone) {
    for (const Index::Group& g : s.index().groups) {
      if (g.path == p) consider(g.line);
    }
  }
  return with_annotations != kNone ? with_annotations : last;
}

std::vector<std::string> annotation_names(const Document& doc, const Path& p) {
  std::vector<std::string> out;
  if (const auto* list = doc.annotations.find(join(p))) {
    for (const Annotation& a : *list) out.emplace_back(a.name.view());
  }
  return out;
}

}  // namespace

EditResult Editor::add_annotation(std::string_view path_text, std::string_view annotation) {
  const auto path = parse_path(path_text);
  if (!path) return invalid("invalid key path " + quoted(path_text));
  std::string text(trim(annotation));
  if (!text.starts_with('@')) text.insert(0, "@");
  if (text.find('\n') != std::string::npos || text.find('\r') != std::string::npos ||
      strip_comment(text).size() != text.size()) {
    return invalid("an annotation must be one line without a comment");
  }
  const auto parsed = parse_annotation(text, Span{0, text.size()});
  if (parsed.index() != 0) return invalid(std::get<ParseFailure>(parsed).message);
  const Session s(text_);
  const size_t line = annotated_line(s, *path);
  if (line == kNone) return not_found("no key " + quoted(path_text));
  const size_t node = s.index().lines[line];
  Edit edit = s.insert_line(s.tree().node(node).span.start, s.indent_of(node) + text);
  std::vector<Edit> one;
  one.push_back(std::move(edit));
  std::string result = apply_edits(text_, std::move(one));
  std::vector<std::string> expected = annotation_names(build_document(text_, EmptyEnv{}), *path);
  expected.emplace_back(std::get<Annotation>(parsed).name.view());
  if (annotation_names(build_document(result, EmptyEnv{}), *path) != expected) {
    return invalid("the annotation would not attach to " + quoted(path_text));
  }
  text_ = std::move(result);
  return std::nullopt;
}

EditResult Editor::remove_annotation(std::string_view path_text, std::string_view name) {
  const auto path = parse_path(path_text);
  if (!path) return invalid("invalid key path " + quoted(path_text));
  const Session s(text_);
  const SyntaxTree& t = s.tree();
  const size_t line = annotated_line(s, *path);
  if (line == kNone) return not_found("no key " + quoted(path_text));
  std::vector<Edit> edits;
  for (size_t a : s.attached(line)) {
    const Node& n = t.node(a);
    const size_t tok = t.find_token(n, TokenKind::Annotation);
    const auto parsed = parse_annotation(t.token_text(tok), t.token_span(tok));
    if (parsed.index() == 0 && std::get<Annotation>(parsed).name == name) {
      edits.push_back({n.span.start, n.span.end, std::string()});
    }
  }
  if (edits.empty()) return not_found("no @" + std::string(name) + " on " + quoted(path_text));
  text_ = apply_edits(text_, std::move(edits));
  return std::nullopt;
}

}  // namespace brindle
