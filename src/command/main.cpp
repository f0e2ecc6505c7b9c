// quorvane: lists the machine's endpoints once, or again and again with --watch; with --meter it
// runs the meter's engine on its own settings record and prints the meter's own listing.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "command/connection_log.hpp"
#include "command/console.hpp"
#include "command/container_names.hpp"
#include "command/endpoints.hpp"
#include "command/meter_view.hpp"
#include "command/options.hpp"
#include "command/output.hpp"
#include "command/serve.hpp"
#include "command/watch_diff.hpp"
#include "command/watch_marks.hpp"
#include "common/text.hpp"
#include "host/engine_version.hpp"
#include "host/settings.hpp"
#include "os/os.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// The meter's template when no settings say otherwise: the default rows' fields.
constexpr char kDefaultMeterTemplate[] = "%ptt\t%lip:%lpt\t%rip:%rpt\t%stat\t%pid\t%nm\t%hn\n";
// The whole first listing waits at most this long for host names.
constexpr std::uint32_t kFirstListingLookUpMs = 1000;
constexpr std::size_t kParallelLookUps = 32;

int fail(const std::string& reason) {
  std::fprintf(stderr, "quorvane: %s\n", reason.c_str());
  return 2;
}

// A section that holds none of the host's keys is almost certainly a misspelt name; the host
// itself would silently load the defaults.
bool section_has_settings(const std::string& file, const std::string& section) {
  static const char kMissing[] = "\x01missing";
  char value[sizeof kMissing + 1];
  for (const char* key : {"Sot", "Template", "fltL", "fltH", "fltE", "flt0", "zero"}) {
    os::read_profile_string(section.c_str(), key, kMissing, value, file.c_str());
    if (std::strcmp(value, kMissing) != 0) return true;
  }
  return false;
}

bool write_all(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

// Each line flushed as soon as it is written, as JSON Lines readers expect.
bool write_lines(std::string_view text) {
  while (!text.empty()) {
    const std::size_t line = std::min(text.find('\n'), text.size() - 1) + 1;
    if (!write_all(text.substr(0, line)) || std::fflush(stdout) != 0) return false;
    text.remove_prefix(line);
  }
  return true;
}

// A plain listing, ended by a newline so that the next output starts on a line of its own.
bool print_plain(std::string_view listing, bool lineByLine) {
  const bool ends = listing.empty() || listing.back() == '\n';
  return (lineByLine ? write_lines(listing) : write_all(listing)) && (ends || write_all("\n")) &&
         std::fflush(stdout) == 0;
}

int write_failed(const char* what = "the listing") {
  std::fprintf(stderr, "quorvane: cannot write %s: %s\n", what,
               qv::console::error_text(errno).c_str());
  return 1;
}

// Help and version text: a write that fails is said as a listing's is, not lost at exit.
int print_text(std::string_view text, const char* what) {
  return write_all(text) && std::fflush(stdout) == 0 ? 0 : write_failed(what);
}

// Where --watch draws: a terminal redrawn in place (with its window's size when it tells one),
// or else listings that follow each other.
struct Screen {
  bool redraws = false;
  std::optional<qv::console::WindowSize> window;
};

// Reads the window's size once a refresh, after the collection and just before the layout, so
// that a frame laid out for a window that has since changed is as rare as can be.
void measure(Screen& screen) {
  if (screen.redraws) screen.window = qv::console::window_size();
}

// A listing for the screen: made to fit its window when it has one.
std::string fitted(std::string listing, const Screen& screen) {
  if (!screen.window) return listing;
  return qv::fitted_listing(listing, *screen.window);
}

// Shows one listing the way the run asks for; an interrupt during the writing is only noted, so
// that the listing goes out whole, and takes effect once it has.
bool show(std::string_view listing, const qv::Options& options, const Screen& screen) {
  qv::console::note_interrupts();
  // A one-shot listing is whole before its first line goes out: flushing line by line would only
  // cost a write each (10,000 of them for as many sockets).
  if (!options.watchSeconds) return print_plain(listing, false);
  const bool lineByLine = options.format == qv::OutputFormat::json;
  if (screen.redraws) {
    return write_all(qv::terminal_frame(listing, screen.window)) && std::fflush(stdout) == 0;
  }
  // Piped text listings follow each other, a blank line between them; JSON and CSV stay streams
  // that a reader takes line by line.
  const bool separated = options.format == qv::OutputFormat::text;
  return print_plain(listing, lineByLine) && (!separated || write_all("\n")) &&
         std::fflush(stdout) == 0;
}

// Waits for the next refresh, due `seconds` after the last one began: refreshes keep their
// pace however long each takes, so that --watch 0.1 sees what lives a few hundred milliseconds.
// A window that changes size is redrawn at once.
void pause_between(double seconds, Clock::time_point refreshBegan) {
  qv::console::exit_on_interrupt(0);
  const auto due = refreshBegan + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(seconds));
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
  if (left > 0) qv::console::pause_ms(static_cast<std::uint32_t>(left));
}

int tables_failed() {
  std::fprintf(stderr, "quorvane: cannot read the machine's socket tables\n");
  return 1;
}

// Repeats list (which gives the next listing, measuring the screen first) as the options say:
// once, or until interrupted.
template <typename List>
int run_listings(const qv::Options& options, List&& list) {
  const bool watching = options.watchSeconds.has_value();
  Screen screen;
  screen.redraws = watching && qv::console::stdout_redraws();
  if (screen.redraws) {
    // A frame goes out in one write, not line by line as a terminal's stdout would: the
    // terminal never shows half of one.
    std::setvbuf(stdout, nullptr, _IOFBF, std::size_t{1} << 16);
    qv::console::notice_resizes();
    if (!write_all("\x1b[2J")) return write_failed();
  }
  for (bool first = true;; first = false) {
    qv::console::exit_on_interrupt(first ? 130 : 0);
    const Clock::time_point began = Clock::now();
    const std::optional<std::string> listing = list(first, screen);
    if (!listing) return tables_failed();
    if (!show(*listing, options, screen)) return write_failed();
    if (!watching) return 0;
    pause_between(*options.watchSeconds, began);
  }
}

// The connection log: refresh (which gives the endpoints) until interrupted, writing each
// refresh's events, one line each, flushed line by line, each with the fields of the set.
template <typename Refresh>
int run_log(const qv::Options& options, qv::FieldSet fields, Refresh&& refresh) {
  qv::ConnectionLog log;
  log.trafficSeconds = options.logTrafficSeconds.value_or(0);
  std::string lines;
  for (bool first = true;; first = false) {
    qv::console::exit_on_interrupt(first ? 130 : 0);
    const qv::WatchTime now = qv::watch_time_now();
    std::optional<std::vector<qv::Endpoint>> endpoints = refresh(first);
    if (!endpoints) return tables_failed();
    lines.clear();
    for (const qv::LogEvent& event : qv::log_refresh(log, std::move(*endpoints), now)) {
      qv::append_log_event(lines, event, fields);
    }
    qv::console::note_interrupts();
    if (!write_lines(lines)) return write_failed();
    pause_between(*options.watchSeconds, now.steady);
  }
}

int run_meter(const qv::Options& options, qv::InstanceSettings& record) {
  std::vector<qv::ConnectionEntry> snapshot;
  // The meter's listing is shown as the meter makes it, whatever the window.
  return run_listings(options,
                      [&](bool /*first*/, Screen& /*screen*/) -> std::optional<std::string> {
                        qv::refresh_meter_listing(record, snapshot);
                        return std::string(qv::field_text(record.outputText));
                      });
}

// The first listing's look-ups end a second after the start; a later refresh waits at most half
// its interval, since a name that comes late shows in the next one.
std::uint32_t look_up_limit_ms(bool first, Clock::time_point started,
                               std::optional<double> watchSeconds) {
  if (!first) {
    return static_cast<std::uint32_t>(
        std::min<double>(kFirstListingLookUpMs, watchSeconds.value_or(0) * 500));
  }
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  return static_cast<std::uint32_t>(
      std::clamp<std::int64_t>(kFirstListingLookUpMs - spent.count(), 0, kFirstListingLookUpMs));
}

// Said once, however many refreshes meet namespaces they cannot read.
void say_shortfall(const os::NamespaceShortfall& shortfall, bool& said) {
  if (shortfall.count == 0 || said) return;
  said = true;
  std::fprintf(stderr, "quorvane: could not read %zu network namespace%s: %s\n", shortfall.count,
               shortfall.count == 1 ? "" : "s", shortfall.reason.c_str());
}

int run_command(const qv::Options& options, const qv::InstanceSettings& record,
                const std::optional<os::NamespaceScope>& namespaces, Clock::time_point started) {
  qv::ListingStyle style;
  style.format = options.format;
  style.noLeadingZeros = record.noLeadingZeros == 1;
  style.aligned = qv::console::stdout_is_terminal();
  style.terminal = style.aligned;
  style.header = options.header;
  style.summary = options.summary;
  style.fields = {.info = options.info,
                  .rates = options.info && options.watchSeconds.has_value(),
                  .owners = options.extended};
  if (options.outputTemplate) {
    // Given here, the template is taken whole: only the meter cuts it.
    style.outputTemplate = options.outputTemplate;
  } else if (options.settingsFile && record.outputTemplate[0] != '\0') {
    style.outputTemplate = std::string(qv::field_text(record.outputTemplate));
  }
  qv::CollectRequest request;
  request.kinds = options.kinds;
  request.listeningOnly = options.listeningOnly;
  // Windows lists its one stack as usual, without a column that would say nothing.
  style.fields.namespaces = namespaces.has_value() && os::kNetworkNamespaces;
  request.namespaces = namespaces;
  bool shortfallSaid = false;
  // The counters cost a larger dump: asked for only when something shows them.
  const bool traffic = options.info || options.logTrafficSeconds ||
                       (options.sort && qv::sort_needs_traffic(*options.sort)) ||
                       (style.outputTemplate && qv::template_needs_traffic(*style.outputTemplate));
  request.kinds.traffic = traffic;
  // So do the owners: a file to read per process, a name per user, a question per runtime.
  // Across namespaces too: a container's name says where an endpoint lives.
  request.owners = options.extended || options.summary || style.fields.namespaces ||
                   qv::filter_needs_owners(options.filter) ||
                   (style.outputTemplate && qv::template_needs_owners(*style.outputTemplate));
  // Nothing in the command sets the environment, so reading it races with nothing.
  const auto containerNames = qv::make_container_name_book(qv::runtime_sockets(
      std::getenv("DOCKER_HOST"), std::getenv("CONTAINER_HOST")));  // NOLINT(concurrency-mt-unsafe)
  const bool rates = traffic && options.watchSeconds.has_value();
  qv::ServiceNames serviceNames;
  // The previous refresh's endpoints and when they were read, for the rates.
  std::vector<qv::Endpoint> rateBase;
  Clock::time_point rateBaseTime;
  bool trafficNoticed = false;
  // One refresh: the endpoints the options keep, with the names found in time.
  const auto refresh = [&](bool first) -> std::optional<std::vector<qv::Endpoint>> {
    const Clock::time_point read = Clock::now();
    os::NamespaceShortfall shortfall;
    auto endpoints = qv::collect_endpoints(request, &shortfall);
    say_shortfall(shortfall, shortfallSaid);
    if (!endpoints) return std::nullopt;
    // Why the counters are missing, said once: every refresh would have the same reason.
    if (const std::string_view notice = os::traffic_notice();
        traffic && !trafficNoticed && !notice.empty()) {
      std::fprintf(stderr, "quorvane: %.*s\n", static_cast<int>(notice.size()), notice.data());
      trafficNoticed = true;
    }
    // The first listing waits for the runtimes as for host names; later ones never do, their
    // names show once they come.
    if (request.owners) {
      qv::name_containers(containerNames, *endpoints,
                          first ? look_up_limit_ms(true, started, options.watchSeconds) : 0);
    }
    std::erase_if(*endpoints, [&](const qv::Endpoint& e) {
      return !qv::endpoint_listed(e, record) || !qv::filter_matches(options.filter, e);
    });
    if (rates) {
      const std::chrono::duration<double> since = read - rateBaseTime;
      if (!first) {
        qv::set_rates(rateBase, *endpoints, qv::diff_endpoints(rateBase, *endpoints),
                      since.count());
      }
      rateBase = *endpoints;
      rateBaseTime = read;
    }
    if (options.sort) qv::sort_endpoints(*endpoints, *options.sort);
    if (options.top && endpoints->size() > *options.top) endpoints->resize(*options.top);
    if (!options.numeric && qv::style_needs_host(style, *endpoints)) {
      qv::look_up_host_names(*endpoints, kParallelLookUps,
                             look_up_limit_ms(first, started, options.watchSeconds));
    }
    if (!options.numeric) qv::name_services(*endpoints, serviceNames);
    return endpoints;
  };
  // Watching endpoints (not counts): a log of their changes, or a terminal's marks on them.
  const bool watching = options.watchSeconds.has_value() && !options.summary;
  if (watching && options.format == qv::OutputFormat::json)
    return run_log(
        options,
        {.info = options.info, .namespaces = style.fields.namespaces, .owners = options.extended},
        refresh);
  if (watching && options.format == qv::OutputFormat::text && qv::console::stdout_redraws()) {
    // Nothing in the command sets the environment, so reading it races with nothing.
    const char* noColor = std::getenv("NO_COLOR");  // NOLINT(concurrency-mt-unsafe)
    const qv::MarkStyle marks = qv::mark_style(options.noColor, noColor);
    qv::WatchScreen shown;
    return run_listings(options, [&](bool first, Screen& screen) -> std::optional<std::string> {
      std::optional<std::vector<qv::Endpoint>> current = refresh(first);
      if (!current) return std::nullopt;
      measure(screen);
      const auto rows = qv::watch_screen_rows(shown, std::move(*current), Clock::now());
      return qv::marked_listing(rows, style, marks, screen.window);
    });
  }
  return run_listings(options, [&](bool first, Screen& screen) -> std::optional<std::string> {
    const auto endpoints = refresh(first);
    if (!endpoints) return std::nullopt;
    measure(screen);
    std::string listing = qv::listing_text(*endpoints, style);
    // A stream of CSV records has one header, at its start; a redrawn screen keeps its own.
    if (options.format == qv::OutputFormat::csv && !screen.redraws) style.header = false;
    return fitted(std::move(listing), screen);
  });
}

// The command's own settings record: --settings loads it as the host loads an instance's, and
// --template goes over whatever that gave.
qv::InstanceSettings load_record(const qv::Options& options) {
  qv::InstanceSettings record{};
  if (options.settingsFile) {
    qv::load_settings(record, options.settingsFile->c_str(), options.section->c_str());
  } else {
    // Without settings: plain numbers and no filter (the meter's load defaults would hide remote
    // addresses 192.168.0.2 to .254, which surprises on a command line).
    qv::store_text(record.outputTemplate, kDefaultMeterTemplate);
    record.noLeadingZeros = 1;
  }
  if (options.outputTemplate) qv::store_text(record.outputTemplate, *options.outputTemplate);
  return record;
}

int run(int argc, char** argv) {
  const Clock::time_point started = Clock::now();
  const auto parsed = qv::parse_options(argc, argv);
  if (const auto* reason = std::get_if<std::string>(&parsed)) {
    return fail(*reason + " (see quorvane --help)");
  }
  qv::Options options = std::get<qv::Options>(parsed);
  if (options.settingsFile)
    options.settingsFile = qv::console::settings_path(*options.settingsFile);
  if (options.help) return print_text(qv::kUsage, "the help");
  if (options.version)
    return print_text(std::string("quorvane ") + QV_VERSION + "\n", "the version");
  if (options.settingsFile) {
    if (const auto problem = qv::console::settings_file_problem(*options.settingsFile)) {
      return fail("cannot read settings file '" + *options.settingsFile + "': " + *problem);
    }
    if (!section_has_settings(*options.settingsFile, *options.section)) {
      return fail("no settings in section [" + *options.section + "] of '" + *options.settingsFile +
                  "'");
    }
  }
  std::optional<os::NamespaceScope> namespaces;
  if (options.allNamespaces || !options.netns.empty()) {
    // --netns picks among every namespace: with -A or without, the ones it names.
    namespaces.emplace().every = options.netns.empty();
    for (const std::string& value : options.netns) {
      std::string reason;
      auto file = os::find_network_namespace(value, reason);
      if (!file) return fail(reason);
      namespaces->files.push_back(*std::move(file));
    }
  }
  if (options.serveAddress) {
    bool shortfallSaid = false;
    return qv::run_exporter(
        options, namespaces, QV_VERSION,
        [&](const os::NamespaceShortfall& shortfall) { say_shortfall(shortfall, shortfallSaid); });
  }
  qv::console::exit_on_interrupt(130);
  qv::InstanceSettings record = load_record(options);
  return options.meter ? run_meter(options, record)
                       : run_command(options, record, namespaces, started);
}

}  // namespace

int main(int argc, char** argv) {
  qv::console::prepare_heap();
  // Look-ups may still be in flight: nothing is waited for once the listing is out.
  qv::console::exit_now(run(argc, argv));
}
