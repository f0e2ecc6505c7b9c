// Windows: no container runtime to ask; containers are never named.
#include "command/container_names.hpp"

namespace qv {

struct ContainerNameBook {};

std::vector<RuntimeSocket> runtime_sockets(const char* /*dockerHost*/,
                                           const char* /*containerHost*/) {
  return {};
}

std::optional<std::vector<std::pair<std::string, std::string>>> read_container_list(
    std::string_view /*httpAnswer*/) {
  return std::nullopt;
}

// The sockets come by value for the Linux side, which keeps them.
std::shared_ptr<ContainerNameBook> make_container_name_book(
    std::vector<RuntimeSocket> /*sockets*/) {  // NOLINT(performance-unnecessary-value-param)
  return std::make_shared<ContainerNameBook>();
}

void name_containers(const std::shared_ptr<ContainerNameBook>& /*book*/,
                     std::vector<Endpoint>& /*endpoints*/, std::uint32_t /*waitMs*/) {}

}  // namespace qv
