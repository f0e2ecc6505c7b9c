// Windows: port names from the system's services file through Winsock, the ephemeral range, and
// addresses read from text.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "os/os.hpp"

namespace os {

namespace {

const char* protocol_text(Protocol protocol) { return protocol == Protocol::tcp ? "tcp" : "udp"; }

// Winsock answers nothing before WSAStartup; the command starts it once, on first use, and keeps
// it for the rest of the run.
bool winsock_started() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

}  // namespace

// Winsock's getservbyport and getservbyname keep their answer per thread, so unlike POSIX's they
// are safe from any thread; the answer is copied at once.
std::optional<std::string> service_name(std::uint16_t port, Protocol protocol) {
  if (!winsock_started()) return std::nullopt;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): per-thread answer, see above.
  const servent* entry = getservbyport(static_cast<int>(htons(port)), protocol_text(protocol));
  if (entry == nullptr || entry->s_name == nullptr || *entry->s_name == '\0') return std::nullopt;
  return std::string(entry->s_name);
}

std::optional<std::uint16_t> service_port(const std::string& name, Protocol protocol) {
  if (!winsock_started()) return std::nullopt;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): per-thread answer, see above.
  const servent* entry = getservbyname(name.c_str(), protocol_text(protocol));
  if (entry == nullptr) return std::nullopt;
  return ntohs(static_cast<u_short>(entry->s_port));
}

// Windows since Vista takes outgoing ports from IANA's dynamic range unless an administrator
// moved it (netsh), which no documented function reports.
std::optional<PortRange> ephemeral_port_range() { return PortRange{49152, 65535}; }

std::optional<IpAddress> ip_address_from_text(const std::string& text) {
  if (!winsock_started()) return std::nullopt;
  IpAddress address{kFamilyIpv4, {}};
  if (inet_pton(AF_INET, text.c_str(), address.bytes.data()) == 1) return address;
  address.family = kFamilyIpv6;
  if (inet_pton(AF_INET6, text.c_str(), address.bytes.data()) == 1) return address;
  return std::nullopt;
}

}  // namespace os
