// Containers' names as their runtimes give them, asked from Docker's and Podman's API sockets
// (GET /containers/json of Docker's Engine API, which Podman serves too) in the background, so
// that a silent runtime never holds up more than the first listing, and that only briefly.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "command/endpoints.hpp"

namespace qv {

struct RuntimeSocket {
  std::string runtime;  // the containers it names: "docker" or "podman"
  std::string path;
};

// Docker's socket (DOCKER_HOST when it names a unix socket, as docker itself takes it, else
// /var/run/docker.sock) and Podman's (CONTAINER_HOST likewise, else /run/podman/podman.sock).
// Either variable may be null.
std::vector<RuntimeSocket> runtime_sockets(const char* dockerHost, const char* containerHost);

// The containers' ids and names ("/web" is "web") in an HTTP answer to GET /containers/json;
// nullopt for anything but a 200 answer whose body is the Engine API's list.
std::optional<std::vector<std::pair<std::string, std::string>>> read_container_list(
    std::string_view httpAnswer);

// What is known and asked so far; shared with the questions still in flight.
struct ContainerNameBook;
std::shared_ptr<ContainerNameBook> make_container_name_book(std::vector<RuntimeSocket> sockets);

// Gives the endpoints in containers of an asked runtime the names known. A container not known
// yet has its runtime asked in the background (each socket at most one question at a time, and
// not again within a few seconds of its last answer); this waits for the answers at most waitMs.
void name_containers(const std::shared_ptr<ContainerNameBook>& book,
                     std::vector<Endpoint>& endpoints, std::uint32_t waitMs);

}  // namespace qv
