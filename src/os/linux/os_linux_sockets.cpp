// Linux: the command's socket table, every TCP and UDP socket of both families, from netlink
// sock_diag as ss reads it, or from /proc/net where netlink cannot be had; owners kept between
// calls. Other network namespaces are read by threads that enter them and then end.
#include <fcntl.h>
#include <linux/netlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "os/linux/descriptor.hpp"
#include "os/linux/network_namespaces.hpp"
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

// One reader's buffers: the shared ones of the caller's namespace, or a namespace thread's own.
struct Buffers {
  std::mutex mutex;  // one reader of the shared buffers at a time
  std::uint32_t sequence = 0;
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
bool read_netlink(int family, int protocol, bool traffic, Buffers& state,
                  std::vector<SocketRow>& rows, std::vector<std::uint64_t>& inodes) {
  const Descriptor diag(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (diag.get() < 0) return false;
  // Room for several datagrams queued at once; the kernel adds the next only once half is free.
  const int room = 1 << 20;
  ::setsockopt(diag.get(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  const std::uint32_t sequence = ++state.sequence;
  const auto request = linux_diag::dump_request(
      static_cast<std::uint8_t>(family), static_cast<std::uint8_t>(protocol), sequence, traffic);
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ssize_t sent;
  do {
    sent = ::sendto(diag.get(), &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                    sizeof kernel);
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(sizeof request)) return false;
  return receive_dump(diag.get(), sequence, protocol_of(protocol), state.datagram, rows, inodes);
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
  // The thread's own view: a namespace thread has left the process's namespace.
  const char* path = family == AF_INET6
                         ? (tcp ? "/proc/thread-self/net/tcp6" : "/proc/thread-self/net/udp6")
                         : (tcp ? "/proc/thread-self/net/tcp" : "/proc/thread-self/net/udp");
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
                        ? read_netlink(family, protocol, traffic, state, rows, inodes)
                        : read_proc(family, protocol, state, rows, inodes);
  if (!read) {
    rows.resize(rowsBefore);
    inodes.resize(inodesBefore);
  }
  return read;
}

// How many rows a table of the kinds will have in the calling thread's namespace, as the kernel
// counts its sockets: room made at once spares the growing table its copies and page faults.
std::size_t expected_rows(SocketKinds kinds) {
  constexpr std::size_t kStatBytes = 1024;
  std::string sockstat;
  std::string sockstat6;
  if (!read_file("/proc/thread-self/net/sockstat", sockstat, kStatBytes)) sockstat.clear();
  if (!read_file("/proc/thread-self/net/sockstat6", sockstat6, kStatBytes)) sockstat6.clear();
  const linux_net::SocketCounts counts = linux_net::parse_sockstat(sockstat, sockstat6);
  std::size_t rows = 0;
  if (kinds.tcp) {
    rows += (kinds.ipv4 ? counts.tcp4 : 0) + (kinds.ipv6 ? counts.tcp6 : 0) + counts.tcpTimeWait;
  }
  if (kinds.udp) rows += (kinds.ipv4 ? counts.udp4 : 0) + (kinds.ipv6 ? counts.udp6 : 0);
  return rows;
}

// Room for a table that had last rows the time before, or for what the kernel counts now.
std::size_t room_for_rows(std::size_t last, SocketKinds kinds) {
  const std::size_t rows = last != 0 ? last : expected_rows(kinds);
  return rows + rows / 8 + 64;
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

// Reads the wanted kinds in the calling thread's namespace: only the named source, or netlink
// first and /proc where it fails. False when none of the tables asked for could be read.
bool read_kinds(std::optional<Source> only, SocketKinds kinds, Buffers& state,
                std::vector<SocketRow>& rows, std::vector<std::uint64_t>& inodes) {
  bool asked = false;
  bool any = false;
  for (const int protocol : {IPPROTO_TCP, IPPROTO_UDP}) {
    if (!(protocol == IPPROTO_TCP ? kinds.tcp : kinds.udp)) continue;
    for (const int family : {AF_INET, AF_INET6}) {
      if (!(family == AF_INET ? kinds.ipv4 : kinds.ipv6)) continue;
      asked = true;
      const auto read_from = [&](Source source) {
        std::lock_guard lock(state.mutex);
        return read_locked(source, family, protocol, kinds.traffic, state, rows, inodes);
      };
      const bool read =
          only ? read_from(*only) : read_from(Source::netlink) || read_from(Source::proc);
      any = any || read;
    }
  }
  return !asked || any;
}

// Device indexes are the namespace's own: named by a thread inside it. Few sockets are tied to a
// device, so each index is named once per table.
void name_interfaces(std::span<SocketRow> rows) {
  std::vector<std::pair<std::uint32_t, std::string>> interfaces;
  for (SocketRow& row : rows) {
    if (row.interfaceIndex != 0) row.interfaceName = interface_name(row.interfaceIndex, interfaces);
  }
}

// The holders of every row's socket (inodes in state.inodes, row by row), from one pass over the
// processes whatever namespaces the rows come from: socket inodes are unique to the machine.
void find_owners(Owners& state, std::vector<SocketRow>& rows) {
  linux_proc::ProcReader proc;
  proc.list_processes(state.processes);
  state.book.refresh(state.processes, state.inodes, linux_owners::Clock::now(),
                     {[&proc](std::uint32_t pid, auto& inodes) { proc.read_sockets(pid, inodes); },
                      [&proc](std::uint32_t pid) { return proc.parent_of(pid); }});
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SocketRow& row = rows[i];
    const auto holders = state.book.holders(state.inodes[i]);
    row.owningPids.assign(holders.begin(), holders.end());
    row.owningPid = holders.empty() ? 0 : holders.front();
  }
  state.lastRows = rows.size();
}

std::optional<std::vector<SocketRow>> table(std::optional<Source> only, SocketKinds kinds) {
  Owners& state = owners();
  std::lock_guard lock(state.mutex);
  std::vector<SocketRow> rows;
  rows.reserve(room_for_rows(state.lastRows, kinds));
  state.inodes.clear();
  if (!read_kinds(only, kinds, buffers(), rows, state.inodes)) return std::nullopt;
  name_interfaces(rows);
  find_owners(state, rows);
  return rows;
}

// One namespace's sockets and their inodes, or why they could not be read.
struct NamespaceRead {
  const linux_netns::Namespace* where = nullptr;
  std::vector<SocketRow> rows;
  std::vector<std::uint64_t> inodes;
  bool read = false;
  int error = 0;  // errno of the failure; 0 with nothing read: the namespace has gone
};

bool gone(int error) { return error == ENOENT || error == ESRCH; }

// Runs on a thread that ends afterwards: once it has entered another namespace it is never used
// for the caller's own.
void read_entered(NamespaceRead& read, SocketKinds kinds) {
  const Descriptor file(::open(read.where->path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0) {
    read.error = gone(errno) ? 0 : errno;
    return;
  }
  // A process's pid may have passed to a process of another namespace since it was found.
  if (status.st_ino != read.where->inode) return;
  if (::setns(file.get(), CLONE_NEWNET) != 0) {
    read.error = errno;
    return;
  }
  Buffers own;
  read.rows.reserve(room_for_rows(0, kinds));
  read.read = read_kinds(std::nullopt, kinds, own, read.rows, read.inodes);
  if (!read.read) read.error = errno != 0 ? errno : EIO;
  name_interfaces(read.rows);
}

// The namespaces that the --netns files name, with the names and the current one's flag that the
// machine's namespaces give them; each once.
std::vector<linux_netns::Namespace> chosen_namespaces(const std::vector<std::string>& files,
                                                      NamespaceShortfall& shortfall) {
  const std::vector<linux_netns::Namespace> known = linux_netns::find_namespaces(false);
  std::vector<linux_netns::Namespace> chosen;
  for (const std::string& file : files) {
    std::string reason;
    const auto inode = linux_netns::namespace_inode(file, reason);
    if (!inode) {
      if (shortfall.count++ == 0) shortfall.reason = reason;
      continue;
    }
    const auto same = [&](const linux_netns::Namespace& n) { return n.inode == *inode; };
    if (std::any_of(chosen.begin(), chosen.end(), same)) continue;
    const auto found = std::find_if(known.begin(), known.end(), same);
    chosen.push_back(found != known.end() ? *found
                                          : linux_netns::Namespace{*inode, false, file, {}});
  }
  return chosen;
}

// At most this many namespaces are read at once: each dump keeps a core busy in the kernel.
std::size_t namespace_readers(std::size_t namespaces) {
  const std::size_t cores = std::max(2U, std::thread::hardware_concurrency());
  return std::min(namespaces, std::min<std::size_t>(cores, 8));
}

std::optional<std::vector<SocketRow>> namespaces_table(SocketKinds kinds,
                                                       const NamespaceScope& scope,
                                                       NamespaceShortfall& shortfall) {
  shortfall = {};
  Owners& state = owners();
  std::lock_guard lock(state.mutex);
  const std::vector<linux_netns::Namespace> namespaces =
      scope.every ? linux_netns::find_namespaces(true) : chosen_namespaces(scope.files, shortfall);
  std::vector<NamespaceRead> reads(namespaces.size());
  std::vector<NamespaceRead*> entered;
  for (std::size_t i = 0; i < namespaces.size(); ++i) {
    reads[i].where = &namespaces[i];
    if (!namespaces[i].current) entered.push_back(&reads[i]);
  }
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> readers;
  for (std::size_t i = namespace_readers(entered.size()); i > 0; --i) {
    readers.emplace_back([&] {
      for (std::size_t at; (at = next.fetch_add(1)) < entered.size();) {
        read_entered(*entered[at], kinds);
      }
    });
  }
  // The caller's own namespace meanwhile, here, through the shared buffers.
  for (NamespaceRead& read : reads) {
    if (!read.where->current) continue;
    read.read = read_kinds(std::nullopt, kinds, buffers(), read.rows, read.inodes);
    if (!read.read) read.error = errno != 0 ? errno : EIO;
    name_interfaces(read.rows);
  }
  for (std::thread& reader : readers) reader.join();

  std::size_t total = 0;
  for (const NamespaceRead& read : reads) total += read.rows.size();
  std::vector<SocketRow> rows;
  rows.reserve(total);
  state.inodes.clear();
  bool any = false;
  for (NamespaceRead& read : reads) {
    if (read.error != 0 && shortfall.count++ == 0) {
      shortfall.reason = std::strerror(read.error);  // NOLINT(concurrency-mt-unsafe)
    }
    any = any || read.read;
    for (SocketRow& row : read.rows) {
      row.netnsInode = read.where->inode;
      row.netnsName = read.where->name;
      rows.push_back(std::move(row));
    }
    state.inodes.insert(state.inodes.end(), read.inodes.begin(), read.inodes.end());
  }
  if (!any) return std::nullopt;
  find_owners(state, rows);
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

// sock_diag gives every TCP socket's counters to anyone who asks.
std::string_view traffic_notice() { return {}; }
std::optional<std::vector<SocketRow>> namespace_socket_table(SocketKinds kinds,
                                                             const NamespaceScope& scope,
                                                             NamespaceShortfall& shortfall) {
  return linux_sockets::namespaces_table(kinds, scope, shortfall);
}

std::optional<std::string> find_network_namespace(const std::string& value, std::string& reason) {
  if (value.empty()) {
    reason = "--netns needs a namespace's name, path or process id";
    return std::nullopt;
  }
  std::string path = linux_netns::namespace_file_path(value);
  if (!linux_netns::namespace_inode(path, reason)) {
    reason = "--netns " + value + ": " + reason;
    return std::nullopt;
  }
  return path;
}

}  // namespace os
