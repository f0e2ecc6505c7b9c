// The command's endpoint filters: TCP state, port, address, owner's pid and program, container,
// unit and user. Each kind may hold several values (any one matches); every kind that holds values
// must match, and no refused value (--not-port and the like) may.
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

// Addresses whose first prefixLength bits are those of address ("10.0.0.0/8", "fe80::/10"). An
// IPv4 range also holds the IPv4-mapped IPv6 addresses of its IPv4 addresses.
struct AddressRange {
  os::IpAddress address;
  unsigned prefixLength;
};

// The values of each kind of filter; a kind without values says nothing.
struct FilterValues {
  // TCP states by the listing's numbers (1 Closed .. 12 Delete TCB). A UDP socket is in the
  // state ss gives it: Established when connected, Closed when not.
  std::bitset<os::kTcpStateCount> states;
  std::vector<std::uint16_t> ports;          // the local or the remote port
  std::vector<os::PortRange> portRanges;     // likewise, as "1-1023"
  std::vector<AddressRange> addresses;       // the local or the remote address
  std::vector<AddressRange> localAddresses;  // the local address
  std::vector<AddressRange> remoteAddresses;
  std::vector<std::uint32_t> pids;    // any holder; 0: sockets without a visible owner
  std::vector<std::string> programs;  // the owner's exact file name or process name
  // The container by name or by id, or by the start of its id (as docker takes it).
  std::vector<std::string> containers;
  std::vector<std::string> units;    // the owner's unit; "nginx" for nginx.service too
  std::vector<std::uint32_t> users;  // the socket's owner, by uid
};

struct EndpointFilter : FilterValues {
  FilterValues refused;
};

enum class FilterKind {
  state,
  port,
  pid,
  program,
  address,
  localAddress,
  remoteAddress,
  container,
  unit,
  user
};

// Adds one value of an option to the values; the one-line reason when the value is not usable.
// States are the listing's names or ss's, case, blanks, hyphens and underscores ignored
// ("Time Wait", "time-wait", "TIME_WAIT"), and ss's groups (all, connected, synchronized,
// bucket, big). Ports are numbers (":80" as ss writes them too), ranges ("1-1023") or names of
// the services database ("https": its TCP and its UDP port). Addresses are A or A/N.
std::optional<std::string> add_filter_value(FilterValues& values, FilterKind kind,
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
