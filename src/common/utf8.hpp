// The one UTF-8 reader: every output that looks at characters (escaping, widths, JSON) asks it.
#pragma once

#include <cstddef>
#include <string_view>

namespace qv {

struct Utf8Char {
  char32_t codePoint;  // valid only: the character read
  std::size_t length;  // bytes taken: the sequence's length, 1 for a byte that is not UTF-8
  bool valid;
};

// The character at the start of bytes, which is not empty. Only well-formed UTF-8 is read: an
// overlong form, an encoded surrogate, a value beyond U+10FFFF, a stray continuation byte or a
// sequence cut short leaves its first byte invalid, and reading goes on at the next byte.
Utf8Char read_utf8(std::string_view bytes);

// C0 controls, DEL and the C1 controls (U+0080 to U+009F, CSI among them): what a terminal may
// obey instead of showing.
constexpr bool is_control(char32_t codePoint) {
  return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

}  // namespace qv
