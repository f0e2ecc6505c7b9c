// The exporter's HTTP server on Windows: none, since the server library is built for Linux only.
#include "command/http_server.hpp"

namespace qv {

std::optional<std::string> serve_http(const ServeAddress& /*address*/, double /*intervalSeconds*/,
                                      const HttpHandler& /*handler*/,
                                      const std::function<void()>& /*tick*/) {
  return "--serve is available on Linux only";
}

}  // namespace qv
