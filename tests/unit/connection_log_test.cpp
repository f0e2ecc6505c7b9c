// The connection log: open, close and state events from refresh to refresh, their times and
// lifetimes, and the RFC 3339 time text.
#include "command/connection_log.hpp"

#include <gtest/gtest.h>

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
