// "Did you mean": the closest of a set of known names to a misspelt one.
#pragma once

#include <string_view>

namespace brindle {

// Edit distance with adjacent transpositions counting one edit (so
// "requried" is one edit from "required"). Texts longer than 64 bytes are
// never close to anything and give a large distance without work.
size_t edit_distance(std::string_view a, std::string_view b);

// The candidate closest to `name` within `max_distance` edits and less than
// half of `name` changed, or an empty view. Candidates equal to `name` are
// skipped. Ties go to the earlier candidate.
template <class Names>
std::string_view closest_name(std::string_view name, const Names& candidates,
                              size_t max_distance = 2) {
  std::string_view best;
  size_t best_distance = max_distance + 1;
  for (const auto& candidate : candidates) {
    const std::string_view c(candidate);
    if (c == name) continue;
    const size_t d = edit_distance(name, c);
    if (d < best_distance && 2 * d < name.size() + (name.size() & 1)) {
      best = c;
      best_distance = d;
    }
  }
  return best;
}

}  // namespace brindle
