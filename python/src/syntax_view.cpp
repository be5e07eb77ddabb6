#include "syntax_view.h"

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "builtins.h"
#include "convert.h"
#include "guard.h"
#include "key_segments.h"
#include "lexer.h"
#include "syntax/src/annotation.h"
#include "syntax_tree.h"
#include "unlocked.h"
#include "value_parser.h"

namespace brindle::py {
namespace {

// Byte offsets into the UTF-8 text as code point offsets: the identity for
// ASCII text, otherwise a count kept every kStride bytes plus the lead bytes
// since, so a lookup reads at most kStride bytes and the table stays small.
class CharOffsets {
 public:
  static constexpr uint64_t kStride = 64;

  CharOffsets(std::string_view text, bool ascii) : text_(text), ascii_(ascii) {
    if (ascii) return;
    marks_.reserve(text.size() / kStride + 1);
    uint64_t chars = 0;
    for (uint64_t i = 0; i < text.size(); ++i) {
      if (i % kStride == 0) marks_.push_back(chars);
      if (!continuation(i)) ++chars;
    }
    marks_.push_back(chars);
  }

  uint64_t operator()(uint64_t byte) const {
    if (ascii_) return byte;
    uint64_t chars = marks_[byte / kStride];
    for (uint64_t i = byte - byte % kStride; i < byte; ++i) {
      if (!continuation(i)) ++chars;
    }
    return chars;
  }

 private:
  bool continuation(uint64_t i) const { return (static_cast<unsigned char>(text_[i]) & 0xC0) == 0x80; }

  std::string_view text_;
  bool ascii_;
  std::vector<uint64_t> marks_;
};

constexpr const char* kLineKinds[] = {"section", "vars",    "key",     "block-open", "block-close",
                                      "annotation", "comment", "blank", "ignored"};
enum LineKindIndex { kSection, kVars, kKey, kBlockOpen, kBlockClose, kAnnotation, kComment, kBlank, kIgnored };

constexpr const char* kRefKinds[] = {"var", "builtin", "env"};
constexpr size_t kTokenKindCount = static_cast<size_t>(TokenKind::Comma) + 1;

bool is_blank_token(TokenKind kind) {
  return kind == TokenKind::Whitespace || kind == TokenKind::Newline || kind == TokenKind::Bom;
}

bool is_trivia(TokenKind kind) { return is_blank_token(kind) || kind == TokenKind::Comment; }

// Names are whole characters of the text, lone surrogates included.
PyObject* name_str(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass");
}

class ViewBuilder {
 public:
  ViewBuilder(const SyntaxTree& tree, bool ascii) : tree_(tree), chars_(tree.source(), ascii) {}

  PyObject* build() {
    if (!intern_names()) return nullptr;
    Ref lines(PyList_New(0));
    if (!lines) return nullptr;
    const std::vector<Node>& nodes = tree_.nodes();
    size_t i = 1;
    while (i < nodes.size()) {
      const Node& n = nodes[i];
      if (n.kind == NodeKind::Section || n.kind == NodeKind::Block) {
        ++i;  // a container: its lines follow
        continue;
      }
      Ref line(line_tuple(i));
      if (!line || PyList_Append(lines.get(), line.get()) < 0) return nullptr;
      i = n.end;
    }
    return PyList_AsTuple(lines.get());
  }

 private:
  bool intern_names() {
    for (size_t k = 0; k < kTokenKindCount; ++k) {
      const std::string name(token_kind_name(static_cast<TokenKind>(k)));
      token_kinds_[k].reset(PyUnicode_InternFromString(name.c_str()));
      if (!token_kinds_[k]) return false;
    }
    for (size_t k = 0; k < std::size(kLineKinds); ++k) {
      line_kinds_[k].reset(PyUnicode_InternFromString(kLineKinds[k]));
      if (!line_kinds_[k]) return false;
    }
    for (size_t k = 0; k < std::size(kRefKinds); ++k) {
      ref_kinds_[k].reset(PyUnicode_InternFromString(kRefKinds[k]));
      if (!ref_kinds_[k]) return false;
    }
    return true;
  }

  static LineKindIndex line_kind(const Node& n) {
    switch (n.kind) {
      case NodeKind::SectionHeader: return kSection;
      case NodeKind::VarsHeader: return kVars;
      case NodeKind::KeyLine: return n.has(kNodeOpener) ? kBlockOpen : kKey;
      case NodeKind::BlockCloseLine: return kBlockClose;
      case NodeKind::AnnotationLine: return kAnnotation;
      case NodeKind::CommentLine: return kComment;
      case NodeKind::BlankLine: return kBlank;
      default: return kIgnored;
    }
  }

  // Counts line feeds up to `to`; offsets only grow from one line to the next.
  uint64_t line_number_at(uint64_t to) {
    const std::string_view src = tree_.source();
    for (; counted_to_ < to; ++counted_to_) {
      if (src[counted_to_] == '\n') ++line_no_;
    }
    return line_no_;
  }

  PyObject* line_tuple(size_t index) {
    const Node& n = tree_.node(index);
    const LineKindIndex kind = line_kind(n);
    uint64_t end = n.span.end;
    if (n.end_token > n.first_token && tree_.token_kind(n.end_token - 1) == TokenKind::Newline) {
      end = tree_.token_span(n.end_token - 1).start;
    }
    const uint64_t first = line_number_at(n.span.start);
    const uint64_t last = line_number_at(end);

    bool valid = !n.has(kNodeInvalid);
    if (kind == kBlockOpen) valid = !tree_.node(n.parent).has(kNodeUnclosed);
    Ref names(PyList_New(0));
    Ref value = Ref::borrowed(Py_None);
    if (!names) return nullptr;
    switch (kind) {
      case kSection:
      case kVars: {
        const size_t t = tree_.find_token(n, TokenKind::SectionName);
        if (t == n.end_token) break;
        const Span at = tree_.token_span(t);
        const std::string_view text = tree_.token_text(t);
        if (kind == kVars) {
          if (!add_name(names.get(), text, at.start, at.end)) return nullptr;
          break;
        }
        for (const KeySegment& s : split_key_segments(text)) {
          if (!add_name(names.get(), s.name, at.start + s.start, at.start + s.end)) return nullptr;
        }
        break;
      }
      case kKey:
      case kBlockOpen: {
        const size_t t = tree_.find_token(n, TokenKind::Key);
        if (t == n.end_token) break;
        const Span at = tree_.token_span(t);
        if (!add_name(names.get(), unquote_key(tree_.token_text(t)), at.start, at.end)) return nullptr;
        if (kind == kKey) value.reset(value_span(index));
        if (!value) return nullptr;
        break;
      }
      case kAnnotation: {
        const size_t t = tree_.find_token(n, TokenKind::Annotation);
        if (t == n.end_token || !valid) break;
        const Span at = tree_.token_span(t);
        auto parsed = parse_annotation(tree_.token_text(t), at);
        const Annotation* annotation = std::get_if<Annotation>(&parsed);
        if (annotation == nullptr) break;
        if (!add_name(names.get(), annotation->name, annotation->name_span().start, annotation->name_span().end)) {
          return nullptr;
        }
        if (annotation->arg_span) value.reset(pair(annotation->arg_span->start, annotation->arg_span->end));
        if (!value) return nullptr;
        break;
      }
      default:
        break;
    }

    Ref tokens(PyList_New(0));
    Ref refs(PyList_New(0));
    if (!tokens || !refs) return nullptr;
    for (size_t t = n.first_token; t < n.end_token; ++t) {
      const TokenKind k = tree_.token_kind(t);
      if (is_blank_token(k)) continue;
      const Span at = tree_.token_span(t);
      Ref token(triple(token_kinds_[static_cast<size_t>(k)].get(), at.start, at.end));
      if (!token || PyList_Append(tokens.get(), token.get()) < 0) return nullptr;
      if (k == TokenKind::Variable && !add_ref(refs.get(), tree_.token_text(t), at)) return nullptr;
      if (k == TokenKind::DictKey &&
          !add_name(names.get(), inline_dict_key(tree_.token_text(t)), at.start, at.end)) {
        return nullptr;
      }
    }

    Ref names_tuple(PyList_AsTuple(names.get()));
    Ref tokens_tuple(PyList_AsTuple(tokens.get()));
    Ref refs_tuple(PyList_AsTuple(refs.get()));
    if (!names_tuple || !tokens_tuple || !refs_tuple) return nullptr;
    PyObject* items[] = {
        Py_NewRef(line_kinds_[kind].get()),
        PyBool_FromLong(valid ? 1 : 0),
        PyLong_FromUnsignedLongLong(first),
        PyLong_FromUnsignedLongLong(last),
        PyLong_FromUnsignedLongLong(chars_(n.span.start)),
        PyLong_FromUnsignedLongLong(chars_(end)),
        names_tuple.release(),
        value.release(),
        tokens_tuple.release(),
        refs_tuple.release(),
    };
    return tuple_of(items);
  }

  // The value of key line `index`: its Value node's first to last token that
  // is no blank and no comment.
  PyObject* value_span(size_t index) const {
    const Node& n = tree_.node(index);
    const size_t child = SyntaxTree::first_child(index);
    if (child >= n.end || tree_.node(child).kind != NodeKind::Value) Py_RETURN_NONE;
    const Node& v = tree_.node(child);
    size_t a = v.first_token;
    size_t b = v.end_token;
    while (a < b && is_trivia(tree_.token_kind(a))) ++a;
    while (b > a && is_trivia(tree_.token_kind(b - 1))) --b;
    if (a == b) Py_RETURN_NONE;
    return pair(tree_.token_span(a).start, tree_.token_span(b - 1).end);
  }

  bool add_ref(PyObject* refs, std::string_view text, Span at) {
    // A token cut at a line break leaves pieces that hold no '$'.
    if (text.empty() || text.front() != '$') return true;
    std::string_view name = text.substr(1);
    size_t kind = 0;
    if (name.starts_with("ENV.")) {
      name.remove_prefix(4);
      kind = 2;
    } else if (is_builtin_name(name)) {
      kind = 1;
    }
    Ref name_str_ref(name_str(name));
    if (!name_str_ref) return false;
    PyObject* items[] = {Py_NewRef(ref_kinds_[kind].get()), name_str_ref.release(),
                         PyLong_FromUnsignedLongLong(chars_(at.start)),
                         PyLong_FromUnsignedLongLong(chars_(at.end))};
    Ref ref(tuple_of(items));
    return ref && PyList_Append(refs, ref.get()) == 0;
  }

  bool add_name(PyObject* names, std::string_view name, uint64_t start, uint64_t end) {
    Ref text(name_str(name));
    if (!text) return false;
    Ref item(triple(text.get(), start, end));
    return item && PyList_Append(names, item.get()) == 0;
  }

  PyObject* pair(uint64_t start, uint64_t end) const {
    PyObject* items[] = {PyLong_FromUnsignedLongLong(chars_(start)), PyLong_FromUnsignedLongLong(chars_(end))};
    return tuple_of(items);
  }

  // (first, start, end) with `first` borrowed.
  PyObject* triple(PyObject* first, uint64_t start, uint64_t end) const {
    PyObject* items[] = {Py_NewRef(first), PyLong_FromUnsignedLongLong(chars_(start)),
                         PyLong_FromUnsignedLongLong(chars_(end))};
    return tuple_of(items);
  }

  // A tuple taking over the new references in `items`; any of them may be
  // nullptr after a failed call, in which case all are released.
  template <size_t N>
  static PyObject* tuple_of(PyObject* (&items)[N]) {
    bool ok = true;
    for (PyObject* item : items) ok = ok && item != nullptr;
    Ref tuple(ok ? PyTuple_New(N) : nullptr);
    if (!tuple) {
      for (PyObject* item : items) Py_XDECREF(item);
      return nullptr;
    }
    for (size_t k = 0; k < N; ++k) PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(k), items[k]);
    return tuple.release();
  }

  const SyntaxTree& tree_;
  CharOffsets chars_;
  uint64_t counted_to_ = 0;
  uint64_t line_no_ = 0;
  Ref token_kinds_[kTokenKindCount];
  Ref line_kinds_[std::size(kLineKinds)];
  Ref ref_kinds_[std::size(kRefKinds)];
};

}  // namespace

PyObject* module_syntax_view(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"source", nullptr};
  PyObject* source = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:_syntax_view", kwlist(names), &source)) return nullptr;
  if (!require_str(source, "source")) return nullptr;
  // Editors may hold lone surrogates; they are carried through as the three
  // bytes each that "surrogatepass" writes, one character each like any other.
  std::string_view text;
  Ref encoded;
  if (!utf8_view(source, text)) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return nullptr;
    PyErr_Clear();
    encoded.reset(PyUnicode_AsEncodedString(source, "utf-8", "surrogatepass"));
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!encoded || PyBytes_AsStringAndSize(encoded.get(), &data, &size) < 0) return nullptr;
    text = std::string_view(data, static_cast<size_t>(size));
  }
  const Py_ssize_t length = PyUnicode_GetLength(source);
  if (length < 0) return nullptr;
  const bool ascii = static_cast<size_t>(length) == text.size();
  return guarded([&]() -> PyObject* {
    const SyntaxTree tree = [&] {
      Unlocked unlocked;
      return SyntaxTree::build(text);
    }();
    return ViewBuilder(tree, ascii).build();
  });
}

}  // namespace brindle::py
