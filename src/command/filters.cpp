// Endpoint filters: the values users type for each option, and the matching of endpoints.
#include "command/filters.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <limits>
#include <utility>

#include "collector/connection_table.hpp"
#include "listing/names.hpp"

namespace qv {

namespace {

constexpr std::uint32_t kClosed = 1, kListening = 2, kSynSent = 3, kSynReceived = 4,
                        kEstablished = 5, kTimeWait = 11, kDeleteTcb = 12;

using StateSet = std::bitset<13>;

StateSet states_from(std::uint32_t first, std::uint32_t last) {
  StateSet set;
  for (std::uint32_t state = first; state <= last; ++state) set.set(state);
  return set;
}

// Lower case without the characters people put between words in different ways.
std::string folded(std::string_view text) {
  std::string result;
  for (const char c : text) {
    if (c == ' ' || c == '-' || c == '_' || c == '\t') continue;
    result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return result;
}

// ss's names that differ from the listing's once folded, and its groups of states.
std::optional<StateSet> ss_state_word(std::string_view word) {
  const StateSet all = states_from(kClosed, kDeleteTcb);
  const StateSet connected = states_from(kSynSent, kTimeWait);
  const StateSet synchronized = states_from(kSynReceived, kTimeWait);
  StateSet bucket;
  bucket.set(kSynReceived).set(kTimeWait);
  const std::array<std::pair<std::string_view, StateSet>, 10> words = {{
      {"close", StateSet().set(kClosed)},
      {"listen", StateSet().set(kListening)},
      {"synrecv", StateSet().set(kSynReceived)},
      {"synreceived", StateSet().set(kSynReceived)},
      {"estab", StateSet().set(kEstablished)},
      {"all", all},
      {"connected", connected},
      {"synchronized", synchronized},
      {"bucket", bucket},
      {"big", all & ~bucket},
  }};
  for (const auto& [name, set] : words) {
    if (name == word) return set;
  }
  return std::nullopt;
}

std::optional<StateSet> state_set(std::string_view value) {
  const std::string word = folded(value);
  for (std::uint32_t state = kClosed; state <= kDeleteTcb; ++state) {
    if (folded(TcpStateName(static_cast<std::int32_t>(state))) == word) {
      return StateSet().set(state);
    }
  }
  return ss_state_word(word);
}

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
      const std::optional<StateSet> states = state_set(value);
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
  }
  return std::nullopt;
}

bool filter_is_empty(const EndpointFilter& filter) {
  return filter.states.none() && filter.ports.empty() && filter.pids.empty() &&
         filter.programs.empty();
}

bool filter_matches(const EndpointFilter& filter, const Endpoint& endpoint) {
  const os::SocketRow& socket = endpoint.socket;
  const std::uint32_t state = socket.protocol == kProtocolTcp ? socket.tcpState
                              : has_remote(socket)            ? kEstablished
                                                              : kClosed;
  const bool stateMatches =
      filter.states.none() || (state < filter.states.size() && filter.states.test(state));
  const bool portMatches = filter.ports.empty() || holds(filter.ports, socket.localPort) ||
                           holds(filter.ports, socket.remotePort);
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
  return stateMatches && portMatches && pidMatches && programMatches;
}

std::vector<Endpoint> filtered_endpoints(std::vector<Endpoint> endpoints,
                                         const EndpointFilter& filter) {
  if (filter_is_empty(filter)) return endpoints;
  std::erase_if(endpoints, [&](const Endpoint& e) { return !filter_matches(filter, e); });
  return endpoints;
}

}  // namespace qv
