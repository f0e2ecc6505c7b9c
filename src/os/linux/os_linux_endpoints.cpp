// Linux: the IPv4 endpoint tables from /proc/net/tcp and /proc/net/udp, each row given the pid
// that holds its socket.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_map>

#include "os/linux/descriptor.hpp"
#include "os/linux/proc_net.hpp"
#include "os/os.hpp"

namespace os {

namespace {

using linux_net::SocketLine;

class Directory {
 public:
  // Takes over fd (closed with the directory, or at once if it cannot be opened as one).
  explicit Directory(int fd) : dir_(fd >= 0 ? fdopendir(fd) : nullptr) {
    if (dir_ == nullptr && fd >= 0) close(fd);
  }
  ~Directory() {
    if (dir_ != nullptr) closedir(dir_);
  }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

bool is_number(const char* name) {
  if (*name == '\0') return false;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9') return false;
  }
  return true;
}

// Socket inode -> the pid holding it, from one walk over every process's open files. Where
// several processes share a socket (inherited across fork) the lowest pid is named.
class SocketOwners {
 public:
  void scan() {
    owners_.clear();
    const Directory proc(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (proc.get() == nullptr) return;
    while (const dirent* process = readdir(proc.get())) {
      if (!is_number(process->d_name)) continue;
      const auto pid = static_cast<std::uint32_t>(std::strtoul(process->d_name, nullptr, 10));
      const std::string fdPath = std::string(process->d_name) + "/fd";
      scan_process(pid,
                   openat(dirfd(proc.get()), fdPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
  }

  // 0 when no process visible here holds the socket.
  std::uint32_t owner(std::uint64_t inode) const {
    const auto found = owners_.find(inode);
    return found == owners_.end() ? 0 : found->second;
  }

  bool knows(std::uint64_t inode) const { return owners_.contains(inode); }

 private:
  void scan_process(std::uint32_t pid, int fdDirectory) {
    const Directory fds(fdDirectory);  // a process that has gone or hides its files adds nothing
    if (fds.get() == nullptr) return;
    char link[64];
    while (const dirent* fd = readdir(fds.get())) {
      if (fd->d_name[0] == '.') continue;
      const auto length = readlinkat(dirfd(fds.get()), fd->d_name, link, sizeof link);
      if (length <= 0) continue;
      const auto inode =
          linux_net::socket_inode_of_link(std::string_view(link, static_cast<std::size_t>(length)));
      if (!inode) continue;
      const auto [slot, added] = owners_.try_emplace(*inode, pid);
      if (!added && pid < slot->second) slot->second = pid;
    }
  }

  std::unordered_map<std::uint64_t, std::uint32_t> owners_;
};

// The whole file in few large reads: the kernel regenerates these tables per read, so small reads
// cost far more than the copying.
bool read_file(const char* path, std::string& text) {
  const Descriptor file(open(path, O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return false;
  text.clear();
  constexpr std::size_t kChunk = 256 * 1024;
  for (;;) {
    const std::size_t used = text.size();
    text.resize(used + kChunk);
    const auto got = read(file.get(), text.data() + used, kChunk);
    if (got < 0) return false;
    text.resize(used + static_cast<std::size_t>(got));
    if (got == 0) return true;
  }
}

// The collector asks for TCP then UDP once per pass: the owner map made for TCP serves UDP too,
// and is made again there only if UDP brings a socket it does not know.
struct Tables {
  std::mutex mutex;
  SocketOwners owners;
  std::string text;
  std::vector<SocketLine> lines;
};

Tables& tables() {
  static Tables* shared = new Tables;  // never destroyed: a worker may still read at exit
  return *shared;
}

// Reads and parses one table under the lock; false when the kernel's table cannot be read.
bool read_lines(Tables& state, const char* path) {
  if (!read_file(path, state.text)) return false;
  linux_net::parse_socket_lines(state.text, state.lines);
  return true;
}

}  // namespace

std::optional<std::vector<TcpRow>> tcp_table() {
  Tables& state = tables();
  std::lock_guard lock(state.mutex);
  if (!read_lines(state, "/proc/net/tcp")) return std::nullopt;
  state.owners.scan();
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
      state.owners.scan();
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
