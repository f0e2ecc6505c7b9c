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

// Reads from fd to its end into text, in large reads: the kernel regenerates its /proc tables per
// read, so small reads cost far more than the copying. False on a read error or when the file
// holds more than limit bytes; text is then unspecified.
bool read_all(int fd, std::string& text, std::size_t limit = std::string::npos);
// The same for the file at path; false also when it cannot be opened.
bool read_file(const char* path, std::string& text);

}  // namespace os
