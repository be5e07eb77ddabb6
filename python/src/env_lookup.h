// The environments `parse` hands to the core for `$ENV.` references: the
// process environment, or a snapshot of a Python mapping taken before
// parsing, so that no Python code runs while the core evaluates.
#pragma once

#include "py_ref.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "syntax/src/key_hash.h"
#include "model.h"
#include "unlocked.h"

namespace brindle::py {

// The process environment, read afresh on every lookup. A name with a NUL
// byte, an unset variable and a value that is not UTF-8 all read as unset.
// Given the scope that released the interpreter lock, each read takes the
// lock back, as Python code writing os.environ holds it while it changes
// the environment.
class ProcessEnv final : public EnvLookup {
 public:
  explicit ProcessEnv(Unlocked* unlocked = nullptr) : unlocked_(unlocked) {}
  std::optional<std::string> get(std::string_view name) const override;

 private:
  Unlocked* unlocked_;
};

// A copy of a mapping of str to str, made once.
class SnapshotEnv final : public EnvLookup {
 public:
  // Copies every item of `mapping` (anything with `items()`); false with a
  // Python error set when it is not a mapping of str to str (TypeError
  // naming the offending key) or a str cannot be encoded.
  bool take(PyObject* mapping);
  std::optional<std::string> get(std::string_view name) const override;

 private:
  std::unordered_map<std::string, std::string, KeyHash, std::equal_to<>> values_;
};

}  // namespace brindle::py
