// The connection log of --watch --format json: an event when an endpoint opens, when it closes
// (with how long it lived) and when a TCP endpoint changes state, from one refresh to the next;
// with --log-traffic, one now and then for each connection that moves data.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "command/endpoints.hpp"
#include "command/fields.hpp"

namespace qv {

// When a refresh read the machine's table: the wall time for the log, the steady time for
// lifetimes, which a clock adjustment must not bend.
struct WatchTime {
  std::chrono::system_clock::time_point wall;
  std::chrono::steady_clock::time_point steady;
};

WatchTime watch_time_now();

enum class LogEventKind { kOpen, kClose, kState, kTraffic };

struct LogEvent {
  LogEventKind kind;
  // As last seen: a closed endpoint with its last state and names; a busy one with its rates
  // over the time since its previous traffic event.
  const Endpoint* endpoint;
  // Open: first seen; close: last seen; state: seen in the new state.
  std::chrono::system_clock::time_point time;
  std::chrono::milliseconds lifetime;  // close: from first to last seen
  os::TcpState oldState;               // state: the state the endpoint was seen in before
};

// An endpoint's byte counters at a moment: when it was first seen, or its last traffic event, or
// the last refresh that found it idle.
struct TrafficMark {
  WatchTime time;
  std::optional<std::uint64_t> bytesSent;
  std::optional<std::uint64_t> bytesReceived;
};

// What the log knows from the refreshes so far.
struct ConnectionLog {
  // Seconds between two traffic events of one connection at the least; 0: no traffic events.
  double trafficSeconds = 0;
  std::vector<Endpoint> endpoints;   // as the last refresh found them
  std::vector<WatchTime> firstSeen;  // of each of them
  std::vector<TrafficMark> traffic;  // of each of them
  WatchTime lastRefresh{};
  std::vector<Endpoint> closed;  // those that the last refresh found gone, for its events
  std::vector<Endpoint> busy;    // the last refresh's busy ones with their rates, for its events
};

// Takes one refresh and returns its events: the closes first (at the previous refresh's time),
// then the state changes, then the opens, then the traffic, each group in table order, so that
// times never go backwards along the log. The first refresh opens every endpoint. A connection
// whose counters moved gets a traffic event once trafficSeconds have passed since its previous
// one (or since it was first seen, or last found idle), with its rates over that time. The
// events point into the log and stay valid until the next call.
std::vector<LogEvent> log_refresh(ConnectionLog& log, std::vector<Endpoint> current, WatchTime now);

// RFC 3339 in UTC with milliseconds: "2026-12-09T02:44:33.120Z".
std::string rfc3339_utc(std::chrono::system_clock::time_point time);

// One event as a line of JSON: "event" ("open", "close", "state", "traffic") and "time", then
// "duration" in seconds (close) or "old_state" (state), then the endpoint's record fields of the
// set (a close event's traffic fields are the last totals seen). A traffic event always has its
// traffic fields.
void append_log_event(std::string& out, const LogEvent& event, FieldSet fields = {});

}  // namespace qv
