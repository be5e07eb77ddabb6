// Findings: one problem at one place in a source, as the diagnostics engine
// reports it to every front end (the command line, the Python API, editors).
//
// A finding carries a stable code from the catalogue in codes.h, a severity,
// a message, its primary span in bytes, related spans with a label each and
// an optional suggestion. Lines and columns are computed from the byte
// offsets only when a finding is shown, by a SourceLocator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "span.h"

namespace brindle {

enum class Severity : uint8_t { Error = 0, Warning = 1, Info = 2 };

std::string_view severity_name(Severity severity);  // "error", "warning", "info"

struct Related {
  std::string label;  // e.g. "required by @min: 1 here"
  Span span;
};

struct Finding {
  std::string_view code;  // "B101"; points into the static catalogue
  Severity severity = Severity::Warning;
  std::string message;
  Span span;
  std::vector<Related> related;
  std::string suggestion;  // empty: none
  std::string path;        // dotted key path, when the finding is about a key
};

// Line and column of a byte offset: lines from 1, columns from 1 counted in
// characters (code points) and, for byte-oriented tools, in bytes.
struct SourcePosition {
  uint64_t line = 1;
  uint64_t column = 1;
  uint64_t byte_column = 1;
};

// Locates offsets of one source; each lookup is a binary search plus a
// count over the start of one line.
class SourceLocator {
 public:
  explicit SourceLocator(std::string_view source) : source_(source), lines_(source) {}
  SourcePosition locate(uint64_t offset) const;

 private:
  std::string_view source_;
  LineIndex lines_;
};

}  // namespace brindle
