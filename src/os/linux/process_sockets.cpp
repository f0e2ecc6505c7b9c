// Walking /proc and /proc/PID/fd with getdents64 and readlinkat.
#include "os/linux/process_sockets.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "os/linux/proc_net.hpp"

namespace os::linux_proc {

namespace {

constexpr std::size_t kEntryBytes = std::size_t{64} * 1024;

// Calls visit(name, inode) for every entry of the folder open at fd, "." and ".." left out.
template <typename Visit>
void each_entry(int fd, std::vector<char>& buffer, Visit visit) {
  for (;;) {
    const ssize_t got = getdents64(fd, buffer.data(), buffer.size());
    if (got <= 0) return;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + at);
      at += entry->d_reclen;
      if (entry->d_name[0] != '.') visit(entry->d_name, entry->d_ino);
    }
  }
}

// A pid folder's name: decimal digits only.
bool pid_of(const char* name, std::uint32_t& pid) {
  std::uint64_t value = 0;
  if (*name == '\0') return false;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9' || value > 0xFFFFFFFFU / 10) return false;
    value = value * 10 + static_cast<std::uint64_t>(*name - '0');
  }
  pid = static_cast<std::uint32_t>(value);
  return true;
}

}  // namespace

ProcReader::ProcReader()
    : proc_(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), entries_(kEntryBytes) {}

void ProcReader::list_processes(std::vector<linux_owners::Process>& processes) {
  processes.clear();
  if (proc_.get() < 0) return;
  ::lseek(proc_.get(), 0, SEEK_SET);
  each_entry(proc_.get(), entries_, [&](const char* name, std::uint64_t inode) {
    std::uint32_t pid;
    if (pid_of(name, pid)) processes.push_back({pid, inode});
  });
  std::sort(processes.begin(), processes.end(),
            [](const auto& a, const auto& b) { return a.pid < b.pid; });
}

void ProcReader::read_sockets(std::uint32_t pid, std::vector<std::uint64_t>& inodes) {
  char path[32];
  std::snprintf(path, sizeof path, "%u/fd", pid);
  const Descriptor fds(::openat(proc_.get(), path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fds.get() < 0) return;
  each_entry(fds.get(), entries_, [&](const char* name, std::uint64_t) {
    char link[64];
    const ssize_t length = ::readlinkat(fds.get(), name, link, sizeof link);
    if (length <= 0) return;
    const auto inode =
        linux_net::socket_inode_of_link(std::string_view(link, static_cast<std::size_t>(length)));
    if (inode) inodes.push_back(*inode);
  });
}

std::optional<std::uint32_t> ProcReader::parent_of(std::uint32_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "%u/stat", pid);
  const Descriptor stat(::openat(proc_.get(), path, O_RDONLY | O_CLOEXEC));
  if (stat.get() < 0) return std::nullopt;
  char text[512];
  const ssize_t length = ::read(stat.get(), text, sizeof text - 1);
  if (length <= 0) return std::nullopt;
  text[length] = '\0';
  // "pid (comm) state ppid ...": the name may hold anything, spaces and parentheses too, so the
  // fields are counted from its last closing parenthesis.
  const std::string_view fields(text, static_cast<std::size_t>(length));
  const auto close = fields.rfind(')');
  std::uint32_t parent = 0;
  char state = 0;
  if (close == std::string_view::npos ||
      std::sscanf(text + close + 1, " %c %u", &state, &parent) != 2) {
    return std::nullopt;
  }
  return parent;
}

}  // namespace os::linux_proc
