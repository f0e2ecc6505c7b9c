// The command's collection over the fake OS: rows of the kinds asked for, program names read once
// per process, reverse look-ups only when asked and once per address, the listening filter; the
// owners' units and containers, and the containers' names from their runtimes.
#include <gtest/gtest.h>

#include "collector/reverse_lookup.hpp"
#include "command/container_names.hpp"
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

// Who owns an endpoint, by the cgroup layouts the runtimes and systemd make.
constexpr char kId[] = "3f4e5d6c7b8a99887766554433221100ffeeddccbbaa00112233445566778899";

std::string with_id(std::string text) {
  for (std::size_t at; (at = text.find("ID")) != std::string::npos;) text.replace(at, 2, kId);
  return text;
}

TEST(ContainerIdentity, LayoutsOfSystemdAndTheRuntimesInEitherCgroupVersion) {
  const std::string pod = "9c1a1f0e-8b2d-4e3f-a4b5-c6d7e8f90a1b";
  const struct {
    std::string listing;
    qv::ContainerIdentity identity;
  } cases[] = {
      {"0::/system.slice/nginx.service\n", {"nginx.service", "", "", ""}},
      {"12:name=systemd:/user.slice/user-1000.slice/session-3.scope\n0::/\n",
       {"session-3.scope", "", "", ""}},
      // Docker: cgroupfs driver (v1, any hierarchy), systemd driver.
      {with_id("4:memory:/docker/ID\n1:name=systemd:/docker/ID\n"), {"", kId, "docker", ""}},
      {with_id("0::/system.slice/docker-ID.scope\n"),
       {with_id("docker-ID.scope"), kId, "docker", ""}},
      // Podman, rootful and rootless, and the process inside the container's own subgroup.
      {with_id("0::/machine.slice/libpod-ID.scope/container\n"),
       {with_id("libpod-ID.scope"), kId, "podman", ""}},
      {with_id("0::/user.slice/user-1000.slice/user@1000.service/user.slice/libpod-ID.scope\n"),
       {with_id("libpod-ID.scope"), kId, "podman", ""}},
      {with_id("0::/user.slice/user-1000.slice/user@1000.service/user.slice/"
               "libpod-conmon-ID.scope\n"),
       {with_id("libpod-conmon-ID.scope"), "", "", ""}},
      // Kubernetes: containerd and CRI-O under the systemd driver, and the cgroupfs forms.
      {with_id("0::/kubepods.slice/kubepods-burstable.slice/"
               "kubepods-burstable-pod9c1a1f0e_8b2d_4e3f_a4b5_c6d7e8f90a1b.slice/"
               "cri-containerd-ID.scope\n"),
       {with_id("cri-containerd-ID.scope"), kId, "containerd", pod}},
      {with_id("0::/kubepods.slice/kubepods-pod9c1a1f0e_8b2d_4e3f_a4b5_c6d7e8f90a1b.slice/"
               "crio-ID.scope\n"),
       {with_id("crio-ID.scope"), kId, "cri-o", pod}},
      {with_id("3:cpu,cpuacct:/kubepods/burstable/pod" + pod + "/ID\n"),
       {"", kId, "containerd", pod}},
      {with_id("0::/kubepods/besteffort/pod" + pod + "/crio-ID\n"), {"", kId, "cri-o", pod}},
      // LXC, old and new.
      {"5:devices:/lxc/web01\n", {"", "web01", "lxc", ""}},
      {"0::/lxc.payload.web01/system.slice/sshd.service\n", {"sshd.service", "web01", "lxc", ""}},
      // The unified hierarchy decides over the others; a container path over a unit path.
      {with_id("1:name=systemd:/system.slice/ssh.service\n0::/system.slice/docker-ID.scope\n"),
       {with_id("docker-ID.scope"), kId, "docker", ""}},
      {with_id("4:memory:/docker/ID\n0::/system.slice/ssh.service\n"), {"", kId, "docker", ""}},
      // Look-alikes name nothing: short or upper-case ids, unknown parents, damaged lines.
      {"0::/system.slice/docker-3f4e5d6c.scope\n", {"docker-3f4e5d6c.scope", "", "", ""}},
      {"4:memory:/process_api/608b1f20cff304bc50468856a86b18ce\n0::/\n", {}},
      {with_id("0::/docker/") + std::string(kId).substr(0, 63) + "G\n", {}},
      {"garbage\n::\n0::\n", {}},
      {"", {}},
  };
  for (const auto& c : cases) {
    const qv::ContainerIdentity got = qv::container_identity(c.listing);
    EXPECT_EQ(got, c.identity) << c.listing << " -> unit " << got.unit << " container "
                               << got.container << " runtime " << got.runtime << " pod " << got.pod;
  }
}

TEST_F(CommandEndpoints, OwnersReadOncePerProcessAndOnlyWhenAsked) {
  fake::Os& m = fake::machine();
  m.cgroups[100] = "0::/system.slice/nginx.service\n";
  m.cgroups[200] = with_id("0::/system.slice/docker-ID.scope\n");
  m.users[33] = "www-data";
  for (os::SocketRow& row : *m.socketRows) row.ownerUid = row.owningPid == 100 ? 33 : 1001;
  const auto plain = qv::collect_endpoints({});
  ASSERT_TRUE(plain);
  EXPECT_TRUE(m.cgroupReads.empty());
  EXPECT_FALSE((*plain)[0].userName);

  const auto owned = qv::collect_endpoints({.kinds = {}, .owners = true});
  ASSERT_TRUE(owned);
  EXPECT_EQ(m.cgroupReads, (std::map<std::uint32_t, int>{{100, 1}, {200, 1}}));
  EXPECT_EQ((*owned)[0].userName, "www-data");
  EXPECT_EQ((*owned)[0].place.unit, "nginx.service");
  EXPECT_FALSE((*owned)[3].userName);  // uid 1001 has no name here
  EXPECT_EQ((*owned)[3].place.container, kId);
  EXPECT_EQ((*owned)[3].place.runtime, "docker");
  EXPECT_EQ((*owned)[5].place, qv::ContainerIdentity{});  // no owner
}

TEST(ContainerNames, TheEngineApisListAsDockerAndPodmanAnswerIt) {
  const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n";
  using List = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(qv::read_container_list(
                head + R"([{"Id":"aa","Names":["/web"],"Image":"nginx","Ports":[]},)"
                       R"({"Id":"bb","Names":["/db","/web/db"]},)"
                       R"({"Id":"cc","Names":[]},{"Names":["/lost"]},{"Id":7,"Names":["/x"]},)"
                       R"({"Id":"dd","Names":["odd\u001b[2J"]}])"),
            (List{{"aa", "web"}, {"bb", "db"}, {"dd", "odd\x1b[2J"}}));
  EXPECT_EQ(qv::read_container_list(head + "[]"), List{});
  for (const std::string& answer : {std::string("HTTP/1.0 500 Internal Server Error\r\n\r\n[]"),
                                    head + "[{\"Id\":", head + R"({"message":"page not found"})",
                                    std::string("[]"), std::string()}) {
    EXPECT_FALSE(qv::read_container_list(answer)) << answer;
  }
  // DOCKER_HOST and CONTAINER_HOST as docker and podman take them: a unix socket only.
  const auto sockets = qv::runtime_sockets("unix:///tmp/d.sock", "tcp://10.0.0.1:2375");
  ASSERT_EQ(sockets.size(), 2U);
  EXPECT_EQ(sockets[0].runtime, "docker");
  EXPECT_EQ(sockets[0].path, "/tmp/d.sock");
  EXPECT_EQ(sockets[1].runtime, "podman");
  EXPECT_EQ(sockets[1].path, "/run/podman/podman.sock");
  EXPECT_EQ(qv::runtime_sockets(nullptr, nullptr)[0].path, "/var/run/docker.sock");
}

TEST(ContainerNames, EachRuntimeAskedOnlyForItsOwnAndNotAgainOnceAnswered) {
  fake::reset();
  fake::Os& m = fake::machine();
  m.localServices["/d.sock"] =
      "HTTP/1.0 200 OK\r\n\r\n" + with_id(R"([{"Id":"ID","Names":["/web"]}])");
  const auto book = qv::make_container_name_book({{"docker", "/d.sock"}, {"podman", "/p.sock"}});
  std::vector<qv::Endpoint> endpoints(3);
  endpoints[0].place = {"", kId, "docker", ""};
  endpoints[1].place = {"", "0123", "lxc", ""};  // no API to ask
  qv::name_containers(book, endpoints, 1000);
  EXPECT_EQ(endpoints[0].containerName, "web");
  EXPECT_FALSE(endpoints[1].containerName);
  EXPECT_FALSE(endpoints[2].containerName);
  ASSERT_EQ(m.localRequests.size(), 1U);
  EXPECT_TRUE(m.localRequests[0].starts_with("GET /containers/json HTTP/1.0\r\n"));
  // Known names cost no question; a runtime that did not answer is not asked again at once.
  endpoints[1].place = {"", kId, "podman", ""};
  endpoints[1].place.container[0] = 'a';
  qv::name_containers(book, endpoints, 1000);
  qv::name_containers(book, endpoints, 1000);
  EXPECT_EQ(m.localRequests.size(), 2U);
  EXPECT_FALSE(endpoints[1].containerName);
}
