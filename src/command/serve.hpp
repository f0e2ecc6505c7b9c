// --serve: the exporter's refresh loop and its HTTP server, answering from the latest refresh.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "command/options.hpp"
#include "os/os.hpp"

namespace qv {

// Serves the metrics of the endpoints the options keep until SIGTERM or SIGINT; the command's
// exit status (0 stopped by a signal, 2 cannot serve). Until the socket tables have been read
// once, a scrape is answered 503. With namespaces (-A, --netns) it exports theirs, each endpoint
// labelled with its namespace and container, and tells sayShortfall after each refresh which of
// them could not be read.
int run_exporter(const Options& options, const std::optional<os::NamespaceScope>& namespaces,
                 std::string_view version,
                 const std::function<void(const os::NamespaceShortfall&)>& sayShortfall);

}  // namespace qv
