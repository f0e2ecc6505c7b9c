// --serve: the exporter's refresh loop and its HTTP server, answering from the latest refresh.
#pragma once

#include <string_view>

#include "command/options.hpp"

namespace qv {

// Serves the metrics of the endpoints the options keep until SIGTERM or SIGINT; the command's
// exit status (0 stopped by a signal, 1 socket tables unreadable, 2 cannot serve).
int run_exporter(const Options& options, std::string_view version);

}  // namespace qv
