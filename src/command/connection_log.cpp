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
  for (std::size_t i = 0; i < current.size(); ++i) {
    const auto before = diff.previousIndex[i];
    firstSeen.push_back(before ? log.firstSeen[*before] : now);
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
  // Moving the vector keeps its elements where they are, so the events' pointers stay good.
  log.endpoints = std::move(current);
  log.firstSeen = std::move(firstSeen);
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
  static constexpr std::string_view kKinds[] = {"open", "close", "state"};
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
  write_json_members(json, *event.endpoint, fields);
  json.end_object();
  out += '\n';
}

}  // namespace qv
