#include "key_segments.h"

#include "lexer.h"
#include "text.h"

namespace brindle {

std::vector<KeySegment> split_key_segments(std::string_view name) {
  std::vector<KeySegment> segments;
  const auto add = [&](size_t from, size_t to) {
    const std::string_view raw = name.substr(from, to - from);
    const std::string_view body = trim(raw);
    const size_t start = from + static_cast<size_t>(body.data() - raw.data());
    segments.push_back({unquote_key(body), start, start + body.size()});
  };
  bool in_quote = false;
  size_t seg_start = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '"') {
      if (i == 0 || name[i - 1] != '\\') in_quote = !in_quote;
    } else if (c == '.' && !in_quote) {
      add(seg_start, i);
      seg_start = i + 1;
    }
  }
  add(seg_start, name.size());
  return segments;
}

}  // namespace brindle
