// The command's collection: every endpoint of the machine, both families, with its owner's
// program and, on request, the remote host's name. Unlike the meter's connection table it has no
// entry limit and cuts no text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "command/container_identity.hpp"
#include "os/os.hpp"

namespace qv {

struct Endpoint {
  os::SocketRow socket;
  // The exact file name of the owner's executable, in UTF-8; empty when the socket has no visible
  // owner, "System" when the owner's executable cannot be read (the meter's word for it).
  std::string program;
  // The remote host's reverse name when one was found in time; nullopt otherwise (no remote
  // address, no look-up asked for, no answer, or no answer yet).
  std::optional<std::string> hostName;
  // Bytes per second received and sent since the previous refresh of --watch; nullopt on the first
  // refresh, for a socket not seen before, and where the platform keeps no byte counters.
  std::optional<double> rateIn = std::nullopt;
  std::optional<double> rateOut = std::nullopt;
  // The executable's file was deleted or replaced since the process started (an upgraded daemon);
  // program is its name all the same.
  bool deleted = false;
  // The name the system gives the owner besides its executable's (comm on Linux, what ss shows);
  // empty where there is none.
  std::string processName{};
  // Who owns it, read when asked for (CollectRequest::owners): the socket's user's name (nullopt
  // when the system has none for its uid), the owner's unit and container, and the container's
  // name from its runtime (nullopt until one is known).
  std::optional<std::string> userName = std::nullopt;
  ContainerIdentity place{};
  std::optional<std::string> containerName = std::nullopt;
};

struct CollectRequest {
  os::SocketKinds kinds;
  bool listeningOnly = false;  // listening TCP sockets and unconnected UDP sockets only
  bool owners = false;         // user names, units and containers too
};

// One collection: the platform's table in its order, program names (and owners' cgroups) read
// once per process.
// nullopt when the platform could give no table at all.
std::optional<std::vector<Endpoint>> collect_endpoints(const CollectRequest& request);

// Fills in the host names of the endpoints with a remote end: one query per distinct address, at
// most parallelLookUps at once, within the time limit. A name not answered by then stays
// nullopt, and is there for a later call once it arrives.
void look_up_host_names(std::vector<Endpoint>& endpoints, std::size_t parallelLookUps,
                        std::uint32_t lookUpTimeLimitMs);

// Every process holding the socket, ascending: owningPids, or owningPid alone where the platform
// names one owner only.
std::span<const std::uint32_t> socket_holders(const os::SocketRow& socket);

// Whether an endpoint has a remote end (a TCP connection, a connected UDP socket).
bool has_remote(const os::SocketRow& socket);

}  // namespace qv
