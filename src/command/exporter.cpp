// The exporter's metrics and its answers to HTTP requests, above any HTTP server.
#include "command/exporter.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <tuple>
#include <utility>

#include "command/endpoint_text.hpp"
#include "command/watch_diff.hpp"
#include "common/utf8.hpp"

namespace qv {

namespace {

using os::Protocol;
using os::TcpState;

bool is_listener(const os::SocketRow& socket) {
  return socket.protocol == Protocol::tcp ? socket.tcpState == TcpState::listen
                                          : !has_remote(socket);
}

bool is_connection(const os::SocketRow& socket) {
  return socket.protocol == Protocol::tcp && socket.tcpState != TcpState::listen;
}

// TCP states as ss names them in its filters, by state number; "none" for UDP.
std::string_view state_label(const os::SocketRow& socket) {
  static constexpr std::array<std::string_view, os::kTcpStateCount> kNames = {
      "none",       "closed",     "listen",  "syn-sent", "syn-recv",  "established", "fin-wait-1",
      "fin-wait-2", "close-wait", "closing", "last-ack", "time-wait", "delete-tcb"};
  if (socket.protocol != Protocol::tcp) return "none";
  const std::size_t index = os::state_index(socket.tcpState);
  return index < kNames.size() ? kNames[index] : "unknown";
}

std::string_view protocol_label(const os::SocketRow& socket) {
  return socket.protocol == Protocol::tcp ? "tcp" : "udp";
}

std::string_view family_label(const os::SocketRow& socket) {
  return socket.family == os::kFamilyIpv6 ? "ipv6" : "ipv4";
}

// A label value as the formats take it: UTF-8, with backslash, quote and newline escaped. A byte
// that is not part of valid UTF-8 becomes U+FFFD, so that a program's odd name still scrapes.
std::string label_value(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const Utf8Char read = read_utf8(bytes.substr(i));
    const std::size_t length = read.length;
    if (!read.valid) {
      out += "\xEF\xBF\xBD";
      i += length;
      continue;
    }
    const char c = bytes[i];
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out.append(bytes.substr(i, length));
    }
    i += length;
  }
  return out;
}

// The series an endpoint is counted and shown under. Its namespace is written as the listing of
// several namespaces writes one without a container (its name, else "net:[INODE]"), and its
// container by name where the runtime gave one, else by id.
CounterSeries counter_series(const Endpoint& endpoint, bool byPlace) {
  if (!byPlace) return {.program = label_value(endpoint.program)};
  return {
      .netns = label_value(place_text({}, endpoint.socket.netnsName, endpoint.socket.netnsInode)),
      .container = label_value(endpoint.containerName.value_or(endpoint.place.container)),
      .program = label_value(endpoint.program)};
}

// Writes one metric family: its comments, then each sample from the rows. Keys are label
// values already escaped, in the order of names; the map keeps the samples sorted, and labels
// that came out alike (two names alike after escaping) are one series.
class FamilyWriter {
 public:
  // Without places, the families that describe endpoints leave out their first two labels, netns
  // and container, whose values are then empty.
  FamilyWriter(std::string& out, ExpositionFormat format, bool byPlace)
      : out_(out), format_(format), placeLabels_(byPlace ? 0 : 2) {}

  // type: gauge, counter or info; a counter's and an info's samples carry the suffix that the
  // OpenMetrics family name leaves off.
  void header(std::string_view name, std::string_view type, std::string_view help) {
    const bool openMetrics = format_ == ExpositionFormat::openMetrics;
    const std::string_view suffix = type == "counter" ? "_total" : type == "info" ? "_info" : "";
    std::string familyName(name);
    if (!openMetrics) familyName += suffix;
    out_ += "# HELP " + familyName + ' ' + std::string(help) + '\n';
    // The 0.0.4 format knows no info type: there it is a gauge that is always 1.
    const std::string_view written = !openMetrics && type == "info" ? "gauge" : type;
    out_ += "# TYPE " + familyName + ' ' + std::string(written) + '\n';
    if (openMetrics && name.ends_with("_seconds")) out_ += "# UNIT " + familyName + " seconds\n";
    sampleName_ = std::string(name) + std::string(suffix);
  }

  template <std::size_t N>
  void samples(const std::array<std::string_view, N>& names,
               const std::map<std::array<std::string, N>, std::string>& rows) {
    write(names, rows, 0);
  }

  // A family that describes endpoints: names starts with netns and container.
  template <std::size_t N>
  void placed_samples(const std::array<std::string_view, N>& names,
                      const std::map<std::array<std::string, N>, std::string>& rows) {
    write(names, rows, placeLabels_);
  }

 private:
  template <std::size_t N>
  void write(const std::array<std::string_view, N>& names,
             const std::map<std::array<std::string, N>, std::string>& rows, std::size_t first) {
    for (const auto& [labels, value] : rows) {
      out_ += sampleName_;
      for (std::size_t i = first; i < N; ++i) {
        out_ += i == first ? '{' : ',';
        out_ += std::string(names[i]) + "=\"" + labels[i] + '"';
      }
      if (N > first) out_ += '}';
      out_ += ' ' + value + '\n';
    }
  }

  std::string& out_;
  ExpositionFormat format_;
  std::size_t placeLabels_;
  std::string sampleName_;
};

template <std::size_t N>
using Rows = std::map<std::array<std::string, N>, std::string>;

template <std::size_t N>
using Counts = std::map<std::array<std::string, N>, std::uint64_t>;

template <std::size_t N>
Rows<N> as_rows(const Counts<N>& counts) {
  Rows<N> rows;
  for (const auto& [labels, count] : counts) rows.emplace(labels, std::to_string(count));
  return rows;
}

// What a connection's counter grew by since before (nullopt: not seen before, so all of it).
std::uint64_t increase(const std::optional<std::uint64_t>& before,
                       const std::optional<std::uint64_t>& now) {
  if (!now) return 0;
  return before && *before <= *now ? *now - *before : *now;
}

void add_traffic(ConnectionCounts& counts, const os::TcpTraffic* before,
                 const os::TcpTraffic& now) {
  counts.bytesSent = counts.bytesSent.value_or(0) +
                     increase(before ? before->bytesSent : std::nullopt, now.bytesSent);
  counts.bytesReceived = counts.bytesReceived.value_or(0) +
                         increase(before ? before->bytesReceived : std::nullopt, now.bytesReceived);
}

std::string seconds_text(double seconds) {
  std::array<char, 32> buffer{};
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), seconds);
  return error == std::errc() ? std::string(buffer.data(), end) : "NaN";
}

// Media type, its parameters' version, and q, of one element of an Accept header.
struct MediaRange {
  std::string type;
  std::string version;
  double quality = 1;
};

std::string trimmed_lower(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  const auto last = text.find_last_not_of(" \t");
  std::string out(first == std::string_view::npos ? "" : text.substr(first, last - first + 1));
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

MediaRange media_range(std::string_view element) {
  MediaRange range;
  std::size_t semicolon = element.find(';');
  range.type = trimmed_lower(element.substr(0, semicolon));
  while (semicolon != std::string_view::npos) {
    element.remove_prefix(semicolon + 1);
    semicolon = element.find(';');
    const std::string_view parameter = element.substr(0, semicolon);
    const std::size_t equals = parameter.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string name = trimmed_lower(parameter.substr(0, equals));
    const std::string value = trimmed_lower(parameter.substr(equals + 1));
    if (name == "version") range.version = value;
    if (name == "q") {
      double quality = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), quality);
      range.quality = error == std::errc() && end == value.data() + value.size() ? quality : 0;
    }
  }
  return range;
}

constexpr char kIndexPage[] =
    "<!DOCTYPE html>\n<html><head><title>quorvane exporter</title></head>\n"
    "<body><h1>quorvane exporter</h1>\n<p><a href=\"/metrics\">Metrics</a></p></body></html>\n";

}  // namespace

std::variant<ServeAddress, std::string> parse_serve_address(std::string_view text) {
  const std::string quoted = "'" + std::string(text) + "'";
  ServeAddress address;
  std::string_view port = text;
  if (text.starts_with('[')) {
    const std::size_t close = text.find("]:");
    if (close == std::string_view::npos) {
      return "--serve needs [IPV6]:PORT with brackets, not " + quoted;
    }
    address.host = std::string(text.substr(1, close - 1));
    port = text.substr(close + 2);
  } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    address.host = std::string(text.substr(0, colon));
    port = text.substr(colon + 1);
    if (address.host.find(':') != std::string::npos) {
      return "--serve writes an IPv6 address in brackets ([::1]:PORT), not " + quoted;
    }
  }
  unsigned number = 0;
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (address.host.empty() || port.empty() || error != std::errc() ||
      end != port.data() + port.size() || number < 1 || number > 65535) {
    return "--serve needs [ADDRESS:]PORT with a port from 1 to 65535, not " + quoted;
  }
  address.port = static_cast<std::uint16_t>(number);
  return address;
}

void count_connections(ConnectionCounters& counters, std::span<const Endpoint> previous,
                       std::span<const Endpoint> current) {
  const WatchDiff diff = diff_endpoints(previous, current);
  std::vector<CounterSeries> countedAs(current.size());
  for (std::size_t i = 0; i < current.size(); ++i) {
    if (!is_connection(current[i].socket)) continue;
    const auto before = diff.previousIndex[i];
    // A listener does not become a connection, but an endpoint counted before stays counted.
    const bool counted =
        before && *before < counters.countedAs.size() && is_connection(previous[*before].socket);
    if (counted) {
      countedAs[i] = std::move(counters.countedAs[*before]);
    } else {
      countedAs[i] = counter_series(current[i], counters.byPlace);
      ++counters.bySeries[countedAs[i]].opened;
    }
    const os::SocketRow& socket = current[i].socket;
    if (!socket.traffic) continue;
    // A connection opened again on the same addresses has counters of its own, from zero.
    const os::SocketRow* seen = counted && same_socket(previous[*before].socket, socket)
                                    ? &previous[*before].socket
                                    : nullptr;
    add_traffic(counters.bySeries[countedAs[i]], seen && seen->traffic ? &*seen->traffic : nullptr,
                *socket.traffic);
  }
  for (const std::size_t gone : diff.vanished) {
    if (gone < counters.countedAs.size() && is_connection(previous[gone].socket)) {
      ++counters.bySeries[counters.countedAs[gone]].closed;
    }
  }
  counters.countedAs = std::move(countedAs);
}

ExpositionFormat negotiate_exposition(std::string_view accept) {
  std::vector<MediaRange> ranges;
  for (std::size_t start = 0; start <= accept.size();) {
    const std::size_t comma = std::min(accept.find(',', start), accept.size());
    ranges.push_back(media_range(accept.substr(start, comma - start)));
    start = comma + 1;
  }
  std::stable_sort(ranges.begin(), ranges.end(),
                   [](const MediaRange& a, const MediaRange& b) { return a.quality > b.quality; });
  for (const MediaRange& range : ranges) {
    if (range.quality <= 0) break;
    if (range.type == "application/openmetrics-text" &&
        (range.version.empty() || range.version == "1.0.0")) {
      return ExpositionFormat::openMetrics;
    }
    if (range.type == "text/plain" && (range.version.empty() || range.version == "0.0.4")) {
      return ExpositionFormat::prometheusText;
    }
  }
  return ExpositionFormat::prometheusText;
}

std::string_view exposition_content_type(ExpositionFormat format) {
  return format == ExpositionFormat::openMetrics
             ? "application/openmetrics-text; version=1.0.0; charset=utf-8"
             : "text/plain; version=0.0.4; charset=utf-8";
}

std::string exposition_text(const ExporterSnapshot& snapshot, std::string_view version,
                            ExpositionFormat format) {
  Counts<5> endpoints;
  Rows<7> listening;
  Counts<4> connections;
  for (const Endpoint& endpoint : snapshot.endpoints) {
    const os::SocketRow& socket = endpoint.socket;
    const std::string protocol(protocol_label(socket));
    const std::string family(family_label(socket));
    const std::string state(state_label(socket));
    auto [netns, container, program] = counter_series(endpoint, snapshot.byPlace);
    ++endpoints[{netns, container, protocol, family, state}];
    if (is_listener(socket)) {
      listening[{netns, container, protocol, family,
                 endpoint_address_text(socket, socket.local.address),
                 std::to_string(socket.local.port), program}] = "1";
    }
    if (is_connection(socket)) {
      ++connections[{std::move(netns), std::move(container), std::move(program), state}];
    }
  }
  Rows<3> opened;
  Rows<3> closed;
  Rows<4> traffic;
  for (const auto& [series, counts] : snapshot.connectionsBySeries) {
    const auto& [netns, container, program] = series;
    opened.emplace(std::array{netns, container, program}, std::to_string(counts.opened));
    closed.emplace(std::array{netns, container, program}, std::to_string(counts.closed));
    if (counts.bytesReceived) {
      traffic.emplace(std::array{netns, container, program, std::string("in")},
                      std::to_string(*counts.bytesReceived));
    }
    if (counts.bytesSent) {
      traffic.emplace(std::array{netns, container, program, std::string("out")},
                      std::to_string(*counts.bytesSent));
    }
  }

  std::string out;
  FamilyWriter family(out, format, snapshot.byPlace);
  family.header("quorvane_endpoints", "gauge", "Endpoints by protocol, address family and state.");
  family.placed_samples<5>({"netns", "container", "protocol", "family", "state"},
                           as_rows(endpoints));
  family.header("quorvane_listening", "gauge",
                "Listening TCP sockets and unconnected UDP sockets: 1 for each address, port "
                "and program.");
  family.placed_samples<7>(
      {"netns", "container", "protocol", "family", "address", "port", "program"}, listening);
  family.header("quorvane_connections", "gauge", "TCP connections by owning program and state.");
  family.placed_samples<4>({"netns", "container", "program", "state"}, as_rows(connections));
  family.header("quorvane_connections_opened", "counter",
                "TCP connections seen opening, by owning program.");
  family.placed_samples<3>({"netns", "container", "program"}, opened);
  family.header("quorvane_connections_closed", "counter",
                "TCP connections seen closing, by the program that owned them when they opened.");
  family.placed_samples<3>({"netns", "container", "program"}, closed);
  family.header("quorvane_traffic_bytes", "counter",
                "Bytes TCP connections received (in) and sent (out), by the program that owned "
                "them when they opened.");
  family.placed_samples<4>({"netns", "container", "program", "direction"}, traffic);
  family.header("quorvane_scrape_duration_seconds", "gauge",
                "Seconds the refresh shown here took to collect the endpoints.");
  family.samples<0>({}, Rows<0>{{{}, seconds_text(snapshot.refreshSeconds)}});
  family.header("quorvane_build", "info", "The exporter's version.");
  family.samples<1>({"version"}, Rows<1>{{{label_value(version)}, "1"}});
  if (format == ExpositionFormat::openMetrics) out += "# EOF\n";
  return out;
}

HttpReply exporter_reply(
    std::string_view method, std::string_view path, std::string_view accept,
    const std::function<std::optional<std::string>(ExpositionFormat)>& metrics) {
  const bool known = path == "/" || path == "/metrics";
  if (!known) return {404, "text/plain; charset=utf-8", "Not found\n"};
  if (method != "GET" && method != "HEAD") {
    return {405, "text/plain; charset=utf-8", "Method not allowed\n"};
  }
  if (path == "/") return {200, "text/html; charset=utf-8", kIndexPage};
  const ExpositionFormat format = negotiate_exposition(accept);
  std::optional<std::string> text = metrics(format);
  if (!text) return {503, "text/plain; charset=utf-8", "The endpoints could not be read yet\n"};
  return {200, std::string(exposition_content_type(format)), *std::move(text)};
}

}  // namespace qv
