// The lexer cuts source text into physical lines, removes comments, joins a
// value whose brackets are still open with the lines that follow, and
// classifies every logical line into one LineRecord. It never fails: a line
// that fits no rule is `Other`.
//
// Records hold views into the source wherever the text appears there
// verbatim; text that does not (a joined value, an unquoted key with escapes)
// is owned by the record itself, so records may be moved freely but the
// source must outlive them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "byte_table.h"
#include "model.h"

namespace brindle {

enum class LineKind : uint8_t {
  Other = 0,
  Section = 1,
  VarsHeader = 2,
  AnnotationLine = 3,
  KeyValue = 4,
  BlockOpen = 5,
  BlockClose = 6,
};

// One piece of a value joined over several physical lines: the bytes
// value[text_start, text_start + length) were copied from the source starting
// at source_start. `line_end` is the end of that piece's physical line
// (terminator excluded); the blank that joins it to the next piece maps there.
struct JoinPiece {
  uint64_t text_start = 0;
  uint64_t length = 0;
  uint64_t source_start = 0;
  uint64_t line_end = 0;
};

struct LineRecord {
  std::string_view raw;              // physical line(s); joined with '\n'
  std::string_view key;              // after unquote_key
  std::string_view value;            // joined pieces separated by one blank
  std::string_view section_name;     // trimmed text between the brackets
  std::string_view annotation_text;  // trimmed, comment-free, starts with '@'
  Span line_span;
  Span key_span;
  Span value_span;
  Span name_span;
  LineKind kind = LineKind::Other;

  // Pieces of a joined value, in order; empty for a single-line value.
  std::vector<JoinPiece> joins;

  // Maps a position in the value grammar's coordinates (value_span.start +
  // index into `value`) back to the source byte it came from. Identity for
  // single-line values. `is_end` maps an exclusive end position (one past
  // the last byte of a range) so that a range never ends on the next line.
  uint64_t map_offset(uint64_t pos, bool is_end = false) const;
  // Maps both ends; an empty range keeps start <= end.
  Span map_span(Span s) const;

  // Storage for texts that do not stand verbatim in the source.
  struct Owned {
    std::string raw;
    std::string key;
    std::string value;
  };
  std::unique_ptr<Owned> owned;
};

// Source text in, one record per logical line out.
std::vector<LineRecord> lex(std::string_view source);

// The same records one at a time, so that a caller which keeps only some of
// them never holds a record for every line of a large source.
class Lexer {
 public:
  explicit Lexer(std::string_view source) : src_(source) {}
  // Replaces `rec` with the next record; false at the end of the source.
  bool next(LineRecord& rec);
  // The next physical line: a line feed ends it, and a carriage return right
  // before the line feed is dropped too; a last line without a line feed
  // counts only when it is not empty.
  bool next_line(uint64_t& start, std::string_view& text);
  std::string_view source() const { return src_; }

 private:
  bool read_line(uint64_t& start, std::string_view& text);

  std::string_view src_;
  size_t pos_ = 0;
};

// ASCII letters, digits, `_` and `-`: the bytes of a bare key (looked up,
// as every key line reads its key byte by byte).
inline constexpr ByteTable kBareKeyBytes = byte_table(kAsciiAlnum, "_-");
inline bool is_bare_key_byte(char c) { return kBareKeyBytes[static_cast<unsigned char>(c)]; }

// The part of one physical line before its comment, trimmed at the end.
std::string_view strip_comment(std::string_view line);

// Openers minus closers outside strings (may be negative).
int32_t bracket_depth(std::string_view text);

// Removes the quotes of a quoted key and its two escapes (\" and \\).
std::string unquote_key(std::string_view text);

// A section name cut into its segments (at least one; may be empty ones).
std::vector<std::string> split_key_path(std::string_view name);

}  // namespace brindle
