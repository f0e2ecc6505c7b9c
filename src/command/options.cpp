// Argument parsing for quorvane through getopt_long: bundled short options, "--name VALUE" and
// "--name=VALUE", "--" ending the options.
#include "command/options.hpp"

#include <getopt.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace qv {

const char kUsage[] =
    "Usage: quorvane [OPTION]...\n"
    "Lists this machine's TCP and UDP endpoints, IPv4 and IPv6, with their owners and the remote\n"
    "hosts' names.\n"
    "\n"
    "  -t, --tcp             TCP endpoints (with neither -t nor -u: both)\n"
    "  -u, --udp             UDP endpoints\n"
    "  -4, --ipv4            IPv4 endpoints (with neither -4 nor -6: both)\n"
    "  -6, --ipv6            IPv6 endpoints\n"
    "  -l, --listening       listening TCP sockets and unconnected UDP sockets only\n"
    "  -n, --numeric         no look-ups: hosts are shown as addresses and ports as numbers\n"
    "                        (without it, as ss: ports by their service names, ssh, http,\n"
    "                        except those of the range outgoing connections are given)\n"
    "  -r, --resolve         accepted for habit's sake: names are looked up anyway unless -n\n"
    "  -i, --info            each socket's queues and, for TCP, round trip and bytes sent and\n"
    "                        received; while watching, the rates in and out\n"
    "  -A, --all-namespaces  every network namespace's endpoints (containers' too), each with its\n"
    "                        namespace\n"
    "      --netns NAME|PATH|PID\n"
    "                        the endpoints of this network namespace only: a name under\n"
    "                        /run/netns, a namespace file, or a process's (may be repeated)\n"
    "  -e, --extended        who owns each endpoint: the user and the unit as columns; in JSON\n"
    "                        and CSV uid, user, unit, container, container_name,\n"
    "                        container_runtime and pod\n"
    "  -a, --all, -p, --processes\n"
    "                        accepted for habit's sake: every endpoint and owner is listed anyway\n"
    "      --format FORMAT   text (default), json (one object per line) or csv\n"
    "      --template TEXT   lay out each endpoint with TEXT; placeholders %lip %lpt %rpt %pid\n"
    "                        %rip %nm %stat %ptt %hn, %lsv %rsv (the ports' service names);\n"
    "                        \\n, \\t and \\\\ stand for newline, tab and backslash\n"
    "      --settings FILE   load a meter's settings (Template, fltL, fltH, flt0, zero, ...)\n"
    "      --section NAME    from this section of FILE; options given here override the file\n"
    "      --meter           the meter's own listing, exactly as the plug-in shows it (IPv4,\n"
    "                        1,025 entries, 4,095 characters)\n"
    "      --state NAME      TCP endpoints in this state only: established, listen, time-wait,\n"
    "                        syn-sent, ... as ss or the listing names them, case ignored\n"
    "      --port PORT       endpoints whose local or remote port is PORT: a number, a range\n"
    "                        (1-1023) or a service name (https)\n"
    "      --address A[/N]   endpoints whose local or remote address is A, or lies in A/N\n"
    "                        (127.0.0.0/8, fe80::/10)\n"
    "      --local A[/N]     the same for the local address only\n"
    "      --remote A[/N]    the same for the remote address only\n"
    "      --pid N           endpoints of process N (0: those without a visible owner)\n"
    "      --program NAME    endpoints of the program whose file name is NAME\n"
    "      --container ID|NAME\n"
    "                        endpoints of the container with this name or id (or start of it)\n"
    "      --unit NAME       endpoints of processes in this systemd unit (nginx: nginx.service)\n"
    "      --user NAME|UID   endpoints of sockets owned by this user\n"
    "                        (each filter may be repeated: any value matches; different\n"
    "                        filters must all match)\n"
    "      --not-state, --not-port, --not-address, --not-local, --not-remote,\n"
    "      --not-pid, --not-program VALUE\n"
    "                        leave out the endpoints that the filter of that name keeps\n"
    "                        (--not-port 22); these may be repeated too\n"
    "      --sort KEY        order by rate, bytes, rtt (busiest first), port, pid, program or\n"
    "                        state\n"
    "      --top N           the first N endpoints only\n"
    "  -s, --summary         counts by protocol, family, TCP state, program and container\n"
    "                        instead\n"
    "      --header          a header line in a pipe too (the terminal's table and CSV have\n"
    "                        one anyway)\n"
    "  -H, --no-header       no header line\n"
    "      --watch [SECONDS] refresh every SECONDS (default 1) until Ctrl-C; a terminal shows\n"
    "                        new endpoints in green and closed ones once more in red; with\n"
    "                        --format json, a log of open, close and state events\n"
    "      --log-traffic SECONDS\n"
    "                        with --watch and --format json, a traffic event with the rates and\n"
    "                        totals of each connection that moved data, at most every SECONDS\n"
    "      --no-color        mark new and closed endpoints with + and - instead (as NO_COLOR)\n"
    "      --serve [ADDRESS:]PORT\n"
    "                        serve the endpoints' metrics to Prometheus over HTTP at /metrics\n"
    "                        (ADDRESS 127.0.0.1 unless given; 0.0.0.0 or [::] for every\n"
    "                        interface) until SIGTERM or Ctrl-C; the filters apply, and with\n"
    "                        -A or --netns the metrics carry netns and container labels\n"
    "      --serve-interval SECONDS\n"
    "                        refresh the metrics every SECONDS (default 1), counting the\n"
    "                        connections opened and closed in between\n"
    "  -h, --help            show this text\n"
    "  -V, --version         show the engine's version\n"
    "\n"
    "ss's options for what quorvane does not do (-x UNIX, -w raw, -0 packet, -S SCTP, -d DCCP,\n"
    "-M MPTCP sockets, -o timers, -m memory, -K closing sockets) say so and end with status 2.\n"
    "On a terminal the rows are an aligned table; in a pipe they are tab-separated.\n"
    "Containers are named by Docker's API socket (DOCKER_HOST=unix://PATH, else\n"
    "/var/run/docker.sock) and Podman's (CONTAINER_HOST, else /run/podman/podman.sock).\n"
    "Exit status: 0 listed, 1 output could not be written, 2 bad arguments or settings file,\n"
    "130 interrupted before the first listing.\n";

namespace {

// Values of the long options that have no short form.
enum LongOnly : int {
  kFormat = 256,
  kTemplate,
  kSettings,
  kSection,
  kMeter,
  kWatch,
  kState,
  kPort,
  kPid,
  kProgram,
  kAddress,
  kLocal,
  kRemote,
  kHeader,
  kNoColor,
  kSort,
  kTop,
  kServe,
  kServeInterval,
  kLogTraffic,
  kNetns,
  kContainer,
  kUnit,
  kUser,
  // The same filters, refusing: kNot + the filter's value.
  kNot = 512,
  // ss's options for what quorvane does not do, by long name only.
  kVsock = 1024,
};

constexpr char kShortOptions[] = "+:46tulnaphHVisrxw0SdMomKAe";
constexpr option kLongOptions[] = {
    {"ipv4", no_argument, nullptr, '4'},
    {"ipv6", no_argument, nullptr, '6'},
    {"tcp", no_argument, nullptr, 't'},
    {"udp", no_argument, nullptr, 'u'},
    {"listening", no_argument, nullptr, 'l'},
    {"numeric", no_argument, nullptr, 'n'},
    {"info", no_argument, nullptr, 'i'},
    {"extended", no_argument, nullptr, 'e'},
    {"all", no_argument, nullptr, 'a'},
    {"processes", no_argument, nullptr, 'p'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"format", required_argument, nullptr, kFormat},
    {"template", required_argument, nullptr, kTemplate},
    {"settings", required_argument, nullptr, kSettings},
    {"section", required_argument, nullptr, kSection},
    {"meter", no_argument, nullptr, kMeter},
    {"state", required_argument, nullptr, kState},
    {"port", required_argument, nullptr, kPort},
    {"pid", required_argument, nullptr, kPid},
    {"program", required_argument, nullptr, kProgram},
    {"summary", no_argument, nullptr, 's'},
    {"resolve", no_argument, nullptr, 'r'},
    {"address", required_argument, nullptr, kAddress},
    {"local", required_argument, nullptr, kLocal},
    {"remote", required_argument, nullptr, kRemote},
    {"not-state", required_argument, nullptr, kNot + kState},
    {"not-port", required_argument, nullptr, kNot + kPort},
    {"not-address", required_argument, nullptr, kNot + kAddress},
    {"not-local", required_argument, nullptr, kNot + kLocal},
    {"not-remote", required_argument, nullptr, kNot + kRemote},
    {"not-pid", required_argument, nullptr, kNot + kPid},
    {"not-program", required_argument, nullptr, kNot + kProgram},
    {"unix", no_argument, nullptr, 'x'},
    {"raw", no_argument, nullptr, 'w'},
    {"packet", no_argument, nullptr, '0'},
    {"sctp", no_argument, nullptr, 'S'},
    {"dccp", no_argument, nullptr, 'd'},
    {"mptcp", no_argument, nullptr, 'M'},
    {"vsock", no_argument, nullptr, kVsock},
    {"options", no_argument, nullptr, 'o'},
    {"memory", no_argument, nullptr, 'm'},
    {"kill", no_argument, nullptr, 'K'},
    {"container", required_argument, nullptr, kContainer},
    {"unit", required_argument, nullptr, kUnit},
    {"user", required_argument, nullptr, kUser},
    {"header", no_argument, nullptr, kHeader},
    {"no-header", no_argument, nullptr, 'H'},
    // The number may also follow as the next argument, which getopt_long leaves to us.
    {"watch", optional_argument, nullptr, kWatch},
    {"no-color", no_argument, nullptr, kNoColor},
    {"sort", required_argument, nullptr, kSort},
    {"top", required_argument, nullptr, kTop},
    {"serve", required_argument, nullptr, kServe},
    {"serve-interval", required_argument, nullptr, kServeInterval},
    {"log-traffic", required_argument, nullptr, kLogTraffic},
    {"all-namespaces", no_argument, nullptr, 'A'},
    {"netns", required_argument, nullptr, kNetns},
    {nullptr, 0, nullptr, 0},
};

// What ss would do for an option of its own that quorvane does not have; nullptr for any other.
const char* not_done(int value) {
  switch (value) {
    case 'x':
      return "quorvane lists TCP and UDP only: -x (--unix) asks for UNIX sockets";
    case 'w':
      return "quorvane lists TCP and UDP only: -w (--raw) asks for raw sockets";
    case '0':
      return "quorvane lists TCP and UDP only: -0 (--packet) asks for packet sockets";
    case 'S':
      return "quorvane lists TCP and UDP only: -S (--sctp) asks for SCTP sockets";
    case 'd':
      return "quorvane lists TCP and UDP only: -d (--dccp) asks for DCCP sockets";
    case 'M':
      return "quorvane lists TCP and UDP only: -M (--mptcp) asks for MPTCP sockets";
    case kVsock:
      return "quorvane lists TCP and UDP only: --vsock asks for VSOCK sockets";
    case 'o':
      return "quorvane shows no socket timers: -o (--options) is ss's; -i shows queues and "
             "round trips";
    case 'm':
      return "quorvane shows no socket memory: -m (--memory) is ss's; -i shows queues";
    case 'K':
      return "quorvane never closes sockets: -K (--kill) is ss's";
    default:
      return nullptr;
  }
}

std::optional<FilterKind> filter_kind(int value) {
  switch (value) {
    case kState:
      return FilterKind::state;
    case kPort:
      return FilterKind::port;
    case kPid:
      return FilterKind::pid;
    case kProgram:
      return FilterKind::program;
    case kAddress:
      return FilterKind::address;
    case kLocal:
      return FilterKind::localAddress;
    case kRemote:
      return FilterKind::remoteAddress;
    case kContainer:
      return FilterKind::container;
    case kUnit:
      return FilterKind::unit;
    case kUser:
      return FilterKind::user;
    default:
      return std::nullopt;
  }
}

std::string option_name(int value) {
  for (const option& o : kLongOptions) {
    if (o.name != nullptr && o.val == value) return std::string("--") + o.name;
  }
  return "option";
}

// The exporter may refresh faster than a person watches: catching connections that live 100 ms
// takes refreshes less than 100 ms apart.
constexpr double kShortestWatch = 0.1;
constexpr double kShortestServeInterval = 0.05;

std::optional<double> read_seconds(const std::string& text, double shortest) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value) || value < shortest || value > 86400)
    return std::nullopt;
  return value;
}

std::optional<OutputFormat> read_format(std::string_view text) {
  if (text == "text") return OutputFormat::text;
  if (text == "json") return OutputFormat::json;
  if (text == "csv") return OutputFormat::csv;
  return std::nullopt;
}

// The options that cannot be honoured together, with the reason; none when they all go together.
std::optional<std::string> conflict_of(const Options& options) {
  if (options.settingsFile.has_value() != options.section.has_value()) {
    return "--settings and --section go together";
  }
  // Help and version show nothing of the rest, so nothing else can be in their way.
  if (options.help || options.version) return std::nullopt;
  if (options.outputTemplate && options.format != OutputFormat::text) {
    return "--template lays out text: it does not go with --format json or csv";
  }
  if (options.meter && options.format != OutputFormat::text) {
    return "--meter shows the meter's text listing: it does not go with --format";
  }
  if (options.meter && (options.extended || filter_needs_owners(options.filter))) {
    return "--meter shows the meter's listing with its own fields and filters: it does not go "
           "with --extended, --container, --unit or --user";
  }
  if (options.meter && (options.summary || !filter_is_empty(options.filter))) {
    return "--meter shows the meter's listing with its own filters: it does not go with "
           "--summary, --state, --port, --pid or --program";
  }
  if (options.summary && (options.outputTemplate || options.format == OutputFormat::csv)) {
    return "--summary is a table or, with --format json, one object: it does not go with "
           "--template or --format csv";
  }
  if (options.logTrafficSeconds &&
      (!options.watchSeconds || options.format != OutputFormat::json || options.summary)) {
    return "--log-traffic adds to the connection log: it goes with --watch and --format json, "
           "without --summary";
  }
  if ((options.allNamespaces || !options.netns.empty()) && options.meter) {
    return "-A and --netns list the command's endpoints: they do not go with --meter";
  }
  if (options.serveAddress &&
      (options.watchSeconds || options.meter || options.summary || options.settingsFile ||
       options.outputTemplate || options.format != OutputFormat::text)) {
    return "--serve exports metrics: it does not go with --watch, --meter, --summary, --settings, "
           "--template or --format";
  }
  return std::nullopt;
}

}  // namespace

std::string unescape_template(const std::string& text) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (text[i] == '\\' && (next == 'n' || next == 't' || next == '\\')) {
      result += next == 'n' ? '\n' : next == 't' ? '\t' : '\\';
      ++i;
    } else {
      result += text[i];
    }
  }
  return result;
}

std::variant<Options, std::string> parse_options(int argc, char** argv) {
  Options options;
  bool ipv4 = false;
  bool ipv6 = false;
  bool tcp = false;
  bool udp = false;
  bool serveInterval = false;
  // getopt_long keeps its place in globals: every parse starts afresh (0 also resets glibc's
  // own state), and reports nothing itself.
  optind = 0;
  opterr = 0;
  for (;;) {
    // Both glibc and mingw-w64 leave optind on the argument being read until its last letter.
    const int current = std::max(optind, 1);
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read once, before the command starts any thread.
    const int value = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
    if (value == -1) break;
    if (const char* reason = not_done(value)) return std::string(reason);
    // A filter's value, or with --not-... a value refused.
    if (const auto kind = filter_kind(value >= kNot ? value - kNot : value)) {
      FilterValues& values = value >= kNot ? options.filter.refused : options.filter;
      if (auto reason = add_filter_value(values, *kind, optarg)) {
        if (value >= kNot) reason->insert(2, "not-");
        return *std::move(reason);
      }
      continue;
    }
    switch (value) {
      case '4':
        ipv4 = true;
        break;
      case '6':
        ipv6 = true;
        break;
      case 't':
        tcp = true;
        break;
      case 'u':
        udp = true;
        break;
      case 'l':
        options.listeningOnly = true;
        break;
      case 'n':
        options.numeric = true;
        break;
      case 'i':
        options.info = true;
        break;
      case 'e':
        options.extended = true;
        break;
      case 'a':
      case 'p':
      case 'r':
        break;
      case 'h':
        options.help = true;
        break;
      case 'V':
        options.version = true;
        break;
      case kFormat: {
        const auto format = read_format(optarg);
        if (!format) return "--format takes text, json or csv, not '" + std::string(optarg) + "'";
        options.format = *format;
        break;
      }
      case kTemplate:
        options.outputTemplate = unescape_template(optarg);
        break;
      case kSettings:
        options.settingsFile = optarg;
        break;
      case kSection:
        options.section = optarg;
        break;
      case kMeter:
        options.meter = true;
        break;
      case 's':
        options.summary = true;
        break;
      case kHeader:
      case 'H':
        options.header = value == kHeader;
        break;
      case kWatch: {
        std::optional<std::string> seconds;
        if (optarg != nullptr) {
          seconds = optarg;
        } else if (optind < argc && argv[optind][0] != '-') {
          seconds = argv[optind++];
        }
        options.watchSeconds = kDefaultWatchSeconds;
        if (seconds) {
          options.watchSeconds = read_seconds(*seconds, kShortestWatch);
          if (!options.watchSeconds) {
            return "--watch needs a number of seconds from 0.1 to 86400, not '" + *seconds + "'";
          }
        }
        break;
      }
      case kSort:
        options.sort = read_sort_key(optarg);
        if (!options.sort) {
          return "--sort takes rate, bytes, rtt, port, pid, program or state, not '" +
                 std::string(optarg) + "'";
        }
        break;
      case kTop: {
        char* end = nullptr;
        const unsigned long long count = std::strtoull(optarg, &end, 10);
        if (*optarg < '0' || *optarg > '9' || *end != '\0' || count == 0 || count > 1000000000) {
          return "--top needs a number of endpoints from 1, not '" + std::string(optarg) + "'";
        }
        options.top = static_cast<std::size_t>(count);
        break;
      }
      case kNoColor:
        options.noColor = true;
        break;
      case 'A':
        options.allNamespaces = true;
        break;
      case kNetns:
        options.netns.emplace_back(optarg);
        break;
      case kServe: {
        auto address = parse_serve_address(optarg);
        if (auto* reason = std::get_if<std::string>(&address)) return std::move(*reason);
        options.serveAddress = std::get<ServeAddress>(std::move(address));
        break;
      }
      case kServeInterval: {
        const auto seconds = read_seconds(optarg, kShortestServeInterval);
        if (!seconds) {
          return "--serve-interval needs a number of seconds from 0.05 to 86400, not '" +
                 std::string(optarg) + "'";
        }
        options.serveIntervalSeconds = *seconds;
        serveInterval = true;
        break;
      }
      case kLogTraffic:
        options.logTrafficSeconds = read_seconds(optarg, kShortestWatch);
        if (!options.logTrafficSeconds) {
          return "--log-traffic needs a number of seconds from 0.1 to 86400, not '" +
                 std::string(optarg) + "'";
        }
        break;
      default: {
        // The argument being read; optopt names the option found in it, 0 when none is known.
        const std::string_view argument = argv[current];
        const bool longOption = argument.starts_with("--");
        if (optopt == 0) return "unknown option '" + std::string(argument) + "'";
        // mingw-w64 answers ':' for a value given to an option that takes none, as glibc does
        // for a missing value: the argument tells them apart.
        if (longOption && argument.find('=') != std::string_view::npos) {
          return option_name(optopt) + " takes no value";
        }
        if (value == ':') return option_name(optopt) + " needs a value";
        return "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'";
      }
    }
  }
  if (optind < argc) return "unexpected argument '" + std::string(argv[optind]) + "'";
  if (ipv4 || ipv6) {
    options.kinds.ipv4 = ipv4;
    options.kinds.ipv6 = ipv6;
  }
  if (tcp || udp) {
    options.kinds.tcp = tcp;
    options.kinds.udp = udp;
  }
  if (serveInterval && !options.serveAddress) return "--serve-interval goes with --serve";
  if (auto conflict = conflict_of(options)) return *std::move(conflict);
  return options;
}

}  // namespace qv
