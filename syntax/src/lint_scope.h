// The scope of the lint walk: the dict of the current section or block in
// the built configuration, where that scope's key lines stored their
// entries. It is found once when the scope opens, by the parsed segments
// (so a quoted name holding a point stays one level), and each key line
// then finds its entry in it: usually by its position, without comparing
// keys, else by its key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model.h"

namespace brindle {

class LintScope {
 public:
  explicit LintScope(const Dict* dict = nullptr) : dict_(dict) {}

  // A section: its segments from `root`. Returns the section's entry (null
  // when the configuration holds none).
  const DictEntry* enter(const Dict& root, const std::vector<std::string>& segments);
  // A block: the entry `key` of `parent`, already looked up (may be null).
  void enter(const LintScope& parent, std::string_view key, const DictEntry* entry);

  // The entry `key` in this scope's dict; null when the dict or the key is gone.
  const DictEntry* find(std::string_view key) const;
  // The same for a key line whose key starts at `at`. Key lines must come in
  // source order, as the walk meets them.
  const DictEntry* find_line(std::string_view key, uint64_t at);

  // The scope's key path with a point after it; empty at the root.
  std::string_view path() const { return path_; }

 private:
  void reset(const Dict* dict);
  void index_positions();

  const Dict* dict_;
  std::string path_;
  // The entries of a small dict by the start of their key span, built at the
  // scope's second key line; cursor_ follows the key lines.
  std::vector<std::pair<uint64_t, const DictEntry*>> by_position_;
  size_t cursor_ = 0;
  size_t lines_ = 0;  // key lines met before the index was built
  bool indexed_ = false;
};

}  // namespace brindle
