// --serve: the exporter's refresh loop and its HTTP server, answering from the latest refresh.
#pragma once

#include <string_view>

#include "command/options.hpp"

namespace qv {

// Serves the metrics of the endpoints the options keep until SIGTERM or SIGINT; the command's
// exit status (0 stopped by a signal, 2 cannot serve). Until the socket tables have been read
// once, a scrape is answered 503.
int run_exporter(const Options& options, std::string_view version);

}  // namespace qv
