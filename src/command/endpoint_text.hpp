// The texts the command writes for an endpoint's fields, shared by every output format: addresses
// and ports as ss writes them, and CSV quoting.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "os/os.hpp"

namespace qv {

// An address in its family's usual text: IPv4 dotted ("127.0.0.1"), IPv6 as RFC 5952 writes it
// ("::1", "2001:db8::1", IPv4-mapped "::ffff:127.0.0.1").
std::string address_text(std::uint8_t family, const std::array<std::uint8_t, 16>& address);

// An address of the socket as the endpoint texts show it: address_text, except "*" for the
// wildcard address of a dual-stack socket (an IPv6 socket that takes IPv4 peers too).
std::string endpoint_address_text(const os::SocketRow& socket,
                                  const std::array<std::uint8_t, 16>& address);

// The local end as "address:port": "127.0.0.1:80", "[::1]:80", and "*:8080" for an IPv6 socket on
// the wildcard address that takes IPv4 peers too (dual stack), as ss writes them; the device of a
// scoped or device-bound socket after the address ("0.0.0.0%lo:7402", "[fe80::1]%lo:7400").
// A port's service name, where given, stands for its number ("127.0.0.1:ssh").
std::string local_endpoint_text(const os::SocketRow& socket,
                                const std::optional<std::string>& service = std::nullopt);
// The remote end the same way; an unconnected socket's is its family's wildcard with port "*"
// ("0.0.0.0:*", "[::]:*", "*:*" for a dual-stack one).
std::string remote_endpoint_text(const os::SocketRow& socket,
                                 const std::optional<std::string>& service = std::nullopt);

// Where a socket lives, for people: the name of the container holding it where one is known
// (empty: none), else its network namespace's name (empty: none), else the namespace as /proc's
// links name it, "net:[4026531840]".
std::string place_text(std::string_view containerName, std::string_view netnsName,
                       std::uint64_t netnsInode);

// A field of RFC 4180 CSV: quoted (quotes doubled) when it holds a comma, a quote, CR or LF.
void append_csv_field(std::string& out, std::string_view text);

}  // namespace qv
