// Text as characters: the one UTF-8 reader, the one sanitizer of names for a terminal, and the
// cells a text takes there. Every output that looks at characters goes through these.
#pragma once

#include <cstddef>
#include <string>
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

// How terminal_safe writes what a terminal must not get raw.
enum class UnsafeText {
  // C escapes as `ls -b` writes them ("\n", "\033", "\302\233" for a C1 control, "\377" for a
  // byte that is not UTF-8), the backslash doubled, so that the escapes read back unambiguously.
  escape,
  // Each byte of a control character as '?', one for one, so that a fixed-width field keeps its
  // length (the meter's cuts fall where they would have). Other bytes stay: the meter's names are
  // in the host's own code page, not always UTF-8.
  questionMarks,
};

// A name from outside the program (an executable's, a host's) made safe to write to a terminal:
// no control character (C0, DEL, C1) and, when escaping, no byte that is not UTF-8 left raw.
std::string terminal_safe(std::string_view text, UnsafeText style);

// The terminal cells a character takes, as glibc's wcwidth has them under a UTF-8 locale: two for
// CJK and full-width forms, none for combining marks and format characters, one for the rest
// (controls included: none reaches a terminal unescaped).
std::size_t char_width(char32_t codePoint);

// The terminal cells a text takes: each character's char_width, one for a byte that is not UTF-8
// (terminals draw a replacement for it).
std::size_t display_width(std::string_view text);

}  // namespace qv
