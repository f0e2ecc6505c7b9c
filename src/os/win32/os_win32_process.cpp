// Windows: processes through the process-status service, with the limited image-name query for
// processes whose module list is out of reach; paths in the ANSI code page or, from the wide
// functions, in UTF-8.
#include <windows.h>
// The psapi.dll entry points that Windows XP has, not their later kernel32 aliases.
#define PSAPI_VERSION 1
#include <psapi.h>

#include <algorithm>
#include <span>
#include <string>
#include <string_view>

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
  [[nodiscard]] HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

using QueryImageName = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPSTR name, PDWORD size);
using QueryImageNameW = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPWSTR name, PDWORD size);

// Vista and later; bound at run time so that the DLL still loads on XP.
template <typename Function>
Function kernel32_function(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

QueryImageName query_image_name() {
  static const auto function = kernel32_function<QueryImageName>("QueryFullProcessImageNameA");
  return function;
}

QueryImageNameW query_image_name_wide() {
  static const auto function = kernel32_function<QueryImageNameW>("QueryFullProcessImageNameW");
  return function;
}

// Room for a path from either query: 1,024 characters.
constexpr DWORD kPathRoom = 1024;

// An unpaired surrogate (a name no other program can spell either) becomes U+FFFD.
std::string utf8_of(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), size, nullptr, nullptr);
  return result;
}

// Stores text cut to the buffer without splitting a UTF-8 sequence, NUL-terminated.
std::size_t store_utf8(std::string_view text, std::span<char> buffer) {
  std::size_t stored = std::min(text.size(), buffer.size() - 1);
  while (stored > 0 && stored < text.size() &&
         (static_cast<unsigned char>(text[stored]) & 0xC0U) == 0x80U) {
    --stored;
  }
  text.copy(buffer.data(), stored);
  buffer[stored] = '\0';
  return stored;
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

std::size_t process_executable_path(ProcessHandle process, std::span<char> buffer, PathText text) {
  if (buffer.empty()) return 0;
  if (text == PathText::utf8) {
    wchar_t path[kPathRoom];
    const DWORD length = GetModuleFileNameExW(handle_of(process), nullptr, path, kPathRoom);
    return store_utf8(utf8_of(std::wstring_view(path, std::min(length, kPathRoom))), buffer);
  }
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

std::optional<std::string> process_image_path_limited(std::uint32_t pid, PathText text) {
  const QueryImageName query = query_image_name();
  const QueryImageNameW queryWide = query_image_name_wide();
  if (text == PathText::utf8 ? queryWide == nullptr : query == nullptr) return std::nullopt;
  const OwnedHandle process(OpenProcess(kQueryLimitedInformation, FALSE, pid));
  if (process.get() == nullptr) return std::nullopt;
  DWORD size = kPathRoom;
  if (text == PathText::utf8) {
    wchar_t path[kPathRoom];
    if (!queryWide(process.get(), 0, path, &size)) return std::nullopt;
    return utf8_of(std::wstring_view(path, size));
  }
  char path[kPathRoom];
  if (!query(process.get(), 0, path, &size)) return std::nullopt;
  return std::string(path, size);
}

}  // namespace os
