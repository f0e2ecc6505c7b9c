// Linux: a process's executable is the target of its /proc/PID/exe link. Opening a process reads
// that link once; the module check and the path query then answer from what was read, so a pass
// pays one system call per entry for its program name.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "os/linux/descriptor.hpp"
#include "os/os.hpp"

namespace os {

namespace {

struct OpenedProcess {
  std::size_t length;  // 0: the process has no executable to show (a kernel thread) or hides it
  char path[PATH_MAX];
};

OpenedProcess& opened(ProcessHandle process) {
  return *reinterpret_cast<OpenedProcess*>(process.value);
}

}  // namespace

std::optional<ProcessHandle> open_process(std::uint32_t pid) {
  const std::string folder = "/proc/" + std::to_string(pid);
  auto* process = new (std::nothrow) OpenedProcess;
  if (process == nullptr) return std::nullopt;
  const auto length = readlink((folder + "/exe").c_str(), process->path, sizeof process->path);
  if (length > 0 && static_cast<std::size_t>(length) < sizeof process->path) {
    process->length = static_cast<std::size_t>(length);
    return ProcessHandle{reinterpret_cast<std::uintptr_t>(process)};
  }
  // Kernel threads have no executable, and another user's processes hide theirs from the
  // unprivileged: such a process is there, only its modules are out of reach.
  process->length = 0;
  if (access(folder.c_str(), F_OK) == 0)
    return ProcessHandle{reinterpret_cast<std::uintptr_t>(process)};
  delete process;
  return std::nullopt;
}

bool process_modules_readable(ProcessHandle process) { return opened(process).length > 0; }

std::size_t process_executable_path(ProcessHandle process, std::span<char> buffer,
                                    PathText /*text*/) {
  if (buffer.empty()) return 0;
  const OpenedProcess& source = opened(process);
  const std::size_t stored = std::min(source.length, buffer.size() - 1);
  std::memcpy(buffer.data(), source.path, stored);
  buffer[stored] = '\0';
  return stored;
}

void close_process(ProcessHandle process) { delete &opened(process); }

// There is no narrower right to ask with: what the exe link does not tell, nothing does.
std::optional<std::string> process_image_path_limited(std::uint32_t /*pid*/, PathText /*text*/) {
  return std::nullopt;
}

std::string process_name(std::uint32_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%u/comm", pid);
  std::string name;
  constexpr std::size_t kCommBytes = 64;  // TASK_COMM_LEN is 16
  if (!read_file(path, name, kCommBytes)) return {};
  if (!name.empty() && name.back() == '\n') name.pop_back();
  return name;
}

}  // namespace os
