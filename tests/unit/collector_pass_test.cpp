// One collector pass against the fake machine: entry order and forms, look-ups, the table's
// capacity, failed requests and a table that cannot be allocated.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collector/collector.hpp"
#include "common/text.hpp"
#include "fake/fake_os.hpp"

namespace {

using fake::address;
using fake::port;

class CollectorPass : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    qv::release_collector();
  }
  void TearDown() override { qv::release_collector(); }

  static std::vector<qv::ConnectionEntry> snapshot() {
    std::vector<qv::ConnectionEntry> entries;
    EXPECT_TRUE(qv::take_snapshot(entries));
    return entries;
  }
};

std::vector<os::TcpRow> tcp_rows(int count) {
  std::vector<os::TcpRow> rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    rows.push_back({2, address(10, 0, 0, 1), port(static_cast<std::uint16_t>(1000 + i)), 0, 0, 1});
  }
  return rows;
}

std::vector<os::UdpRow> udp_rows(int count) {
  std::vector<os::UdpRow> rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    rows.push_back({address(10, 0, 0, 1), port(static_cast<std::uint16_t>(5000 + i)), 1});
  }
  return rows;
}

TEST_F(CollectorPass, TcpThenUdpInTheSystemsOrderWithTheirForms) {
  fake::Os& m = fake::machine();
  m.tcpRows = std::vector<os::TcpRow>{
      {2, address(0, 0, 0, 0), port(135), address(0, 0, 0, 0), port(0), 100},
      {5, address(192, 168, 0, 10), port(49152), address(192, 168, 0, 1), port(443), 200},
      {11, address(127, 0, 0, 1), port(5000), address(10, 0, 0, 138), port(80), 300},
  };
  m.udpRows = std::vector<os::UdpRow>{{address(0, 0, 0, 0), port(53), 100},
                                      {address(127, 0, 0, 1), port(65535), 200}};
  m.processes[100] = fake::Process{true, true, "/usr/sbin/daemon", std::nullopt};
  m.processes[200] = fake::Process{true, true, "/opt/" + std::string(150, 'b'), std::nullopt};
  m.ptrAnswers["1.0.168.192.IN-ADDR.ARPA"] = "router.example";

  qv::collect_one_pass();

  const auto entries = snapshot();
  ASSERT_EQ(entries.size(), 5U);
  EXPECT_EQ(qv::collector_view().lastEntryIndex, 4);
  struct Expected {
    std::int32_t localPort;
    const char* localAddress;
    std::int32_t remotePort;
    const char* remoteAddress;
    std::int64_t remoteNumber;
    std::int32_t pid;
    std::string program;
    std::int32_t state;
    std::int32_t protocol;
    const char* hostName;
  };
  const std::string cut(127, 'b');
  const Expected expected[] = {
      {135, "0.0.0.0", 0, "0.0.0.0", 0, 100, "daemon", 2, 1, ""},
      {49152, "192.168.0.10", 443, "192.168.0.1", 192168000001, 200, cut, 5, 1, "router.example"},
      {5000, "127.0.0.1", 80, "10.0.0.138", 10000000138, 300, "System", 11, 1, "10.0.0.138"},
      {53, "0.0.0.0", 0, "000.000.000.000", 0, 100, "daemon", 0, 2, ""},
      {65535, "127.0.0.1", 0, "000.000.000.000", 0, 200, cut, 0, 2, ""},
  };
  for (int i = 0; i < 5; ++i) {
    const auto& e = entries[i];
    const auto& x = expected[i];
    SCOPED_TRACE("entry " + std::to_string(i));
    EXPECT_EQ(e.entryIndex, i);
    EXPECT_EQ(e.localPort, x.localPort);
    EXPECT_EQ(qv::field_text(e.localAddressText), x.localAddress);
    EXPECT_EQ(e.remotePort, x.remotePort);
    EXPECT_EQ(qv::field_text(e.remoteAddressText), x.remoteAddress);
    EXPECT_EQ(e.remoteAddressNumber, x.remoteNumber);
    EXPECT_EQ(e.processId, x.pid);
    EXPECT_EQ(qv::field_text(e.programName), x.program);
    EXPECT_EQ(e.tcpState, x.state);
    EXPECT_EQ(e.protocol, x.protocol);
    EXPECT_EQ(qv::field_text(e.hostName), x.hostName);
  }
  // Only TCP entries with a remote address are looked up, one query each, in table order.
  const std::vector<std::string> asked = {"1.0.168.192.IN-ADDR.ARPA", "138.0.0.10.IN-ADDR.ARPA"};
  EXPECT_EQ(m.dnsQueries, asked);
  EXPECT_EQ(m.openProcessHandles, 0);
}

TEST_F(CollectorPass, FailedOrEmptyRequestsContributeNoRows) {
  const std::optional<std::vector<os::TcpRow>> noTcp;
  const std::optional<std::vector<os::UdpRow>> noUdp;
  const struct {
    const char* what;
    std::optional<std::vector<os::TcpRow>> tcp;
    std::optional<std::vector<os::UdpRow>> udp;
    std::vector<std::int32_t> protocols;
  } cases[] = {
      {"both fail", noTcp, noUdp, {}},
      {"both empty", tcp_rows(0), udp_rows(0), {}},
      {"one TCP, no UDP", tcp_rows(1), udp_rows(0), {1}},
      {"UDP fails", tcp_rows(2), noUdp, {1, 1}},
      {"TCP fails", noTcp, udp_rows(2), {2, 2}},
      {"two and one", tcp_rows(2), udp_rows(1), {1, 1, 2}},
  };
  for (const auto& c : cases) {
    fake::machine().tcpRows = c.tcp;
    fake::machine().udpRows = c.udp;
    qv::collect_one_pass();
    const auto entries = snapshot();
    std::vector<std::int32_t> protocols;
    protocols.reserve(entries.size());
    for (const auto& e : entries) protocols.push_back(e.protocol);
    EXPECT_EQ(protocols, c.protocols) << c.what;
    EXPECT_EQ(qv::collector_view().lastEntryIndex, static_cast<int>(c.protocols.size()) - 1)
        << c.what;
  }
}

TEST_F(CollectorPass, EndpointsBeyondTheLastEntryAreDropped) {
  const struct {
    int tcp;
    int udp;
    int tcpKept;
    int udpKept;
  } cases[] = {{1000, 100, 1000, 25},
               {1025, 1, 1025, 0},
               {1100, 5, 1025, 0},
               {0, 2000, 0, 1025},
               {1024, 1, 1024, 1}};
  for (const auto& c : cases) {
    fake::machine().tcpRows = tcp_rows(c.tcp);
    fake::machine().udpRows = udp_rows(c.udp);
    qv::collect_one_pass();
    const auto entries = snapshot();
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(c.tcpKept + c.udpKept));
    for (int i = 0; i < c.tcpKept + c.udpKept; ++i) {
      ASSERT_EQ(entries[i].entryIndex, i);
      ASSERT_EQ(entries[i].protocol, i < c.tcpKept ? qv::kProtocolTcp : qv::kProtocolUdp);
    }
    if (c.udpKept > 0) {
      EXPECT_EQ(entries.back().localPort, 5000 + c.udpKept - 1);
    }
  }
}

TEST_F(CollectorPass, TableThatCannotBeAllocatedIsNeverPublished) {
  fake::machine().tcpRows = tcp_rows(3);
  qv::collect_one_pass();
  ASSERT_EQ(snapshot().size(), 3U);

  fake::machine().failAllocation = true;
  int tableRequests = 0;
  fake::machine().onTcpTable = [&] { ++tableRequests; };
  qv::collect_one_pass();
  std::vector<qv::ConnectionEntry> untouched(1);
  EXPECT_FALSE(qv::take_snapshot(untouched));
  EXPECT_EQ(untouched.size(), 1U);
  EXPECT_FALSE(qv::collector_view().published);
  EXPECT_EQ(qv::collector_view().lastEntryIndex, -1);
  EXPECT_EQ(tableRequests, 0);

  fake::machine().failAllocation = false;
  fake::machine().tcpRows = tcp_rows(2);
  qv::collect_one_pass();
  EXPECT_EQ(snapshot().size(), 2U);
}

TEST_F(CollectorPass, EachPassSeesTheWorldAsItThenIs) {
  fake::Os& m = fake::machine();
  m.tcpRows = std::vector<os::TcpRow>{
      {5, address(10, 0, 0, 2), port(40000), address(10, 0, 0, 9), port(22), 77}};
  m.processes[77] = fake::Process{true, true, "/bin/ssh", std::nullopt};
  qv::collect_one_pass();
  EXPECT_EQ(qv::field_text(snapshot()[0].programName), "ssh");

  // The process has exited and its connection lingers: the name falls back, nothing else stays.
  m.processes.clear();
  m.tcpRows->front().state = 11;
  qv::collect_one_pass();
  const auto entries = snapshot();
  ASSERT_EQ(entries.size(), 1U);
  EXPECT_EQ(qv::field_text(entries[0].programName), "System");
  EXPECT_EQ(entries[0].tcpState, 11);
  EXPECT_EQ(qv::field_text(entries[0].hostName), "10.0.0.9");
}

TEST_F(CollectorPass, NothingToCopyBeforeTheFirstPass) {
  std::vector<qv::ConnectionEntry> entries;
  EXPECT_FALSE(qv::take_snapshot(entries));
  EXPECT_FALSE(qv::collector_started());
  const auto view = qv::collector_view();
  EXPECT_EQ(view.collectorBusy, 0);
  EXPECT_FALSE(view.published);
}

}  // namespace
