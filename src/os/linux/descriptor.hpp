// File descriptors closed on every way out, and the one whole-file reader of the Linux layer.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <string>

namespace os {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  [[nodiscard]] int get() const { return fd_; }
  // Closes now, reporting whether the last writes reached the file.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// The first read of a file that may be a whole /proc table: the kernel regenerates its tables per
// read, so small reads cost far more than the copying.
inline constexpr std::size_t kTableRead = std::size_t{64} * 1024;

// Reads from fd to its end into text, firstRead bytes at first and more each time after. False on
// a read error or when the file holds more than limit bytes; text is then unspecified.
bool read_all(int fd, std::string& text, std::size_t limit = std::string::npos,
              std::size_t firstRead = kTableRead);
// The same for the file at path; false also when it cannot be opened. A file known to be a line
// or two (a process's comm) is read with a firstRead to match: the buffer is zeroed before the
// read, and a 64 KiB one per process is most of a listing's page faults.
bool read_file(const char* path, std::string& text, std::size_t firstRead = kTableRead);

}  // namespace os
