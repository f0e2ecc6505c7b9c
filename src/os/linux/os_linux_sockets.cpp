// Linux: the command's socket table, every TCP and UDP socket of both families, from netlink
// sock_diag as ss reads it, or from /proc/net where netlink cannot be had; owners kept between
// calls.
#include <linux/netlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "os/linux/descriptor.hpp"
#include "os/linux/proc_net.hpp"
#include "os/linux/process_sockets.hpp"
#include "os/linux/sock_diag.hpp"
#include "os/linux/socket_owners.hpp"
#include "os/linux/socket_sources.hpp"
#include "os/os.hpp"

namespace os {

namespace linux_sockets {

namespace {

// The kernel fills one datagram of a dump per read, at most 32 KiB of messages in Linux 6.
constexpr std::size_t kDatagramBytes = std::size_t{128} * 1024;

struct Buffers {
  std::mutex mutex;  // one reader of the shared buffers at a time
  std::vector<std::uint8_t> datagram = std::vector<std::uint8_t>(kDatagramBytes);
  std::string text;
  std::vector<linux_net::SocketLine> lines;
  std::vector<linux_net::SocketLine6> lines6;
};

Buffers& buffers() {
  static auto* shared = new Buffers;  // never destroyed: a worker may still read at exit
  return *shared;
}

Protocol protocol_of(int ipProtocol) {
  return ipProtocol == IPPROTO_TCP ? Protocol::tcp : Protocol::udp;
}

bool receive_dump(int fd, std::uint32_t sequence, Protocol protocol,
                  std::vector<std::uint8_t>& datagram, std::vector<SocketRow>& rows,
                  std::vector<std::uint64_t>& inodes) {
  for (;;) {
    iovec part{datagram.data(), datagram.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t got = ::recvmsg(fd, &message, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || (message.msg_flags & MSG_TRUNC) != 0) return false;
    switch (linux_diag::parse_dump({datagram.data(), static_cast<std::size_t>(got)}, sequence,
                                   protocol, rows, inodes)) {
      case linux_diag::DumpProgress::more:
        break;
      case linux_diag::DumpProgress::done:
        return true;
      case linux_diag::DumpProgress::failed:
        return false;
    }
  }
}

// One dump on a netlink socket of its own, so that a dump abandoned half way leaves nothing behind
// for the next.
bool read_netlink(int family, int protocol, bool traffic, std::vector<std::uint8_t>& datagram,
                  std::vector<SocketRow>& rows, std::vector<std::uint64_t>& inodes) {
  const Descriptor diag(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (diag.get() < 0) return false;
  // Room for several datagrams queued at once; the kernel adds the next only once half is free.
  const int room = 1 << 20;
  ::setsockopt(diag.get(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  static std::uint32_t sequence = 0;  // under the buffers' lock
  const auto request = linux_diag::dump_request(
      static_cast<std::uint8_t>(family), static_cast<std::uint8_t>(protocol), ++sequence, traffic);
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ssize_t sent;
  do {
    sent = ::sendto(diag.get(), &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                    sizeof kernel);
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(sizeof request)) return false;
  return receive_dump(diag.get(), sequence, protocol_of(protocol), datagram, rows, inodes);
}

template <typename Line>
void add_lines(const std::vector<Line>& lines, int protocol, std::vector<SocketRow>& rows,
               std::vector<std::uint64_t>& inodes) {
  constexpr bool ipv6 = sizeof(Line::localAddress) == 16;
  for (const Line& line : lines) {
    SocketRow& row = rows.emplace_back();
    row.protocol = protocol_of(protocol);
    row.family = ipv6 ? kFamilyIpv6 : kFamilyIpv4;
    // /proc does not tell whether an IPv6 socket refuses IPv4 peers.
    row.ipv6Only = false;
    std::memcpy(row.local.address.data(), &line.localAddress, sizeof line.localAddress);
    std::memcpy(row.remote.address.data(), &line.remoteAddress, sizeof line.remoteAddress);
    row.local.port = line.localPort;
    row.remote.port = line.remotePort;
    row.tcpState = row.protocol == Protocol::tcp
                       ? static_cast<TcpState>(linux_net::mib_tcp_state(line.state))
                       : TcpState::none;
    row.identity = line.inode;  // /proc has no cookie
    row.ownerUid = line.uid;
    inodes.push_back(line.inode);
  }
}

bool read_proc(int family, int protocol, Buffers& state, std::vector<SocketRow>& rows,
               std::vector<std::uint64_t>& inodes) {
  const bool tcp = protocol == IPPROTO_TCP;
  const char* path = family == AF_INET6 ? (tcp ? "/proc/net/tcp6" : "/proc/net/udp6")
                                        : (tcp ? "/proc/net/tcp" : "/proc/net/udp");
  if (!read_file(path, state.text)) return false;
  if (family == AF_INET6) {
    linux_net::parse_socket_lines(state.text, state.lines6);
    add_lines(state.lines6, protocol, rows, inodes);
  } else {
    linux_net::parse_socket_lines(state.text, state.lines);
    add_lines(state.lines, protocol, rows, inodes);
  }
  return true;
}

bool read_locked(Source source, int family, int protocol, bool traffic, Buffers& state,
                 std::vector<SocketRow>& rows, std::vector<std::uint64_t>& inodes) {
  const std::size_t rowsBefore = rows.size();
  const std::size_t inodesBefore = inodes.size();
  const bool read = source == Source::netlink
                        ? read_netlink(family, protocol, traffic, state.datagram, rows, inodes)
                        : read_proc(family, protocol, state, rows, inodes);
  if (!read) {
    rows.resize(rowsBefore);
    inodes.resize(inodesBefore);
  }
  return read;
}

// Owners remembered from one call to the next.
struct Owners {
  std::mutex mutex;
  linux_owners::SocketOwners book;
  std::vector<linux_owners::Process> processes;
  std::vector<std::uint64_t> inodes;
  std::size_t lastRows = 0;
};

Owners& owners() {
  static auto* shared = new Owners;  // never destroyed: a worker may still read at exit
  return *shared;
}

std::string interface_name(std::uint32_t index,
                           std::vector<std::pair<std::uint32_t, std::string>>& named) {
  for (const auto& [known, name] : named) {
    if (known == index) return name;
  }
  char name[IF_NAMESIZE];
  // A device removed since the socket was bound has no name any more: the socket keeps none.
  const char* found = ::if_indextoname(index, name);
  return named.emplace_back(index, found != nullptr ? found : "").second;
}

// nullopt: only the named source, or netlink first and /proc where it fails.
std::optional<std::vector<SocketRow>> table(std::optional<Source> only, SocketKinds kinds) {
  Owners& state = owners();
  std::lock_guard lock(state.mutex);
  std::vector<SocketRow> rows;
  rows.reserve(state.lastRows + state.lastRows / 8 + 64);
  state.inodes.clear();
  bool asked = false;
  bool any = false;
  for (const int protocol : {IPPROTO_TCP, IPPROTO_UDP}) {
    if (!(protocol == IPPROTO_TCP ? kinds.tcp : kinds.udp)) continue;
    for (const int family : {AF_INET, AF_INET6}) {
      if (!(family == AF_INET ? kinds.ipv4 : kinds.ipv6)) continue;
      asked = true;
      const auto read_from = [&](Source source) {
        return read_sockets(source, family, protocol, rows, state.inodes, kinds.traffic);
      };
      const bool read =
          only ? read_from(*only) : read_from(Source::netlink) || read_from(Source::proc);
      any = any || read;
    }
  }
  if (asked && !any) return std::nullopt;
  linux_proc::ProcReader proc;
  proc.list_processes(state.processes);
  state.book.refresh(state.processes, state.inodes, linux_owners::Clock::now(),
                     {[&proc](std::uint32_t pid, auto& inodes) { proc.read_sockets(pid, inodes); },
                      [&proc](std::uint32_t pid) { return proc.parent_of(pid); }});
  // Few sockets are tied to a device: each index is named once per table.
  std::vector<std::pair<std::uint32_t, std::string>> interfaces;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SocketRow& row = rows[i];
    const auto holders = state.book.holders(state.inodes[i]);
    row.owningPids.assign(holders.begin(), holders.end());
    row.owningPid = holders.empty() ? 0 : holders.front();
    if (row.interfaceIndex != 0) row.interfaceName = interface_name(row.interfaceIndex, interfaces);
  }
  state.lastRows = rows.size();
  return rows;
}

}  // namespace

bool read_sockets(Source source, int family, int protocol, std::vector<SocketRow>& rows,
                  std::vector<std::uint64_t>& inodes, bool traffic) {
  Buffers& state = buffers();
  std::lock_guard lock(state.mutex);
  return read_locked(source, family, protocol, traffic, state, rows, inodes);
}

std::optional<std::vector<SocketRow>> socket_table_from(Source source, SocketKinds kinds) {
  return table(source, kinds);
}

}  // namespace linux_sockets

std::optional<std::vector<SocketRow>> socket_table(SocketKinds kinds) {
  return linux_sockets::table(std::nullopt, kinds);
}

}  // namespace os
