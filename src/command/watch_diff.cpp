// What changed between two refreshes of --watch.
#include "command/watch_diff.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace qv {

namespace {

constexpr std::size_t kNoIndex = static_cast<std::size_t>(-1);

// The identity's fields packed into bytes, so that hashing and comparing are plain memory work.
using EndpointKey = std::array<char, 1 + 1 + 16 + 2 + 16 + 2 + 8 + 8>;

// What tells a socket from others on its addresses. A TCP connection is one of a kind on its two
// ends, and the kernel gives it a new cookie as it moves into Time Wait (or out of SYN Received),
// so there the addresses alone identify it and its state changes are changes of one endpoint.
std::uint64_t socket_discriminator(const os::SocketRow& row) {
  return row.protocol == os::Protocol::tcp && has_remote(row) ? 0 : row.identity;
}

EndpointKey key_of(const os::SocketRow& row) {
  EndpointKey key{};
  char* at = key.data();
  *at++ = static_cast<char>(row.protocol);
  *at++ = static_cast<char>(row.family);
  for (const os::SocketEnd* end : {&row.local, &row.remote}) {
    std::memcpy(at, end->address.data(), end->address.size());
    at += end->address.size();
    *at++ = static_cast<char>(end->port >> 8);
    *at++ = static_cast<char>(end->port & 0xFF);
  }
  const std::uint64_t discriminator = socket_discriminator(row);
  std::memcpy(at, &discriminator, sizeof discriminator);
  at += sizeof discriminator;
  // The same two ends may be in use in two network namespaces at once.
  std::memcpy(at, &row.netnsInode, sizeof row.netnsInode);
  return key;
}

struct KeyHash {
  std::size_t operator()(const EndpointKey& key) const noexcept {
    return std::hash<std::string_view>{}(std::string_view(key.data(), key.size()));
  }
};

}  // namespace

WatchDiff diff_endpoints(std::span<const Endpoint> previous, std::span<const Endpoint> current) {
  // Each identity maps to its previous endpoints not yet matched: the first of them, and the
  // last, so that nextAlike chains them in their order.
  struct Alike {
    std::size_t first;
    std::size_t last;
  };
  std::unordered_map<EndpointKey, Alike, KeyHash> unmatched;
  unmatched.reserve(previous.size());
  std::vector<std::size_t> nextAlike(previous.size(), kNoIndex);
  for (std::size_t i = 0; i < previous.size(); ++i) {
    const auto [alike, added] = unmatched.try_emplace(key_of(previous[i].socket), Alike{i, i});
    if (!added) alike->second.last = nextAlike[alike->second.last] = i;
  }

  WatchDiff diff;
  diff.previousIndex.reserve(current.size());
  std::vector<bool> matched(previous.size(), false);
  for (const Endpoint& endpoint : current) {
    const auto found = unmatched.find(key_of(endpoint.socket));
    if (found == unmatched.end() || found->second.first == kNoIndex) {
      diff.previousIndex.emplace_back(std::nullopt);
      continue;
    }
    const std::size_t index = found->second.first;
    matched[index] = true;
    diff.previousIndex.emplace_back(index);
    found->second.first = nextAlike[index];
  }
  for (std::size_t i = 0; i < previous.size(); ++i) {
    if (!matched[i]) diff.vanished.push_back(i);
  }
  return diff;
}

void set_rates(std::span<const Endpoint> previous, std::span<Endpoint> current,
               const WatchDiff& diff, double seconds) {
  using Counter = std::optional<std::uint64_t>;
  const auto backwards = [](const Counter& before, const Counter& now) {
    return before && now && *now < *before;
  };
  const auto rate = [seconds](const Counter& before, const Counter& now) -> std::optional<double> {
    if (!before || !now) return std::nullopt;
    return static_cast<double>(*now - *before) / seconds;
  };
  for (std::size_t i = 0; i < current.size(); ++i) {
    Endpoint& endpoint = current[i];
    endpoint.rateIn = endpoint.rateOut = std::nullopt;
    if (seconds <= 0 || i >= diff.previousIndex.size() || !diff.previousIndex[i]) continue;
    const os::SocketRow& previousSocket = previous[*diff.previousIndex[i]].socket;
    if (!same_socket(previousSocket, endpoint.socket)) continue;
    const auto& before = previousSocket.traffic;
    const auto& now = endpoint.socket.traffic;
    if (!before || !now || backwards(before->bytesReceived, now->bytesReceived) ||
        backwards(before->bytesSent, now->bytesSent)) {
      continue;
    }
    endpoint.rateIn = rate(before->bytesReceived, now->bytesReceived);
    endpoint.rateOut = rate(before->bytesSent, now->bytesSent);
  }
}

bool same_socket(const os::SocketRow& before, const os::SocketRow& now) {
  return before.identity == 0 || now.identity == 0 || before.identity == now.identity;
}

bool state_changed(const Endpoint& before, const Endpoint& now) {
  return now.socket.protocol == os::Protocol::tcp && before.socket.tcpState != now.socket.tcpState;
}

std::vector<WatchRow> watch_rows(std::span<const Endpoint> previous,
                                 std::span<const Endpoint> current, const WatchDiff& diff) {
  std::vector<std::size_t> currentIndex(previous.size(), kNoIndex);
  for (std::size_t i = 0; i < diff.previousIndex.size(); ++i) {
    if (diff.previousIndex[i]) currentIndex[*diff.previousIndex[i]] = i;
  }
  // Each vanished endpoint goes into a slot: 0 before every current row, k + 1 after current
  // row k. Stable sorting keeps vanished neighbours in their previous order.
  std::vector<std::pair<std::size_t, std::size_t>> slots;  // slot, previous index
  slots.reserve(diff.vanished.size());
  std::size_t slot = 0;
  std::size_t next = 0;
  for (std::size_t i = 0; i < previous.size() && next < diff.vanished.size(); ++i) {
    if (currentIndex[i] != kNoIndex) {
      slot = currentIndex[i] + 1;
    } else if (diff.vanished[next] == i) {
      slots.emplace_back(slot, i);
      ++next;
    }
  }
  std::stable_sort(slots.begin(), slots.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  std::vector<WatchRow> rows;
  rows.reserve(current.size() + slots.size());
  auto gone = slots.begin();
  for (std::size_t i = 0; i <= current.size(); ++i) {
    for (; gone != slots.end() && gone->first == i; ++gone) {
      rows.push_back({&previous[gone->second], WatchMark::kGone});
    }
    if (i == current.size()) break;
    const bool appeared = !diff.previousIndex[i].has_value();
    rows.push_back({&current[i], appeared ? WatchMark::kAppeared : WatchMark::kNone});
  }
  return rows;
}

}  // namespace qv
