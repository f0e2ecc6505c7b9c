// Conversions between the dialog's address fields and the twelve-digit form.
#include "dialog/address_field.hpp"

#include <algorithm>

namespace qv {

namespace {

constexpr std::int64_t kHighestAddress = 255255255255;

// The four parts that a twelve-digit value shows in a field, part 1 first, each 0 to 255.
void field_parts(std::int64_t value, std::uint8_t (&parts)[4]) {
  value = std::clamp<std::int64_t>(value, 0, kHighestAddress);
  for (int i = 3; i >= 0; --i) {
    parts[i] = static_cast<std::uint8_t>(std::min<std::int64_t>(value % 1000, 255));
    value /= 1000;
  }
}

}  // namespace

std::int64_t AddressFieldToNumber(FieldAddress fieldAddress) {
  const std::uint8_t parts[4] = {
      static_cast<std::uint8_t>(fieldAddress >> 24), static_cast<std::uint8_t>(fieldAddress >> 16),
      static_cast<std::uint8_t>(fieldAddress >> 8), static_cast<std::uint8_t>(fieldAddress)};
  return TwelveDigitValue(parts);
}

void NumberToAddressText(std::int64_t value, AddressText& text) {
  std::uint8_t parts[4];
  field_parts(value, parts);
  PaddedDottedAddress(parts, text);
}

FieldAddress NumberToFieldAddress(std::int64_t value) {
  std::uint8_t parts[4];
  field_parts(value, parts);
  FieldAddress packed = 0;
  for (const auto part : parts) packed = packed << 8 | part;
  return packed;
}

}  // namespace qv
