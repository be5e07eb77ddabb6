// Byte tables: a bool for each of the 256 byte values, built at compile
// time, for scans that test a byte class with one load.
#pragma once

#include <array>
#include <string_view>

namespace brindle {

using ByteTable = std::array<bool, 256>;

// ASCII letters and digits, for building tables of word-like bytes.
inline constexpr std::string_view kAsciiAlnum =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// The table marking exactly the bytes of `a` and of `b`.
constexpr ByteTable byte_table(std::string_view a, std::string_view b = {}) {
  ByteTable table{};
  for (const char c : a) table[static_cast<unsigned char>(c)] = true;
  for (const char c : b) table[static_cast<unsigned char>(c)] = true;
  return table;
}

}  // namespace brindle
