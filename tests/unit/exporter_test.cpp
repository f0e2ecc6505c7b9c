// The exporter above its HTTP server: the exposition of a snapshot in both formats, the counting
// of connections across refreshes, the format a scraper's Accept header gets, and the answers to
// paths and methods.
#include "command/exporter.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "endpoint_builder.hpp"

namespace {

using os::Protocol;
using os::TcpState;
using qv::ExpositionFormat;
using test_endpoint::endpoint;

const auto kLoopback = test_address::v4(127, 0, 0, 1);

qv::Endpoint tcp(std::uint16_t localPort, std::uint16_t remotePort,
                 TcpState state = TcpState::established, std::string program = "") {
  qv::Endpoint e = test_endpoint::loopback_tcp(localPort, remotePort, state);
  e.program = std::move(program);
  return e;
}

qv::Endpoint listener(std::uint16_t port, std::string program) {
  return endpoint(
      {.local = {kLoopback, port}, .state = TcpState::listen, .program = std::move(program)});
}

bool has_line(const std::string& text, const std::string& line) {
  return text.starts_with(line + "\n") || text.find("\n" + line + "\n") != std::string::npos;
}

TEST(ExporterExposition, BoundedLabelsInBothFormats) {
  qv::ExporterSnapshot snapshot;
  snapshot.endpoints = {
      listener(443, "nginx"),
      listener(443, "nginx"),  // SO_REUSEPORT: one series, not a duplicate
      tcp(443, 51000, TcpState::established, "nginx"),
      tcp(443, 51001, TcpState::established, "nginx"),
      tcp(51002, 5432, TcpState::closeWait, "odd\"\\\nname\xff"),
      tcp(51003, 443, TcpState::timeWait),
      // A dual-stack UDP socket on the wildcard address.
      endpoint({.protocol = Protocol::udp,
                .family = os::kFamilyIpv6,
                .local = {{}, 53},
                .program = "dnsmasq"}),
  };
  snapshot.connectionsBySeries[{.program = "nginx"}] = {7, 5, 300, 1200};
  snapshot.connectionsBySeries[{.program = "idle"}] = {1,
                                                       0};  // no counters seen: no traffic series
  snapshot.refreshSeconds = 0.25;

  const std::string om = qv::exposition_text(snapshot, "1.2", ExpositionFormat::openMetrics);
  for (
      const char* line : {
          R"(quorvane_endpoints{protocol="tcp",family="ipv4",state="listen"} 2)",
          R"(quorvane_endpoints{protocol="tcp",family="ipv4",state="established"} 2)",
          R"(quorvane_endpoints{protocol="udp",family="ipv6",state="none"} 1)",
          R"(quorvane_listening{protocol="tcp",family="ipv4",address="127.0.0.1",port="443",program="nginx"} 1)",
          R"(quorvane_listening{protocol="udp",family="ipv6",address="*",port="53",program="dnsmasq"} 1)",
          R"(quorvane_connections{program="nginx",state="established"} 2)",
          // Escaped as the formats say, and a byte that is not UTF-8 replaced.
          "quorvane_connections{program=\"odd\\\"\\\\\\nname\xEF\xBF\xBD\",state=\"close-wait\"} 1",
          R"(quorvane_connections{program="",state="time-wait"} 1)",
          "# TYPE quorvane_connections_opened counter",
          R"(quorvane_connections_opened_total{program="nginx"} 7)",
          R"(quorvane_connections_closed_total{program="nginx"} 5)",
          "# TYPE quorvane_traffic_bytes counter",
          R"(quorvane_traffic_bytes_total{program="nginx",direction="in"} 1200)",
          R"(quorvane_traffic_bytes_total{program="nginx",direction="out"} 300)",
          "# UNIT quorvane_scrape_duration_seconds seconds",
          "quorvane_scrape_duration_seconds 0.25",
          "# TYPE quorvane_build info",
          R"(quorvane_build_info{version="1.2"} 1)",
      }) {
    EXPECT_TRUE(has_line(om, line)) << line << "\nin:\n" << om;
  }
  EXPECT_EQ(om.find("quorvane_listening{protocol=\"tcp\",family=\"ipv4\",address=\"127.0.0.1\""),
            om.rfind("quorvane_listening{protocol=\"tcp\",family=\"ipv4\",address=\"127.0.0.1\""));
  EXPECT_TRUE(om.ends_with("\n# EOF\n"));
  // Remote ports and ephemeral local ports never become labels.
  for (const char* unbounded : {"51000", "51001", "51002", "51003", "5432"}) {
    EXPECT_EQ(om.find(unbounded), std::string::npos) << unbounded;
  }

  const std::string text = qv::exposition_text(snapshot, "1.2", ExpositionFormat::prometheusText);
  EXPECT_TRUE(has_line(text, "# TYPE quorvane_connections_opened_total counter")) << text;
  EXPECT_TRUE(has_line(text, "# TYPE quorvane_build_info gauge")) << text;
  EXPECT_EQ(text.find("# EOF"), std::string::npos);
  EXPECT_EQ(text.find("program=\"idle\",direction"), std::string::npos);
  EXPECT_EQ(text.find("# UNIT"), std::string::npos);
}

TEST(ExporterCounting, OpensAndClosesByTheProgramThatOpened) {
  const qv::CounterSeries web{.program = "web"};
  qv::ConnectionCounters counters;
  const std::vector<qv::Endpoint> first = {listener(80, "web"),
                                           tcp(80, 50000, TcpState::established, "web")};
  qv::count_connections(counters, {}, first);
  EXPECT_EQ(counters.bySeries[web].opened, 1U);  // open at the start: counted once

  // The connection's owner lets it go (TIME-WAIT), a short one comes and goes unseen, and a new
  // one opens; the listener is never a connection.
  const std::vector<qv::Endpoint> second = {listener(80, "web"), tcp(80, 50000, TcpState::timeWait),
                                            tcp(80, 50001, TcpState::established, "web")};
  qv::count_connections(counters, first, second);
  const std::vector<qv::Endpoint> third = {listener(80, "web")};
  qv::count_connections(counters, second, third);
  EXPECT_EQ(counters.bySeries[web].opened, 2U);
  EXPECT_EQ(counters.bySeries[web].closed, 2U);
  EXPECT_EQ(counters.bySeries.count({}), 0U);  // the time-wait end stayed web's

  // A program gone keeps its series.
  qv::count_connections(counters, third, {});
  EXPECT_EQ(counters.bySeries.size(), 1U);
  EXPECT_TRUE(counters.countedAs.empty());
  EXPECT_FALSE(counters.bySeries[web].bytesSent);  // no counters seen: none made up
}

// The byte totals only ever grow: each refresh adds what every connection moved since the one
// before, so a connection that closes takes nothing away, and one opened again on the same
// addresses counts from its own zero.
TEST(ExporterCounting, TrafficTotalsNeverGoBack) {
  const auto counted = [](std::uint16_t port, std::uint64_t sent, std::uint64_t received,
                          std::uint64_t identity) {
    qv::Endpoint e = tcp(port, 80, TcpState::established, "curl");
    e.socket.traffic = test_endpoint::traffic(sent, received);
    e.socket.identity = identity;
    return e;
  };
  const qv::CounterSeries curl{.program = "curl"};
  qv::ConnectionCounters counters;
  std::vector<qv::Endpoint> previous;
  std::vector<std::uint64_t> totals;
  for (const std::vector<qv::Endpoint>& current : {
           std::vector{counted(1, 100, 1000, 1)},
           std::vector{counted(1, 150, 3000, 1), counted(2, 10, 20, 2)},
           // 1 closed and opened again on the same addresses between the refreshes.
           std::vector{counted(2, 30, 20, 2), counted(1, 5, 7, 3)},
           std::vector{tcp(2, 80, TcpState::timeWait), counted(1, 5, 7, 3)},  // no counters
           std::vector{counted(1, 105, 7, 3)},
       }) {
    qv::count_connections(counters, previous, current);
    previous = current;
    totals.push_back(*counters.bySeries[curl].bytesSent);
    totals.push_back(*counters.bySeries[curl].bytesReceived);
  }
  EXPECT_EQ(totals,
            (std::vector<std::uint64_t>{100, 1000, 160, 3020, 185, 3027, 185, 3027, 285, 3027}));
}

// Across namespaces (-A, --netns) every family that describes endpoints says where they live,
// and the counters are kept per namespace, container and program: a program in two containers
// has two series, a connection's close lands where its open did, and a namespace that goes keeps
// its totals.
TEST(ExporterPlaces, SeriesByNamespaceAndContainer) {
  const auto placed = [](qv::Endpoint e, std::uint64_t inode, std::string netns,
                         std::string container, std::optional<std::string> name) {
    e.socket.netnsInode = inode;
    e.socket.netnsName = std::move(netns);
    e.place.container = std::move(container);
    e.containerName = std::move(name);
    return e;
  };
  const std::string id(64, 'c');
  // The same addresses in two namespaces are two connections.
  const auto web = [&](qv::Endpoint e) { return placed(std::move(e), 11, "blue", id, "web"); };
  const auto anonymous = [&](qv::Endpoint e) {
    return placed(std::move(e), 12, "", "ab\"12", std::nullopt);
  };
  const auto bare = [&](qv::Endpoint e) { return placed(std::move(e), 13, "red", "", ""); };
  qv::Endpoint sending = web(tcp(80, 50000, TcpState::established, "nginx"));
  sending.socket.traffic = test_endpoint::traffic(300, 1200);
  const std::vector<qv::Endpoint> first = {
      web(listener(80, "nginx")), sending,
      anonymous(tcp(80, 50000, TcpState::established, "nginx")),
      bare(tcp(50001, 80, TcpState::established, "curl"))};
  // The anonymous namespace's connection loses its owner, then goes with the red namespace.
  const std::vector<qv::Endpoint> second = {
      first[0], first[1], anonymous(tcp(80, 50000, TcpState::timeWait)), first[3]};
  const std::vector<qv::Endpoint> third = {first[0], first[1]};

  qv::ConnectionCounters counters;
  counters.byPlace = true;
  qv::ConnectionCounters merged;
  for (const auto& [previous, current] : {std::pair{std::vector<qv::Endpoint>{}, first},
                                          std::pair{first, second}, std::pair{second, third}}) {
    qv::count_connections(counters, previous, current);
    qv::count_connections(merged, previous, current);
  }
  const qv::CounterSeries inWeb{"blue", "web", "nginx"};
  const qv::CounterSeries inAnonymous{"net:[12]", "ab\\\"12", "nginx"};
  const qv::CounterSeries inRed{"red", "", "curl"};
  EXPECT_EQ(counters.bySeries.size(), 3U);
  EXPECT_EQ(counters.bySeries[inWeb].opened, 1U);
  EXPECT_EQ(counters.bySeries[inWeb].closed, 0U);
  EXPECT_EQ(counters.bySeries[inAnonymous].opened, 1U);
  EXPECT_EQ(counters.bySeries[inAnonymous].closed, 1U);
  EXPECT_EQ(counters.bySeries[inRed].closed, 1U);
  // Without places, the same refreshes count by program alone, as before.
  EXPECT_EQ(merged.bySeries.size(), 2U);
  EXPECT_EQ(merged.bySeries[{.program = "nginx"}].opened, 2U);

  qv::ExporterSnapshot snapshot{
      .endpoints = second, .connectionsBySeries = counters.bySeries, .byPlace = true};
  const std::string om = qv::exposition_text(snapshot, "1.2", ExpositionFormat::openMetrics);
  for (
      const char* line : {
          R"(quorvane_endpoints{netns="blue",container="web",protocol="tcp",family="ipv4",state="listen"} 1)",
          R"(quorvane_endpoints{netns="blue",container="web",protocol="tcp",family="ipv4",state="established"} 1)",
          R"(quorvane_endpoints{netns="net:[12]",container="ab\"12",protocol="tcp",family="ipv4",state="time-wait"} 1)",
          R"(quorvane_listening{netns="blue",container="web",protocol="tcp",family="ipv4",address="127.0.0.1",port="80",program="nginx"} 1)",
          R"(quorvane_connections{netns="red",container="",program="curl",state="established"} 1)",
          R"(quorvane_connections{netns="net:[12]",container="ab\"12",program="",state="time-wait"} 1)",
          R"(quorvane_connections_opened_total{netns="blue",container="web",program="nginx"} 1)",
          R"(quorvane_connections_closed_total{netns="net:[12]",container="ab\"12",program="nginx"} 1)",
          R"(quorvane_connections_closed_total{netns="red",container="",program="curl"} 1)",
          R"(quorvane_traffic_bytes_total{netns="blue",container="web",program="nginx",direction="in"} 1200)",
          "quorvane_scrape_duration_seconds 0",
          R"(quorvane_build_info{version="1.2"} 1)",
      }) {
    EXPECT_TRUE(has_line(om, line)) << line << "\nin:\n" << om;
  }
  // A container without a name from its runtime is labelled by its id.
  snapshot.endpoints = {placed(listener(53, "dns"), 14, "", id, std::nullopt)};
  EXPECT_NE(qv::exposition_text(snapshot, "1.2", ExpositionFormat::prometheusText)
                .find("quorvane_listening{netns=\"net:[14]\",container=\"" + id + "\","),
            std::string::npos);
}

TEST(ExporterNegotiation, AsTheClientLibrariesChoose) {
  // Prometheus's own scrape header, OpenMetrics first.
  EXPECT_EQ(qv::negotiate_exposition("application/openmetrics-text;version=1.0.0,application/"
                                     "openmetrics-text;version=0.0.1;q=0.75,text/plain;version="
                                     "0.0.4;q=0.5,*/*;q=0.1"),
            ExpositionFormat::openMetrics);
  EXPECT_EQ(qv::negotiate_exposition("text/plain;version=0.0.4;q=0.9, application/"
                                     "openmetrics-text; q=0.5"),
            ExpositionFormat::prometheusText);
  EXPECT_EQ(qv::negotiate_exposition("text/plain;q=0, Application/OpenMetrics-Text"),
            ExpositionFormat::openMetrics);
  // Nothing asked for, a browser, or an unknown version: the 0.0.4 text.
  for (const char* accept : {"", "*/*", "text/html,*/*;q=0.8",
                             "application/openmetrics-text;version=9.9.9", "text/plain;q=abc"}) {
    EXPECT_EQ(qv::negotiate_exposition(accept), ExpositionFormat::prometheusText) << accept;
  }
}

TEST(ExporterReplies, PathsAndMethods) {
  int asked = 0;
  const auto metrics = [&](ExpositionFormat format) {
    ++asked;
    return std::optional<std::string>(format == ExpositionFormat::openMetrics ? "om" : "text");
  };
  const qv::HttpReply scrape =
      qv::exporter_reply("GET", "/metrics", "application/openmetrics-text", metrics);
  EXPECT_EQ(scrape.status, 200U);
  EXPECT_EQ(scrape.contentType, "application/openmetrics-text; version=1.0.0; charset=utf-8");
  EXPECT_EQ(scrape.body, "om");
  EXPECT_EQ(qv::exporter_reply("HEAD", "/metrics", "", metrics).contentType,
            "text/plain; version=0.0.4; charset=utf-8");
  const qv::HttpReply index = qv::exporter_reply("GET", "/", "", metrics);
  EXPECT_NE(index.body.find("href=\"/metrics\""), std::string::npos);
  EXPECT_EQ(asked, 2);

  EXPECT_EQ(qv::exporter_reply("POST", "/metrics", "", metrics).status, 405U);
  EXPECT_EQ(qv::exporter_reply("DELETE", "/", "", metrics).status, 405U);
  for (const char* path : {"/../", "/metrics/", "/Metrics", "/metrics/../metrics", ""}) {
    EXPECT_EQ(qv::exporter_reply("GET", path, "", metrics).status, 404U) << path;
  }
  EXPECT_EQ(asked, 2);  // no refused request ever wrote the metrics
  // Before the socket tables could be read once.
  const qv::HttpReply early = qv::exporter_reply(
      "GET", "/metrics", "", [](ExpositionFormat) { return std::optional<std::string>(); });
  EXPECT_EQ(early.status, 503U);
  EXPECT_EQ(early.body.find("quorvane_"), std::string::npos);
}

}  // namespace
