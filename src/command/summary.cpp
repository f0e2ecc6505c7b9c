// Counting endpoints for --summary, and its two layouts.
#include "command/summary.hpp"

#include <algorithm>
#include <map>
#include <set>
#include <string_view>

#include "collector/connection_table.hpp"
#include "command/endpoint_text.hpp"
#include "command/table.hpp"
#include "listing/names.hpp"

namespace qv {

namespace {

constexpr std::array<std::string_view, 2> kProtocolKeys = {"tcp", "udp"};
constexpr std::array<std::string_view, 2> kFamilyKeys = {"ipv4", "ipv6"};

std::string_view state_name(std::size_t state) {
  return TcpStateName(static_cast<std::int32_t>(state));
}

std::size_t protocol_total(const Summary& summary, std::size_t protocol) {
  return summary.byProtocolAndFamily[protocol][0] + summary.byProtocolAndFamily[protocol][1];
}

void append_number(std::string& out, std::string_view key, std::size_t value) {
  out += '"';
  out += key;
  out += "\":";
  out += std::to_string(value);
}

}  // namespace

Summary summarize(std::span<const Endpoint> endpoints, std::size_t programCount) {
  Summary summary;
  std::map<std::string, std::pair<std::size_t, std::set<std::uint32_t>>> byProgram;
  for (const Endpoint& endpoint : endpoints) {
    const os::SocketRow& socket = endpoint.socket;
    const bool tcp = socket.protocol == kProtocolTcp;
    if (!tcp && socket.protocol != kProtocolUdp) continue;
    ++summary.total;
    ++summary.byProtocolAndFamily[tcp ? 0 : 1][socket.family == os::kFamilyIpv6 ? 1 : 0];
    if (tcp && socket.tcpState < summary.tcpByState.size()) ++summary.tcpByState[socket.tcpState];
    auto& [count, pids] = byProgram[endpoint.program];
    ++count;
    for (const std::uint32_t pid : socket_holders(socket)) pids.insert(pid);
  }
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
    kinds.push_back({std::string(ProtocolName(static_cast<std::int32_t>(protocol + 1))),
                     std::to_string(families[0]), std::to_string(families[1]),
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
    states.push_back({std::string(state_name(state)), std::to_string(summary.tcpByState[state])});
  }

  static constexpr std::array<TableColumn, 3> kProgramColumns = {
      {{"Program"}, {"Endpoints", Align::right}, {"Processes", Align::right}}};
  std::vector<std::vector<std::string>> programs;
  for (const ProgramCount& program : summary.programs) {
    programs.push_back({program.program.empty() ? "-" : escaped_name(program.program),
                        std::to_string(program.endpoints), std::to_string(program.processes)});
  }
  return aligned_table(kKindColumns, kinds, true) + '\n' +
         aligned_table(kStateColumns, states, true) + '\n' +
         aligned_table(kProgramColumns, programs, true);
}

std::string summary_json(const Summary& summary) {
  std::string out = "{";
  append_number(out, "total", summary.total);
  for (std::size_t protocol = 0; protocol < 2; ++protocol) {
    out += ",\"";
    out += kProtocolKeys[protocol];
    out += "\":{";
    for (std::size_t family = 0; family < 2; ++family) {
      append_number(out, kFamilyKeys[family], summary.byProtocolAndFamily[protocol][family]);
      out += ',';
    }
    append_number(out, "total", protocol_total(summary, protocol));
    out += '}';
  }
  out += ",\"tcp_states\":{";
  for (std::size_t state = 1; state < summary.tcpByState.size(); ++state) {
    if (state > 1) out += ',';
    append_number(out, state_name(state), summary.tcpByState[state]);
  }
  out += "},\"programs\":[";
  for (const ProgramCount& program : summary.programs) {
    if (&program != summary.programs.data()) out += ',';
    out += "{\"program\":";
    if (program.program.empty()) {
      out += "null";
    } else {
      append_json_string(out, program.program);
    }
    out += ',';
    append_number(out, "endpoints", program.endpoints);
    out += ',';
    append_number(out, "processes", program.processes);
    out += '}';
  }
  return out + "]}\n";
}

}  // namespace qv
