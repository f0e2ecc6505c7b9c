// The command's collection: the platform's socket table, owners named once per process, and the
// remote hosts' names asked for all at once, within a time limit.
#include "command/endpoints.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "collector/program_name.hpp"
#include "collector/reverse_lookup.hpp"

namespace qv {

namespace {

struct Owner {
  std::string program;
  bool deleted = false;
  std::string processName;
  ContainerIdentity place;
};

Owner owner_of(std::uint32_t pid, bool places) {
  Owner owner{ProgramName(pid, os::PathText::utf8), false, os::process_name(pid), {}};
  if (places) {
    if (const auto cgroups = os::process_cgroups(pid)) owner.place = container_identity(*cgroups);
  }
  // Linux: the executable's link of a process whose file has gone ends so.
  constexpr std::string_view kDeleted = " (deleted)";
  if (owner.program.size() > kDeleted.size() && owner.program.ends_with(kDeleted)) {
    owner.program.resize(owner.program.size() - kDeleted.size());
    owner.deleted = true;
  }
  return owner;
}

bool listening(const os::SocketRow& socket) {
  return socket.protocol == os::Protocol::tcp ? socket.tcpState == os::TcpState::listen
                                              : !has_remote(socket);
}

}  // namespace

std::span<const std::uint32_t> socket_holders(const os::SocketRow& socket) {
  if (!socket.owningPids.empty() || socket.owningPid == 0) return socket.owningPids;
  return {&socket.owningPid, 1};
}

bool has_remote(const os::SocketRow& socket) {
  return socket.remote.port != 0 ||
         std::any_of(socket.remote.address.begin(), socket.remote.address.end(),
                     [](std::uint8_t b) { return b != 0; });
}

void look_up_host_names(std::vector<Endpoint>& endpoints, std::size_t parallelLookUps,
                        std::uint32_t lookUpTimeLimitMs) {
  // Many connections share a peer: each distinct query name is asked once.
  std::vector<std::string> queryNames;
  std::unordered_map<std::string, std::size_t> queryIndex;
  std::vector<std::size_t> endpointQuery(endpoints.size(), 0);
  for (std::size_t i = 0; i < endpoints.size(); ++i) {
    const os::SocketRow& socket = endpoints[i].socket;
    if (!has_remote(socket)) continue;
    std::string name = reverse_query_name(socket.family, socket.remote.address);
    const auto [found, added] = queryIndex.try_emplace(std::move(name), queryNames.size());
    if (added) queryNames.push_back(found->first);
    endpointQuery[i] = found->second + 1;
  }
  if (queryNames.empty()) return;
  const auto answers = os::query_ptr_names(queryNames, parallelLookUps, lookUpTimeLimitMs);
  for (std::size_t i = 0; i < endpoints.size(); ++i) {
    const std::size_t query = endpointQuery[i];
    if (query != 0 && query - 1 < answers.size()) endpoints[i].hostName = answers[query - 1];
  }
}

namespace {

const std::optional<std::string>& service_of(ServiceNames& names, os::Protocol protocol,
                                             std::uint16_t port) {
  static const std::optional<std::string> kUnnamed;
  const bool ephemeral =
      names.ephemeral && port >= names.ephemeral->first && port <= names.ephemeral->last;
  if (port == 0 || ephemeral) return kUnnamed;
  const auto [found, added] = names.known.try_emplace({protocol, port});
  if (added) found->second = os::service_name(port, protocol);
  return found->second;
}

}  // namespace

void name_services(std::vector<Endpoint>& endpoints, ServiceNames& names) {
  for (Endpoint& endpoint : endpoints) {
    const os::SocketRow& socket = endpoint.socket;
    endpoint.localService = service_of(names, socket.protocol, socket.local.port);
    if (has_remote(socket)) {
      endpoint.remoteService = service_of(names, socket.protocol, socket.remote.port);
    }
  }
}

std::optional<std::vector<Endpoint>> collect_endpoints(const CollectRequest& request,
                                                       os::NamespaceShortfall* shortfall) {
  os::NamespaceShortfall unread;
  auto rows = request.namespaces
                  ? os::namespace_socket_table(request.kinds, *request.namespaces, unread)
                  : os::socket_table(request.kinds);
  if (shortfall != nullptr) *shortfall = std::move(unread);
  if (!rows) return std::nullopt;
  std::vector<Endpoint> endpoints;
  endpoints.reserve(rows->size());
  // A process with many sockets is opened once; its names are copied to each of them.
  std::unordered_map<std::uint32_t, Owner> programs;
  for (os::SocketRow& row : *rows) {
    if (request.listeningOnly && !listening(row)) continue;
    Endpoint& endpoint = endpoints.emplace_back();
    endpoint.socket = std::move(row);
    const os::SocketRow& socket = endpoint.socket;
    if (request.owners && socket.ownerUid) endpoint.userName = os::user_name(*socket.ownerUid);
    if (socket.owningPid == 0) continue;
    auto [owner, added] = programs.try_emplace(socket.owningPid);
    if (added) owner->second = owner_of(socket.owningPid, request.owners);
    endpoint.program = owner->second.program;
    endpoint.deleted = owner->second.deleted;
    endpoint.processName = owner->second.processName;
    endpoint.place = owner->second.place;
  }
  return endpoints;
}

}  // namespace qv
