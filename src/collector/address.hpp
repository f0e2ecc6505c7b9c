// Addresses and ports as the endpoint tables deliver them, turned into the forms the system shows,
// stores and compares: dotted text, the twelve-digit number, the host-order port.
#pragma once

#include <array>
#include <cstdint>

namespace qv {

// Dotted text needs at most 15 characters and the NUL.
using AddressText = char[16];

// 192.168.0.1: each octet in decimal without leading zeros.
void DottedAddress(const std::uint32_t& deliveredAddress, AddressText& text);
// 192.168.000.001: each octet as exactly three digits.
void PaddedDottedAddress(const std::uint8_t (&octets)[4], AddressText& text);
// o1 * 10^9 + o2 * 10^6 + o3 * 10^3 + o4; numeric order is address order, 0 is 0.0.0.0.
std::int64_t TwelveDigitAddress(const std::uint32_t& deliveredAddress);
// The same value from the four octets, first octet first.
std::int64_t TwelveDigitValue(const std::uint8_t (&octets)[4]);
// First byte * 256 + second byte of the delivered port field.
std::int32_t HostPort(const std::uint32_t& deliveredPort);

// The four octets of a delivered address, first octet first.
void address_octets(std::uint32_t deliveredAddress, std::uint8_t (&octets)[4]);

// Whether a 16-byte IPv6 address (network order) is an IPv4-mapped one, ::ffff:a.b.c.d, the form
// in which an IPv6 socket sees an IPv4 peer; its last four bytes are then the IPv4 address.
bool is_ipv4_mapped(const std::array<std::uint8_t, 16>& address);

}  // namespace qv
