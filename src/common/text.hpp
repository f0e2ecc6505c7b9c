// Fixed-size text fields: the records keep their texts in NUL-terminated buffers inside them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv {

// The characters of a field up to its first NUL (never past its end).
template <std::size_t N>
std::string_view field_text(const char (&field)[N]) {
  return {field, static_cast<std::size_t>(std::find(field, field + N, '\0') - field)};
}

// Stores text into a field: at most N - 1 characters, stopping early at a NUL, always terminated.
template <std::size_t N>
void store_text(char (&field)[N], std::string_view text) {
  const auto end = std::min(text.find('\0'), std::min(text.size(), N - 1));
  std::copy_n(text.data(), end, field);
  field[end] = '\0';
}

// A non-negative number in decimal with at least minDigits digits, zeros on the left: the numeric
// masks "0", "000", "0000" and "00000". Returns the number of characters written to out, which
// must hold 20 characters and the NUL.
std::size_t format_number(std::uint64_t value, int minDigits, char* out);

}  // namespace qv
