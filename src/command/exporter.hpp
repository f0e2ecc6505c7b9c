// The exporter behind --serve: the endpoints of one refresh and the connection counters kept
// across refreshes, written in the text formats that Prometheus scrapes, and the answer to each
// HTTP request.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>
#include <vector>

#include "command/endpoints.hpp"

namespace qv {

// Where --serve listens: a numeric IPv4 or IPv6 address (without brackets) and a port.
struct ServeAddress {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;
};

// "PORT", "ADDRESS:PORT" or "[IPV6]:PORT"; the one-line reason when the text is none of them.
std::variant<ServeAddress, std::string> parse_serve_address(std::string_view text);

struct ConnectionCounts {
  std::uint64_t opened = 0;
  std::uint64_t closed = 0;
  // Bytes the series' connections moved while the exporter watched; nullopt while none of them
  // had counters.
  std::optional<std::uint64_t> bytesSent = std::nullopt;
  std::optional<std::uint64_t> bytesReceived = std::nullopt;
};

// The labels one series of connection counters is kept under, escaped as the exposition writes
// them: where the connection lives (its namespace and container, both empty unless the series are
// told apart by place) and its owner's program.
struct CounterSeries {
  std::string netns{};
  std::string container{};
  std::string program{};

  friend bool operator<(const CounterSeries& a, const CounterSeries& b) {
    return std::tie(a.netns, a.container, a.program) < std::tie(b.netns, b.container, b.program);
  }
};

// TCP connections (every TCP endpoint but listeners) seen opening and closing over the
// exporter's life, and the bytes they moved, by series. A series once counted keeps its counters,
// so that the series never vanish: a program that exits, or a container whose namespace is gone,
// keeps its last totals rather than have them fall back to zero should it come again.
struct ConnectionCounters {
  // Set before the first count (-A, --netns): the series are told apart by namespace and
  // container too, so that a program in two containers has two.
  bool byPlace = false;
  std::map<CounterSeries, ConnectionCounts> bySeries;
  // For each endpoint of the latest refresh, the series its connection is counted under: the
  // owner it had when first seen, so that its close lands where its open did even after the owner
  // let it go (a connection in TIME-WAIT has none). Empty for listeners and UDP sockets.
  std::vector<CounterSeries> countedAs;
};

// Counts the connections that appeared and vanished from previous to current (the endpoints of
// two refreshes, matched as --watch matches them), and adds each connection's increase of its
// byte counters since previous (all of them for one not seen before), so that the totals never go
// back as connections close. The first refresh, against none, counts every connection open then
// as opened, so that opened minus closed is what is open now.
void count_connections(ConnectionCounters& counters, std::span<const Endpoint> previous,
                       std::span<const Endpoint> current);

// One refresh as the exporter shows it until the next: every scrape between the two answers from
// the same endpoints and counters.
struct ExporterSnapshot {
  std::vector<Endpoint> endpoints;
  std::map<CounterSeries, ConnectionCounts> connectionsBySeries;
  // Every family that describes endpoints carries netns and container labels (-A, --netns).
  bool byPlace = false;
  double refreshSeconds = 0;  // how long collecting the endpoints took
};

enum class ExpositionFormat { openMetrics, prometheusText };

// The format a scraper's Accept header asks for, as Prometheus's client libraries choose it: the
// most preferred of OpenMetrics 1.0.0 and the 0.0.4 text format, the latter when it names neither.
ExpositionFormat negotiate_exposition(std::string_view accept);

std::string_view exposition_content_type(ExpositionFormat format);

// The metrics of a snapshot in the format. Labels are bounded by the machine's services,
// namespaces and containers: never a remote address or port, an ephemeral port or a pid.
std::string exposition_text(const ExporterSnapshot& snapshot, std::string_view version,
                            ExpositionFormat format);

struct HttpReply {
  unsigned status = 200;
  std::string contentType;
  std::string body;
};

// The exporter's answer to one request: /metrics from the snapshot, / a page linking to it,
// 404 for any other path and 405 for a method other than GET and HEAD. metrics is only asked
// when the metrics are, and answers nullopt while there are none (503).
HttpReply exporter_reply(
    std::string_view method, std::string_view path, std::string_view accept,
    const std::function<std::optional<std::string>(ExpositionFormat)>& metrics);

}  // namespace qv
