// The command's platform bits on Windows: the console, Ctrl-C and the console's close through a
// control handler, the settings file's kind through its handle, and leaving at once.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command/console.hpp"

namespace qv::console {

namespace {

// -1: note the interrupt; otherwise the status to leave with.
std::atomic<int> exitStatus{-1};
std::atomic<bool> noted{false};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI on_control(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  const int status = exitStatus.load();
  if (status >= 0) exit_now(status);
  noted = true;
  return TRUE;
}

void catch_interrupts() {
  static const bool installed = SetConsoleCtrlHandler(on_control, TRUE) != 0;
  static_cast<void>(installed);
}

// The system's text for an error, without the line break it ends with.
std::string system_message(DWORD error) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(error) : message;
}

}  // namespace

bool stdout_is_terminal() {
  // A console that understands the escape sequences of the table and the watch (Windows 10 and
  // later); an older console gets what a pipe gets. A pipe has no console mode at all.
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || GetConsoleMode(out, &mode) == 0) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

// The console's own answer to TERM: one with escape sequences can redraw.
bool stdout_redraws() { return stdout_is_terminal(); }

std::optional<WindowSize> window_size() {
  CONSOLE_SCREEN_BUFFER_INFO screen{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &screen) == 0)
    return std::nullopt;
  // The visible part of the screen buffer, not the buffer with its scrollback.
  const SMALL_RECT& shown = screen.srWindow;
  if (shown.Bottom < shown.Top || shown.Right < shown.Left) return std::nullopt;
  return WindowSize{static_cast<std::size_t>(shown.Bottom - shown.Top + 1),
                    static_cast<std::size_t>(shown.Right - shown.Left + 1)};
}

// The console tells of a new size only through its input queue, which may not be ours to read:
// the size is read again at every refresh instead.
void notice_resizes() {}

void pause_ms(std::uint32_t milliseconds) { Sleep(milliseconds); }

void exit_on_interrupt(int status) {
  exitStatus = status;
  catch_interrupts();
  // An interrupt noted while output was being written ends the process now.
  if (noted) exit_now(status);
}

void note_interrupts() {
  exitStatus = -1;
  catch_interrupts();
}

std::string error_text(int error) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the Windows C runtime keeps this text per thread.
  return std::strerror(error);
}

std::optional<std::string> settings_file_problem(const std::string& file) {
  // Backup semantics: a folder opens too, so that it can be told apart. Opening a device or a
  // pipe never waits here, unlike reading from one.
  const HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return system_message(GetLastError());
  BY_HANDLE_FILE_INFORMATION information{};
  const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
  const bool described = disk && GetFileInformationByHandle(handle, &information) != 0;
  const DWORD error = GetLastError();
  CloseHandle(handle);
  if (!disk) return "not a regular file";
  if (!described) return system_message(error);
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "Is a directory";
  return std::nullopt;
}

std::string settings_path(const std::string& file) {
  char path[MAX_PATH];
  const DWORD length = GetFullPathNameA(file.c_str(), sizeof path, path, nullptr);
  return length > 0 && length < sizeof path ? std::string(path, length) : file;
}

// Large pages need a privilege that a command run by a user does not hold.
void prepare_heap() {}

void exit_now(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

}  // namespace qv::console
