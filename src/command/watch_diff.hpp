// What changed between two refreshes of --watch: endpoints that appeared, vanished or changed TCP
// state, matched by their identity: the socket itself where the platform tells sockets apart, on
// its protocol, family, both addresses and ports.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "command/endpoints.hpp"

namespace qv {

// The match of one refresh against the one before it, by index into each.
struct WatchDiff {
  // For each current endpoint, the index of the same endpoint in the previous refresh; nullopt
  // when it appeared since.
  std::vector<std::optional<std::size_t>> previousIndex;
  // The previous endpoints that are gone, in their previous order.
  std::vector<std::size_t> vanished;
};

// Sockets on the same addresses (SO_REUSEPORT listeners, UDP sockets bound alike, sockets bound
// to different devices) are told apart by the socket's identity; those the platform cannot tell
// apart are matched in their order: the n-th of them now is the n-th of them before.
WatchDiff diff_endpoints(std::span<const Endpoint> previous, std::span<const Endpoint> current);

// Sets each current endpoint's rates in and out from the change of its byte counters since the
// previous refresh, `seconds` before. An endpoint new since then, or without counters, has none;
// another socket on the same addresses (another identity, or counters that went backwards) has
// none either.
void set_rates(std::span<const Endpoint> previous, std::span<Endpoint> current,
               const WatchDiff& diff, double seconds);

// Whether two endpoints the diff matched are one socket as far as the platform tells: the diff
// matches TCP connections by their addresses, and a connection opened again on the same pair is
// another socket, with counters started afresh.
bool same_socket(const os::SocketRow& before, const os::SocketRow& now);

// Whether a matched TCP endpoint is in another state than before.
bool state_changed(const Endpoint& before, const Endpoint& now);

enum class WatchMark { kNone, kAppeared, kChanged, kGone };

struct WatchRow {
  const Endpoint* endpoint;
  WatchMark mark;
};

// The rows a terminal shows for a refresh: the current endpoints in their order, those that
// appeared marked, and each vanished one once more, marked gone, where it stood before (after
// the endpoint that preceded it then, if that one is still there).
std::vector<WatchRow> watch_rows(std::span<const Endpoint> previous,
                                 std::span<const Endpoint> current, const WatchDiff& diff);

}  // namespace qv
