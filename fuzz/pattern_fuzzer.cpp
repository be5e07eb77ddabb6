// The pattern gate in front of RE2: any text compiles or fails with one
// plain sentence (never RE2's own wording, which would show our anchoring
// wrapper), a compiled pattern matches without trouble, and a pattern the
// gate and RE2 accept inside the wrapper is a regular expression on its own
// too, so the wrapper never makes a broken pattern pass.
#include <re2/re2.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "pattern_gate.h"

using namespace brindle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  const Pattern pattern = Pattern::compile(source);
  if (!pattern.ok()) {
    const std::string& why = pattern.error();
    if (why.empty()) fuzz::fail("failure without a sentence");
    for (const char c : why) {
      if (c < 0x20 || c > 0x7e) fuzz::fail("sentence with a byte that is not plain text", why);
    }
    if (why.find("(?:") != why.npos || why.find("$)") != why.npos) fuzz::fail("wrapper shows in the sentence", why);
    return 0;
  }
  pattern.full_match(source);
  pattern.full_match("");
  pattern.full_match(std::string_view(source).substr(0, size / 2));

  if (source.find("(?<") != source.npos) return 0;  // rewritten for RE2 first
  RE2::Options options;
  options.set_log_errors(false);
  options.set_max_mem(kPatternMaxMemory);
  const RE2 bare(re2::StringPiece(source.data(), source.size()), options);
  if (!bare.ok() && bare.error_code() != RE2::ErrorPatternTooLarge) {
    fuzz::fail("the wrapper made a broken pattern compile", bare.error());
  }
  return 0;
}
