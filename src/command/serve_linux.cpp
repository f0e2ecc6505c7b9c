// --serve on Linux: a refresh every interval collects the endpoints, counts the connections that
// opened and closed since the one before, and publishes one snapshot; every scrape until the
// next refresh is written from that snapshot alone.
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

#include "command/exporter.hpp"
#include "command/http_server.hpp"
#include "command/serve.hpp"

namespace qv {

int run_exporter(const Options& options, std::string_view version) {
  CollectRequest request;
  request.kinds = options.kinds;
  request.kinds.traffic = true;  // for the byte counters
  request.listeningOnly = options.listeningOnly;
  ConnectionCounters counters;
  std::vector<Endpoint> previous;
  std::mutex published;
  std::shared_ptr<const ExporterSnapshot> latest;
  const auto refresh = [&] {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point began = Clock::now();
    auto endpoints = collect_endpoints(request);
    // A table that cannot be read this time leaves the last snapshot up.
    if (!endpoints) return;
    std::erase_if(*endpoints,
                  [&](const Endpoint& e) { return !filter_matches(options.filter, e); });
    std::vector<Endpoint> current = std::move(*endpoints);
    count_connections(counters, previous, current);
    auto snapshot = std::make_shared<ExporterSnapshot>();
    snapshot->refreshSeconds = std::chrono::duration<double>(Clock::now() - began).count();
    snapshot->endpoints = current;
    snapshot->connectionsByProgram = counters.byProgram;
    previous = std::move(current);
    const std::scoped_lock lock(published);
    latest = std::move(snapshot);
  };
  const HttpHandler handler = [&](std::string_view method, std::string_view path,
                                  std::string_view accept) {
    return exporter_reply(method, path, accept, [&](ExpositionFormat format) {
      std::shared_ptr<const ExporterSnapshot> snapshot;
      {
        const std::scoped_lock lock(published);
        snapshot = latest;
      }
      if (!snapshot) return std::optional<std::string>();
      return std::optional(exposition_text(*snapshot, version, format));
    });
  };
  if (auto reason = serve_http(options.serveAddress.value_or(ServeAddress{}),
                               options.serveIntervalSeconds, handler, refresh)) {
    std::fprintf(stderr, "quorvane: %s\n", reason->c_str());
    return 2;
  }
  return 0;
}

}  // namespace qv
