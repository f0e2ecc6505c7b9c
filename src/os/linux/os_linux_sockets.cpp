// Linux: the command's socket table and its batch of reverse queries, for now over the meter's
// IPv4 tables and its serial resolver (IPv6 and netlink come with the socket-diagnostics layer).
#include <chrono>
#include <cstring>

#include "os/os.hpp"

namespace os {

namespace {

std::array<std::uint8_t, 16> address_bytes(std::uint32_t delivered) {
  std::array<std::uint8_t, 16> bytes{};
  std::memcpy(bytes.data(), &delivered, sizeof delivered);
  return bytes;
}

std::uint16_t port_of(std::uint32_t delivered) {
  std::uint8_t bytes[4];
  std::memcpy(bytes, &delivered, sizeof bytes);
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

}  // namespace

std::optional<std::vector<SocketRow>> socket_table(SocketKinds kinds) {
  std::vector<SocketRow> rows;
  if (!kinds.ipv4) return rows;
  const auto tcp = kinds.tcp ? tcp_table() : std::nullopt;
  const auto udp = kinds.udp ? udp_table() : std::nullopt;
  if (!tcp && !udp) return std::nullopt;
  for (const TcpRow& row : tcp.value_or(std::vector<TcpRow>{})) {
    rows.push_back({1, kFamilyIpv4, false, address_bytes(row.localAddress), port_of(row.localPort),
                    address_bytes(row.remoteAddress), port_of(row.remotePort), row.state,
                    row.owningPid});
  }
  for (const UdpRow& row : udp.value_or(std::vector<UdpRow>{})) {
    rows.push_back({2,
                    kFamilyIpv4,
                    false,
                    address_bytes(row.localAddress),
                    port_of(row.localPort),
                    {},
                    0,
                    0,
                    row.owningPid});
  }
  return rows;
}

std::vector<std::optional<std::string>> query_ptr_names(std::span<const std::string> queryNames,
                                                        std::size_t /*parallel*/,
                                                        std::uint32_t timeLimitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
  std::vector<std::optional<std::string>> answers;
  for (const std::string& name : queryNames) {
    answers.push_back(std::chrono::steady_clock::now() < end ? query_ptr_first_name(name.c_str())
                                                             : std::nullopt);
  }
  return answers;
}

}  // namespace os
