// --summary: the endpoints counted by protocol and family, by TCP state, by program (with -i
// the programs' bytes, and while watching their rates), by container, and across namespaces by
// namespace, as a small table for people or one JSON object for scripts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "command/endpoints.hpp"
#include "command/fields.hpp"

namespace qv {

struct ProgramCount {
  std::string program;  // empty: sockets without a visible owner
  std::size_t endpoints = 0;
  std::size_t processes = 0;  // distinct owning pids (none for the unowned)
  // Sums over those of the program's endpoints that have the figure (TCP connections with
  // counters; rates while watching); nullopt when none has.
  std::optional<std::uint64_t> bytesSent;
  std::optional<std::uint64_t> bytesReceived;
  std::optional<double> rateIn;
  std::optional<double> rateOut;
};

struct NamespaceCount {
  std::string netns;  // the namespace's name; empty when it has none
  std::uint64_t inode = 0;
  std::size_t endpoints = 0;
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
  // Counted only when the listing spans network namespaces; in the order they first appear.
  bool byNamespace = false;
  std::vector<NamespaceCount> namespaces;
  std::vector<ContainerCount>
      containers;  // most endpoints first; endpoints in no container not counted
};

inline constexpr std::size_t kSummaryPrograms = 10;

Summary summarize(std::span<const Endpoint> endpoints, std::size_t programCount = kSummaryPrograms,
                  bool byNamespace = false);

// Aligned tables, a blank line between them: protocol by family with totals, TCP states that
// occur in the listing's order, the programs, with their bytes and rates as the fields ask, when
// any endpoint is in one the containers, and by namespace the namespaces.
std::string summary_text(const Summary& summary, FieldSet fields = {});

// One line: {"total":N,"tcp":{"ipv4":N,"ipv6":N,"total":N},"udp":{...},
// "tcp_states":{"Established":N,...},"programs":[{"program":"sshd","endpoints":N,"processes":N},
// ...]}; a program without a visible owner is null. With -i each program has "bytes_sent" and
// "bytes_received", and while watching "rate_in" and "rate_out" (bytes per second), null when
// unknown. When any endpoint is in a container, then
// "containers":[{"container":"web","runtime":"docker","endpoints":N},...]. By namespace,
// "namespaces" follows: [{"netns":"web","netns_inode":N,"endpoints":N},...], a namespace without
// a name null.
std::string summary_json(const Summary& summary, FieldSet fields = {});

}  // namespace qv
