// --summary: the endpoints counted by protocol and family, by TCP state, by program and by
// container, as a small table for people or one JSON object for scripts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "command/endpoints.hpp"

namespace qv {

struct ProgramCount {
  std::string program;  // empty: sockets without a visible owner
  std::size_t endpoints = 0;
  std::size_t processes = 0;  // distinct owning pids (none for the unowned)
};

struct ContainerCount {
  std::string container;  // its name where the runtime gave one, else its id
  std::string runtime;
  std::size_t endpoints = 0;
};

struct Summary {
  std::size_t total = 0;
  // [0] TCP, [1] UDP; within each [0] IPv4, [1] IPv6.
  std::array<std::array<std::size_t, 2>, 2> byProtocolAndFamily{};
  std::array<std::size_t, os::kTcpStateCount> tcpByState{};  // by os::state_index
  std::vector<ProgramCount> programs;                        // most endpoints first, then by name
  std::vector<ContainerCount> containers;  // the same order; endpoints in no container not counted
};

inline constexpr std::size_t kSummaryPrograms = 10;

Summary summarize(std::span<const Endpoint> endpoints, std::size_t programCount = kSummaryPrograms);

// Aligned tables, a blank line between them: protocol by family with totals, TCP states that
// occur in the listing's order, the programs and, when any endpoint is in one, the containers.
std::string summary_text(const Summary& summary);

// One line: {"total":N,"tcp":{"ipv4":N,"ipv6":N,"total":N},"udp":{...},
// "tcp_states":{"Established":N,...},"programs":[{"program":"sshd","endpoints":N,"processes":N},
// ...]}; a program without a visible owner is null. When any endpoint is in a container, then
// "containers":[{"container":"web","runtime":"docker","endpoints":N},...].
std::string summary_json(const Summary& summary);

}  // namespace qv
