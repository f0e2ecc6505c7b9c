// The connection log: open, close, state and traffic events from refresh to refresh, their times,
// lifetimes and rates, and the RFC 3339 time text.
#include "command/connection_log.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "endpoint_builder.hpp"

namespace {

using std::chrono::milliseconds;

using test_endpoint::loopback_tcp;
using test_endpoint::TcpState;

constexpr auto kCloseWait = TcpState::closeWait;
constexpr auto kEstablished = TcpState::established;
constexpr auto kFinWait2 = TcpState::finWait2;

// A refresh at `at` milliseconds after a fixed moment.
qv::WatchTime at(int ms) {
  const auto origin = std::chrono::system_clock::time_point(std::chrono::seconds(1'800'000'000));
  return {origin + milliseconds(ms), std::chrono::steady_clock::time_point(milliseconds(ms))};
}

// Each event as "kind port @time", with the lifetime or the old state where it has one.
std::vector<std::string> events(qv::ConnectionLog& log, std::vector<qv::Endpoint> current, int ms) {
  std::vector<std::string> texts;
  for (const qv::LogEvent& event : qv::log_refresh(log, std::move(current), at(ms))) {
    const auto when = std::chrono::duration_cast<milliseconds>(event.time - at(0).wall).count();
    const std::string where =
        std::to_string(event.endpoint->socket.local.port) + " @" + std::to_string(when);
    std::string text;
    switch (event.kind) {
      case qv::LogEventKind::kOpen:
        text = "open ";
        text += where;
        break;
      case qv::LogEventKind::kClose:
        text = "close ";
        text += where;
        text += " lived " + std::to_string(event.lifetime.count());
        break;
      case qv::LogEventKind::kState:
        text = "state ";
        text += where;
        text += " from " + std::to_string(os::state_index(event.oldState));
        text += " to " + std::to_string(os::state_index(event.endpoint->socket.tcpState));
        break;
      case qv::LogEventKind::kTraffic:
        text = "traffic ";
        text += where;
        text += " in " + std::to_string(std::llround(event.endpoint->rateIn.value_or(-1)));
        text += " out " + std::to_string(std::llround(event.endpoint->rateOut.value_or(-1)));
        break;
    }
    texts.push_back(text);
  }
  return texts;
}

TEST(ConnectionLog, OpensStateChangesAndCloses) {
  qv::ConnectionLog log;
  EXPECT_EQ(events(log, {loopback_tcp(1), loopback_tcp(2), loopback_tcp(3)}, 0),
            (std::vector<std::string>{"open 1 @0", "open 2 @0", "open 3 @0"}));
  EXPECT_TRUE(events(log, {loopback_tcp(1), loopback_tcp(2), loopback_tcp(3)}, 200).empty());
  // Closes come first, at the last time they were seen; then state changes; then opens.
  EXPECT_EQ(events(log,
                   {loopback_tcp(4), loopback_tcp(3, 9000, kFinWait2), loopback_tcp(5),
                    loopback_tcp(1, 9000, kCloseWait)},
                   400),
            (std::vector<std::string>{"close 2 @200 lived 200", "state 3 @400 from 5 to 7",
                                      "state 1 @400 from 5 to 8", "open 4 @400", "open 5 @400"}));
  // A closed endpoint is reported as last seen, in its last state.
  const auto last = qv::log_refresh(log, {loopback_tcp(4)}, at(600));
  ASSERT_EQ(last.size(), 3U);
  EXPECT_EQ(last[0].endpoint->socket.local.port, 3);
  EXPECT_EQ(last[0].endpoint->socket.tcpState, kFinWait2);
  EXPECT_EQ(last[0].lifetime, milliseconds(400));
  EXPECT_EQ(last[2].endpoint->socket.tcpState, kCloseWait);
}

TEST(ConnectionLog, AnEndpointBackAfterItClosedIsANewOne) {
  qv::ConnectionLog log;
  events(log, {loopback_tcp(1)}, 0);
  events(log, {loopback_tcp(1)}, 1000);
  EXPECT_EQ(events(log, {}, 1500), std::vector<std::string>{"close 1 @1000 lived 1000"});
  EXPECT_EQ(events(log, {loopback_tcp(1)}, 2000), std::vector<std::string>{"open 1 @2000"});
  EXPECT_EQ(events(log, {}, 2100), std::vector<std::string>{"close 1 @2000 lived 0"});
}

TEST(ConnectionLog, SocketsSharingAnAddressEachHaveTheirOwnLife) {
  using test_endpoint::listener;
  qv::ConnectionLog log;
  EXPECT_EQ(events(log, {listener(7400, 1)}, 0), std::vector<std::string>{"open 7400 @0"});
  events(log, {listener(7400, 1), listener(7400, 2)}, 1000);
  // The first closes as a third opens: one close, one open, the second untouched.
  EXPECT_EQ(events(log, {listener(7400, 2), listener(7400, 3)}, 2000),
            (std::vector<std::string>{"close 7400 @1000 lived 1000", "open 7400 @2000"}));
  const auto closes = qv::log_refresh(log, {listener(7400, 3)}, at(3000));
  ASSERT_EQ(closes.size(), 1U);
  EXPECT_EQ(closes[0].endpoint->socket.identity, 2U);
  EXPECT_EQ(closes[0].lifetime, milliseconds(1000));
  // A connection moving into Time Wait gets a new cookie from the kernel: still one endpoint.
  qv::Endpoint connection = loopback_tcp(1);
  connection.socket.identity = 10;
  events(log, {connection}, 4000);
  connection.socket.identity = 11;
  connection.socket.tcpState = TcpState::timeWait;
  EXPECT_EQ(events(log, {connection}, 5000),
            std::vector<std::string>{"state 1 @5000 from 5 to 11"});
}

// A connection whose counters moved is reported once the interval has passed since its last
// report (or since it was first seen, or last found idle), with its rates over that time; an
// idle one, one without counters and one opened again on the same addresses are not.
TEST(ConnectionLog, TrafficEventsForBusyConnectionsAtMostOncePerInterval) {
  const auto counted = [](std::uint16_t port, std::uint64_t received, std::uint64_t sent,
                          std::uint64_t identity = 0) {
    qv::Endpoint e = loopback_tcp(port);
    e.socket.traffic = test_endpoint::traffic(sent, received);
    e.socket.identity = identity;
    return e;
  };
  qv::ConnectionLog log;
  log.trafficSeconds = 1.0;
  const qv::Endpoint uncounted = loopback_tcp(4);
  events(log, {counted(1, 0, 0), counted(2, 50, 50), uncounted, counted(3, 0, 0, 30)}, 0);
  EXPECT_TRUE(
      events(log, {counted(1, 400, 0), counted(2, 50, 50), uncounted, counted(3, 100, 0, 30)}, 500)
          .empty());
  EXPECT_EQ(
      events(log, {counted(1, 1000, 200), counted(2, 50, 50), uncounted, counted(3, 10, 0, 31)},
             1000),
      std::vector<std::string>{"traffic 1 @1000 in 1000 out 200"});
  EXPECT_TRUE(events(log,
                     {counted(1, 1500, 200), counted(2, 50, 50), uncounted, counted(3, 100, 0, 31)},
                     1500)
                  .empty());
  // Port 2 was found idle at 1000 and has moved since: its rate is over the second since then.
  EXPECT_EQ(
      events(log, {counted(1, 3000, 200), counted(2, 100, 50), uncounted, counted(3, 2010, 0, 31)},
             2000),
      (std::vector<std::string>{"traffic 1 @2000 in 2000 out 0", "traffic 2 @2000 in 50 out 0",
                                "traffic 3 @2000 in 2000 out 0"}));
  const auto busy = qv::log_refresh(log, {counted(1, 6000, 200)}, at(3000));
  ASSERT_EQ(busy.size(), 4U);  // three closes, then the traffic
  std::string line;
  qv::append_log_event(line, busy[3]);
  EXPECT_TRUE(line.starts_with(R"({"event":"traffic","time":"2027-01-15T08:00:03.000Z",)")) << line;
  EXPECT_NE(line.find(R"("bytes_sent":200,"bytes_received":6000,)"), std::string::npos) << line;
  EXPECT_NE(line.find(R"("rate_in":3000,"rate_out":0})"), std::string::npos) << line;
}

TEST(ConnectionLog, UdpEndpointsHaveNoStateEvents) {
  qv::Endpoint udp = loopback_tcp(53, 0, TcpState::none);
  udp.socket.protocol = os::Protocol::udp;
  qv::ConnectionLog log;
  events(log, {udp}, 0);
  udp.socket.tcpState =
      TcpState::synSent;  // no platform says so, but a UDP state is no event either way
  EXPECT_TRUE(events(log, {udp}, 100).empty());
}

TEST(ConnectionLog, TimesInRfc3339Utc) {
  using std::chrono::system_clock;
  EXPECT_EQ(qv::rfc3339_utc(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(qv::rfc3339_utc(at(120).wall), "2027-01-15T08:00:00.120Z");
  // A leap day, and milliseconds cut rather than rounded up into the next second.
  const auto leapDay = system_clock::time_point(std::chrono::seconds(1'709'251'199));
  EXPECT_EQ(qv::rfc3339_utc(leapDay + std::chrono::microseconds(999'999)),
            "2024-02-29T23:59:59.999Z");
}

}  // namespace

namespace {

TEST(ConnectionLog, EventsAsJsonLines) {
  qv::Endpoint endpoint = loopback_tcp(8080, 9000, kCloseWait);
  endpoint.socket.owningPid = 42;
  endpoint.program = "web\nserver";
  const qv::LogEvent events[] = {
      {qv::LogEventKind::kOpen, &endpoint, at(5).wall, {}, TcpState::none},
      {qv::LogEventKind::kClose, &endpoint, at(1234).wall, milliseconds(61'005), TcpState::none},
      {qv::LogEventKind::kState, &endpoint, at(0).wall, {}, kEstablished},
  };
  const std::string fields =
      R"("protocol":"tcp","family":"ipv4","ipv6_only":null,"local_address":"127.0.0.1",)"
      R"("local_port":8080,"local_service":null,)"
      R"("interface":null,)"
      R"("remote_address":"127.0.0.1","remote_port":9000,"remote_service":null,)"
      R"("state":"Close Wait","pid":42,)"
      R"("pids":[42],"program":"web\nserver","deleted":false,"host":null})"
      "\n";
  const std::string expected[] = {
      R"({"event":"open","time":"2027-01-15T08:00:00.005Z",)" + fields,
      R"({"event":"close","time":"2027-01-15T08:00:01.234Z","duration":61.005,)" + fields,
      R"({"event":"state","time":"2027-01-15T08:00:00.000Z","old_state":"Established",)" + fields,
  };
  for (std::size_t i = 0; i < std::size(events); ++i) {
    std::string line;
    qv::append_log_event(line, events[i]);
    EXPECT_EQ(line, expected[i]);
  }
}

}  // namespace
