// UTF-8 read as RFC 3629 defines it, byte by byte, bounds checked; names escaped and measured
// character by character.
#include "common/utf8.hpp"

#include <algorithm>
#include <cstdint>

namespace qv {

Utf8Char read_utf8(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned lead = byte(0);
  const Utf8Char invalid{0, 1, false};
  if (lead < 0x80) return {lead, 1, true};
  std::size_t length = 0;
  char32_t value = 0;
  // The second byte's range rules out overlong forms, surrogates and values past U+10FFFF.
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return invalid;
  }
  if (bytes.size() < length || byte(1) < low || byte(1) > high) return invalid;
  for (std::size_t i = 1; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return invalid;
    value = value << 6 | (byte(i) & 0x3F);
  }
  return {value, length, true};
}

namespace {

void append_octal_escape(std::string& out, unsigned char byte) {
  out += '\\';
  out += static_cast<char>('0' + (byte >> 6));
  out += static_cast<char>('0' + ((byte >> 3) & 7));
  out += static_cast<char>('0' + (byte & 7));
}

// The letter escapes `ls -b` uses; the other bytes to escape are written in octal.
char letter_escape(char32_t codePoint) {
  switch (codePoint) {
    case '\\':
      return '\\';
    case '\a':
      return 'a';
    case '\b':
      return 'b';
    case '\t':
      return 't';
    case '\n':
      return 'n';
    case '\v':
      return 'v';
    case '\f':
      return 'f';
    case '\r':
      return 'r';
    default:
      return 0;
  }
}

}  // namespace

std::string terminal_safe(std::string_view text, UnsafeText style) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const Utf8Char c = read_utf8(text);
    const std::string_view bytes = text.substr(0, c.length);
    text.remove_prefix(c.length);
    const bool control = c.valid && is_control(c.codePoint);
    if (style == UnsafeText::questionMarks) {
      out.append(control ? std::string(bytes.size(), '?') : std::string(bytes));
    } else if (const char letter = c.valid ? letter_escape(c.codePoint) : char{0}) {
      out += '\\';
      out += letter;
    } else if (control || !c.valid) {
      for (const char byte : bytes) append_octal_escape(out, static_cast<unsigned char>(byte));
    } else {
      out += bytes;
    }
  }
  return out;
}

std::size_t char_width(char32_t codePoint) {
  struct WidthRange {
    char32_t first;
    char32_t last;
    std::uint8_t cells;
  };
  // One table on every platform, so that Windows, whose C library has no wcwidth, measures as
  // glibc does, whatever the locale.
  static constexpr WidthRange kRanges[] = {
#include "common/char_width_table.inc"
  };
  const auto* range =
      std::upper_bound(std::begin(kRanges), std::end(kRanges), codePoint,
                       [](char32_t code, const WidthRange& r) { return code < r.first; });
  if (range == std::begin(kRanges) || codePoint > (--range)->last) return 1;
  return range->cells;
}

std::size_t display_width(std::string_view text) {
  std::size_t cells = 0;
  while (!text.empty()) {
    const Utf8Char c = read_utf8(text);
    text.remove_prefix(c.length);
    cells += c.valid ? char_width(c.codePoint) : 1;
  }
  return cells;
}

}  // namespace qv
