// The dialog's IP-address fields against the twelve-digit form in which the filter bounds are kept.
#pragma once

#include <cstdint>

#include "collector/address.hpp"

namespace qv {

// A field's address as IPM_GETADDRESS reports it: part 1 (leftmost) in bits 24 to 31 down to
// part 4 in bits 0 to 7, a blank part as 0. 192.168.0.1 is 0xC0A80001.
using FieldAddress = std::uint32_t;

// part 1 * 10^9 + part 2 * 10^6 + part 3 * 10^3 + part 4.
std::int64_t AddressFieldToNumber(FieldAddress fieldAddress);

// The padded dotted text of a twelve-digit value, 192.168.000.001, for the field's window text.
// A settings file edited by hand can hold values that are no address; they are shown as the
// nearest one, so the text is always an address of 15 characters: below 0 as 0.0.0.0, above
// 255255255255 as 255.255.255.255, and a three-digit group above 255 as 255 (as the field itself
// treats a part typed above 255).
void NumberToAddressText(std::int64_t value, AddressText& text);

// The same address packed for IPM_SETADDRESS.
FieldAddress NumberToFieldAddress(std::int64_t value);

}  // namespace qv
