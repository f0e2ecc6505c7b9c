// Program names: open the process, read its executable's path, keep the file name.
#include "collector/program_name.hpp"

#include <optional>
#include <span>
#include <string_view>

#include "os/os.hpp"

namespace qv {

namespace {

// The process handle, closed on every way out.
class OpenedProcess {
 public:
  explicit OpenedProcess(std::uint32_t pid) : handle_(os::open_process(pid)) {}
  ~OpenedProcess() {
    if (handle_) os::close_process(*handle_);
  }
  OpenedProcess(const OpenedProcess&) = delete;
  OpenedProcess& operator=(const OpenedProcess&) = delete;

  [[nodiscard]] const std::optional<os::ProcessHandle>& handle() const { return handle_; }

 private:
  std::optional<os::ProcessHandle> handle_;
};

// The same room the executable's path gets from the module-based query: 259 characters.
constexpr std::size_t kPathRoom = 260;
// Room for any UTF-8 path the platforms hand over: Linux's PATH_MAX, and Windows' 1,024 UTF-16
// units at three bytes each at most.
constexpr std::size_t kUtf8PathRoom = 4096;

std::string file_name_of(std::string_view path, os::PathText text) {
  const auto separator = path.rfind(os::kPathSeparator);
  if (separator != std::string_view::npos) path.remove_prefix(separator + 1);
  // Only the meter's fixed field needs the cut, which may fall inside a UTF-8 sequence.
  if (text == os::PathText::ansi) path = path.substr(0, kPathRoom - 1);
  return std::string(path);
}

}  // namespace

std::string ProgramName(const std::uint32_t& processId, os::PathText text) {
  const OpenedProcess process(processId);
  if (!process.handle() || !os::process_modules_readable(*process.handle())) {
    // A process of another bitness or a protected one hides its module list but still tells its
    // image path to the limited query right; only when that fails too is it "System".
    const auto limitedPath = os::process_image_path_limited(processId, text);
    return limitedPath ? file_name_of(*limitedPath, text) : std::string("System");
  }
  char path[kUtf8PathRoom];
  const std::span<char> room(path, text == os::PathText::ansi ? kPathRoom : kUtf8PathRoom);
  const std::size_t length = os::process_executable_path(*process.handle(), room, text);
  return file_name_of(std::string_view(path, length), text);
}

}  // namespace qv
