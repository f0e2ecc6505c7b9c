// --summary: what is counted where, the programs' order and cut, and both layouts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command/summary.hpp"
#include "endpoint_builder.hpp"

namespace {

using test_endpoint::endpoint;
using test_endpoint::Protocol;
using test_endpoint::TcpState;

constexpr auto kIpv6 = os::kFamilyIpv6;

std::vector<qv::Endpoint> machine() {
  return {
      endpoint({.state = TcpState::listen, .pid = 10, .program = "nginx"}),
      endpoint({.family = kIpv6, .state = TcpState::listen, .pid = 10, .program = "nginx"}),
      endpoint({.state = TcpState::established, .pid = 11, .program = "nginx"}),
      endpoint({.state = TcpState::established, .pid = 12, .program = "nginx"}),
      endpoint({.state = TcpState::established, .pid = 20, .program = "curl"}),
      endpoint({.state = TcpState::timeWait}),
      endpoint({.protocol = Protocol::udp, .pid = 30, .program = "dnsmasq"}),
      endpoint({.protocol = Protocol::udp, .family = kIpv6, .pid = 30, .program = "dnsmasq"}),
      endpoint({.protocol = Protocol::udp, .family = kIpv6, .pid = 40, .program = "avahi\x1b"}),
      endpoint({.family = kIpv6, .state = TcpState::established, .pid = 50, .program = "curl"}),
  };
}

TEST(CommandSummary, Counts) {
  const qv::Summary summary = qv::summarize(machine());
  EXPECT_EQ(summary.total, 10U);
  EXPECT_EQ(summary.byProtocolAndFamily[0], (std::array<std::size_t, 2>{5, 2}));
  EXPECT_EQ(summary.byProtocolAndFamily[1], (std::array<std::size_t, 2>{1, 2}));
  std::array<std::size_t, os::kTcpStateCount> states{};
  states[os::state_index(TcpState::listen)] = 2;
  states[os::state_index(TcpState::established)] = 4;
  states[os::state_index(TcpState::timeWait)] = 1;
  EXPECT_EQ(summary.tcpByState, states);
  // Most endpoints first; equal counts by name, the unowned (empty name) first among them.
  const std::vector<std::tuple<std::string, std::size_t, std::size_t>> programs = {
      {"nginx", 4, 3}, {"curl", 2, 2}, {"dnsmasq", 2, 1}, {"", 1, 0}, {"avahi\x1b", 1, 1}};
  ASSERT_EQ(summary.programs.size(), programs.size());
  for (std::size_t i = 0; i < programs.size(); ++i) {
    const qv::ProgramCount& p = summary.programs[i];
    EXPECT_EQ(std::tie(p.program, p.endpoints, p.processes), programs[i]) << i;
  }
  EXPECT_EQ(qv::summarize(machine(), 2).programs.size(), 2U);
  EXPECT_EQ(qv::summarize({}).total, 0U);
}

TEST(CommandSummary, Text) {
  EXPECT_EQ(qv::summary_text(qv::summarize(machine())),
            "Proto  IPv4  IPv6  Total\n"
            "TCP       5     2      7\n"
            "UDP       1     2      3\n"
            "Total     6     4     10\n"
            "\n"
            "TCP state    Endpoints\n"
            "Listening            2\n"
            "Established          4\n"
            "Time Wait            1\n"
            "\n"
            "Program    Endpoints  Processes\n"
            "nginx              4          3\n"
            "curl               2          2\n"
            "dnsmasq            2          1\n"
            "-                  1          0\n"
            "avahi\\033          1          1\n");
  // Nothing to count under a heading: no heading either.
  std::vector<qv::Endpoint> udp;
  for (const qv::Endpoint& e : machine()) {
    if (e.socket.protocol == os::Protocol::udp) udp.push_back(e);
  }
  const std::string udpOnly = qv::summary_text(qv::summarize(udp));
  EXPECT_EQ(udpOnly.find("TCP state"), std::string::npos) << udpOnly;
  EXPECT_EQ(udpOnly.find("\n\n\n"), std::string::npos) << udpOnly;
  EXPECT_EQ(qv::summary_text(qv::summarize({})),
            "Proto  IPv4  IPv6  Total\n"
            "TCP       0     0      0\n"
            "UDP       0     0      0\n"
            "Total     0     0      0\n");
}

TEST(CommandSummary, Json) {
  EXPECT_EQ(qv::summary_json(qv::summarize(machine(), 3)),
            "{\"total\":10,\"tcp\":{\"ipv4\":5,\"ipv6\":2,\"total\":7},"
            "\"udp\":{\"ipv4\":1,\"ipv6\":2,\"total\":3},"
            "\"tcp_states\":{\"Closed\":0,\"Listening\":2,\"SYN Sent\":0,\"SYN Received\":0,"
            "\"Established\":4,\"FIN Wait 1\":0,\"FIN Wait 2\":0,\"Close Wait\":0,\"Closing\":0,"
            "\"Last ACK\":0,\"Time Wait\":1,\"Delete TCB\":0},"
            "\"programs\":[{\"program\":\"nginx\",\"endpoints\":4,\"processes\":3},"
            "{\"program\":\"curl\",\"endpoints\":2,\"processes\":2},"
            "{\"program\":\"dnsmasq\",\"endpoints\":2,\"processes\":1}]}\n");
  const std::string unowned = qv::summary_json(
      qv::summarize(std::vector<qv::Endpoint>{endpoint({.protocol = Protocol::udp})}));
  EXPECT_NE(unowned.find("\"programs\":[{\"program\":null,\"endpoints\":1,\"processes\":0}]"),
            std::string::npos)
      << unowned;
  EXPECT_NE(qv::summary_json(qv::summarize(machine())).find("\"program\":\"avahi\\u001b\""),
            std::string::npos);
  // Counts by container, by the name its runtime gave where it gave one; only when there are any.
  std::vector<qv::Endpoint> contained = machine();
  contained[0].place = {"", "3f4e", "docker", ""};
  contained[0].containerName = "web";
  contained[1].place = contained[0].place;
  contained[2].place = {"", "aa11", "podman", ""};
  const qv::Summary counted = qv::summarize(contained);
  EXPECT_NE(qv::summary_json(counted).find(
                R"(,"containers":[{"container":"web","runtime":"docker","endpoints":2},)"
                R"({"container":"aa11","runtime":"podman","endpoints":1}]})"),
            std::string::npos)
      << qv::summary_json(counted);
  EXPECT_TRUE(
      qv::summary_text(counted).ends_with("\n\nContainer  Runtime  Endpoints\n"
                                          "web        docker           2\n"
                                          "aa11       podman           1\n"))
      << qv::summary_text(counted);
}

}  // namespace
