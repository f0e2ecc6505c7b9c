// Linux: port names from the services database, the ephemeral port range, and addresses read
// from text.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cerrno>
#include <fstream>
#include <vector>

#include "os/os.hpp"

namespace os {

namespace {

const char* protocol_text(Protocol protocol) { return protocol == Protocol::tcp ? "tcp" : "udp"; }

// The reentrant look-ups, with a buffer that grows until the entry fits.
template <typename LookUp>
std::optional<servent> look_up(std::vector<char>& buffer, LookUp&& lookUp) {
  buffer.resize(1024);
  for (;;) {
    servent entry{};
    servent* found = nullptr;
    const int error = lookUp(&entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (std::size_t{1} << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr) return std::nullopt;
    return entry;
  }
}

}  // namespace

std::optional<std::string> service_name(std::uint16_t port, Protocol protocol) {
  std::vector<char> buffer;
  const auto entry = look_up(buffer, [&](servent* e, char* b, std::size_t n, servent** found) {
    return getservbyport_r(htons(port), protocol_text(protocol), e, b, n, found);
  });
  if (!entry || entry->s_name == nullptr || *entry->s_name == '\0') return std::nullopt;
  return std::string(entry->s_name);
}

std::optional<std::uint16_t> service_port(const std::string& name, Protocol protocol) {
  std::vector<char> buffer;
  const auto entry = look_up(buffer, [&](servent* e, char* b, std::size_t n, servent** found) {
    return getservbyname_r(name.c_str(), protocol_text(protocol), e, b, n, found);
  });
  if (!entry) return std::nullopt;
  return ntohs(static_cast<std::uint16_t>(entry->s_port));
}

std::optional<PortRange> ephemeral_port_range() {
  std::ifstream file("/proc/sys/net/ipv4/ip_local_port_range");
  unsigned first = 0;
  unsigned last = 0;
  if (!(file >> first >> last) || first > last || last > 65535) return std::nullopt;
  return PortRange{static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(last)};
}

std::optional<IpAddress> ip_address_from_text(const std::string& text) {
  IpAddress address{kFamilyIpv4, {}};
  if (inet_pton(AF_INET, text.c_str(), address.bytes.data()) == 1) return address;
  address.family = kFamilyIpv6;
  if (inet_pton(AF_INET6, text.c_str(), address.bytes.data()) == 1) return address;
  return std::nullopt;
}

}  // namespace os
