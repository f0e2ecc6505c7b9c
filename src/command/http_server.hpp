// The exporter's HTTP server (Linux): it listens on an address, answers each request on its own
// threads through a handler, and meanwhile runs a periodic task on the calling thread until
// SIGTERM or SIGINT.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "command/exporter.hpp"

namespace qv {

using HttpHandler = std::function<HttpReply(std::string_view method, std::string_view path,
                                            std::string_view accept)>;

// Listens on address, runs tick once before answering any request and then every intervalSeconds
// (measured from the start of each run), and returns nullopt once a stop signal came and the server
// has closed. The one-line reason when it cannot listen (address in use, not permitted, not an
// address); then it returns at once.
std::optional<std::string> serve_http(const ServeAddress& address, double intervalSeconds,
                                      const HttpHandler& handler,
                                      const std::function<void()>& tick);

}  // namespace qv
