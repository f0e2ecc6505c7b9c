// The connection log of --watch --format json.
#include "command/connection_log.hpp"

#include <cstdio>
#include <utility>

#include "command/fields.hpp"
#include "command/json.hpp"
#include "command/vocabulary.hpp"
#include "command/watch_diff.hpp"

namespace qv {

WatchTime watch_time_now() {
  return {std::chrono::system_clock::now(), std::chrono::steady_clock::now()};
}

namespace {

TrafficMark mark_of(const Endpoint& endpoint, WatchTime time) {
  TrafficMark mark{time, std::nullopt, std::nullopt};
  if (const auto& traffic = endpoint.socket.traffic) {
    mark.bytesSent = traffic->bytesSent;
    mark.bytesReceived = traffic->bytesReceived;
  }
  return mark;
}

// The rate of a counter between a mark and now; nullopt where either end is unknown or the
// counter went backwards.
std::optional<double> rate_since(const std::optional<std::uint64_t>& before,
                                 const std::optional<std::uint64_t>& now, double seconds) {
  if (!before || !now || *now < *before || seconds <= 0) return std::nullopt;
  return static_cast<double>(*now - *before) / seconds;
}

}  // namespace

std::vector<LogEvent> log_refresh(ConnectionLog& log, std::vector<Endpoint> current,
                                  WatchTime now) {
  const WatchDiff diff = diff_endpoints(log.endpoints, current);
  std::vector<LogEvent> events;
  log.closed.clear();
  log.closed.reserve(diff.vanished.size());
  for (const std::size_t index : diff.vanished) {
    const auto lifetime = std::chrono::duration_cast<std::chrono::milliseconds>(
        log.lastRefresh.steady - log.firstSeen[index].steady);
    log.closed.push_back(std::move(log.endpoints[index]));
    events.push_back(
        {LogEventKind::kClose, nullptr, log.lastRefresh.wall, lifetime, os::TcpState::none});
  }
  for (std::size_t i = 0; i < events.size(); ++i) events[i].endpoint = &log.closed[i];

  std::vector<WatchTime> firstSeen;
  firstSeen.reserve(current.size());
  std::vector<TrafficMark> traffic;
  traffic.reserve(current.size());
  for (std::size_t i = 0; i < current.size(); ++i) {
    const auto before = diff.previousIndex[i];
    firstSeen.push_back(before ? log.firstSeen[*before] : now);
    // A connection opened again on the same addresses counts afresh.
    const bool same = before && same_socket(log.endpoints[*before].socket, current[i].socket);
    traffic.push_back(same ? log.traffic[*before] : mark_of(current[i], now));
    if (before && state_changed(log.endpoints[*before], current[i])) {
      events.push_back({LogEventKind::kState,
                        &current[i],
                        now.wall,
                        {},
                        log.endpoints[*before].socket.tcpState});
    }
  }
  for (std::size_t i = 0; i < current.size(); ++i) {
    if (!diff.previousIndex[i])
      events.push_back({LogEventKind::kOpen, &current[i], now.wall, {}, os::TcpState::none});
  }
  log.busy.clear();
  std::vector<std::size_t> busy;
  for (std::size_t i = 0; i < current.size() && log.trafficSeconds > 0; ++i) {
    const TrafficMark before = traffic[i];
    const std::chrono::duration<double> since = now.steady - before.time.steady;
    if (since.count() < log.trafficSeconds) continue;
    traffic[i] = mark_of(current[i], now);
    const TrafficMark& counted = traffic[i];
    if (counted.bytesSent == before.bytesSent && counted.bytesReceived == before.bytesReceived) {
      continue;  // idle: its next event's rates start from here
    }
    Endpoint& reported = log.busy.emplace_back(current[i]);
    reported.rateIn = rate_since(before.bytesReceived, counted.bytesReceived, since.count());
    reported.rateOut = rate_since(before.bytesSent, counted.bytesSent, since.count());
    busy.push_back(events.size());
    events.push_back({LogEventKind::kTraffic, nullptr, now.wall, {}, os::TcpState::none});
  }
  for (std::size_t i = 0; i < busy.size(); ++i) events[busy[i]].endpoint = &log.busy[i];
  // Moving the vector keeps its elements where they are, so the events' pointers stay good.
  log.endpoints = std::move(current);
  log.firstSeen = std::move(firstSeen);
  log.traffic = std::move(traffic);
  log.lastRefresh = now;
  return events;
}

std::string rfc3339_utc(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto milliseconds = floor<std::chrono::milliseconds>(time);
  const auto day = floor<days>(milliseconds);
  const year_month_day date{day};
  const hh_mm_ss clock{milliseconds - day};
  char text[40];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

void append_log_event(std::string& out, const LogEvent& event, FieldSet fields) {
  static constexpr std::string_view kKinds[] = {"open", "close", "state", "traffic"};
  JsonWriter json(out);
  json.begin_object()
      .text("event", kKinds[static_cast<int>(event.kind)])
      .text("time", rfc3339_utc(event.time));
  if (event.kind == LogEventKind::kClose) {
    const auto milliseconds = event.lifetime.count();
    char seconds[48];
    std::snprintf(seconds, sizeof seconds, "%lld.%03lld",
                  static_cast<long long>(milliseconds / 1000),
                  static_cast<long long>(milliseconds % 1000));
    json.number_text("duration", seconds);
  } else if (event.kind == LogEventKind::kState) {
    json.text("old_state", state_name(event.oldState));
  }
  // A traffic event is about the counters: it has them whatever else the log shows.
  if (event.kind == LogEventKind::kTraffic) fields.info = true;
  write_json_members(json, *event.endpoint, fields);
  json.end_object();
  out += '\n';
}

}  // namespace qv
