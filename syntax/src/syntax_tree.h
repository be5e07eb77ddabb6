// The lossless syntax tree of a source text. Every byte of the source belongs
// to exactly one token, tokens lie end to end in source order, so printing
// the tokens gives back the input byte for byte, whatever it holds: lines the
// language ignores, values that do not evaluate, CRLF, a byte-order mark,
// tabs, bytes that are not UTF-8.
//
// The tree is built in one pass over the lexer's line records: the same
// classification, comment stripping and bracket joining as the evaluating
// parse, and the value grammar's own scanners (split_top_level,
// find_top_level, split_expression) for the inside of values. Building never
// fails and evaluates nothing. Values nested deeper than kMaxValueDepth keep
// their innermost text as one token.
//
// Layout: the tree owns a copy of the source, its tokens (start offsets and
// kinds in two arrays; a token ends where the next begins) and its nodes in
// pre-order, each with its parent, the index past its last descendant, its
// token range and its span. Nodes refer to each other by 32-bit index, which
// keeps them small: a source of kMaxTreeSource bytes or more is not taken
// apart, its tree is one ignored line holding one Text token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "span.h"

namespace brindle {

enum class TokenKind : uint8_t {
  Whitespace,    // blanks inside a line (any White_Space character but a line feed)
  Newline,       // "\n" or "\r\n"
  Bom,           // a UTF-8 byte-order mark at the very start
  Comment,       // from '#' to the end of its line
  Text,          // content of an ignored line, or text the grammar does not take apart
  Key,           // a key as written, quotes included
  Equals,        // '=' of a key line or an inline dict entry
  HeaderOpen,    // '[' of a section header
  SectionName,   // the name between the brackets
  HeaderClose,   // ']' of a section header
  Annotation,    // a whole annotation, '@' to its end (comment excluded)
  BlockOpen,     // '#{' ending a block's opening line
  BlockClose,    // '}#' of a block's closing line
  String,        // a quoted operand
  Variable,      // a '$' operand
  Scalar,        // any other single operand: number, keyword, malformed text
  Operator,      // + - * /
  Fallback,      // ??
  ArrayOpen,
  ArrayClose,
  DictOpen,      // '#{' of an inline dict
  DictClose,     // '}#' of an inline dict
  DictKey,       // key of an inline dict entry, as written
  Comma,         // between elements and entries, and after a block entry
};

enum class NodeKind : uint8_t {
  Document,       // the whole source
  Section,        // a header and the lines up to the next header
  SectionHeader,  // `[name]` line (also an invalid one, flagged)
  VarsHeader,     // `[vars]` line
  KeyLine,        // key, '=', value, trailing comment; all lines of a joined value
  AnnotationLine, // `@...` line (also one that does not parse, flagged)
  Block,          // opening key line, its entries, closing line
  BlockCloseLine, // `}#` line closing a block
  CommentLine,    // only a comment
  BlankLine,      // nothing but blanks
  IgnoredLine,    // a line the document does not use, kept as written
  Value,          // a value: expressions joined by '??'
  Array,          // `[ ... ]`
  InlineDict,     // `#{ ... }#`
  DictEntry,      // `key = value` inside an inline dict
  Join,           // the break between two lines of a joined value
};

// Node flags.
inline constexpr uint8_t kNodeInvalid = 1;  // header or annotation the builder rejects
inline constexpr uint8_t kNodeJoined = 2;   // key line spanning several physical lines
inline constexpr uint8_t kNodeOpener = 4;   // key line opening a block
inline constexpr uint8_t kNodeUnclosed = 8; // block without its closing line

// Sources below this size get a full tree; every count of tokens and nodes
// then fits a Node's 32-bit indices.
inline constexpr uint64_t kMaxTreeSource = uint64_t{1} << 30;

struct Node {
  NodeKind kind = NodeKind::Document;
  uint8_t flags = 0;
  uint32_t parent = 0;       // the Document is its own parent
  uint32_t end = 0;          // one past the last descendant
  uint32_t first_token = 0;
  uint32_t end_token = 0;    // one past the last token
  Span span;

  bool has(uint8_t flag) const { return (flags & flag) != 0; }
};

class SyntaxTree {
 public:
  // Never fails.
  static SyntaxTree build(std::string_view source);

  std::string_view source() const { return source_; }
  size_t token_count() const { return kinds_.size(); }
  TokenKind token_kind(size_t i) const { return kinds_[i]; }
  Span token_span(size_t i) const { return {starts_[i], starts_[i + 1]}; }
  std::string_view token_text(size_t i) const {
    return std::string_view(source_).substr(starts_[i], starts_[i + 1] - starts_[i]);
  }

  const std::vector<Node>& nodes() const { return nodes_; }
  const Node& node(size_t i) const { return nodes_[i]; }
  std::string_view text(const Node& n) const {
    return std::string_view(source_).substr(n.span.start, n.span.end - n.span.start);
  }
  // Index of the first token of kind `k` in the node's range, or its end_token.
  size_t find_token(const Node& n, TokenKind k) const;

  // Direct children of node i: for (j = first_child(i); j < node(i).end; j = node(j).end).
  static size_t first_child(size_t i) { return i + 1; }

  // The tokens printed in order: the source again.
  std::string print() const;

 private:
  friend class TreeBuilder;
  std::string source_;
  std::vector<uint64_t> starts_;  // one per token, plus the source size
  std::vector<TokenKind> kinds_;
  std::vector<Node> nodes_;
};

std::string_view token_kind_name(TokenKind kind);
std::string_view node_kind_name(NodeKind kind);

}  // namespace brindle
