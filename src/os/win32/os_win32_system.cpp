// Windows: threads, pauses, the process heap, locale and date.
#include <windows.h>

#include "os/os.hpp"

namespace os {

namespace {

struct ThreadStart {
  void (*routine)(void*);
  void* argument;
  HMODULE pinnedModule;
};

DWORD WINAPI run_thread(LPVOID start) {
  const ThreadStart what = *static_cast<ThreadStart*>(start);
  HeapFree(GetProcessHeap(), 0, start);
  what.routine(what.argument);
  // The thread holds its own reference to this library, so a host that unloads the library
  // without stopping the worker first cannot pull the code and the tables from under it.
  FreeLibraryAndExitThread(what.pinnedModule, 0);
}

}  // namespace

std::optional<ThreadHandle> start_thread(void (*routine)(void*), void* argument) {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCSTR>(&run_thread), &self)) {
    return std::nullopt;
  }
  auto* start = static_cast<ThreadStart*>(HeapAlloc(GetProcessHeap(), 0, sizeof(ThreadStart)));
  if (start == nullptr) {
    FreeLibrary(self);
    return std::nullopt;
  }
  *start = {routine, argument, self};
  HANDLE thread = CreateThread(nullptr, 0, run_thread, start, 0, nullptr);
  if (thread == nullptr) {
    HeapFree(GetProcessHeap(), 0, start);
    FreeLibrary(self);
    return std::nullopt;
  }
  return ThreadHandle{reinterpret_cast<std::uintptr_t>(thread)};
}

void wait_thread(ThreadHandle thread) {
  auto handle = reinterpret_cast<HANDLE>(thread.value);
  WaitForSingleObject(handle, INFINITE);
  CloseHandle(handle);
}

void sleep_ms(std::uint32_t milliseconds) { Sleep(milliseconds); }

void yield() { Sleep(0); }

void* allocate_zeroed(std::size_t bytes) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void release(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

LocalDate local_date() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

std::string month_name(int month) {
  // The twelve month names follow LOCALE_SMONTHNAME1 in order.
  char name[20] = {};
  if (GetLocaleInfoA(0, LOCALE_SMONTHNAME1 + static_cast<LCTYPE>(month - 1), name, sizeof name) ==
      0)
    return {};
  name[sizeof name - 1] = '\0';
  return name;
}

}  // namespace os
