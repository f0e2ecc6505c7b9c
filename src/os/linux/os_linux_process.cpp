// Linux: a process is its /proc/PID folder; its executable is the target of the exe link there.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "os/os.hpp"

namespace os {

std::optional<ProcessHandle> open_process(std::uint32_t pid) {
  const std::string path = "/proc/" + std::to_string(pid);
  const int folder = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return std::nullopt;
  return ProcessHandle{static_cast<std::uintptr_t>(folder)};
}

// Kernel threads have no executable, and another user's processes hide theirs from the
// unprivileged.
bool process_modules_readable(ProcessHandle process) {
  char first;
  return readlinkat(static_cast<int>(process.value), "exe", &first, 1) > 0;
}

std::size_t process_executable_path(ProcessHandle process, std::span<char> buffer) {
  if (buffer.empty()) return 0;
  const auto length =
      readlinkat(static_cast<int>(process.value), "exe", buffer.data(), buffer.size() - 1);
  const auto stored = length < 0 ? 0 : static_cast<std::size_t>(length);
  buffer[stored] = '\0';
  return stored;
}

void close_process(ProcessHandle process) { close(static_cast<int>(process.value)); }

// There is no narrower right to ask with: what the exe link does not tell, nothing does.
std::optional<std::string> process_image_path_limited(std::uint32_t /*pid*/) {
  return std::nullopt;
}

}  // namespace os
