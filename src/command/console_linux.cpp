// The command's platform bits on Linux: isatty and terminfo, the window's size and SIGWINCH,
// signal handlers, a non-blocking open of the settings file, glibc's heap in huge pages, _exit.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command/console.hpp"

// terminfo's header names its capabilities as macros; two of them are words this file uses.
#include <term.h>
#undef columns
#undef lines

#ifdef __GLIBC__
#include <malloc.h>
#endif

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

#ifdef __GLIBC__
namespace {
void* heapSpacer = nullptr;  // see prepare_heap
}  // namespace
#endif

void prepare_heap() {
#ifdef __GLIBC__
  // Filled 4 KiB at a time, a listing's tables cost a page fault each, which on a virtual machine
  // took more time than reading the kernel's tables. So the heap grows at once by room for a large
  // listing, that room asks for 2 MiB pages (where transparent huge pages are left to madvise, as
  // distributions ship them), big tables are taken from it rather than mapped on their own, and
  // what a refresh frees is kept for the next. A sanitizer's allocator has no such heap: the break
  // does not move, and nothing is asked.
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  constexpr std::size_t kHugePage = 2 * kMiB;
  constexpr std::size_t kRoom = 64 * kMiB;
  // NOLINTBEGIN(concurrency-mt-unsafe): no other thread has started yet
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kRoom));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(4 * kRoom));
  mallopt(M_TOP_PAD, static_cast<int>(kRoom));
  // NOLINTEND(concurrency-mt-unsafe)
  const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
  // More than the top of the heap holds: the heap grows by it and by the pad. (Volatile, or the
  // compiler drops a block that is freed unused.)
  void* volatile grown = std::malloc(kHugePage);  // NOLINT(cppcoreguidelines-no-malloc)
  const auto start = reinterpret_cast<std::uintptr_t>(grown);
  std::free(grown);  // NOLINT(cppcoreguidelines-no-malloc)
  const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = after & ~(kHugePage - 1);
  if (after == before || last <= first) return;
  // What lies below the first 2 MiB boundary cannot be a huge page: a block kept for good fills
  // it, so that the next tables start at the boundary. (Less the two headers of the blocks.)
  constexpr std::uintptr_t kHeaders = 32;
  if (first - start > kHeaders) {
    heapSpacer = std::malloc(first - start - kHeaders);  // NOLINT(cppcoreguidelines-no-malloc)
  }
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the break is an address
  ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

void exit_now(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}

}  // namespace qv::console
