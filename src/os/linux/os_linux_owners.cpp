// Linux: who owns a process besides its program (its cgroups, its user) and the one exchange with
// a container runtime's API over its unix socket.
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "os/linux/descriptor.hpp"
#include "os/os.hpp"

namespace os {

namespace {

// getpwuid_r's and getpwnam_r's buffer: what the system suggests, and more when that was short.
template <typename Lookup>
std::optional<passwd> look_up_user(std::vector<char>& buffer, Lookup lookUp) {
  const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  buffer.resize(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    const int error = lookUp(entry, buffer, found);
    if (error == ERANGE && buffer.size() < (std::size_t{1} << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr) return std::nullopt;
    return entry;
  }
}

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until fd is ready for events or the deadline passes.
bool ready(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int result = poll(&entry, 1, remaining_ms(deadline));
    if (result > 0) return true;
    if (result == 0 || errno != EINTR) return false;
  }
}

}  // namespace

std::optional<std::string> process_cgroups(std::uint32_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%u/cgroup", pid);
  std::string text;
  constexpr std::size_t kCgroupLines = 4096;  // a line per v1 hierarchy: a page holds them all
  if (!read_file(path, text, kCgroupLines)) return std::nullopt;
  return text;
}

std::optional<std::string> user_name(std::uint32_t uid) {
  // Names come from NSS, which may ask a directory server: each uid is asked once per run.
  static std::mutex mutex;
  static std::unordered_map<std::uint32_t, std::optional<std::string>> known;
  const std::lock_guard lock(mutex);
  if (const auto found = known.find(uid); found != known.end()) return found->second;
  std::vector<char> buffer;
  const auto entry = look_up_user(buffer, [uid](passwd& e, std::vector<char>& b, passwd*& found) {
    return getpwuid_r(uid, &e, b.data(), b.size(), &found);
  });
  return known[uid] = entry ? std::optional<std::string>(entry->pw_name) : std::nullopt;
}

std::optional<std::uint32_t> user_id(const std::string& name) {
  std::vector<char> buffer;
  const auto entry = look_up_user(buffer, [&name](passwd& e, std::vector<char>& b, passwd*& found) {
    return getpwnam_r(name.c_str(), &e, b.data(), b.size(), &found);
  });
  return entry ? std::optional<std::uint32_t>(entry->pw_uid) : std::nullopt;
}

std::optional<std::string> local_socket_exchange(const std::string& path, std::string_view request,
                                                 std::uint32_t timeLimitMs, std::size_t maxBytes) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeLimitMs);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, path.data(), path.size());
  const Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (socket.get() < 0) return std::nullopt;
  // A unix socket connects at once or not at all, unless the service's backlog is full.
  if (connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EAGAIN || !ready(socket.get(), POLLOUT, deadline)) return std::nullopt;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
      return std::nullopt;
  }
  while (!request.empty()) {
    if (!ready(socket.get(), POLLOUT, deadline)) return std::nullopt;
    const ssize_t sent = send(socket.get(), request.data(), request.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno != EAGAIN && errno != EINTR) return std::nullopt;
    if (sent > 0) request.remove_prefix(static_cast<std::size_t>(sent));
  }
  std::string answer;
  char chunk[16384];
  for (;;) {
    if (!ready(socket.get(), POLLIN, deadline)) return std::nullopt;
    const ssize_t got = recv(socket.get(), chunk, sizeof chunk, 0);
    if (got == 0) return answer;
    if (got < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return std::nullopt;
    }
    if (answer.size() + static_cast<std::size_t>(got) > maxBytes) return std::nullopt;
    answer.append(chunk, static_cast<std::size_t>(got));
  }
}

}  // namespace os
