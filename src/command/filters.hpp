// The command's endpoint filters: TCP state, port, owner's pid, program, container, unit and user.
// Each kind may hold
// several values (any one matches); every kind that holds values must match.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "command/endpoints.hpp"

namespace qv {

struct EndpointFilter {
  // Wanted TCP states by the listing's numbers (1 Closed .. 12 Delete TCB). A UDP socket is in
  // the state ss gives it: Established when connected, Closed when not.
  std::bitset<os::kTcpStateCount> states;
  std::vector<std::uint16_t> ports;   // the local or the remote port
  std::vector<std::uint32_t> pids;    // any holder; 0: sockets without a visible owner
  std::vector<std::string> programs;  // the owner's exact file name or process name
  // The container by name or by id, or by the start of its id (as docker takes it).
  std::vector<std::string> containers;
  std::vector<std::string> units;    // the owner's unit; "nginx" for nginx.service too
  std::vector<std::uint32_t> users;  // the socket's owner, by uid
};

enum class FilterKind { state, port, pid, program, container, unit, user };

// Adds one value of an option to the filter; the one-line reason when the value is not usable.
// States are the listing's names or ss's, case, blanks, hyphens and underscores ignored
// ("Time Wait", "time-wait", "TIME_WAIT"), and ss's groups (all, connected, synchronized,
// bucket, big).
std::optional<std::string> add_filter_value(EndpointFilter& filter, FilterKind kind,
                                            std::string_view value);

bool filter_is_empty(const EndpointFilter& filter);
// Whether the filter asks who owns the endpoints, which only then must be read.
bool filter_needs_owners(const EndpointFilter& filter);
bool filter_matches(const EndpointFilter& filter, const Endpoint& endpoint);

// --sort: the order of a listing, busiest (most traffic, slowest round trip) first, else by the
// value ascending (port, pid, program's name, state in the listing's order).
enum class SortKey { rate, bytes, rtt, port, pid, program, state };

// The key named by an option's value; nullopt for a name not among them.
std::optional<SortKey> read_sort_key(std::string_view name);
// Whether the key orders by the counters of --info, which then must be asked for.
bool sort_needs_traffic(SortKey key);
// Sorts the endpoints by the key, stably: endpoints without the value last, in their order.
void sort_endpoints(std::vector<Endpoint>& endpoints, SortKey key);

}  // namespace qv
