// Address and port forms of the endpoint tables.
#include "collector/address.hpp"

#include <algorithm>
#include <cstring>

#include "common/text.hpp"

namespace qv {

void address_octets(std::uint32_t deliveredAddress, std::uint8_t (&octets)[4]) {
  // The field's bytes are the octets in network order, whatever the machine's byte order.
  std::memcpy(octets, &deliveredAddress, sizeof octets);
}

namespace {

void join_octets(const std::uint8_t (&octets)[4], int digitsPerOctet, AddressText& text) {
  char* out = text;
  for (int i = 0; i < 4; ++i) {
    if (i != 0) *out++ = '.';
    out += format_number(octets[i], digitsPerOctet, out);
  }
  *out = '\0';
}

}  // namespace

void DottedAddress(const std::uint32_t& deliveredAddress, AddressText& text) {
  std::uint8_t octets[4];
  address_octets(deliveredAddress, octets);
  join_octets(octets, 1, text);
}

void PaddedDottedAddress(const std::uint8_t (&octets)[4], AddressText& text) {
  join_octets(octets, 3, text);
}

std::int64_t TwelveDigitValue(const std::uint8_t (&octets)[4]) {
  std::int64_t value = 0;
  for (const auto octet : octets) value = value * 1000 + octet;
  return value;
}

std::int64_t TwelveDigitAddress(const std::uint32_t& deliveredAddress) {
  std::uint8_t octets[4];
  address_octets(deliveredAddress, octets);
  return TwelveDigitValue(octets);
}

std::int32_t HostPort(const std::uint32_t& deliveredPort) {
  unsigned char bytes[4];
  std::memcpy(bytes, &deliveredPort, sizeof bytes);
  return bytes[0] * 256 + bytes[1];
}

bool is_ipv4_mapped(const std::array<std::uint8_t, 16>& address) {
  return std::all_of(address.begin(), address.begin() + 10,
                     [](std::uint8_t b) { return b == 0; }) &&
         address[10] == 0xFF && address[11] == 0xFF;
}

}  // namespace qv
