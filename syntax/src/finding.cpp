#include "finding.h"

#include <algorithm>

#include "text.h"

namespace brindle {

std::string_view severity_name(Severity severity) {
  switch (severity) {
    case Severity::Error: return "error";
    case Severity::Warning: return "warning";
    case Severity::Info: return "info";
  }
  return "error";
}

SourcePosition SourceLocator::locate(uint64_t offset) const {
  offset = std::min<uint64_t>(offset, source_.size());
  const LineColumn at = lines_.locate(offset);
  const uint64_t line_start = offset - (at.column - 1);
  const std::string_view prefix = source_.substr(line_start, offset - line_start);
  return SourcePosition{at.line, count_chars(prefix) + 1, at.column};
}

}  // namespace brindle
