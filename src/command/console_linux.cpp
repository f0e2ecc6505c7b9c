// The command's platform bits on Linux: isatty, signal handlers, a non-blocking open of the
// settings file, _exit.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "command/console.hpp"

namespace qv::console {

namespace {

// -1: note the interrupt; otherwise the status to leave with.
volatile sig_atomic_t exitStatus = -1;
volatile sig_atomic_t noted = 0;

void on_interrupt(int /*signal*/) {
  if (exitStatus >= 0) _exit(exitStatus);
  noted = 1;
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
