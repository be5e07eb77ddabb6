// Lines the builder ignores, with the habit of another format each one most
// likely comes from, and keys whose entry a later line replaces.
#include <string>

#include "codes.h"
#include "lints.h"
#include "quoting.h"
#include "text.h"

namespace brindle {

namespace {

bool is_bare_key(std::string_view s) {
  if (s.empty()) return false;
  for (const char c : s) {
    if (!is_bare_key_byte(c)) return false;
  }
  return true;
}

size_t find_unquoted(std::string_view text, char wanted) {
  size_t found = std::string_view::npos;
  walk_unquoted(text, [&](size_t& i) {
    if (text[i] != wanted) return true;
    found = i;
    return false;
  });
  return found;
}

// Every point-separated segment is a bare key: `database.port`.
bool is_dotted_key(std::string_view s) {
  if (s.find('.') == std::string_view::npos) return false;
  size_t start = 0;
  while (true) {
    const size_t dot = s.find('.', start);
    if (!is_bare_key(trim(s.substr(start, dot == std::string_view::npos ? dot : dot - start))))
      return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

// Built by appending: `"`" + std::string(s)` trips a false -Wrestrict in GCC 12.
std::string quoted(std::string_view s) { return std::string(1, '`').append(s).append(1, '`'); }

}  // namespace

void lint_ignored_line(const LineRecord& rec, std::vector<Finding>& out) {
  const std::string_view s = trim(strip_comment(rec.raw));
  const uint64_t start = rec.line_span.start + static_cast<uint64_t>(s.data() - rec.raw.data());
  const Span span{start, start + s.size()};
  auto add = [&](const CodeInfo& code, std::string message, std::string suggestion = {}) {
    Finding f = make_finding(code, std::move(message), span);
    f.suggestion = std::move(suggestion);
    out.push_back(std::move(f));
  };

  if (s.starts_with(";") || s.starts_with("//")) {
    return add(codes::kForeignComment,
               quoted(s.substr(0, s[0] == ';' ? 1 : 2)) +
                   " does not start a comment; the line is ignored",
               "comments start with `#`");
  }
  if (s.starts_with("[[")) {
    std::string_view name = s.substr(2);
    while (!name.empty() && name.back() == ']') name.remove_suffix(1);
    return add(codes::kArrayOfTables,
               quoted(s) + " is not a section header; the line is ignored and the keys below "
                           "it stay in the section above",
               "write `[" + std::string(trim(name)) +
                   "]`, or an array of inline dicts `#{ ... }#`");
  }
  if (s.starts_with("[") || s.ends_with("]")) {
    const bool open = s.starts_with("[") && !s.ends_with("]");
    return add(codes::kUnclosedHeader,
               open ? "section header without its closing `]` is ignored; the keys below it "
                      "stay in the section above"
                    : "malformed section header " + quoted(s) +
                          " is ignored; the keys below it stay in the section above",
               open ? "write `" + std::string(s) + "]`" : std::string());
  }

  const size_t eq = find_unquoted(s, '=');
  if (eq == std::string_view::npos) {
    const size_t colon = find_unquoted(s, ':');
    if (colon != std::string_view::npos) {
      const std::string_view key = trim(s.substr(0, colon));
      if (is_bare_key(key) || is_dotted_key(key) ||
          (key.size() >= 2 && key.front() == '"' && key.back() == '"')) {
        return add(codes::kColonKey, "`key: value` is ignored; keys take `=`",
                   "write `" + std::string(key) + " = " +
                       std::string(trim(s.substr(colon + 1))) + "`");
      }
    }
    return add(codes::kIgnoredLine, "line is not a key, header or annotation; it is ignored");
  }

  const std::string_view key = trim(s.substr(0, eq));
  const std::string_view value = trim(s.substr(eq + 1));
  if (key.empty()) {
    return add(codes::kIgnoredLine, "line is not a key, header or annotation; it is ignored");
  }
  if (value.empty()) {
    return add(codes::kMissingValue, "key " + quoted(key) + " has no value; the line is ignored",
               "write a value after `=`, or `null`");
  }
  if (is_dotted_key(key)) {
    const size_t last = key.rfind('.');
    return add(codes::kDottedKey,
               "dotted key " + quoted(key) + " on the left of `=` is ignored",
               "write `" + std::string(trim(key.substr(last + 1))) + " = ...` under `[" +
                   std::string(trim(key.substr(0, last))) + "]`");
  }
  const bool blank = key.find_first_of(" \t") != std::string_view::npos;
  add(codes::kBadKey,
      "key " + quoted(key) +
          (blank ? " has a blank in it" : " has characters a bare key cannot hold") +
          "; the line is ignored",
      "quote it: `\"" + std::string(key) + "\" = ...`" +
          (blank ? std::string(" or join the words with `_`") : std::string()));
}

void lint_duplicate_key(std::string_view path, Span later, const LineRecord& rec,
                        std::vector<Finding>& out) {
  Finding f = make_finding(codes::kDuplicateKey,
                           quoted(path) + " is given again; the earlier value is replaced",
                           later);
  f.related.push_back({"first given here", rec.key_span});
  f.path = std::string(path);
  out.push_back(std::move(f));
}

void lint_duplicate_variable(const Document& doc, const LineRecord& rec,
                             const std::unordered_set<std::string_view, KeyHash>& builds_on_itself,
                             std::vector<Finding>& out) {
  const std::optional<Span> key = doc.var_key_span(rec.key);
  if (!key || key->start <= rec.key_span.start) return;
  if (builds_on_itself.contains(rec.key)) return;
  Finding f = make_finding(codes::kDuplicateKey,
                           "variable " + quoted(rec.key) +
                               " is defined again; keys see only the later value",
                           *key);
  f.related.push_back({"first defined here", rec.key_span});
  out.push_back(std::move(f));
}

}  // namespace brindle
