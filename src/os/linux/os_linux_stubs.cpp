// Placeholders until the Linux endpoint, process and resolver layers land.
#include "os/os.hpp"

namespace os {

std::optional<std::vector<TcpRow>> tcp_table() { return std::nullopt; }
std::optional<std::vector<UdpRow>> udp_table() { return std::nullopt; }
std::optional<ProcessHandle> open_process(std::uint32_t) { return std::nullopt; }
bool process_modules_readable(ProcessHandle) { return false; }
std::size_t process_executable_path(ProcessHandle, std::span<char>) { return 0; }
void close_process(ProcessHandle) {}
std::optional<std::string> process_image_path_limited(std::uint32_t) { return std::nullopt; }
std::optional<std::string> query_ptr_first_name(const char*) { return std::nullopt; }

}  // namespace os
