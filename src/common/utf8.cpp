// Reading UTF-8 as RFC 3629 defines it, byte by byte, bounds checked.
#include "common/utf8.hpp"

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

}  // namespace qv
