// Linux: the host's settings file as a private profile file. The text rules are os/ini_text's; this
// file reads and replaces whole files so that no odd file crashes a call and no failed write
// leaves a settings file half written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "os/ini_text.hpp"
#include "os/linux/descriptor.hpp"
#include "os/os.hpp"

namespace os {

namespace {

// A settings file is a few hundred bytes; anything beyond this is not read into memory.
constexpr std::size_t kMaxFileBytes = std::size_t{16} << 20;

enum class FileState { missing, read, unusable };

// Reads a regular file whole. Directories, devices, pipes, files beyond the limit and read errors
// make it unusable; only a name that does not exist counts as missing.
FileState read_file(const char* path, std::string& text, struct stat& info) {
  // Non-blocking, so that a FIFO under the settings file's name cannot hang the host.
  const Descriptor fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) return errno == ENOENT ? FileState::missing : FileState::unusable;
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::size_t>(info.st_size) > kMaxFileBytes) {
    return FileState::unusable;
  }
  return read_all(fd.get(), text, kMaxFileBytes) ? FileState::read : FileState::unusable;
}

bool write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// A new file beside the target, removed again unless it has taken the target's place.
struct TempFile {
  std::string path;
  bool placed = false;
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!path.empty() && !placed) ::unlink(path.c_str());
  }
};

// Puts text in place of the file at path in one rename, so readers see the old file or the new
// one, never a part. An existing file's permissions (and owner, where allowed) carry over; a new
// file gets the usual 0666 less the umask.
bool replace_file(const std::string& path, const std::string& text, const struct stat* original) {
  static std::atomic<unsigned> serial{0};
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  TempFile temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    std::string candidate = folder + "/.quorvane-" + std::to_string(::getpid()) + "-" +
                            std::to_string(serial.fetch_add(1)) + ".tmp";
    fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0)
      temp.path = std::move(candidate);
    else if (errno != EEXIST)
      return false;
  }
  if (fd < 0) return false;
  Descriptor file(fd);
  if (original != nullptr) {
    if (::fchmod(file.get(), original->st_mode & 07777) != 0) return false;
    // Only a privileged writer can hand the file back to its owner; anyone else keeps their own.
    if (::fchown(file.get(), original->st_uid, original->st_gid) != 0 && errno != EPERM) {
      return false;
    }
  }
  if (!write_all(file.get(), text) || ::fsync(file.get()) != 0 || !file.close()) return false;
  if (::rename(temp.path.c_str(), path.c_str()) != 0) return false;
  temp.placed = true;
  return true;
}

// The file a name stands for: a symbolic link is followed so that the link itself stays.
std::string resolved(const char* file) {
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(file, nullptr), &std::free);
  return real != nullptr ? std::string(real.get()) : std::string(file);
}

}  // namespace

std::size_t read_profile_string(const char* section, const char* key, const char* defaultText,
                                std::span<char> buffer, const char* file) {
  std::string text;
  try {
    struct stat info;
    if (file == nullptr || read_file(file, text, info) != FileState::read) text.clear();
  } catch (const std::exception&) {
    text.clear();  // no memory for the file: it answers as if it were missing
  }
  return ini::read_value(text, section, key, defaultText, buffer);
}

bool write_profile_string(const char* section, const char* key, const char* value,
                          const char* file) {
  if (file == nullptr || *file == '\0') return false;
  try {
    const std::string path = resolved(file);
    std::string text;
    struct stat info;
    const FileState state = read_file(path.c_str(), text, info);
    if (state == FileState::unusable) return false;
    const bool exists = state == FileState::read;
    // A read-only file stays as it is, even in a folder that would allow replacing it; a file
    // without any write permission counts as read-only even for a privileged writer, as a file
    // with the read-only attribute does on Windows.
    if (exists && ((info.st_mode & 0222) == 0 ||
                   ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)) {
      return false;
    }
    const std::string updated = ini::write_value(text, section, key, value);
    if (exists && updated == text) return true;
    return replace_file(path, updated, exists ? &info : nullptr);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace os
