// Linux: the IPv4 endpoint tables from /proc/net/tcp and /proc/net/udp, each row given the pid
// that holds its socket.
#include <mutex>
#include <string>

#include "os/linux/descriptor.hpp"
#include "os/linux/proc_net.hpp"
#include "os/linux/process_sockets.hpp"
#include "os/linux/socket_owners.hpp"
#include "os/os.hpp"

namespace os {

namespace {

using linux_net::SocketLine;

// The collector asks for TCP then UDP once per pass: the owners found for TCP serve UDP too, and
// are looked for again there only if UDP brings a socket they do not hold.
struct Tables {
  std::mutex mutex;
  linux_owners::SocketOwners owners;
  std::vector<linux_owners::Process> processes;
  std::string text;
  std::vector<SocketLine> lines;
};

Tables& tables() {
  static auto* shared = new Tables;  // never destroyed: a worker may still read at exit
  return *shared;
}

// Reads and parses one table under the lock; false when the kernel's table cannot be read.
bool read_lines(Tables& state, const char* path) {
  if (!read_file(path, state.text)) return false;
  linux_net::parse_socket_lines(state.text, state.lines);
  return true;
}

// Every process read afresh, every socket met kept, each pass from scratch.
void find_owners(Tables& state) {
  linux_proc::ProcReader proc;
  proc.list_processes(state.processes);
  state.owners.rebuild(state.processes, [&proc](std::uint32_t pid, auto& inodes) {
    proc.read_sockets(pid, inodes);
  });
}

}  // namespace

std::optional<std::vector<TcpRow>> tcp_table() {
  Tables& state = tables();
  std::lock_guard lock(state.mutex);
  if (!read_lines(state, "/proc/net/tcp")) return std::nullopt;
  find_owners(state);
  std::vector<TcpRow> rows;
  rows.reserve(state.lines.size());
  for (const SocketLine& line : state.lines) {
    rows.push_back({linux_net::mib_tcp_state(line.state), line.localAddress,
                    linux_net::delivered_port(line.localPort), line.remoteAddress,
                    linux_net::delivered_port(line.remotePort), state.owners.owner(line.inode)});
  }
  return rows;
}

std::optional<std::vector<UdpRow>> udp_table() {
  Tables& state = tables();
  std::lock_guard lock(state.mutex);
  if (!read_lines(state, "/proc/net/udp")) return std::nullopt;
  for (const SocketLine& line : state.lines) {
    if (line.inode != 0 && !state.owners.knows(line.inode)) {
      find_owners(state);
      break;
    }
  }
  std::vector<UdpRow> rows;
  rows.reserve(state.lines.size());
  for (const SocketLine& line : state.lines) {
    rows.push_back({line.localAddress, linux_net::delivered_port(line.localPort),
                    state.owners.owner(line.inode)});
  }
  return rows;
}

}  // namespace os
