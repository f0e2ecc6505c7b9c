// The command's filters: the values each option takes, and which endpoints they keep.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command/filters.hpp"
#include "command/vocabulary.hpp"
#include "endpoint_builder.hpp"
#include "fake/fake_os.hpp"
#include "listing/names.hpp"

namespace {

using test_endpoint::endpoint;
using test_endpoint::Protocol;
using test_endpoint::TcpState;

qv::EndpointFilter filter_of(qv::FilterKind kind, std::initializer_list<const char*> values) {
  qv::EndpointFilter filter;
  for (const char* value : values) {
    EXPECT_EQ(qv::add_filter_value(filter, kind, value), std::nullopt) << value;
  }
  return filter;
}

// The state numbers a --state value stands for.
std::vector<std::uint32_t> states_of(const char* value) {
  const qv::EndpointFilter filter = filter_of(qv::FilterKind::state, {value});
  std::vector<std::uint32_t> states;
  for (std::uint32_t state = 0; state < filter.states.size(); ++state) {
    if (filter.states.test(state)) states.push_back(state);
  }
  return states;
}

TEST(CommandFilters, StateNamesOfTheListingAndOfSs) {
  const std::vector<std::pair<const char*, std::uint32_t>> names = {
      {"Closed", 1},       {"closed", 1},      {"close", 1},        {"Listening", 2},
      {"listen", 2},       {"LISTEN", 2},      {"SYN Sent", 3},     {"syn-sent", 3},
      {"SYN Recieved", 4}, {"syn-recv", 4},    {"syn received", 4}, {"Established", 5},
      {"established", 5},  {"ESTAB", 5},       {"FIN Wait 1", 6},   {"fin-wait-1", 6},
      {"fin-wait-2", 7},   {"close-wait", 8},  {"Close_Wait", 8},   {"closing", 9},
      {"last-ack", 10},    {"Last ACK", 10},   {"time-wait", 11},   {"TIME_WAIT", 11},
      {"timewait", 11},    {"Delete TCB", 12},
  };
  for (const auto& [name, state] : names) {
    EXPECT_EQ(states_of(name), std::vector<std::uint32_t>{state}) << name;
  }
  // The command prints the state as spelt; the meter keeps the spelling its users know.
  EXPECT_EQ(states_of("SYN Received"), std::vector<std::uint32_t>{4});
  EXPECT_EQ(qv::state_name(TcpState::synReceived), "SYN Received");
  EXPECT_EQ(qv::TcpStateName(4), "SYN Recieved");
  EXPECT_EQ(qv::state_name(TcpState::none), "");
  EXPECT_EQ(qv::state_name(static_cast<TcpState>(13)), "");
}

TEST(CommandFilters, SsStateGroups) {
  EXPECT_EQ(states_of("all"), (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(states_of("connected"), (std::vector<std::uint32_t>{3, 4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(states_of("synchronized"), (std::vector<std::uint32_t>{4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(states_of("bucket"), (std::vector<std::uint32_t>{4, 11}));
  EXPECT_EQ(states_of("big"), (std::vector<std::uint32_t>{1, 2, 3, 5, 6, 7, 8, 9, 10, 12}));
}

TEST(CommandFilters, BadValuesAreRefusedWithTheOptionNamed) {
  const std::vector<std::tuple<qv::FilterKind, const char*, const char*>> bad = {
      {qv::FilterKind::state, "", "--state"},
      {qv::FilterKind::state, "establishe", "--state"},
      {qv::FilterKind::state, "wait", "--state"},
      {qv::FilterKind::port, "", "--port"},
      {qv::FilterKind::port, "65536", "--port"},
      {qv::FilterKind::port, "-1", "--port"},
      {qv::FilterKind::port, "+80", "--port"},
      {qv::FilterKind::port, " 80", "--port"},
      {qv::FilterKind::port, "8o", "--port"},
      {qv::FilterKind::port, "::80", "--port"},
      {qv::FilterKind::port, "1023-1", "--port"},
      {qv::FilterKind::port, "1-", "--port"},
      {qv::FilterKind::port, "80-x", "--port"},
      {qv::FilterKind::port, "no-such-service", "--port"},
      {qv::FilterKind::address, "10.0.0.0/33", "--address"},
      {qv::FilterKind::address, "::/129", "--address"},
      {qv::FilterKind::address, "10.0.0.1/", "--address"},
      {qv::FilterKind::address, "10.0.0.0/8/8", "--address"},
      {qv::FilterKind::localAddress, "localhost", "--local"},
      {qv::FilterKind::remoteAddress, "", "--remote"},
      {qv::FilterKind::remoteAddress, "10.0.0.0/-1", "--remote"},
      {qv::FilterKind::pid, "4294967296", "--pid"},
      {qv::FilterKind::pid, "12x", "--pid"},
      {qv::FilterKind::program, "", "--program"},
      {qv::FilterKind::container, "", "--container"},
      {qv::FilterKind::unit, "", "--unit"},
      {qv::FilterKind::user, "", "--user"},
      {qv::FilterKind::user, "nosuchuser", "--user"},
      {qv::FilterKind::user, "12x", "--user"},
      {qv::FilterKind::user, "4294967296", "--user"},
  };
  for (const auto& [kind, value, option] : bad) {
    qv::EndpointFilter filter;
    const std::optional<std::string> reason = qv::add_filter_value(filter, kind, value);
    ASSERT_TRUE(reason.has_value()) << value;
    EXPECT_TRUE(reason->starts_with(option)) << *reason;
    EXPECT_EQ(reason->find('\n'), std::string::npos) << *reason;
    EXPECT_TRUE(qv::filter_is_empty(filter)) << value;
  }
  EXPECT_EQ(filter_of(qv::FilterKind::port, {":8080", "0", "65535"}).ports,
            (std::vector<std::uint16_t>{8080, 0, 65535}));
  // A service name stands for its port, once however many protocols name it.
  EXPECT_EQ(filter_of(qv::FilterKind::port, {"https", ":ssh"}).ports,
            (std::vector<std::uint16_t>{443, 22}));
  const qv::EndpointFilter ranged = filter_of(qv::FilterKind::port, {"1-1023", ":7-7"});
  ASSERT_EQ(ranged.portRanges.size(), 2U);
  EXPECT_EQ(ranged.portRanges[0].last, 1023);
  EXPECT_TRUE(ranged.ports.empty());
}

TEST(CommandFilters, UdpSocketsAreInTheStatesSsGivesThem) {
  const qv::EndpointFilter closed = filter_of(qv::FilterKind::state, {"closed"});
  const qv::EndpointFilter established = filter_of(qv::FilterKind::state, {"established"});
  EXPECT_TRUE(qv::filter_matches(
      closed, endpoint({.local = {{}, 80}, .state = TcpState::closed, .pid = 1, .program = "a"})));
  EXPECT_FALSE(qv::filter_matches(
      closed,
      endpoint({.local = {{}, 80}, .state = static_cast<TcpState>(13), .pid = 1, .program = "a"})));
  // An unconnected UDP socket is closed, a connected one established.
  const qv::Endpoint unconnected =
      endpoint({.protocol = Protocol::udp, .local = {{}, 53}, .pid = 1, .program = "a"});
  const qv::Endpoint connected = endpoint({.protocol = Protocol::udp,
                                           .local = {{}, 40000},
                                           .remote = {{}, 53},
                                           .pid = 1,
                                           .program = "a"});
  EXPECT_TRUE(qv::filter_matches(closed, unconnected));
  EXPECT_FALSE(qv::filter_matches(established, unconnected));
  EXPECT_TRUE(qv::filter_matches(established, connected));
  EXPECT_FALSE(qv::filter_matches(closed, connected));
  for (const char* group : {"all", "connected"}) {
    const qv::EndpointFilter filter = filter_of(qv::FilterKind::state, {group});
    EXPECT_EQ(qv::filter_matches(filter, unconnected), group == std::string("all")) << group;
    EXPECT_TRUE(qv::filter_matches(filter, connected)) << group;
  }
  EXPECT_FALSE(qv::filter_matches(filter_of(qv::FilterKind::state, {"listening"}), unconnected));
}

TEST(CommandFilters, AnyHolderAndEitherNameOfTheProgram) {
  qv::Endpoint shared =
      endpoint({.local = {{}, 80}, .state = TcpState::listen, .pid = 10, .program = "python3.11"});
  shared.socket.owningPids = {10, 11, 12};
  shared.processName = "python3";
  for (const char* pid : {"10", "12"}) {
    EXPECT_TRUE(qv::filter_matches(filter_of(qv::FilterKind::pid, {pid}), shared)) << pid;
  }
  EXPECT_FALSE(qv::filter_matches(filter_of(qv::FilterKind::pid, {"13"}), shared));
  EXPECT_FALSE(qv::filter_matches(filter_of(qv::FilterKind::pid, {"0"}), shared));
  EXPECT_TRUE(qv::filter_matches(filter_of(qv::FilterKind::program, {"python3"}), shared));
  EXPECT_TRUE(qv::filter_matches(filter_of(qv::FilterKind::program, {"python3.11"}), shared));
  EXPECT_FALSE(qv::filter_matches(filter_of(qv::FilterKind::program, {"python"}), shared));
}

TEST(CommandFilters, RepeatsMatchAnyKindsMatchAll) {
  const std::vector<qv::Endpoint> endpoints = {
      endpoint({.local = {{}, 80},
                .state = TcpState::listen,
                .pid = 10,
                .program = "httpd"}),  // 0 listener
      endpoint({.local = {{}, 80},
                .remote = {{}, 40000},
                .state = TcpState::established,
                .pid = 10,
                .program = "httpd"}),  // 1 served connection
      endpoint({.local = {{}, 40000},
                .remote = {{}, 80},
                .state = TcpState::established,
                .pid = 20,
                .program = "curl"}),  // 2 its client
      endpoint({.local = {{}, 41000},
                .remote = {{}, 443},
                .state = TcpState::timeWait}),  // 3 no owner any more
      endpoint(
          {.protocol = Protocol::udp, .local = {{}, 53}, .pid = 30, .program = "dnsmasq"}),  // 4
      endpoint({.local = {{}, 22},
                .remote = {{}, 50000},
                .state = TcpState::established,
                .pid = 40,
                .program = "sshd"}),  // 5
      endpoint({.local = {{}, 50000},
                .remote = {{}, 22},
                .state = TcpState::established,
                .pid = 41,
                .program = "ssh"}),  // 6
  };
  const auto kept = [&](const qv::EndpointFilter& filter) {
    std::vector<std::size_t> indexes;
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
      if (qv::filter_matches(filter, endpoints[i])) indexes.push_back(i);
    }
    return indexes;
  };
  using Kept = std::vector<std::size_t>;
  EXPECT_EQ(kept({}), (Kept{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(kept(filter_of(qv::FilterKind::port, {"80"})), (Kept{0, 1, 2}));
  EXPECT_EQ(kept(filter_of(qv::FilterKind::port, {"80", "53", "22"})), (Kept{0, 1, 2, 4, 5, 6}));
  EXPECT_EQ(kept(filter_of(qv::FilterKind::state, {"established", "time-wait"})),
            (Kept{1, 2, 3, 5, 6}));
  EXPECT_EQ(kept(filter_of(qv::FilterKind::pid, {"10", "30"})), (Kept{0, 1, 4}));
  EXPECT_EQ(kept(filter_of(qv::FilterKind::pid, {"0"})), (Kept{3}));
  // The exact file name: neither a prefix nor another case.
  EXPECT_EQ(kept(filter_of(qv::FilterKind::program, {"ssh"})), (Kept{6}));
  EXPECT_EQ(kept(filter_of(qv::FilterKind::program, {"HTTPD", "http"})), (Kept{}));

  qv::EndpointFilter both = filter_of(qv::FilterKind::port, {"80", "22"});
  ASSERT_EQ(qv::add_filter_value(both, qv::FilterKind::state, "established"), std::nullopt);
  EXPECT_EQ(kept(both), (Kept{1, 2, 5, 6}));
  ASSERT_EQ(qv::add_filter_value(both, qv::FilterKind::program, "httpd"), std::nullopt);
  ASSERT_EQ(qv::add_filter_value(both, qv::FilterKind::program, "ssh"), std::nullopt);
  EXPECT_EQ(kept(both), (Kept{1, 6}));
  ASSERT_EQ(qv::add_filter_value(both, qv::FilterKind::pid, "41"), std::nullopt);
  EXPECT_EQ(kept(both), (Kept{6}));

  // Ranges and names; a range holds an unconnected socket's remote port 0 no more than ss does.
  EXPECT_EQ(kept(filter_of(qv::FilterKind::port, {"1-1023"})), (Kept{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(kept(filter_of(qv::FilterKind::port, {"20-60"})), (Kept{4, 5, 6}));
  EXPECT_EQ(kept(filter_of(qv::FilterKind::port, {"0-21"})), (Kept{}));
  EXPECT_EQ(kept(filter_of(qv::FilterKind::port, {"ssh", "domain"})), (Kept{4, 5, 6}));
  // Refused values leave out what they match, whichever end; the wanted ones still must match.
  const auto refusing = [](qv::FilterKind kind, const char* value, qv::EndpointFilter filter) {
    EXPECT_EQ(qv::add_filter_value(filter.refused, kind, value), std::nullopt) << value;
    EXPECT_FALSE(qv::filter_is_empty(filter));
    return filter;
  };
  EXPECT_EQ(kept(refusing(qv::FilterKind::port, "22", {})), (Kept{0, 1, 2, 3, 4}));
  EXPECT_EQ(kept(refusing(qv::FilterKind::port, "22", filter_of(qv::FilterKind::port, {"20-60"}))),
            (Kept{4}));
  EXPECT_EQ(kept(refusing(qv::FilterKind::state, "established", {})), (Kept{0, 3, 4}));
  EXPECT_EQ(kept(refusing(qv::FilterKind::pid, "0", {})), (Kept{0, 1, 2, 4, 5, 6}));
  EXPECT_EQ(
      kept(refusing(qv::FilterKind::program, "httpd", filter_of(qv::FilterKind::port, {"80"}))),
      (Kept{2}));

  const Kept filtered = kept(filter_of(qv::FilterKind::port, {"80"}));
  ASSERT_EQ(filtered.size(), 3U);
  EXPECT_EQ(endpoints[filtered[2]].program, "curl");
}

TEST(CommandFilters, AddressesOfEitherEndOrOneInRangesOfBothFamilies) {
  using test_address::v4;
  using test_address::v6;
  const std::vector<qv::Endpoint> endpoints = {
      endpoint({.local = {v4(127, 0, 0, 1), 80},
                .remote = {v4(10, 1, 2, 3), 5000},
                .state = TcpState::established}),  // 0
      endpoint({.family = os::kFamilyIpv6,
                .local = {v6("::1"), 22},
                .remote = {v6("fe80::1"), 5000},
                .state = TcpState::established}),  // 1
      endpoint({.family = os::kFamilyIpv6,
                .local = {v6("::ffff:127.0.0.2"), 8080},
                .remote = {v6("::ffff:192.168.1.5"), 6000},
                .state = TcpState::established}),  // 2 an IPv4 peer of a dual-stack socket
      endpoint({.protocol = Protocol::udp, .local = {v4(0, 0, 0, 0), 53}}),  // 3
  };
  using Kept = std::vector<std::size_t>;
  const auto kept = [&](qv::FilterKind kind, const char* value, bool refused = false) {
    qv::EndpointFilter filter;
    EXPECT_EQ(qv::add_filter_value(refused ? filter.refused : filter, kind, value), std::nullopt)
        << value;
    Kept indexes;
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
      if (qv::filter_matches(filter, endpoints[i])) indexes.push_back(i);
    }
    return indexes;
  };
  using enum qv::FilterKind;
  EXPECT_EQ(kept(address, "127.0.0.0/8"), (Kept{0, 2}));
  EXPECT_EQ(kept(address, "127.0.0.1"), (Kept{0}));
  EXPECT_EQ(kept(address, "10.1.2.0/23"), (Kept{0}));  // a prefix that ends inside a byte
  EXPECT_EQ(kept(address, "10.1.4.0/23"), (Kept{}));
  EXPECT_EQ(kept(address, "0.0.0.0/0"), (Kept{0, 2, 3}));
  EXPECT_EQ(kept(address, "192.168.1.0/24"), (Kept{2}));
  EXPECT_EQ(kept(address, "::1"), (Kept{1}));
  EXPECT_EQ(kept(address, "fe80::/10"), (Kept{1}));
  EXPECT_EQ(kept(localAddress, "10.0.0.0/8"), (Kept{}));
  EXPECT_EQ(kept(remoteAddress, "10.0.0.0/8"), (Kept{0}));
  EXPECT_EQ(kept(localAddress, "127.0.0.0/8"), (Kept{0, 2}));
  EXPECT_EQ(kept(remoteAddress, "fe80::/10"), (Kept{1}));
  EXPECT_EQ(kept(address, "127.0.0.0/8", true), (Kept{1, 3}));
  EXPECT_EQ(kept(remoteAddress, "::/0", true), (Kept{0, 3}));
}

TEST(CommandFilters, ContainerUnitAndUserKeepExactlyWhatTheyName) {
  fake::reset();
  fake::machine().users = {{33, "www-data"}, {1000, "2024"}};  // a user may be named in digits
  const std::string id = "3f4e5d6c7b8a99887766554433221100ffeeddccbbaa00112233445566778899";
  std::vector<qv::Endpoint> endpoints(5);
  endpoints[0].place = {"docker-" + id + ".scope", id, "docker", ""};
  endpoints[0].containerName = "web";
  endpoints[0].socket.ownerUid = 33;
  endpoints[1].place = {"nginx.service", "", "", ""};
  endpoints[1].socket.ownerUid = 1000;
  endpoints[2].place = {"nginx-debug.service", "", "", ""};
  endpoints[2].socket.ownerUid = 2024;
  endpoints[3].place = {"", "web01", "lxc", ""};
  endpoints[3].containerName = "web01";
  // [4]: nothing known of its owner, which no owner filter keeps.
  const auto kept = [&](qv::FilterKind kind, std::initializer_list<const char*> values) {
    const qv::EndpointFilter filter = filter_of(kind, values);
    EXPECT_TRUE(qv::filter_needs_owners(filter));
    std::vector<std::size_t> indexes;
    for (std::size_t i = 0; i < endpoints.size(); ++i) {
      if (qv::filter_matches(filter, endpoints[i])) indexes.push_back(i);
    }
    return indexes;
  };
  using Kept = std::vector<std::size_t>;
  // By name, whole id or the start of it, as docker takes them; a name is never a prefix.
  for (const std::string& value : {std::string("web"), id, id.substr(0, 12), std::string("3f4")}) {
    EXPECT_EQ(kept(qv::FilterKind::container, {value.c_str()}), Kept{0}) << value;
  }
  EXPECT_EQ(kept(qv::FilterKind::container, {"web0"}), Kept{});
  EXPECT_EQ(kept(qv::FilterKind::container, {"web01", "3f4e"}), (Kept{0, 3}));
  // The unit by its name, a service also without ".service"; never by a part of it.
  EXPECT_EQ(kept(qv::FilterKind::unit, {"nginx"}), Kept{1});
  EXPECT_EQ(kept(qv::FilterKind::unit, {"nginx.service", "nginx-debug.service"}), (Kept{1, 2}));
  EXPECT_EQ(kept(qv::FilterKind::unit, {"ngin", "docker"}), Kept{});
  EXPECT_EQ(kept(qv::FilterKind::unit, {("docker-" + id + ".scope").c_str()}), Kept{0});
  // The user by name first (the user named "2024" is uid 1000), else by uid.
  EXPECT_EQ(kept(qv::FilterKind::user, {"www-data"}), Kept{0});
  EXPECT_EQ(kept(qv::FilterKind::user, {"2024"}), Kept{1});
  EXPECT_EQ(kept(qv::FilterKind::user, {"33", "0"}), Kept{0});
}

}  // namespace
