// The quorvane command's options, read from its arguments.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "command/exporter.hpp"
#include "command/filters.hpp"
#include "os/os.hpp"

namespace qv {

enum class OutputFormat { text, json, csv };

struct Options {
  bool help = false;
  bool version = false;
  OutputFormat format = OutputFormat::text;
  std::optional<std::string> outputTemplate;  // escapes already turned into characters
  std::optional<std::string> settingsFile;
  std::optional<std::string> section;
  std::optional<double> watchSeconds;  // set: refresh until interrupted
  bool noColor = false;                // --watch on a terminal marks changes with signs
  // --log-traffic: the connection log's traffic events, at most this often per connection.
  std::optional<double> logTrafficSeconds;
  bool meter = false;     // the meter's own listing, as the DLL would show it
  os::SocketKinds kinds;  // -4 -6 -t -u: neither of a pair means both
  bool listeningOnly = false;
  bool numeric = false;            // no reverse look-ups
  EndpointFilter filter;           // --state, --port, --pid, --program, --container, --unit, --user
  bool extended = false;           // -e: who owns each endpoint (user, unit, container)
  bool summary = false;            // counts instead of endpoints
  bool info = false;               // -i: queues, round trips, byte counters and, watching, rates
  std::optional<SortKey> sort;     // --sort
  std::optional<std::size_t> top;  // --top: the first N of the listing only
  // --header or --no-header (-H); unset: each layout's own habit (a terminal's table and CSV
  // have a header, rows in a pipe none).
  std::optional<bool> header;
  bool allNamespaces = false;                // -A: every network namespace of the machine
  std::vector<std::string> netns;            // --netns: these namespaces only, as given
  std::optional<ServeAddress> serveAddress;  // set: run as an exporter that Prometheus scrapes
  double serveIntervalSeconds = 1.0;         // the exporter's refresh interval
};

inline constexpr double kDefaultWatchSeconds = 1.0;

// The options, or a one-line reason why the arguments are not usable: an unknown option, a bad
// value, or options that do not go together (--help and --version go with any).
std::variant<Options, std::string> parse_options(int argc, char** argv);

// "\n", "\t" and "\\" in a template given on the command line; any other backslash stays.
std::string unescape_template(const std::string& text);

extern const char kUsage[];

}  // namespace qv
