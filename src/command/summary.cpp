// Counting endpoints for --summary, and its two layouts.
#include "command/summary.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string_view>

#include "command/endpoint_text.hpp"
#include "command/fields.hpp"
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

// The program as the endpoint outputs have it: the field table's value, written as its cells are.
const EndpointField& program_field() { return endpoint_field("program"); }
template <typename Number>
void add(std::optional<Number>& sum, const std::optional<Number>& value) {
  if (value) sum = sum.value_or(0) + *value;
}

// A summed figure for scripts: whole bytes (per second), null when unknown.
std::optional<std::string> whole_number(const std::optional<std::uint64_t>& value) {
  return value ? std::optional<std::string>(std::to_string(*value)) : std::nullopt;
}

std::optional<std::string> whole_number(const std::optional<double>& value) {
  return value ? std::optional<std::string>(std::to_string(std::llround(*value))) : std::nullopt;
}

// A summed figure for people, "-" when unknown.
std::string for_people(const std::optional<double>& value, std::string_view unit) {
  return value ? human_bytes(*value) + std::string(unit) : "-";
}

std::optional<double> as_double(const std::optional<std::uint64_t>& value) {
  return value ? std::optional<double>(static_cast<double>(*value)) : std::nullopt;
}

std::size_t protocol_total(const Summary& summary, std::size_t protocol) {
  return summary.byProtocolAndFamily[protocol][0] + summary.byProtocolAndFamily[protocol][1];
}

// Namespaces are few, so a look along the list finds one's count soon enough.
void count_namespace(std::vector<NamespaceCount>& counts, const os::SocketRow& socket) {
  for (NamespaceCount& count : counts) {
    if (count.inode == socket.netnsInode) {
      ++count.endpoints;
      return;
    }
  }
  counts.push_back({socket.netnsName, socket.netnsInode, 1});
}

}  // namespace

Summary summarize(std::span<const Endpoint> endpoints, std::size_t programCount, bool byNamespace) {
  Summary summary;
  struct Counted {
    ProgramCount count;
    std::set<std::uint32_t> pids;
  };
  std::map<std::string, Counted> byProgram;
  summary.byNamespace = byNamespace;
  for (const Endpoint& endpoint : endpoints) {
    const os::SocketRow& socket = endpoint.socket;
    const bool tcp = socket.protocol == os::Protocol::tcp;
    if (!tcp && socket.protocol != os::Protocol::udp) continue;
    ++summary.total;
    ++summary.byProtocolAndFamily[tcp ? 0 : 1][socket.family == os::kFamilyIpv6 ? 1 : 0];
    const std::size_t state = os::state_index(socket.tcpState);
    if (tcp && state < summary.tcpByState.size()) ++summary.tcpByState[state];
    auto& [count, pids] = byProgram[program_field().value(endpoint).value_or(std::string())];
    ++count.endpoints;
    for (const std::uint32_t pid : socket_holders(socket)) pids.insert(pid);
    if (socket.traffic) {
      add(count.bytesSent, socket.traffic->bytesSent);
      add(count.bytesReceived, socket.traffic->bytesReceived);
    }
    add(count.rateIn, endpoint.rateIn);
    add(count.rateOut, endpoint.rateOut);
    if (byNamespace) count_namespace(summary.namespaces, socket);
  }
  for (auto& [program, counted] : byProgram) {
    counted.count.program = program;
    counted.count.processes = counted.pids.size();
    summary.programs.push_back(std::move(counted.count));
  }
  // The map gave them in name order; a stable sort keeps it among equal counts.
  std::stable_sort(
      summary.programs.begin(), summary.programs.end(),
      [](const ProgramCount& a, const ProgramCount& b) { return a.endpoints > b.endpoints; });
  if (summary.programs.size() > programCount) summary.programs.resize(programCount);
  return summary;
}

std::string summary_text(const Summary& summary, FieldSet fields) {
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

  // The endpoint table's headings for the same figures.
  const std::array<TableColumn, 7> programColumns = {{{program_field().heading},
                                                      {"Endpoints", Align::right},
                                                      {"Processes", Align::right},
                                                      {"Sent", Align::right},
                                                      {"Received", Align::right},
                                                      {"In", Align::right},
                                                      {"Out", Align::right}}};
  const std::size_t programColumnCount = !fields.info ? 3 : fields.rates ? 7 : 5;
  std::vector<std::vector<std::string>> programs;
  for (const ProgramCount& program : summary.programs) {
    programs.push_back({field_cell(program_field(), program.program),
                        std::to_string(program.endpoints), std::to_string(program.processes),
                        for_people(as_double(program.bytesSent), ""),
                        for_people(as_double(program.bytesReceived), ""),
                        for_people(program.rateIn, "/s"), for_people(program.rateOut, "/s")});
    programs.back().resize(programColumnCount);
  }
  // A table with nothing to count (no TCP with -u, no endpoints at all) is left out, heading and
  // all.
  std::string out = aligned_table(kKindColumns, kinds, true);
  if (!states.empty()) out += '\n' + aligned_table(kStateColumns, states, true);
  if (!programs.empty()) {
    out +=
        '\n' + aligned_table(std::span(programColumns).first(programColumnCount), programs, true);
  }

  static constexpr std::array<TableColumn, 2> kNamespaceColumns = {
      {{"Netns"}, {"Endpoints", Align::right}}};
  std::vector<std::vector<std::string>> namespaces;
  for (const NamespaceCount& count : summary.namespaces) {
    namespaces.push_back(
        {terminal_safe(place_text({}, count.netns, count.inode), UnsafeText::escape),
         std::to_string(count.endpoints)});
  }
  if (!namespaces.empty()) out += '\n' + aligned_table(kNamespaceColumns, namespaces, true);
  return out;
}

std::string summary_json(const Summary& summary, FieldSet fields) {
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
        .text(program_field().key, program.program.empty()
                                       ? std::nullopt
                                       : std::optional<std::string_view>(program.program))
        .number("endpoints", program.endpoints)
        .number("processes", program.processes);
    if (fields.info) {
      json.number_text("bytes_sent", whole_number(program.bytesSent))
          .number_text("bytes_received", whole_number(program.bytesReceived));
    }
    if (fields.info && fields.rates) {
      json.number_text("rate_in", whole_number(program.rateIn))
          .number_text("rate_out", whole_number(program.rateOut));
    }
    json.end_object();
  }
  json.end_array();
  if (summary.byNamespace) {
    json.begin_array("namespaces");
    for (const NamespaceCount& count : summary.namespaces) {
      json.begin_object()
          .text("netns",
                count.netns.empty() ? std::nullopt : std::optional<std::string_view>(count.netns))
          .number("netns_inode", count.inode)
          .number("endpoints", count.endpoints)
          .end_object();
    }
    json.end_array();
  }
  json.end_object();
  return out + '\n';
}

}  // namespace qv
