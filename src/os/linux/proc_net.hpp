// The kernel's socket tables as text (/proc/net/tcp, udp, tcp6, udp6, /proc/PID/fd links), parsed
// into the rows the endpoint tables deliver. Pure text in, values out: the file reading is the
// caller's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace os::linux_net {

// One line of /proc/net/tcp or /proc/net/udp. Addresses are as delivered (first octet in the first
// byte); ports in host order; state is the kernel's own number. The fields follow the table's
// columns, padding and all.
struct SocketLine {
  std::uint32_t localAddress;
  std::uint16_t localPort;
  std::uint32_t remoteAddress;
  std::uint16_t remotePort;
  unsigned state;
  std::uint64_t inode;    // 0 for sockets no process holds (TIME_WAIT and the like)
  std::uint32_t uid = 0;  // the socket's owner
};

// One line of /proc/net/tcp6 or /proc/net/udp6: the same, with sixteen-byte addresses in network
// order.
struct SocketLine6 {
  std::array<std::uint8_t, 16> localAddress;
  std::uint16_t localPort;
  std::array<std::uint8_t, 16> remoteAddress;
  std::uint16_t remotePort;
  unsigned state;
  std::uint64_t inode;
  std::uint32_t uid = 0;
};

// Every well-formed line after the header, in the file's order; lines that do not parse are left
// out, so a table cut short mid-line loses only that line.
void parse_socket_lines(std::string_view fileText, std::vector<SocketLine>& lines);
void parse_socket_lines(std::string_view fileText, std::vector<SocketLine6>& lines);

// The sockets /proc/net/sockstat and sockstat6 count in the namespace: what a dump about to be
// read will hold, near enough to make room for it at once. Counts the files do not give are 0.
struct SocketCounts {
  std::size_t tcp4 = 0;
  std::size_t tcp6 = 0;
  std::size_t tcpTimeWait = 0;  // both families
  std::size_t udp4 = 0;
  std::size_t udp6 = 0;
};
SocketCounts parse_sockstat(std::string_view sockstat, std::string_view sockstat6);

// The kernel's TCP state (1 ESTABLISHED .. 12 NEW_SYN_RECV) as the IP Helper's MIB number
// (1 Closed, 2 Listen, 3 SynSent, 4 SynRcvd, 5 Established, 6 FinWait1, 7 FinWait2, 8 CloseWait,
// 9 Closing, 10 LastAck, 11 TimeWait, 12 DeleteTcb). Unknown states count as Closed.
std::uint32_t mib_tcp_state(unsigned linuxState);

// A port in host order as the tables deliver it: network byte order in the field's first two bytes.
std::uint32_t delivered_port(std::uint16_t hostOrder);

// The inode of a /proc/PID/fd link's text "socket:[12345]"; nullopt for any other file.
std::optional<std::uint64_t> socket_inode_of_link(std::string_view linkText);

}  // namespace os::linux_net
