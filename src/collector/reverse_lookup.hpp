// Reverse name look-up: the remote address's name under .IN-ADDR.ARPA (IPv6: .IP6.ARPA) through
// the DNS resolver.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qv {

// Holds the dotted address on entry and the reverse query name afterwards; the longest query
// name, that of an address with four three-digit groups, fills it exactly (28 characters).
using QueryNameBuffer = char[29];
// A DNS name never exceeds 255 characters.
using HostNameBuffer = char[256];

// 192.168.0.1 becomes 1.0.168.192.IN-ADDR.ARPA: the groups are copied as text, last first.
void ReverseQueryName(QueryNameBuffer& text);

// Rewrites query into its reverse query name and asks for its PTR record; on success result holds
// the name the answer's first record carries, otherwise it keeps what the caller put there.
void LookupHostName(QueryNameBuffer& query, HostNameBuffer& result);

// The reverse query name of an address of either family (os::kFamilyIpv4 or kFamilyIpv6, the
// address in network order): IPv4 as ReverseQueryName writes it; IPv6 as its 32 nibbles, last
// first, under IP6.ARPA; an IPv4-mapped IPv6 address asks for its IPv4 address.
std::string reverse_query_name(std::uint8_t family, const std::array<std::uint8_t, 16>& address);

}  // namespace qv
