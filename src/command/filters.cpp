// Endpoint filters: the values users type for each option, and the matching of endpoints.
#include "command/filters.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <utility>

#include "collector/address.hpp"
#include "command/vocabulary.hpp"

namespace qv {

namespace {

template <typename Number>
std::optional<Number> decimal(std::string_view text) {
  Number value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

template <typename Value>
bool holds(const std::vector<Value>& values, const Value& value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

}  // namespace

namespace {

std::optional<os::PortRange> port_range(std::string_view text) {
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const auto first = decimal<std::uint16_t>(text.substr(0, dash));
  const auto last = decimal<std::uint16_t>(text.substr(dash + 1));
  if (!first || !last || *first > *last) return std::nullopt;
  return os::PortRange{*first, *last};
}

// A service name's ports, its TCP one and its UDP one where they differ.
std::vector<std::uint16_t> service_ports(std::string_view name) {
  std::vector<std::uint16_t> ports;
  for (const os::Protocol protocol : {os::Protocol::tcp, os::Protocol::udp}) {
    const auto port = os::service_port(std::string(name), protocol);
    if (port && !holds(ports, *port)) ports.push_back(*port);
  }
  return ports;
}

std::optional<AddressRange> address_range(std::string_view text) {
  const std::size_t slash = text.find('/');
  const auto address = os::ip_address_from_text(std::string(text.substr(0, slash)));
  if (!address) return std::nullopt;
  const unsigned bits = address->family == os::kFamilyIpv6 ? 128 : 32;
  if (slash == std::string_view::npos) return AddressRange{*address, bits};
  const auto length = decimal<std::uint8_t>(text.substr(slash + 1));
  if (!length || *length > bits) return std::nullopt;
  return AddressRange{*address, *length};
}

bool prefix_matches(const std::uint8_t* a, const std::uint8_t* b, unsigned bits) {
  const unsigned whole = bits / 8;
  if (std::memcmp(a, b, whole) != 0) return false;
  const unsigned rest = bits % 8;
  if (rest == 0) return true;
  const auto mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
  return (a[whole] & mask) == (b[whole] & mask);
}

bool in_range(const AddressRange& range, std::uint8_t family,
              const std::array<std::uint8_t, 16>& address) {
  const os::IpAddress& base = range.address;
  if (base.family == family) {
    return prefix_matches(base.bytes.data(), address.data(), range.prefixLength);
  }
  // An IPv4 peer of a dual-stack socket is the IPv4 address it carries.
  return base.family == os::kFamilyIpv4 && is_ipv4_mapped(address) &&
         prefix_matches(base.bytes.data(), address.data() + 12, range.prefixLength);
}

}  // namespace

std::optional<std::string> add_filter_value(FilterValues& values, FilterKind kind,
                                            std::string_view value) {
  // Built by appending: GCC 12's -Wrestrict misjudges "'" + std::string(value) when optimising.
  std::string quoted = "'";
  quoted += value;
  quoted += '\'';
  switch (kind) {
    case FilterKind::state: {
      const std::optional<TcpStateSet> states = states_named(value);
      if (!states) {
        return "--state needs a TCP state such as established, listen, time-wait or "
               "syn-sent, not " +
               quoted;
      }
      values.states |= *states;
      return std::nullopt;
    }
    case FilterKind::port: {
      // ":80" as ss's filters write a port.
      const std::string_view text = value.starts_with(':') ? value.substr(1) : value;
      if (const auto port = decimal<std::uint16_t>(text)) {
        values.ports.push_back(*port);
        return std::nullopt;
      }
      if (const auto range = port_range(text)) {
        values.portRanges.push_back(*range);
        return std::nullopt;
      }
      const std::vector<std::uint16_t> named =
          text.empty() ? std::vector<std::uint16_t>() : service_ports(text);
      if (named.empty()) return "--port needs a port number from 0 to 65535, not " + quoted;
      values.ports.insert(values.ports.end(), named.begin(), named.end());
      return std::nullopt;
    }
    case FilterKind::address:
    case FilterKind::localAddress:
    case FilterKind::remoteAddress: {
      const auto range = address_range(value);
      const char* option = kind == FilterKind::address        ? "--address"
                           : kind == FilterKind::localAddress ? "--local"
                                                              : "--remote";
      if (!range) {
        return std::string(option) +
               " needs an IPv4 or IPv6 address, or one and a prefix length (10.0.0.0/8), "
               "not " +
               quoted;
      }
      auto& ranges = kind == FilterKind::address        ? values.addresses
                     : kind == FilterKind::localAddress ? values.localAddresses
                                                        : values.remoteAddresses;
      ranges.push_back(*range);
      return std::nullopt;
    }
    case FilterKind::pid: {
      const std::optional<std::uint32_t> pid = decimal<std::uint32_t>(value);
      if (!pid) return "--pid needs a process id, not " + quoted;
      values.pids.push_back(*pid);
      return std::nullopt;
    }
    case FilterKind::program:
      if (value.empty()) return std::string("--program needs a program's file name");
      values.programs.emplace_back(value);
      return std::nullopt;
    case FilterKind::container:
      if (value.empty()) return std::string("--container needs a container's name or id");
      values.containers.emplace_back(value);
      return std::nullopt;
    case FilterKind::unit:
      if (value.empty()) return std::string("--unit needs a unit's name");
      values.units.emplace_back(value);
      return std::nullopt;
    case FilterKind::user: {
      // A name first, as id(1) and ps take it: a user may be named in digits.
      std::optional<std::uint32_t> uid;
      if (!value.empty()) uid = os::user_id(std::string(value));
      if (!uid) uid = decimal<std::uint32_t>(value);
      if (!uid) return "--user needs a user's name or uid: there is no user " + quoted;
      values.users.push_back(*uid);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<SortKey> read_sort_key(std::string_view name) {
  static constexpr std::pair<std::string_view, SortKey> kKeys[] = {
      {"rate", SortKey::rate},  {"bytes", SortKey::bytes}, {"rtt", SortKey::rtt},
      {"port", SortKey::port},  {"pid", SortKey::pid},     {"program", SortKey::program},
      {"state", SortKey::state}};
  for (const auto& [text, key] : kKeys) {
    if (text == name) return key;
  }
  return std::nullopt;
}

bool sort_needs_traffic(SortKey key) {
  return key == SortKey::rate || key == SortKey::bytes || key == SortKey::rtt;
}

namespace {

// The busy keys' values, higher first; nullopt: no value, listed after those with one.
std::optional<double> busy_value(const Endpoint& e, SortKey key) {
  const auto& traffic = e.socket.traffic;
  switch (key) {
    case SortKey::rate:
      if (!e.rateIn && !e.rateOut) return std::nullopt;
      return e.rateIn.value_or(0) + e.rateOut.value_or(0);
    case SortKey::bytes:
      if (!traffic || (!traffic->bytesSent && !traffic->bytesReceived)) return std::nullopt;
      return static_cast<double>(traffic->bytesSent.value_or(0)) +
             static_cast<double>(traffic->bytesReceived.value_or(0));
    case SortKey::rtt:
      if (!traffic || !traffic->rttUs) return std::nullopt;
      return *traffic->rttUs;
    default:
      return std::nullopt;
  }
}

}  // namespace

void sort_endpoints(std::vector<Endpoint>& endpoints, SortKey key) {
  const auto before = [key](const Endpoint& a, const Endpoint& b) {
    switch (key) {
      case SortKey::port:
        return a.socket.local.port < b.socket.local.port;
      case SortKey::pid:
        return a.socket.owningPid < b.socket.owningPid;
      case SortKey::program:
        return a.program < b.program;
      case SortKey::state:
        return os::state_index(a.socket.tcpState) < os::state_index(b.socket.tcpState);
      default: {
        const auto x = busy_value(a, key);
        const auto y = busy_value(b, key);
        return x && (!y || *x > *y);
      }
    }
  };
  std::stable_sort(endpoints.begin(), endpoints.end(), before);
}

namespace {

constexpr FilterKind kFilterKinds[] = {
    FilterKind::state,         FilterKind::port, FilterKind::address, FilterKind::localAddress,
    FilterKind::remoteAddress, FilterKind::pid,  FilterKind::program, FilterKind::container,
    FilterKind::unit,          FilterKind::user};

bool holds_kind(const FilterValues& values, FilterKind kind) {
  switch (kind) {
    case FilterKind::state:
      return values.states.any();
    case FilterKind::port:
      return !values.ports.empty() || !values.portRanges.empty();
    case FilterKind::address:
      return !values.addresses.empty();
    case FilterKind::localAddress:
      return !values.localAddresses.empty();
    case FilterKind::remoteAddress:
      return !values.remoteAddresses.empty();
    case FilterKind::pid:
      return !values.pids.empty();
    case FilterKind::program:
      return !values.programs.empty();
    case FilterKind::container:
      return !values.containers.empty();
    case FilterKind::unit:
      return !values.units.empty();
    case FilterKind::user:
      return !values.users.empty();
  }
  return false;
}

bool any_in(const std::vector<AddressRange>& ranges, std::uint8_t family,
            const std::array<std::uint8_t, 16>& address) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [&](const AddressRange& range) { return in_range(range, family, address); });
}

bool container_matches(const std::string& wanted, const Endpoint& endpoint) {
  const ContainerIdentity& place = endpoint.place;
  // An LXC container's id is its name, of which a part names nothing.
  const bool byPrefix = place.runtime != "lxc" && place.container.starts_with(wanted);
  return !place.container.empty() &&
         (byPrefix || place.container == wanted || endpoint.containerName == wanted);
}

bool unit_matches(const std::string& wanted, const std::string& unit) {
  return !unit.empty() && (unit == wanted || unit == wanted + ".service");
}

// Whether one of the kind's values matches the endpoint.
bool kind_matches(const FilterValues& values, FilterKind kind, const Endpoint& endpoint) {
  const os::SocketRow& socket = endpoint.socket;
  switch (kind) {
    case FilterKind::state: {
      const os::TcpState tcpState = socket.protocol == os::Protocol::tcp ? socket.tcpState
                                    : has_remote(socket)                 ? os::TcpState::established
                                                                         : os::TcpState::closed;
      const std::size_t state = os::state_index(tcpState);
      return state < values.states.size() && values.states.test(state);
    }
    case FilterKind::port: {
      const auto inRange = [&](std::uint16_t port) {
        return std::any_of(
            values.portRanges.begin(), values.portRanges.end(),
            [&](const os::PortRange& range) { return port >= range.first && port <= range.last; });
      };
      // An unconnected socket's remote port 0 is no port for a range, as for ss.
      return holds(values.ports, socket.local.port) || holds(values.ports, socket.remote.port) ||
             inRange(socket.local.port) || (has_remote(socket) && inRange(socket.remote.port));
    }
    case FilterKind::address:
      return any_in(values.addresses, socket.family, socket.local.address) ||
             any_in(values.addresses, socket.family, socket.remote.address);
    case FilterKind::localAddress:
      return any_in(values.localAddresses, socket.family, socket.local.address);
    case FilterKind::remoteAddress:
      return any_in(values.remoteAddresses, socket.family, socket.remote.address);
    case FilterKind::pid: {
      const auto holders = socket_holders(socket);
      return std::any_of(values.pids.begin(), values.pids.end(), [&](std::uint32_t pid) {
        return pid == 0 ? holders.empty()
                        : std::find(holders.begin(), holders.end(), pid) != holders.end();
      });
    }
    case FilterKind::program:
      return holds(values.programs, endpoint.program) ||
             (!endpoint.processName.empty() && holds(values.programs, endpoint.processName));
    case FilterKind::container:
      return std::any_of(
          values.containers.begin(), values.containers.end(),
          [&](const std::string& wanted) { return container_matches(wanted, endpoint); });
    case FilterKind::unit:
      return std::any_of(values.units.begin(), values.units.end(), [&](const std::string& wanted) {
        return unit_matches(wanted, endpoint.place.unit);
      });
    case FilterKind::user:
      return socket.ownerUid && holds(values.users, *socket.ownerUid);
  }
  return false;
}

}  // namespace

bool filter_is_empty(const EndpointFilter& filter) {
  return std::none_of(std::begin(kFilterKinds), std::end(kFilterKinds), [&](FilterKind kind) {
    return holds_kind(filter, kind) || holds_kind(filter.refused, kind);
  });
}

bool filter_needs_owners(const EndpointFilter& filter) {
  return std::any_of(std::begin(kFilterKinds), std::end(kFilterKinds), [&](FilterKind kind) {
    const bool ownerKind =
        kind == FilterKind::container || kind == FilterKind::unit || kind == FilterKind::user;
    return ownerKind && (holds_kind(filter, kind) || holds_kind(filter.refused, kind));
  });
}

bool filter_matches(const EndpointFilter& filter, const Endpoint& endpoint) {
  return std::all_of(std::begin(kFilterKinds), std::end(kFilterKinds), [&](FilterKind kind) {
    return (!holds_kind(filter, kind) || kind_matches(filter, kind, endpoint)) &&
           (!holds_kind(filter.refused, kind) || !kind_matches(filter.refused, kind, endpoint));
  });
}

}  // namespace qv
