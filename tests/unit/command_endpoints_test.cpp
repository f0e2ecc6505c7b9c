// The command's collection over the fake OS: rows of the kinds asked for, program names read once
// per process, reverse look-ups only when asked and once per address, the listening filter.
#include <gtest/gtest.h>

#include "collector/reverse_lookup.hpp"
#include "command/endpoints.hpp"
#include "endpoint_builder.hpp"
#include "fake/fake_os.hpp"

namespace {

using test_address::v4;
using test_address::v6;

using test_endpoint::socket_row;
using test_endpoint::TcpState;

constexpr auto kUdp = os::Protocol::udp;
constexpr auto kIpv6 = os::kFamilyIpv6;
constexpr auto kListening = TcpState::listen;
constexpr auto kEstablished = TcpState::established;

class CommandEndpoints : public testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fake::Os& m = fake::machine();
    m.processes[100].executablePath = "/usr/sbin/nginx";
    m.processes[200].executablePath = "/usr/bin/python3.11";
    m.socketRows = std::vector<os::SocketRow>{
        socket_row({.local = {v4(0, 0, 0, 0), 80}, .state = kListening, .pid = 100}),
        socket_row({.local = {v4(10, 0, 0, 1), 80},
                    .remote = {v4(10, 0, 0, 9), 5000},
                    .state = kEstablished,
                    .pid = 100}),
        socket_row({.local = {v4(10, 0, 0, 1), 80},
                    .remote = {v4(10, 0, 0, 9), 5001},
                    .state = kEstablished,
                    .pid = 100}),
        socket_row({.family = kIpv6, .local = {{}, 8080}, .state = kListening, .pid = 200}),
        socket_row({.family = kIpv6,
                    .local = {v6("::ffff:127.0.0.1"), 8080},
                    .remote = {v6("::ffff:127.0.0.1"), 6000},
                    .state = kEstablished,
                    .pid = 200}),
        socket_row({.family = kIpv6,
                    .local = {v6("2001:db8::1"), 443},
                    .remote = {v6("2001:db8::2"), 7000},
                    .state = kEstablished}),
        socket_row({.protocol = kUdp, .local = {v4(0, 0, 0, 0), 53}, .pid = 100}),
        socket_row({.protocol = kUdp,
                    .family = kIpv6,
                    .local = {v6("::1"), 5353},
                    .remote = {v6("::1"), 9000},
                    .pid = 200}),
    };
    m.ptrAnswers["9.0.0.10.IN-ADDR.ARPA"] = "peer.example";
    m.ptrAnswers[qv::reverse_query_name(6, v6("2001:db8::2"))] = "six.example";
  }
};

TEST_F(CommandEndpoints, EveryRowInOrderWithOneNameReadPerProcess) {
  const auto endpoints = qv::collect_endpoints({});
  ASSERT_TRUE(endpoints);
  ASSERT_EQ(endpoints->size(), 8U);
  const std::string programs[] = {"nginx",      "nginx", "nginx", "python3.11",
                                  "python3.11", "",      "nginx", "python3.11"};
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ((*endpoints)[i].socket.local.port, fake::machine().socketRows->at(i).local.port);
    EXPECT_EQ((*endpoints)[i].program, programs[i]) << i;
    EXPECT_FALSE((*endpoints)[i].hostName) << i;
  }
  // pid 0 is nobody's: never opened.
  EXPECT_EQ(fake::machine().processOpens, (std::map<std::uint32_t, int>{{100, 1}, {200, 1}}));
  EXPECT_TRUE(fake::machine().ptrBatches.empty());
  // A second collection reads the names again: a pid may have been reused in between.
  ASSERT_TRUE(qv::collect_endpoints({}));
  EXPECT_EQ(fake::machine().processOpens.at(100), 2);
}

TEST_F(CommandEndpoints, KindsGoToThePlatformAndNoTableIsNoCollection) {
  qv::CollectRequest request;
  request.kinds = {.tcp = false, .udp = true, .ipv4 = false, .ipv6 = true};
  const auto endpoints = qv::collect_endpoints(request);
  ASSERT_TRUE(endpoints);
  ASSERT_EQ(endpoints->size(), 1U);
  EXPECT_EQ((*endpoints)[0].socket.local.port, 5353);
  ASSERT_EQ(fake::machine().socketTableCalls.size(), 1U);
  EXPECT_FALSE(fake::machine().socketTableCalls[0].tcp);
  EXPECT_FALSE(fake::machine().socketTableCalls[0].ipv4);
  fake::machine().socketRows.reset();
  EXPECT_FALSE(qv::collect_endpoints({}));
}

TEST_F(CommandEndpoints, ListeningMeansListeningTcpAndUnconnectedUdp) {
  qv::CollectRequest request;
  request.listeningOnly = true;
  const auto endpoints = qv::collect_endpoints(request);
  ASSERT_TRUE(endpoints);
  std::vector<std::uint16_t> ports;
  for (const auto& e : *endpoints) ports.push_back(e.socket.local.port);
  EXPECT_EQ(ports, (std::vector<std::uint16_t>{80, 8080, 53}));
}

TEST_F(CommandEndpoints, LookUpsOnlyWhenAskedOncePerAddressWithinTheLimit) {
  auto endpoints = qv::collect_endpoints({});
  ASSERT_TRUE(endpoints);
  qv::look_up_host_names(*endpoints, 7, 250);
  ASSERT_EQ(fake::machine().ptrBatches.size(), 1U);
  const fake::PtrBatch& batch = fake::machine().ptrBatches[0];
  EXPECT_EQ(batch.parallel, 7U);
  EXPECT_EQ(batch.timeLimitMs, 250U);
  // Two connections to 10.0.0.9 ask once; the mapped peer asks under IN-ADDR.ARPA; the
  // connected UDP socket is asked for too; listeners and unconnected sockets are not.
  EXPECT_EQ(batch.names,
            (std::vector<std::string>{"9.0.0.10.IN-ADDR.ARPA", "1.0.0.127.IN-ADDR.ARPA",
                                      qv::reverse_query_name(6, v6("2001:db8::2")),
                                      qv::reverse_query_name(6, v6("::1"))}));
  const auto host = [&](std::size_t i) { return (*endpoints)[i].hostName.value_or("(none)"); };
  EXPECT_EQ(host(0), "(none)");
  EXPECT_EQ(host(1), "peer.example");
  EXPECT_EQ(host(2), "peer.example");
  EXPECT_EQ(host(4), "(none)");
  EXPECT_EQ(host(5), "six.example");
}

TEST_F(CommandEndpoints, AnAnswerTooLateForOneCollectionIsThereForTheNext) {
  fake::machine().lateAnswers.insert("9.0.0.10.IN-ADDR.ARPA");
  const auto collect_named = [] {
    auto endpoints = qv::collect_endpoints({});
    qv::look_up_host_names(*endpoints, 32, 1000);
    return endpoints;
  };
  EXPECT_FALSE(collect_named()->at(1).hostName);
  EXPECT_EQ(collect_named()->at(1).hostName, "peer.example");
}

TEST_F(CommandEndpoints, ServicesNamedAsSsNamesThemOncePerPortAndProtocol) {
  fake::Os& m = fake::machine();
  m.socketRows->push_back(socket_row({.local = {v4(127, 0, 0, 1), 57000},
                                      .remote = {v4(127, 0, 0, 1), 22},
                                      .state = kEstablished}));
  auto endpoints = qv::collect_endpoints({});
  ASSERT_TRUE(endpoints);
  qv::ServiceNames names;
  qv::name_services(*endpoints, names);
  using Names = std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>>;
  const auto named = [](const std::vector<qv::Endpoint>& list) {
    Names result;
    for (const qv::Endpoint& e : list) result.emplace_back(e.localService, e.remoteService);
    return result;
  };
  const std::nullopt_t none = std::nullopt;
  // By protocol (5353 is mdns for UDP only); no remote name without a remote end; 57000 is in
  // the range outgoing connections take their ports from, so a number however the database
  // names it.
  EXPECT_EQ(named(*endpoints), (Names{{"http", none},
                                      {"http", none},
                                      {"http", none},
                                      {none, none},
                                      {none, none},
                                      {"https", none},
                                      {"domain", none},
                                      {"mdns", none},
                                      {none, "ssh"}}));
  // Asked once: a database that changes later does not change this run's names.
  m.services.clear();
  qv::name_services(*endpoints, names);
  EXPECT_EQ(endpoints->back().remoteService, "ssh");
  // Where the range cannot be read, every port the database names is named.
  m.services = fake::default_services();
  m.ephemeralPorts.reset();
  qv::ServiceNames unranged;
  qv::name_services(*endpoints, unranged);
  EXPECT_EQ(endpoints->back().localService, "dircproxy");
}

TEST(ReverseQueryName, BothFamilies) {
  EXPECT_EQ(qv::reverse_query_name(4, v4(192, 168, 0, 1)), "1.0.168.192.IN-ADDR.ARPA");
  EXPECT_EQ(qv::reverse_query_name(6, v6("::ffff:192.168.0.1")), "1.0.168.192.IN-ADDR.ARPA");
  EXPECT_EQ(qv::reverse_query_name(6, v6("2001:db8::567:89ab")),
            "b.a.9.8.7.6.5.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.IP6.ARPA");
}

TEST(HasRemote, AddressOrPort) {
  os::SocketRow row{};
  EXPECT_FALSE(qv::has_remote(row));
  row.remote.port = 1;
  EXPECT_TRUE(qv::has_remote(row));
  row.remote.port = 0;
  row.remote.address[15] = 1;
  EXPECT_TRUE(qv::has_remote(row));
}

}  // namespace
