// --summary: what is counted where, the programs' order and cut, the programs' traffic, and both
// layouts.
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

// Bytes and rates add up over the program's endpoints that have them; a program none of whose
// endpoints has a figure shows it unknown, not 0.
TEST(CommandSummary, TrafficPerProgram) {
  std::vector<qv::Endpoint> endpoints = machine();
  const auto count = [&](std::size_t i, std::uint64_t sent, std::uint64_t received, double in) {
    endpoints[i].socket.traffic = test_endpoint::traffic(sent, received);
    endpoints[i].rateIn = in;
    endpoints[i].rateOut = 0.0;
  };
  count(2, 1500, 2'000'000, 1000.4);  // nginx
  count(3, 500, 0, 2000);             // nginx
  count(4, 7, 9, 0.5);                // curl; its other connection has no counters
  const qv::Summary summary = qv::summarize(endpoints, 3);
  EXPECT_EQ(summary.programs[0].bytesSent, 2000U);
  EXPECT_EQ(summary.programs[0].bytesReceived, 2'000'000U);
  EXPECT_EQ(summary.programs[1].rateIn, 0.5);
  EXPECT_FALSE(summary.programs[2].bytesSent || summary.programs[2].rateIn);  // dnsmasq: UDP
  const std::string text = qv::summary_text(summary, {.info = true, .rates = true});
  EXPECT_TRUE(
      text.ends_with("Program  Endpoints  Processes    Sent  Received        In    Out\n"
                     "nginx            4          3  2.0 kB    2.0 MB  3.0 kB/s  0 B/s\n"
                     "curl             2          2     7 B       9 B     0 B/s  0 B/s\n"
                     "dnsmasq          2          1       -         -         -      -\n"))
      << text;
  EXPECT_EQ(qv::summary_text(summary, {.info = true}).find("In"), std::string::npos);
  const std::string json = qv::summary_json(summary, {.info = true, .rates = true});
  EXPECT_NE(json.find("{\"program\":\"nginx\",\"endpoints\":4,\"processes\":3,"
                      "\"bytes_sent\":2000,\"bytes_received\":2000000,\"rate_in\":3000,"
                      "\"rate_out\":0}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"program\":\"dnsmasq\",\"endpoints\":2,\"processes\":1,"
                      "\"bytes_sent\":null,\"bytes_received\":null,\"rate_in\":null,"
                      "\"rate_out\":null}"),
            std::string::npos)
      << json;
  EXPECT_EQ(qv::summary_json(summary, {.info = true}).find("rate_in"), std::string::npos);
}

TEST(CommandSummary, ByNamespaceInTheOrderMet) {
  std::vector<qv::Endpoint> endpoints = machine();
  for (std::size_t i = 0; i < endpoints.size(); ++i) {
    os::SocketRow& socket = endpoints[i].socket;
    socket.netnsInode = i < 6 ? 4026531840 : 4026532500 + i % 2;
    if (i % 2 == 0 && i >= 6) socket.netnsName = "web\n";
  }
  const qv::Summary summary = qv::summarize(endpoints, 1, true);
  ASSERT_EQ(summary.namespaces.size(), 3U);
  EXPECT_EQ(summary.namespaces[0].endpoints, 6U);
  EXPECT_EQ(summary.namespaces[1].netns, "web\n");
  EXPECT_EQ(summary.namespaces[1].endpoints + summary.namespaces[2].endpoints, 4U);
  const std::string text = qv::summary_text(summary);
  EXPECT_NE(text.find("Netns             Endpoints\nnet:[4026531840]          6\n"
                      "web\\n                     2\nnet:[4026532501]          2\n"),
            std::string::npos)
      << text;
  EXPECT_NE(qv::summary_json(summary).find(
                "\"namespaces\":[{\"netns\":null,\"netns_inode\":4026531840,\"endpoints\":6},"
                "{\"netns\":\"web\\n\",\"netns_inode\":4026532500,\"endpoints\":2},"),
            std::string::npos)
      << qv::summary_json(summary);
  // Not asked for: no count, however many namespaces the endpoints come from.
  EXPECT_TRUE(qv::summarize(endpoints).namespaces.empty());
  EXPECT_EQ(qv::summary_json(qv::summarize(endpoints)).find("namespaces"), std::string::npos);
}

}  // namespace
