// Fuzzes the address fields' text on any 64-bit value, hand-edited settings included: always an
// address of exactly 15 characters (four groups of three digits, each at most 255) inside its
// 16-byte buffer, the same address that the field is given packed, and for every value that is an
// address, the value itself again when the field reports it back.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "dialog/address_field.hpp"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// On the heap by itself, so that a write past the 16 bytes meets a red zone.
struct Field {
  qv::AddressText text;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::int64_t value = 0;
  std::memcpy(&value, data, std::min(size, sizeof value));
  const auto field = std::make_unique<Field>();
  std::memset(field->text, 'x', sizeof field->text);
  qv::NumberToAddressText(value, field->text);
  check(field->text[15] == '\0');

  const qv::FieldAddress packed = qv::NumberToFieldAddress(value);
  std::int64_t shown = 0;
  for (int group = 0; group < 4; ++group) {
    const char* digits = field->text + group * 4;
    check(group == 3 || digits[3] == '.');
    int part = 0;
    for (int i = 0; i < 3; ++i) {
      check(digits[i] >= '0' && digits[i] <= '9');
      part = part * 10 + (digits[i] - '0');
    }
    check(part <= 255);
    check(part == static_cast<int>(packed >> (24 - 8 * group) & 0xFF));
    shown = shown * 1000 + part;
  }
  check(qv::AddressFieldToNumber(packed) == shown);
  const bool isAddress = value >= 0 && value <= 255255255255 && value % 1000 <= 255 &&
                         value / 1000 % 1000 <= 255 && value / 1000000 % 1000 <= 255;
  check(isAddress == (shown == value));
  return 0;
}
