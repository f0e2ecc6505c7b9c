// Windows: the command's socket table, every TCP and UDP endpoint of IPv4 and IPv6 with its owner,
// read through GetExtendedTcpTable / GetExtendedUdpTable (the IPv6 tables need Vista or later), and
// on request each connection's bytes and round trips from its extended statistics.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>

#include "os/os.hpp"
#include "os/win32/ip_helper.hpp"
#include "os/win32/tcp_statistics.hpp"

namespace os {

namespace {

using win32::StatisticsProblem;

// The port fields carry the port in network order in their first two bytes.
std::uint16_t host_port(DWORD delivered) {
  std::uint8_t bytes[sizeof delivered];
  std::memcpy(bytes, &delivered, sizeof delivered);
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::array<std::uint8_t, 16> ipv4_address(DWORD delivered) {
  std::array<std::uint8_t, 16> address{};
  std::memcpy(address.data(), &delivered, sizeof delivered);
  return address;
}

std::array<std::uint8_t, 16> ipv6_address(const UCHAR (&delivered)[16]) {
  std::array<std::uint8_t, 16> address{};
  std::memcpy(address.data(), delivered, address.size());
  return address;
}

bool all_zero(const std::array<std::uint8_t, 16>& address) {
  return std::all_of(address.begin(), address.end(), [](std::uint8_t byte) { return byte == 0; });
}

bool ipv4_mapped(const std::array<std::uint8_t, 16>& address) {
  static constexpr std::uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return std::memcmp(address.data(), kPrefix, sizeof kPrefix) == 0;
}

SocketRow tcp_row(std::uint8_t family, std::array<std::uint8_t, 16> local, DWORD localPort,
                  std::array<std::uint8_t, 16> remote, DWORD remotePort, DWORD state, DWORD pid) {
  const auto tcpState = static_cast<TcpState>(state);
  SocketRow row{
      Protocol::tcp, family, family == kFamilyIpv6, {local, host_port(localPort)}, {remote, 0},
      tcpState,      pid};
  // The remote port of a listener is undefined in these tables: whatever the stack left there.
  if (tcpState != TcpState::listen) row.remote.port = host_port(remotePort);
  return row;
}

SocketRow udp_row(std::uint8_t family, std::array<std::uint8_t, 16> local, DWORD localPort,
                  DWORD pid) {
  // The UDP tables have no remote end, connected socket or not.
  return {Protocol::udp,  family, family == kFamilyIpv6, {local, host_port(localPort)}, {{}, 0},
          TcpState::none, pid};
}

// The tables do not say whether an IPv6 socket takes IPv4 peers. Windows makes IPv6 sockets
// IPv6-only unless the program clears IPV6_V6ONLY (and Wine does the same), so that is what an IPv6
// row reports, with two exceptions the table itself proves: a socket on an IPv4-mapped address
// carries IPv4, and a wildcard listener on a port where such a connection was accepted is dual
// stack, since an IPv6-only listener never accepts one.
void mark_dual_stack(std::vector<SocketRow>& rows, std::size_t firstIpv6) {
  std::set<std::uint16_t> mappedPorts;
  for (std::size_t i = firstIpv6; i < rows.size(); ++i) {
    if (ipv4_mapped(rows[i].local.address)) {
      rows[i].ipv6Only = false;
      mappedPorts.insert(rows[i].local.port);
    }
  }
  for (std::size_t i = firstIpv6; i < rows.size(); ++i) {
    SocketRow& row = rows[i];
    if (row.tcpState == TcpState::listen && all_zero(row.local.address) &&
        mappedPorts.contains(row.local.port)) {
      row.ipv6Only = false;
    }
  }
}

// Written and read by the thread that lists sockets; atomic all the same, since nothing stops
// a second one.
std::atomic<StatisticsProblem> lastProblem{StatisticsProblem::none};

// The connection states that have extended statistics: those with a peer, before Time Wait.
bool has_statistics(TcpState state) {
  switch (state) {
    case TcpState::synSent:
    case TcpState::synReceived:
    case TcpState::established:
    case TcpState::finWait1:
    case TcpState::finWait2:
    case TcpState::closeWait:
    case TcpState::closing:
    case TcpState::lastAck:
      return true;
    default:
      return false;
  }
}

// Each connection's statistics in rows (those of one table, from first on), with the table's row
// for the asking; a missing function is said as such.
template <typename Row, typename Get, typename Set, typename AskingRow>
void add_traffic(std::vector<SocketRow>& rows, std::size_t first, const std::vector<Row>& table,
                 Get get, Set set, AskingRow asking, StatisticsProblem& problem) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    SocketRow& row = rows[first + i];
    if (!has_statistics(row.tcpState)) continue;
    if (get == nullptr || set == nullptr) {
      problem = StatisticsProblem::missing;
      return;
    }
    row.traffic = win32::connection_traffic(get, set, asking(table[i]), problem);
  }
}

MIB_TCPROW asking_row(const MIB_TCPROW_OWNER_PID& r) {
  MIB_TCPROW row{};
  row.dwState = r.dwState;
  row.dwLocalAddr = r.dwLocalAddr;
  row.dwLocalPort = r.dwLocalPort;
  row.dwRemoteAddr = r.dwRemoteAddr;
  row.dwRemotePort = r.dwRemotePort;
  return row;
}

MIB_TCP6ROW asking_row(const MIB_TCP6ROW_OWNER_PID& r) {
  MIB_TCP6ROW row{};
  row.State = static_cast<MIB_TCP_STATE>(r.dwState);
  std::memcpy(&row.LocalAddr, r.ucLocalAddr, sizeof r.ucLocalAddr);
  row.dwLocalScopeId = r.dwLocalScopeId;
  row.dwLocalPort = r.dwLocalPort;
  std::memcpy(&row.RemoteAddr, r.ucRemoteAddr, sizeof r.ucRemoteAddr);
  row.dwRemoteScopeId = r.dwRemoteScopeId;
  row.dwRemotePort = r.dwRemotePort;
  return row;
}

// How many of the wanted tables were asked for, and how many could be read.
struct Reading {
  int asked = 0;
  int read = 0;
};

// Adds a table's rows; gives the table, for more from its rows, when it could be read.
template <typename Row, typename Convert>
std::optional<std::vector<Row>> add_table(std::vector<SocketRow>& rows, Reading& reading,
                                          win32::GetExtendedTable get, ULONG family, int tableClass,
                                          Convert convert) {
  ++reading.asked;
  auto table = win32::extended_rows<Row>(get, family, tableClass);
  if (!table) return std::nullopt;
  ++reading.read;
  const std::size_t first = rows.size();
  for (const Row& row : *table) rows.push_back(convert(row));
  if (family == AF_INET6) mark_dual_stack(rows, first);
  return table;
}

}  // namespace

std::optional<std::vector<SocketRow>> socket_table(SocketKinds kinds) {
  const win32::IpHelper& ip = win32::ip_helper();
  std::vector<SocketRow> rows;
  Reading reading;
  StatisticsProblem problem = StatisticsProblem::none;
  // Scope ids are left out: an endpoint is named by its address and port.
  if (kinds.tcp && kinds.ipv4) {
    const std::size_t first = rows.size();
    const auto table = add_table<MIB_TCPROW_OWNER_PID>(
        rows, reading, ip.extendedTcp, AF_INET, TCP_TABLE_OWNER_PID_ALL, [](const auto& r) {
          return tcp_row(kFamilyIpv4, ipv4_address(r.dwLocalAddr), r.dwLocalPort,
                         ipv4_address(r.dwRemoteAddr), r.dwRemotePort, r.dwState, r.dwOwningPid);
        });
    if (table && kinds.traffic) {
      add_traffic(
          rows, first, *table, ip.getTcpEStats, ip.setTcpEStats,
          [](const MIB_TCPROW_OWNER_PID& r) { return asking_row(r); }, problem);
    }
  }
  if (kinds.tcp && kinds.ipv6) {
    const std::size_t first = rows.size();
    const auto table = add_table<MIB_TCP6ROW_OWNER_PID>(
        rows, reading, ip.extendedTcp, AF_INET6, TCP_TABLE_OWNER_PID_ALL, [](const auto& r) {
          return tcp_row(kFamilyIpv6, ipv6_address(r.ucLocalAddr), r.dwLocalPort,
                         ipv6_address(r.ucRemoteAddr), r.dwRemotePort, r.dwState, r.dwOwningPid);
        });
    if (table && kinds.traffic) {
      add_traffic(
          rows, first, *table, ip.getTcp6EStats, ip.setTcp6EStats,
          [](const MIB_TCP6ROW_OWNER_PID& r) { return asking_row(r); }, problem);
    }
  }
  lastProblem = problem;
  if (kinds.udp && kinds.ipv4) {
    add_table<MIB_UDPROW_OWNER_PID>(
        rows, reading, ip.extendedUdp, AF_INET, UDP_TABLE_OWNER_PID, [](const auto& r) {
          return udp_row(kFamilyIpv4, ipv4_address(r.dwLocalAddr), r.dwLocalPort, r.dwOwningPid);
        });
  }
  if (kinds.udp && kinds.ipv6) {
    add_table<MIB_UDP6ROW_OWNER_PID>(
        rows, reading, ip.extendedUdp, AF_INET6, UDP_TABLE_OWNER_PID, [](const auto& r) {
          return udp_row(kFamilyIpv6, ipv6_address(r.ucLocalAddr), r.dwLocalPort, r.dwOwningPid);
        });
  }
  if (reading.asked != 0 && reading.read == 0) return std::nullopt;
  return rows;
}

std::string_view traffic_notice() {
  switch (lastProblem.load()) {
    case StatisticsProblem::missing:
      return "this system keeps no per-connection TCP statistics: bytes and round trips are "
             "unknown";
    case StatisticsProblem::notPermitted:
      return "switching on a connection's TCP statistics takes an elevated process (Run as "
             "administrator): bytes and round trips are unknown where they are off";
    case StatisticsProblem::none:
      break;
  }
  return {};
}

// Windows has one network stack: every namespace is the machine's.
std::optional<std::vector<SocketRow>> namespace_socket_table(SocketKinds kinds,
                                                             const NamespaceScope& /*scope*/,
                                                             NamespaceShortfall& shortfall) {
  shortfall = {};
  return socket_table(kinds);
}

std::optional<std::string> find_network_namespace(const std::string& /*value*/,
                                                  std::string& reason) {
  reason = "--netns: network namespaces are Linux's alone";
  return std::nullopt;
}

}  // namespace os
