#include "lexer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

#include "key_segments.h"
#include "quoting.h"
#include "text.h"

namespace brindle {

namespace {

size_t count_physical_lines(std::string_view source) {
  size_t n = static_cast<size_t>(std::count(source.begin(), source.end(), '\n'));
  if (!source.empty() && source.back() != '\n') ++n;
  return n;
}

size_t leading_blank_bytes(std::string_view s) { return s.size() - trim_start(s).size(); }

// Printable ASCII other than the blank: a byte no trimming removes, and no
// byte of a longer blank either.
inline bool is_plain_byte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b > ' ' && b < 0x7F;
}

// trim_start and trim_end, with the commonest case (no blank at that end,
// or one space before a plain byte) decided before the general walk.
inline std::string_view trim_start_quick(std::string_view s) {
  if (!s.empty() && is_plain_byte(s[0])) return s;
  if (s.size() >= 2 && s[0] == ' ' && is_plain_byte(s[1])) return s.substr(1);
  return trim_start(s);
}
inline std::string_view trim_end_quick(std::string_view s) {
  if (!s.empty() && is_plain_byte(s.back())) return s;
  return trim_end(s);
}

// What one walk over a line's bytes outside its strings finds: where its
// comment starts (the size when it has none) and the depth of the brackets
// before that. Depth arithmetic is done in 64 bits so that no number of
// joined lines can overflow it.
struct CodeScan {
  size_t code_end = 0;
  int64_t depth = 0;
};

// The one place that knows which `#` starts a comment and how brackets
// count. Without `kComments` the whole text is code. Only those bytes stop
// the walk; most values of ordinary lines hold none.
constexpr ByteTable kCodeStops = stop_bytes("#[](){}");

template <bool kComments>
CodeScan scan_code(std::string_view text) {
  CodeScan out{text.size(), 0};
  const size_t n = text.size();
  walk_unquoted_stops(text, kCodeStops, [&](size_t& i) {
    switch (text[i]) {
      case '#':
        if (i + 1 < n && text[i + 1] == '{') {
          ++out.depth;
          ++i;
        } else if constexpr (kComments) {
          // A `}` before this `#` (blanks between allowed) makes it a dict
          // closer; right before it, the `}` case below has taken it.
          const std::string_view before = trim_end(text.substr(0, i));
          if (before.empty() || before.back() != '}') {
            out.code_end = i;
            return false;
          }
        }
        return true;
      case '}':
        --out.depth;
        if (i + 1 < n && text[i + 1] == '#') ++i;
        return true;
      case '[':
      case '(':
      case '{':
        ++out.depth;
        return true;
      case ']':
      case ')':
        --out.depth;
        return true;
      default:
        return true;
    }
  });
  return out;
}

// scan_code<true> for a line of code, passing over a text without a stop
// byte (most values: "42", "  2,") without calling the walk.
CodeScan scan_line_code(std::string_view text) {
  size_t stop = 0;
  while (stop < text.size() && !kCodeStops[static_cast<unsigned char>(text[stop])]) ++stop;
  return stop == text.size() ? CodeScan{text.size(), 0} : scan_code<true>(text);
}

int64_t depth_of(std::string_view text) {
  // Without a bracket byte the depth is 0, whatever the quotes; most values
  // have none.
  bool any = false;
  for (const char c : text) {
    if (c == '[' || c == ']' || c == '(' || c == ')' || c == '{' || c == '}') {
      any = true;
      break;
    }
  }
  return any ? scan_code<false>(text).depth : 0;
}

// Key lines: `key = value`, read on the physical line starting at its first
// non-blank byte `lead`. A key holds no comment or bracket outside quotes, so
// only the value is walked for them: once. Fills the record and returns true
// when the line is one; `depth` is then the value's open bracket depth.
bool classify_key_line(std::string_view line, size_t lead, uint64_t line_start, LineRecord& rec,
                       int64_t& depth) {
  const std::string_view body = line.substr(lead);
  if (body.empty()) return false;

  size_t key_len = 0;
  if (body[0] == '"') {
    size_t i = 1;
    bool closed = false;
    while (i < body.size()) {
      if (body[i] == '\\') {
        i += 2;
        continue;
      }
      if (body[i] == '"') {
        closed = true;
        break;
      }
      ++i;
    }
    if (!closed) return false;
    key_len = i + 1;
  } else {
    while (key_len < body.size() && is_bare_key_byte(body[key_len])) ++key_len;
    if (key_len == 0) return false;
  }

  const std::string_view written = body.substr(0, key_len);
  std::string_view after = trim_start_quick(body.substr(key_len));
  if (after.empty() || after[0] != '=') return false;
  // Blanks hold no byte the walk stops at, so the value is walked from its
  // first other byte. Most values hold no stop byte at all: passing over
  // them is all the walk would do, so it is only called for the others.
  const std::string_view code = trim_start_quick(after.substr(1));
  const CodeScan scan = scan_line_code(code);
  const std::string_view value_text = trim_end_quick(code.substr(0, scan.code_end));
  if (value_text.empty()) return false;

  // A quoted key without backslashes unquotes to a plain slice of the
  // source; only escapes force an owned copy.
  if (written.size() >= 2 && written.front() == '"' && written.back() == '"') {
    const std::string_view inner = written.substr(1, written.size() - 2);
    if (inner.find('\\') == std::string_view::npos) {
      rec.key = inner;
    } else {
      if (!rec.owned) rec.owned = std::make_unique<LineRecord::Owned>();
      rec.owned->key = unquote_key(written);
      rec.key = rec.owned->key;
    }
  } else {
    rec.key = written;
  }
  rec.key_span = {line_start + lead, line_start + lead + key_len};

  if (value_text == "#{") {
    rec.kind = LineKind::BlockOpen;
    return true;
  }
  rec.kind = LineKind::KeyValue;
  rec.value = value_text;
  const uint64_t value_start = line_start + static_cast<uint64_t>(value_text.data() - line.data());
  rec.value_span = {value_start, rec.line_span.end};
  depth = scan.depth;
  return true;
}

// What a joined value's buffers take at its first line: bytes beyond twice
// that line, and pieces.
constexpr size_t kJoinedRoom = 128;
constexpr size_t kJoinedPieces = 8;
// Past this many bytes a joined value reads the rest of its lines ahead
// once and takes its buffers at their final size: a huge value then never
// holds an outgrown buffer next to its copy, nor touches more memory than
// it keeps.
constexpr size_t kReadAheadFrom = size_t{1} << 20;

// One line of a joined value: its comment-free text without the blanks
// around it, and the depth its brackets add.
struct JoinedLine {
  std::string_view piece;
  size_t lead = 0;  // blanks before the piece
  int64_t depth = 0;
};

JoinedLine joined_line(std::string_view line) {
  const CodeScan scan = scan_line_code(line);
  const std::string_view stripped = trim_end_quick(line.substr(0, scan.code_end));
  const size_t lead = leading_blank_bytes(stripped);
  return {stripped.substr(lead), lead, scan.depth};
}

// Makes room in `value` and `joins` for the lines that `lines` has still to
// give to a value `depth` deep, reading them on a copy of the lexer.
void reserve_rest(const Lexer& lines, int64_t depth, std::string& value, std::vector<JoinPiece>& joins) {
  Lexer ahead = lines;
  uint64_t start = 0;
  std::string_view line;
  size_t bytes = 0;
  size_t pieces = 0;
  while (depth >= 1 && ahead.next_line(start, line)) {
    const JoinedLine joined = joined_line(line);
    bytes += 1 + joined.piece.size();
    ++pieces;
    depth += joined.depth;
  }
  value.reserve(value.size() + bytes);
  joins.reserve(joins.size() + pieces);
}

// Appends the following physical lines to a value whose brackets are still
// open (`depth` deep). Each new line is walked once (a huge value twice), so
// a bracket that never closes costs a pass or two over the rest of the
// source. The joined value goes to the record's own buffer, which keeps its
// storage from one joined value to the next. The raw text stays a view of
// the source while the lines are joined by line feeds alone; a carriage
// return dropped between them makes it a copy.
void join_open_value(Lexer& lines, LineRecord& rec, int64_t depth) {
  uint64_t start = 0;
  std::string_view line;
  bool first = true;
  bool read_ahead = false;
  std::string* raw = nullptr;  // null while the raw text is a view
  std::string* value = nullptr;
  const char* const raw_begin = rec.raw.data();
  const char* raw_end = raw_begin + rec.raw.size();
  while (depth >= 1 && lines.next_line(start, line)) {
    if (first) {
      if (!rec.owned) rec.owned = std::make_unique<LineRecord::Owned>();
      value = &rec.owned->value;
      // Room for a few more lines at once, where growing from one line's
      // size would allocate at almost every line of a short list.
      value->reserve(2 * rec.value.size() + kJoinedRoom);
      rec.joins.reserve(kJoinedPieces);
      value->assign(rec.value);
      rec.joins.push_back({0, value->size(), rec.value_span.start, rec.line_span.end});
      first = false;
    }
    if (raw == nullptr && line.data() != raw_end + 1) {
      raw = &rec.owned->raw;
      raw->assign(raw_begin, static_cast<size_t>(raw_end - raw_begin));
    }
    if (raw != nullptr) {
      raw->push_back('\n');
      raw->append(line);
    } else {
      raw_end = line.data() + line.size();
    }
    const JoinedLine joined = joined_line(line);
    value->push_back(' ');
    const uint64_t line_end = start + line.size();
    rec.joins.push_back({value->size(), joined.piece.size(), start + joined.lead, line_end});
    value->append(joined.piece);
    // Blanks hold no bracket, so the line's depth is the piece's.
    depth += joined.depth;
    rec.line_span.end = line_end;
    rec.value_span.end = line_end;
    if (!read_ahead && value->size() >= kReadAheadFrom && depth >= 1) {
      read_ahead = true;
      reserve_rest(lines, depth, *value, rec.joins);
    }
  }
  if (first) return;  // no line followed
  rec.raw = raw != nullptr ? std::string_view(*raw)
                           : std::string_view(raw_begin, static_cast<size_t>(raw_end - raw_begin));
  rec.value = *value;
}

// Replaces every non-overlapping occurrence of the two bytes `pair`, left to
// right, by `with`.
std::string replace_pairs(std::string_view s, const char (&pair)[3], char with) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == pair[0] && i + 1 < s.size() && s[i + 1] == pair[1]) {
      out.push_back(with);
      ++i;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

}  // namespace

std::string_view strip_comment(std::string_view line) {
  // Most lines have no '#' at all: nothing to walk.
  if (std::memchr(line.data(), '#', line.size()) == nullptr) return trim_end(line);
  return trim_end(line.substr(0, scan_code<true>(line).code_end));
}

int32_t bracket_depth(std::string_view text) {
  const int64_t d = depth_of(text);
  constexpr int64_t lo = std::numeric_limits<int32_t>::min();
  constexpr int64_t hi = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(std::clamp(d, lo, hi));
}

std::string unquote_key(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::string(text);
  const std::string unquoted = replace_pairs(text.substr(1, text.size() - 2), "\\\"", '"');
  return replace_pairs(unquoted, "\\\\", '\\');
}

std::vector<std::string> split_key_path(std::string_view name) {
  std::vector<std::string> names;
  // Without a quote every point cuts and no segment needs unquoting: the
  // segments are the trimmed pieces, read straight into their strings.
  if (std::memchr(name.data(), '"', name.size()) == nullptr) {
    names.reserve(1 + static_cast<size_t>(std::count(name.begin(), name.end(), '.')));
    size_t from = 0;
    for (;;) {
      const size_t dot = name.find('.', from);
      names.emplace_back(trim(name.substr(from, dot == std::string_view::npos ? dot : dot - from)));
      if (dot == std::string_view::npos) return names;
      from = dot + 1;
    }
  }
  for (KeySegment& segment : split_key_segments(name)) names.push_back(std::move(segment.name));
  return names;
}

uint64_t LineRecord::map_offset(uint64_t pos, bool is_end) const {
  if (joins.empty() || pos < value_span.start) return pos;
  const uint64_t index = pos - value_span.start;
  const JoinPiece& last = joins.back();
  const uint64_t text_end = last.text_start + last.length;
  const uint64_t clamped = last.source_start + last.length;
  if (index >= text_end && !(is_end && index == text_end)) return clamped;

  // An exclusive end is mapped through the character before it, so that a
  // range closing a piece ends on that piece's line.
  uint64_t at = index;
  if (is_end) {
    if (index == 0) return joins.front().source_start;
    at = index - 1;
  }
  // The last piece starting at or before `at`.
  auto it = std::upper_bound(joins.begin(), joins.end(), at,
                             [](uint64_t v, const JoinPiece& p) { return v < p.text_start; });
  const JoinPiece& piece = *(it - 1);  // joins[0].text_start == 0 <= at
  const uint64_t within = at - piece.text_start;
  if (within < piece.length) return piece.source_start + within + (is_end ? 1 : 0);
  // The blank that joins this piece to the next stands for the line break.
  return piece.line_end;
}

Span LineRecord::map_span(Span s) const {
  const uint64_t start = map_offset(s.start);
  const uint64_t end = map_offset(s.end, true);
  return {start, std::max(start, end)};
}

namespace {

// The offset of the first line feed in p[0, n), or n. Most lines are short:
// their end is found eight bytes at a time inline, and only a long line pays
// for a call to memchr.
size_t find_line_feed(const char* p, size_t n) {
  size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kOnes = 0x0101010101010101u;
    for (; i + 8 <= n && i < 64; i += 8) {
      uint64_t word = 0;
      std::memcpy(&word, p + i, 8);
      const uint64_t x = word ^ (kOnes * '\n');
      // The lowest byte flagged is the first zero byte of x: a borrow can
      // only flag bytes above a zero one.
      const uint64_t zero = (x - kOnes) & ~x & (kOnes * 0x80);
      if (zero != 0) return i + static_cast<size_t>(std::countr_zero(zero) / 8);
    }
  }
  const void* nl = std::memchr(p + i, '\n', n - i);
  return nl == nullptr ? n : static_cast<size_t>(static_cast<const char*>(nl) - p);
}

}  // namespace

// Inline in next(): the line it reads is used at once, and a call would
// hand it over through memory.
inline bool Lexer::read_line(uint64_t& start, std::string_view& text) {
  if (pos_ >= src_.size()) return false;
  const char* base = src_.data();
  const size_t at = pos_ + find_line_feed(base + pos_, src_.size() - pos_);
  start = pos_;
  if (at == src_.size()) {
    text = src_.substr(pos_);
    pos_ = src_.size();
    return true;
  }
  size_t end = at;
  if (end > pos_ && src_[end - 1] == '\r') --end;
  text = src_.substr(pos_, end - pos_);
  pos_ = at + 1;
  return true;
}

bool Lexer::next_line(uint64_t& start, std::string_view& text) { return read_line(start, text); }

bool Lexer::next(LineRecord& rec) {
  uint64_t start = 0;
  std::string_view line;
  if (!read_line(start, line)) return false;
  // Field by field, so that the join list keeps its storage for the next
  // joined value instead of being freed and allocated again.
  rec.key = {};
  rec.value = {};
  rec.section_name = {};
  rec.annotation_text = {};
  rec.key_span = {};
  rec.value_span = {};
  rec.name_span = {};
  rec.kind = LineKind::Other;
  rec.joins.clear();
  rec.raw = line;
  rec.line_span = {start, start + line.size()};

  // The first byte decides between a comment line, a key line and the rest.
  const size_t lead = !line.empty() && is_plain_byte(line[0]) ? 0 : leading_blank_bytes(line);
  if (lead == line.size()) return true;
  const char first = line[lead];
  if (first == '#') return true;  // a comment, or `#{` that no rule accepts
  if (first == '"' || is_bare_key_byte(first)) {
    int64_t depth = 0;
    if (classify_key_line(line, lead, start, rec, depth) && rec.kind == LineKind::KeyValue)
      join_open_value(*this, rec, depth);
    return true;
  }

  const std::string_view stripped = strip_comment(line);
  const std::string_view s = trim_start(stripped);
  if (s == "[vars]") {
    rec.kind = LineKind::VarsHeader;
    return true;
  }
  if (s.empty()) return true;
  if (s.front() == '[' && s.back() == ']') {
    const std::string_view inner = trim(s.substr(1, s.size() - 2));
    if (!inner.empty() && inner.find_first_of("[]") == std::string_view::npos) {
      rec.kind = LineKind::Section;
      rec.section_name = inner;
      const uint64_t name_start = start + (stripped.size() - s.size()) + 1;
      rec.name_span = {name_start, name_start + inner.size()};
    }
    // Not a header: no later rule accepts a line starting with `[`.
    return true;
  }
  if (s.front() == '@') {
    rec.kind = LineKind::AnnotationLine;
    rec.annotation_text = s;
    return true;
  }
  if (s == "}#") rec.kind = LineKind::BlockClose;
  // A key starts with a key byte or a quote, taken above: nothing else is.
  return true;
}

std::vector<LineRecord> lex(std::string_view source) {
  std::vector<LineRecord> records;
  records.reserve(count_physical_lines(source));
  Lexer lexer(source);
  LineRecord rec;
  while (lexer.next(rec)) records.push_back(std::move(rec));
  return records;
}

}  // namespace brindle
