// Windows: no cgroups, no user database by uid and no container runtime socket to ask; the
// fields these would fill stay unknown.
#include "os/os.hpp"

namespace os {

std::optional<std::string> process_cgroups(std::uint32_t /*pid*/) { return std::nullopt; }

std::optional<std::string> user_name(std::uint32_t /*uid*/) { return std::nullopt; }

std::optional<std::uint32_t> user_id(const std::string& /*name*/) { return std::nullopt; }

std::optional<std::string> local_socket_exchange(const std::string& /*path*/,
                                                 std::string_view /*request*/,
                                                 std::uint32_t /*timeLimitMs*/,
                                                 std::size_t /*maxBytes*/) {
  return std::nullopt;
}

}  // namespace os
