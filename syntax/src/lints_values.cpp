// Values that parse but were probably meant differently: two strings that
// the grammar reads as one, expressions cut short, empty items, bare dates,
// Windows paths full of escapes, and misspelt environment names.
#include <algorithm>
#include <string>

#include "codes.h"
#include "lints.h"
#include "quoting.h"
#include "suggest.h"
#include "text.h"
#include "value_parser.h"

namespace brindle {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// 2024-01-15
bool is_bare_date(std::string_view t) {
  if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
  for (const size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (!is_digit(t[i])) return false;
  }
  return true;
}

// Items with nothing to report, told without splitting them: no item is
// empty and no byte could start a nested array or dict, an operator, a `??`
// or a date. Strings are not skipped, so a byte inside one only sends the
// items down the full path; so does any byte outside ASCII, which might be
// a blank.
bool plain_items(std::string_view inner) {
  bool item_started = false;
  for (const char c : inner) {
    switch (c) {
      case '[': case '#': case '?': case '+': case '-': case '*': case '/':
        return false;
      case ',':
        if (!item_started) return false;
        item_started = false;
        break;
      case ' ': case '\t': case '\n': case '\r': case '\v': case '\f':
        break;
      default:
        if (static_cast<unsigned char>(c) >= 0x80) return false;
        item_started = true;
    }
  }
  return true;
}

class ValueLints {
 public:
  ValueLints(const LineRecord& rec, std::vector<Finding>& out) : rec_(rec), out_(out) {}

  // Strings of the whole value, by the line's quoting rules.
  void strings(std::string_view text, uint64_t offset) {
    constexpr size_t kNone = std::string_view::npos;
    size_t prev_open = kNone, prev_close = kNone, open = kNone, joined_from = kNone;
    bool reported = false;
    walk_quoting(
        text, [](size_t&) { return true; },
        [&](size_t i, bool opens) {
          if (opens) {
            open = i;
            if (!reported && prev_close != kNone &&
                text.substr(prev_close + 1, i - prev_close - 1).find_first_of("+-*/,?[]{}#=()") ==
                    std::string_view::npos) {
              joined_from = prev_open;
            }
            return true;
          }
          if (joined_from != kNone) {
            Finding f = make_finding(
                codes::kQuoteInString,
                "these two strings are read as one string holding `\"`; a comma may be missing",
                map({offset + joined_from, offset + i + 1}));
            f.suggestion = "separate them with a comma, or escape the quote as `\\\"`";
            out_.push_back(std::move(f));
            reported = true;
            joined_from = kNone;
          }
          windows_path(text.substr(open + 1, i - open - 1), offset + open);
          prev_open = open;
          prev_close = i;
          return true;
        });
  }

  // Arrays, inline dicts, `??` chains and expression ends, to a bounded depth.
  void structure(std::string_view t, uint64_t offset, int depth) {
    if (depth > kMaxValueDepth) return;
    while (true) {
      // A `??` at the top level is one in the text: most values have none.
      if (t.find("??") == std::string_view::npos) break;
      const auto split = find_top_level(t, "??");
      if (!split) break;
      const std::string_view right = t.substr(*split + 2);
      if (trim(right).empty()) {
        trailing(offset + *split, 2, "`??`");
        t = trim_end(t.substr(0, *split));
        break;
      }
      expression(trim_end(t.substr(0, *split)), offset, depth);
      const size_t lead = right.size() - trim_start(right).size();
      offset += *split + 2 + lead;
      t = trim_start(right);
    }
    expression(t, offset, depth);
  }

 private:
  Span map(Span s) const { return rec_.map_span(s); }

  void trailing(uint64_t at, size_t length, std::string_view what) {
    Finding f = make_finding(codes::kTrailingOperator,
                             "expression ends in " + std::string(what) +
                                 "; the value is what comes before it",
                             map({at, at + length}));
    f.suggestion = "complete the expression or remove the operator";
    out_.push_back(std::move(f));
  }

  void expression(std::string_view t, uint64_t offset, int depth) {
    if (t.empty()) return;
    const char last = t.back();
    if (t.size() > 1 && (last == '+' || last == '-' || last == '*' || last == '/')) {
      trailing(offset + t.size() - 1, 1, std::string(1, '`').append(1, last).append(1, '`'));
      return;
    }
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      items(t.substr(1, t.size() - 2), offset + 1, depth, false);
    } else if (t.size() >= 4 && t.starts_with("#{") && t.ends_with("}#")) {
      items(t.substr(2, t.size() - 4), offset + 2, depth, true);
    } else if (is_bare_date(t)) {
      Finding f = make_finding(codes::kBareDate,
                               "a bare date is subtraction: `" + std::string(t) + "` is a number",
                               map({offset, offset + t.size()}));
      f.suggestion = "write it in quotes: `\"" + std::string(t) + "\"`";
      out_.push_back(std::move(f));
    }
  }

  void items(std::string_view inner, uint64_t offset, int depth, bool dict) {
    if (plain_items(inner)) return;
    const std::vector<Piece> pieces = split_top_level(inner, offset);
    for (const Piece& piece : pieces) {
      const std::string_view item = trim(piece.text);
      // Blanks after a trailing comma are the last piece, and fine.
      if (item.empty() && &piece == &pieces.back()) continue;
      if (item.empty()) {
        const uint64_t start = piece.offset > 0 ? piece.offset - 1 : 0;
        Finding f = make_finding(codes::kEmptyItem,
                                 std::string("empty item in ") +
                                     (dict ? "an inline dict" : "an array") +
                                     ": two commas in a row",
                                 map({start, piece.offset + piece.text.size() + 1}));
        f.suggestion = "remove one comma";
        out_.push_back(std::move(f));
        continue;
      }
      const uint64_t at = piece.offset + (piece.text.size() - trim_start(piece.text).size());
      if (!dict) {
        structure(item, at, depth + 1);
        continue;
      }
      const auto eq = find_top_level(item, "=");
      if (!eq) continue;
      const std::string_view after = item.substr(*eq + 1);
      structure(trim(after), at + *eq + 1 + (after.size() - trim_start(after).size()), depth + 1);
    }
  }

  // `"C:\new\tools"`: a drive letter, a colon and a single backslash.
  void windows_path(std::string_view content, uint64_t open) {
    if (content.size() < 4) return;
    const char drive = content[0];
    const bool letter = (drive >= 'a' && drive <= 'z') || (drive >= 'A' && drive <= 'Z');
    if (!letter || content[1] != ':' || content[2] != '\\' || content[3] == '\\') return;
    Finding f = make_finding(codes::kWindowsPath,
                             "backslashes in this path are escapes (`\\n` is a newline, `\\t` a "
                             "tab)",
                             map({open, open + content.size() + 2}));
    f.suggestion = "double each backslash, or use `/`";
    out_.push_back(std::move(f));
  }

  const LineRecord& rec_;
  std::vector<Finding>& out_;
};

}  // namespace

void lint_value(const LineRecord& rec, bool block_entry, std::vector<Finding>& out) {
  std::string_view text = trim_end(rec.value);
  if (block_entry && !text.empty() && text.back() == ',') text = trim_end(text.substr(0, text.size() - 1));
  const std::string_view t = trim_start(text);
  const uint64_t offset = rec.value_span.start + (text.size() - t.size());
  ValueLints lints(rec, out);
  // Two strings read as one take four quotes; a drive path takes `:\`.
  if (std::count(t.begin(), t.end(), '"') >= 4 || t.find(":\\") != std::string_view::npos) {
    lints.strings(t, offset);
  }
  lints.structure(t, offset, 0);
}

void lint_environment(const Document& doc, const EnvLookup& env,
                      const std::vector<std::string>& names, std::vector<Finding>& out) {
  if (names.empty()) return;
  for (const VariableRefView ref : doc.variable_refs) {
    if (ref.kind != VariableKind::Environment || env.get(ref.name)) continue;
    const std::string_view best = closest_name(ref.name, names);
    if (best.empty()) continue;
    Finding f = make_finding(codes::kUnknownEnvironment,
                             "`$ENV." + std::string(ref.name) + "` is not set", ref.span);
    f.suggestion = "did you mean `$ENV." + std::string(best) + "`?";
    out.push_back(std::move(f));
  }
}

}  // namespace brindle
