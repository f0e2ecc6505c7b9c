// Windows: processes through the process-status service, with the limited image-name query for
// processes whose module list is out of reach.
#include <windows.h>
// The psapi.dll entry points that Windows XP has, not their later kernel32 aliases.
#define PSAPI_VERSION 1
#include <psapi.h>

#include "os/os.hpp"

namespace os {

namespace {

HANDLE handle_of(ProcessHandle process) { return reinterpret_cast<HANDLE>(process.value); }

// A process handle closed on every way out.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

using QueryImageName = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPSTR name, PDWORD size);

// Vista and later; bound at run time so that the DLL still loads on XP.
QueryImageName query_image_name() {
  static const QueryImageName function = reinterpret_cast<QueryImageName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA")));
  return function;
}

constexpr DWORD kQueryAndReadRights = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x410
constexpr DWORD kQueryLimitedInformation = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION

}  // namespace

std::optional<ProcessHandle> open_process(std::uint32_t pid) {
  const HANDLE process = OpenProcess(kQueryAndReadRights, TRUE, pid);
  if (process == nullptr) return std::nullopt;
  return ProcessHandle{reinterpret_cast<std::uintptr_t>(process)};
}

bool process_modules_readable(ProcessHandle process) {
  HMODULE modules[256];  // 1,024 bytes on the 32-bit build; only success is looked at
  DWORD needed = 0;
  return EnumProcessModules(handle_of(process), modules, 1024, &needed) != 0;
}

std::size_t process_executable_path(ProcessHandle process, std::span<char> buffer) {
  if (buffer.empty()) return 0;
  const DWORD length = GetModuleFileNameExA(handle_of(process), nullptr, buffer.data(),
                                            static_cast<DWORD>(buffer.size()));
  // Before Vista a path that fills the buffer comes back without its NUL.
  const std::size_t stored = length < buffer.size() ? length : buffer.size() - 1;
  buffer[stored] = '\0';
  return stored;
}

void close_process(ProcessHandle process) { CloseHandle(handle_of(process)); }

// Windows names a process by its executable alone.
std::string process_name(std::uint32_t /*pid*/) { return {}; }

std::optional<std::string> process_image_path_limited(std::uint32_t pid) {
  const QueryImageName query = query_image_name();
  if (query == nullptr) return std::nullopt;
  const OwnedHandle process(OpenProcess(kQueryLimitedInformation, FALSE, pid));
  if (process.get() == nullptr) return std::nullopt;
  char path[1024];
  DWORD size = sizeof path;
  if (!query(process.get(), 0, path, &size)) return std::nullopt;
  return std::string(path, size);
}

}  // namespace os
