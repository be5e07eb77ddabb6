// Shared checks of the libFuzzer targets: a fixed environment, the rule that
// every span lies inside the text it points into, the shape of a document
// that a round trip must keep, and the one way a target reports a broken
// property (a message on stderr, then abort, which libFuzzer records with
// the input).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "display.h"
#include "model.h"
#include "serializer.h"

namespace brindle::fuzz {

[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {}) {
  std::fputs("\nPROPERTY BROKEN: ", stderr);
  std::fwrite(what.data(), 1, what.size(), stderr);  // texts may hold NUL bytes
  std::fputc('\n', stderr);
  std::fwrite(detail.data(), 1, detail.size(), stderr);
  std::fputc('\n', stderr);
  std::abort();
}

// Two variables a document may read through `$ENV.`.
struct Env final : EnvLookup {
  std::optional<std::string> get(std::string_view name) const override {
    if (name == "HOME") return "/home/fuzz";
    if (name == "PORT") return "8080";
    return std::nullopt;
  }
};

inline bool inside(Span s, uint64_t start, uint64_t end) {
  return start <= s.start && s.start <= s.end && s.end <= end;
}

inline void check_spans(const std::vector<Diagnostic>& list, uint64_t size, std::string_view where) {
  for (const Diagnostic& d : list) {
    if (!inside(d.span, 0, size)) {
      fail(where, d.message + " @" + std::to_string(d.span.start) + "-" + std::to_string(d.span.end) +
                      " in a text of " + std::to_string(size) + " bytes");
    }
  }
}

inline bool has_error(const std::vector<Diagnostic>& list) {
  for (const Diagnostic& d : list) {
    if (!d.is_warning) return true;
  }
  return false;
}

// True when the annotations at `index` of the table belong to an entry of
// `config`, found by the segments the builder kept (else by points), as
// validation finds them. An entry that a later line replaced leaves its
// annotations behind; nothing reads them and no text can carry them.
inline bool live(const Document& doc, size_t index, std::string_view path) {
  const auto& segments = doc.annotations.segments(index);
  if (segments.empty()) return entry_at(doc.config, path) != nullptr;
  const Dict* table = &doc.config;
  for (const std::string& segment : segments) {
    if (table == nullptr) return false;
    auto it = table->find(segment);
    if (it == table->end()) return false;
    table = it->second.is(Tag::Dict) ? &it->second.as_dict() : nullptr;
  }
  return true;
}

// Config, vars and each live annotation list as written plus the kind of
// each argument: equal shapes mean equal documents (debug_text keeps tags,
// the sign of zero and every digit).
inline auto shape(const Document& doc) {
  std::map<std::string, std::string> annotations;
  size_t index = 0;
  for (const auto& [path, list] : doc.annotations) {
    if (!live(doc, index++, path) || list.empty()) continue;
    std::string& written = annotations[std::string(path)];
    write_annotations(written, list, "");
    for (const Annotation& a : list) written += std::to_string(a.arg.index());
  }
  return std::tuple(debug_text(Value::dict(doc.config)), debug_text(Value::dict(doc.vars)), annotations);
}

inline std::string describe(const Document& doc) {
  const auto [config, vars, annotations] = shape(doc);
  std::string out = "config " + config + "\nvars " + vars + "\n";
  for (const auto& [path, text] : annotations) out += "@ " + path + ": " + text + "\n";
  return out;
}

}  // namespace brindle::fuzz
