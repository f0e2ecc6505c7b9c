// Whole-file reading with retries on interruption.
#include "os/linux/descriptor.hpp"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

namespace os {

bool read_all(int fd, std::string& text, std::size_t limit, std::size_t firstRead) {
  text.clear();
  std::size_t room = std::max<std::size_t>(firstRead, 1);
  for (;;) {
    const std::size_t used = text.size();
    // One byte beyond the limit is asked for, so that a file of exactly limit bytes still reads.
    const std::size_t wanted = limit == std::string::npos ? room : std::min(room, limit - used + 1);
    text.resize(used + wanted);
    const ssize_t got = ::read(fd, text.data() + used, wanted);
    if (got < 0) {
      text.resize(used);
      if (errno == EINTR) continue;
      return false;
    }
    text.resize(used + static_cast<std::size_t>(got));
    if (got == 0) return true;
    if (text.size() > limit) return false;
    room = std::max(room, text.size());  // grow geometrically: big tables take few reads
  }
}

bool read_file(const char* path, std::string& text, std::size_t firstRead) {
  const Descriptor file(::open(path, O_RDONLY | O_CLOEXEC));
  return file.get() >= 0 && read_all(file.get(), text, std::string::npos, firstRead);
}

}  // namespace os
