// The command's collection: every endpoint of the machine, both families, with its owner's
// program and, on request, the remote host's name. Unlike the meter's connection table it has no
// entry limit and cuts no text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
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
  // The services database's names of the ports ("ssh", "http"), as ss writes them without -n;
  // nullopt for a port the database does not name, one in the ephemeral range, and with -n.
  std::optional<std::string> localService = std::nullopt;
  std::optional<std::string> remoteService = std::nullopt;
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
  // Set: the endpoints of these network namespaces, each with its namespace (-A, --netns);
  // unset: the caller's own namespace only, as ss reads it.
  std::optional<os::NamespaceScope> namespaces = std::nullopt;
  bool owners = false;  // user names, units and containers too
};

// One collection: the platform's table in its order, program names (and owners' cgroups) read
// once per process. nullopt when the platform could give no table at all. The namespaces that
// could not be read are counted in shortfall, where one is given.
std::optional<std::vector<Endpoint>> collect_endpoints(const CollectRequest& request,
                                                       os::NamespaceShortfall* shortfall = nullptr);

// Fills in the host names of the endpoints with a remote end: one query per distinct address, at
// most parallelLookUps at once, within the time limit. A name not answered by then stays
// nullopt, and is there for a later call once it arrives.
void look_up_host_names(std::vector<Endpoint>& endpoints, std::size_t parallelLookUps,
                        std::uint32_t lookUpTimeLimitMs);

// The port names found so far in this run, the database's misses included, so that each port is
// asked for once however often the command refreshes.
struct ServiceNames {
  // ss's rule: a port in the range outgoing connections are given is left a number, since a
  // name there would be a coincidence, not the service.
  std::optional<os::PortRange> ephemeral = os::ephemeral_port_range();
  std::map<std::pair<os::Protocol, std::uint16_t>, std::optional<std::string>> known;
};

// Fills in the names of both ends' ports (the remote one where there is a remote end).
void name_services(std::vector<Endpoint>& endpoints, ServiceNames& names);

// Every process holding the socket, ascending: owningPids, or owningPid alone where the platform
// names one owner only.
std::span<const std::uint32_t> socket_holders(const os::SocketRow& socket);

// Whether an endpoint has a remote end (a TCP connection, a connected UDP socket).
bool has_remote(const os::SocketRow& socket);

}  // namespace qv
