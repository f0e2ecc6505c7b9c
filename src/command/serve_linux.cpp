// --serve on Linux: a refresh every interval collects the endpoints, counts the connections that
// opened and closed since the one before, and publishes one snapshot; every scrape until the
// next refresh is written from that snapshot alone.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>

#include "command/container_names.hpp"
#include "command/exporter.hpp"
#include "command/http_server.hpp"
#include "command/serve.hpp"

namespace qv {

namespace {

// The longest a refresh waits for the container runtimes to name a container seen for the first
// time, so that its connections are counted under its name from their first refresh on, not
// under its id first and its name later.
constexpr double kContainerNameWaitSeconds = 1;

}  // namespace

int run_exporter(const Options& options, const std::optional<os::NamespaceScope>& namespaces,
                 std::string_view version,
                 const std::function<void(const os::NamespaceShortfall&)>& sayShortfall) {
  CollectRequest request;
  request.kinds = options.kinds;
  request.kinds.traffic = true;  // for the byte counters
  request.listeningOnly = options.listeningOnly;
  request.namespaces = namespaces;
  // Across namespaces the container is a label; --container, --unit and --user need the owners.
  request.owners = namespaces.has_value() || filter_needs_owners(options.filter);
  // Nothing in the command sets the environment, so reading it races with nothing.
  const auto containerNames = make_container_name_book(runtime_sockets(
      std::getenv("DOCKER_HOST"), std::getenv("CONTAINER_HOST")));  // NOLINT(concurrency-mt-unsafe)
  // Waiting holds up only the next snapshot, never a scrape; half the interval leaves the other
  // half to the refresh's own work.
  const auto nameWaitMs = static_cast<std::uint32_t>(
      1000 * std::min(kContainerNameWaitSeconds, options.serveIntervalSeconds / 2));
  ConnectionCounters counters;
  counters.byPlace = namespaces.has_value();
  std::vector<Endpoint> previous;
  std::mutex published;
  std::shared_ptr<const ExporterSnapshot> latest;
  const auto refresh = [&] {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point began = Clock::now();
    os::NamespaceShortfall shortfall;
    auto endpoints = collect_endpoints(request, &shortfall);
    sayShortfall(shortfall);
    // A table that cannot be read this time leaves the last snapshot up.
    if (!endpoints) return;
    if (request.owners) name_containers(containerNames, *endpoints, nameWaitMs);
    std::erase_if(*endpoints,
                  [&](const Endpoint& e) { return !filter_matches(options.filter, e); });
    std::vector<Endpoint> current = std::move(*endpoints);
    count_connections(counters, previous, current);
    auto snapshot = std::make_shared<ExporterSnapshot>();
    snapshot->refreshSeconds = std::chrono::duration<double>(Clock::now() - began).count();
    snapshot->endpoints = current;
    snapshot->connectionsBySeries = counters.bySeries;
    snapshot->byPlace = counters.byPlace;
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
