// Counting endpoints for --summary, and its two layouts.
#include "command/summary.hpp"

#include <algorithm>
#include <map>
#include <set>
#include <string_view>

#include "command/endpoint_text.hpp"
#include "command/json.hpp"
#include "command/table.hpp"
#include "command/vocabulary.hpp"
#include "common/utf8.hpp"

namespace qv {

namespace {

// In the order of Summary::byProtocolAndFamily.
constexpr std::array<os::Protocol, 2> kProtocols = {os::Protocol::tcp, os::Protocol::udp};
constexpr std::array<std::string_view, 2> kFamilyKeys = {"ipv4", "ipv6"};

std::string_view state_at(std::size_t index) {
  return state_name(static_cast<os::TcpState>(index));
}

std::size_t protocol_total(const Summary& summary, std::size_t protocol) {
  return summary.byProtocolAndFamily[protocol][0] + summary.byProtocolAndFamily[protocol][1];
}

}  // namespace

Summary summarize(std::span<const Endpoint> endpoints, std::size_t programCount) {
  Summary summary;
  std::map<std::string, std::pair<std::size_t, std::set<std::uint32_t>>> byProgram;
  std::map<std::string, ContainerCount> byContainer;  // by id
  for (const Endpoint& endpoint : endpoints) {
    const os::SocketRow& socket = endpoint.socket;
    const bool tcp = socket.protocol == os::Protocol::tcp;
    if (!tcp && socket.protocol != os::Protocol::udp) continue;
    ++summary.total;
    ++summary.byProtocolAndFamily[tcp ? 0 : 1][socket.family == os::kFamilyIpv6 ? 1 : 0];
    const std::size_t state = os::state_index(socket.tcpState);
    if (tcp && state < summary.tcpByState.size()) ++summary.tcpByState[state];
    auto& [count, pids] = byProgram[endpoint.program];
    ++count;
    for (const std::uint32_t pid : socket_holders(socket)) pids.insert(pid);
    const ContainerIdentity& place = endpoint.place;
    if (!place.container.empty()) {
      ContainerCount& count = byContainer[place.container];
      if (count.container.empty() || endpoint.containerName) {
        count.container = endpoint.containerName.value_or(place.container);
      }
      count.runtime = place.runtime;
      ++count.endpoints;
    }
  }
  for (auto& [id, count] : byContainer) summary.containers.push_back(std::move(count));
  std::stable_sort(
      summary.containers.begin(), summary.containers.end(),
      [](const ContainerCount& a, const ContainerCount& b) { return a.endpoints > b.endpoints; });
  for (const auto& [program, counts] : byProgram) {
    summary.programs.push_back({program, counts.first, counts.second.size()});
  }
  // The map gave them in name order; a stable sort keeps it among equal counts.
  std::stable_sort(
      summary.programs.begin(), summary.programs.end(),
      [](const ProgramCount& a, const ProgramCount& b) { return a.endpoints > b.endpoints; });
  if (summary.programs.size() > programCount) summary.programs.resize(programCount);
  return summary;
}

std::string summary_text(const Summary& summary) {
  static constexpr std::array<TableColumn, 4> kKindColumns = {
      {{"Proto"}, {"IPv4", Align::right}, {"IPv6", Align::right}, {"Total", Align::right}}};
  std::vector<std::vector<std::string>> kinds;
  for (std::size_t protocol = 0; protocol < 2; ++protocol) {
    const auto& families = summary.byProtocolAndFamily[protocol];
    kinds.push_back({std::string(protocol_name(kProtocols[protocol])), std::to_string(families[0]),
                     std::to_string(families[1]),
                     std::to_string(protocol_total(summary, protocol))});
  }
  kinds.push_back(
      {"Total",
       std::to_string(summary.byProtocolAndFamily[0][0] + summary.byProtocolAndFamily[1][0]),
       std::to_string(summary.byProtocolAndFamily[0][1] + summary.byProtocolAndFamily[1][1]),
       std::to_string(summary.total)});

  static constexpr std::array<TableColumn, 2> kStateColumns = {
      {{"TCP state"}, {"Endpoints", Align::right}}};
  std::vector<std::vector<std::string>> states;
  for (std::size_t state = 1; state < summary.tcpByState.size(); ++state) {
    if (summary.tcpByState[state] == 0) continue;
    states.push_back({std::string(state_at(state)), std::to_string(summary.tcpByState[state])});
  }

  static constexpr std::array<TableColumn, 3> kProgramColumns = {
      {{"Program"}, {"Endpoints", Align::right}, {"Processes", Align::right}}};
  std::vector<std::vector<std::string>> programs;
  for (const ProgramCount& program : summary.programs) {
    programs.push_back(
        {program.program.empty() ? "-" : terminal_safe(program.program, UnsafeText::escape),
         std::to_string(program.endpoints), std::to_string(program.processes)});
  }
  // A table with nothing to count (no TCP with -u, no endpoints at all) is left out, heading and
  // all.
  std::string out = aligned_table(kKindColumns, kinds, true);
  if (!states.empty()) out += '\n' + aligned_table(kStateColumns, states, true);
  if (!programs.empty()) out += '\n' + aligned_table(kProgramColumns, programs, true);

  static constexpr std::array<TableColumn, 3> kContainerColumns = {
      {{"Container"}, {"Runtime"}, {"Endpoints", Align::right}}};
  std::vector<std::vector<std::string>> containers;
  for (const ContainerCount& container : summary.containers) {
    containers.push_back({terminal_safe(container.container, UnsafeText::escape), container.runtime,
                          std::to_string(container.endpoints)});
  }
  if (!containers.empty()) out += '\n' + aligned_table(kContainerColumns, containers, true);
  return out;
}

std::string summary_json(const Summary& summary) {
  std::string out;
  JsonWriter json(out);
  json.begin_object().number("total", summary.total);
  for (std::size_t protocol = 0; protocol < 2; ++protocol) {
    json.begin_object(protocol_key(kProtocols[protocol]));
    for (std::size_t family = 0; family < 2; ++family) {
      json.number(kFamilyKeys[family], summary.byProtocolAndFamily[protocol][family]);
    }
    json.number("total", protocol_total(summary, protocol)).end_object();
  }
  json.begin_object("tcp_states");
  for (std::size_t state = 1; state < summary.tcpByState.size(); ++state) {
    json.number(state_at(state), summary.tcpByState[state]);
  }
  json.end_object().begin_array("programs");
  for (const ProgramCount& program : summary.programs) {
    json.begin_object()
        .text("program", program.program.empty() ? std::nullopt
                                                 : std::optional<std::string_view>(program.program))
        .number("endpoints", program.endpoints)
        .number("processes", program.processes)
        .end_object();
  }
  json.end_array();
  if (!summary.containers.empty()) {
    json.begin_array("containers");
    for (const ContainerCount& container : summary.containers) {
      json.begin_object()
          .text("container", container.container)
          .text("runtime", container.runtime)
          .number("endpoints", container.endpoints)
          .end_object();
    }
    json.end_array();
  }
  json.end_object();
  return out + '\n';
}

}  // namespace qv
