// The command's platform bits on Linux: isatty and terminfo, the window's size and SIGWINCH,
// signal handlers, a non-blocking open of the settings file, _exit.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "command/console.hpp"

// terminfo's header names its capabilities as macros; two of them are words this file uses.
#include <term.h>
#undef columns
#undef lines

namespace qv::console {

namespace {

// -1: note the interrupt; otherwise the status to leave with.
volatile sig_atomic_t exitStatus = -1;
volatile sig_atomic_t noted = 0;

void on_interrupt(int /*signal*/) {
  if (exitStatus >= 0) _exit(exitStatus);
  noted = 1;
}

// SIGWINCH writes a byte here, so that a pause polling the other end wakes whichever thread
// the signal was delivered to.
int resizePipe[2] = {-1, -1};

void on_resize(int /*signal*/) {
  const int saved = errno;
  const char byte = 0;
  // A full pipe already holds a wake-up, so a failed write loses nothing.
  [[maybe_unused]] const ssize_t written = write(resizePipe[1], &byte, 1);
  errno = saved;
}

// Whether terminfo describes the terminal and it has a capability, by its terminfo name.
bool has_capability(const char* name) {
  char* const value = tigetstr(name);
  // NOLINTNEXTLINE(performance-no-int-to-ptr): terminfo's own mark for "not a string capability".
  return value != nullptr && value != reinterpret_cast<char*>(-1);
}

void catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  // A noted interrupt must not break off a write to a slow pipe half-way through a line.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

bool stdout_redraws() {
  if (!stdout_is_terminal()) return false;
  int error = 0;
  // TERM unset or unknown to terminfo fails here; "dumb" is known but cannot address its cursor.
  if (setupterm(nullptr, STDOUT_FILENO, &error) != 0) return false;  // curses.h's OK
  const bool redraws = has_capability("cup") && has_capability("el") && has_capability("ed");
  del_curterm(cur_term);
  return redraws;
}

std::optional<WindowSize> window_size() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0) {
    return std::nullopt;
  }
  return WindowSize{size.ws_row, size.ws_col};
}

void notice_resizes() {
  if (resizePipe[0] >= 0 || pipe2(resizePipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action {};
  action.sa_handler = on_resize;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGWINCH, &action, nullptr);
}

void pause_ms(std::uint32_t milliseconds) {
  pollfd wake{resizePipe[0], POLLIN, 0};
  // Without the pipe (resizes not noticed) this polls nothing: a plain sleep. A signal (EINTR)
  // ends the pause early too, which costs at most one early refresh.
  if (poll(&wake, resizePipe[0] >= 0 ? 1 : 0, static_cast<int>(milliseconds)) > 0) {
    char drained[64];
    while (read(resizePipe[0], drained, sizeof drained) > 0) {
    }
  }
}

void exit_on_interrupt(int status) {
  exitStatus = status;
  catch_interrupts();
  // An interrupt noted while output was being written ends the process now.
  if (noted != 0) exit_now(status);
}

void note_interrupts() {
  exitStatus = -1;
  catch_interrupts();
}

std::string error_text(int error) {
  char buffer[256];
  // The GNU strerror_r: the text may be a constant of its own rather than the buffer.
  return strerror_r(error, buffer, sizeof buffer);
}

std::optional<std::string> settings_file_problem(const std::string& file) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  const int descriptor = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return error_text(errno);
  struct stat status {};
  const bool statFailed = fstat(descriptor, &status) != 0;
  const int error = errno;
  close(descriptor);
  if (statFailed) return error_text(error);
  if (S_ISDIR(status.st_mode)) return error_text(EISDIR);
  if (!S_ISREG(status.st_mode)) return "not a regular file";
  return std::nullopt;
}

std::string settings_path(const std::string& file) { return file; }

void exit_now(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}

}  // namespace qv::console
