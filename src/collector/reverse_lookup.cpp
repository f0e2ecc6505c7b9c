// Reverse query names and the PTR look-up behind an entry's host name.
#include "collector/reverse_lookup.hpp"

#include <cstring>
#include <string>
#include <string_view>

#include "collector/address.hpp"
#include "common/text.hpp"
#include "os/os.hpp"

namespace qv {

void ReverseQueryName(QueryNameBuffer& text) {
  // Parts 1 to 4 from the left; a text with fewer groups leaves the missing ones empty and
  // groups beyond the fourth take no part, so no input can run past the buffer.
  std::string_view parts[4];
  std::string_view rest = field_text(text);
  for (auto& part : parts) {
    const auto dot = rest.find('.');
    part = rest.substr(0, dot);
    rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
  }
  std::string name;
  name.reserve(sizeof(QueryNameBuffer));
  for (int i = 3; i >= 0; --i) {
    name += parts[i];
    name += '.';
  }
  name += "IN-ADDR.ARPA";
  store_text(text, name);
}

void LookupHostName(QueryNameBuffer& query, HostNameBuffer& result) {
  ReverseQueryName(query);
  if (const auto name = os::query_ptr_first_name(query)) store_text(result, *name);
}

std::string reverse_query_name(std::uint8_t family, const std::array<std::uint8_t, 16>& address) {
  if (family != os::kFamilyIpv6 || is_ipv4_mapped(address)) {
    std::uint32_t delivered;
    std::memcpy(&delivered, address.data() + (family == os::kFamilyIpv6 ? 12 : 0),
                sizeof delivered);
    AddressText dottedText;
    DottedAddress(delivered, dottedText);
    QueryNameBuffer query;
    store_text(query, field_text(dottedText));
    ReverseQueryName(query);
    return query;
  }
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string name;
  name.reserve(72);
  for (std::size_t i = address.size(); i-- > 0;) {
    const std::uint8_t byte = address[i];
    name += kHexDigits[byte & 0xF];
    name += '.';
    name += kHexDigits[byte >> 4];
    name += '.';
  }
  name += "IP6.ARPA";
  return name;
}

}  // namespace qv
