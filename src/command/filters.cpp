// Endpoint filters: the values users type for each option, and the matching of endpoints.
#include "command/filters.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <utility>

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

std::optional<std::string> add_filter_value(EndpointFilter& filter, FilterKind kind,
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
      filter.states |= *states;
      return std::nullopt;
    }
    case FilterKind::port: {
      // ":80" as ss's filters write a port.
      const std::optional<std::uint16_t> port =
          decimal<std::uint16_t>(value.starts_with(':') ? value.substr(1) : value);
      if (!port) return "--port needs a port number from 0 to 65535, not " + quoted;
      filter.ports.push_back(*port);
      return std::nullopt;
    }
    case FilterKind::pid: {
      const std::optional<std::uint32_t> pid = decimal<std::uint32_t>(value);
      if (!pid) return "--pid needs a process id, not " + quoted;
      filter.pids.push_back(*pid);
      return std::nullopt;
    }
    case FilterKind::program:
      if (value.empty()) return std::string("--program needs a program's file name");
      filter.programs.emplace_back(value);
      return std::nullopt;
    case FilterKind::container:
      if (value.empty()) return std::string("--container needs a container's name or id");
      filter.containers.emplace_back(value);
      return std::nullopt;
    case FilterKind::unit:
      if (value.empty()) return std::string("--unit needs a unit's name");
      filter.units.emplace_back(value);
      return std::nullopt;
    case FilterKind::user: {
      // A name first, as id(1) and ps take it: a user may be named in digits.
      std::optional<std::uint32_t> uid;
      if (!value.empty()) uid = os::user_id(std::string(value));
      if (!uid) uid = decimal<std::uint32_t>(value);
      if (!uid) return "--user needs a user's name or uid: there is no user " + quoted;
      filter.users.push_back(*uid);
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

bool filter_is_empty(const EndpointFilter& filter) {
  return filter.states.none() && filter.ports.empty() && filter.pids.empty() &&
         filter.programs.empty() && !filter_needs_owners(filter);
}

bool filter_needs_owners(const EndpointFilter& filter) {
  return !filter.containers.empty() || !filter.units.empty() || !filter.users.empty();
}

namespace {

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

}  // namespace

bool filter_matches(const EndpointFilter& filter, const Endpoint& endpoint) {
  const os::SocketRow& socket = endpoint.socket;
  const os::TcpState tcpState = socket.protocol == os::Protocol::tcp ? socket.tcpState
                                : has_remote(socket)                 ? os::TcpState::established
                                                                     : os::TcpState::closed;
  const std::size_t state = os::state_index(tcpState);
  const bool stateMatches =
      filter.states.none() || (state < filter.states.size() && filter.states.test(state));
  const bool portMatches = filter.ports.empty() || holds(filter.ports, socket.local.port) ||
                           holds(filter.ports, socket.remote.port);
  const bool pidMatches =
      filter.pids.empty() ||
      std::any_of(filter.pids.begin(), filter.pids.end(), [&](std::uint32_t pid) {
        const auto holders = socket_holders(socket);
        return pid == 0 ? holders.empty()
                        : std::find(holders.begin(), holders.end(), pid) != holders.end();
      });
  const bool programMatches =
      filter.programs.empty() || holds(filter.programs, endpoint.program) ||
      (!endpoint.processName.empty() && holds(filter.programs, endpoint.processName));
  const bool containerMatches =
      filter.containers.empty() ||
      std::any_of(filter.containers.begin(), filter.containers.end(),
                  [&](const std::string& wanted) { return container_matches(wanted, endpoint); });
  const bool unitMatches =
      filter.units.empty() ||
      std::any_of(filter.units.begin(), filter.units.end(), [&](const std::string& wanted) {
        return unit_matches(wanted, endpoint.place.unit);
      });
  const bool userMatches =
      filter.users.empty() || (socket.ownerUid && holds(filter.users, *socket.ownerUid));
  return stateMatches && portMatches && pidMatches && programMatches && containerMatches &&
         unitMatches && userMatches;
}

}  // namespace qv
