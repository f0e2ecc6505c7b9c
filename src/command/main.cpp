// quorvane: lists the machine's endpoints once, or again and again with --watch; with --meter it
// hosts the meter engine as the desktop host would and prints the meter's own listing.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "command/console.hpp"
#include "command/endpoints.hpp"
#include "command/meter_view.hpp"
#include "command/options.hpp"
#include "command/output.hpp"
#include "common/text.hpp"
#include "host/exports.hpp"
#include "host/host_state.hpp"
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

// A plain listing, ended by a newline so that the next output starts on a line of its own.
bool print_plain(std::string_view listing) {
  const bool ends = listing.empty() || listing.back() == '\n';
  return write_all(listing) && (ends || write_all("\n")) && std::fflush(stdout) == 0;
}

// On a terminal: redraw from the top-left corner, clearing what the previous frame left behind.
bool print_frame(std::string_view listing) {
  std::string frame = "\x1b[H";
  for (const char c : listing) {
    frame += c == '\n' ? std::string_view("\x1b[K\n") : std::string_view(&c, 1);
  }
  frame += "\x1b[K\x1b[J";
  return write_all(frame) && std::fflush(stdout) == 0;
}

int write_failed() {
  std::fprintf(stderr, "quorvane: cannot write the listing: %s\n", std::strerror(errno));
  return 1;
}

// Shows one listing the way the run asks for; an interrupt during the writing is only noted, so
// that the listing goes out whole, and takes effect once it has.
bool show(std::string_view listing, bool watching, bool terminal) {
  qv::console::note_interrupts();
  bool written;
  if (!watching) {
    written = print_plain(listing);
  } else if (terminal) {
    written = print_frame(listing);
  } else {
    // Piped listings follow each other, a blank line between them.
    written = print_plain(listing) && write_all("\n") && std::fflush(stdout) == 0;
  }
  return written;
}

void pause_between(double seconds) {
  qv::console::exit_on_interrupt(0);
  os::sleep_ms(static_cast<std::uint32_t>(seconds * 1000));
}

// Repeats list (which gives the next listing) as the options say: once, or until interrupted.
template <typename List>
int run_listings(const qv::Options& options, List&& list) {
  const bool watching = options.watchSeconds.has_value();
  const bool terminal = watching && qv::console::stdout_is_terminal();
  if (terminal && !write_all("\x1b[2J")) return write_failed();
  for (bool first = true;; first = false) {
    qv::console::exit_on_interrupt(first ? 130 : 0);
    const std::optional<std::string> listing = list(first);
    if (!listing) {
      std::fprintf(stderr, "quorvane: cannot read the machine's socket tables\n");
      return 1;
    }
    if (!show(*listing, watching, terminal)) return write_failed();
    if (!watching) return 0;
    pause_between(*options.watchSeconds);
  }
}

int run_meter(const qv::Options& options, qv::InstanceSettings& record) {
  std::vector<qv::ConnectionEntry> snapshot;
  return run_listings(options, [&](bool /*first*/) -> std::optional<std::string> {
    qv::refresh_meter_listing(record, snapshot);
    return std::string(qv::field_text(record.outputText));
  });
}

int run_command(const qv::Options& options, const qv::InstanceSettings& record,
                Clock::time_point started) {
  qv::ListingStyle style;
  style.format = options.format;
  style.noLeadingZeros = record.noLeadingZeros == 1;
  style.aligned = qv::console::stdout_is_terminal();
  style.header = options.header;
  style.summary = options.summary;
  if (options.outputTemplate) {
    // Given here, the template is taken whole: only the meter cuts it.
    style.outputTemplate = options.outputTemplate;
  } else if (options.settingsFile && record.outputTemplate[0] != '\0') {
    style.outputTemplate = std::string(qv::field_text(record.outputTemplate));
  }
  qv::CollectRequest request;
  request.kinds = options.kinds;
  request.listeningOnly = options.listeningOnly;
  return run_listings(options, [&](bool first) -> std::optional<std::string> {
    auto endpoints = qv::collect_endpoints(request);
    if (!endpoints) return std::nullopt;
    std::erase_if(*endpoints, [&](const qv::Endpoint& e) {
      return !qv::endpoint_listed(e, record) || !qv::filter_matches(options.filter, e);
    });
    if (!options.numeric && qv::style_needs_host(style, *endpoints)) {
      // Later refreshes wait less: a name that comes late shows in the next one.
      const auto spent =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
      const auto firstLimit = std::max<std::int64_t>(0, kFirstListingLookUpMs - spent.count());
      const auto laterLimit =
          std::min<double>(kFirstListingLookUpMs, options.watchSeconds.value_or(0) * 500);
      qv::look_up_host_names(*endpoints, kParallelLookUps,
                             static_cast<std::uint32_t>(first ? firstLimit : laterLimit));
    }
    std::string text = qv::listing_text(*endpoints, style);
    return text;
  });
}

// The record that --settings and --template fill, as the host fills an instance's.
void load_record(const qv::Options& options, std::int32_t instance) {
  qv::InstanceSettings& record = *qv::instance_record(instance);
  if (options.settingsFile) {
    src_load_settings(instance, options.settingsFile->c_str(), options.section->c_str());
  } else {
    // Without settings: plain numbers and no filter (the meter's load defaults would hide remote
    // addresses 192.168.0.2 to .254, which surprises on a command line).
    qv::store_text(record.outputTemplate, kDefaultMeterTemplate);
    record.noLeadingZeros = 1;
  }
  if (options.outputTemplate) qv::store_text(record.outputTemplate, *options.outputTemplate);
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
  if (options.help) return std::fputs(qv::kUsage, stdout) >= 0 ? 0 : 1;
  if (options.version) return std::printf("quorvane %s\n", getinfo(2)) > 0 ? 0 : 1;
  if (options.outputTemplate && options.format != qv::OutputFormat::text) {
    return fail("--template lays out text: it does not go with --format json or csv");
  }
  if (options.meter && options.format != qv::OutputFormat::text) {
    return fail("--meter shows the meter's text listing: it does not go with --format");
  }
  if (options.meter && (options.summary || !qv::filter_is_empty(options.filter))) {
    return fail(
        "--meter shows the meter's listing with its own filters: it does not go with "
        "--summary, --state, --port, --pid or --program");
  }
  if (options.summary && (options.outputTemplate || options.format == qv::OutputFormat::csv)) {
    return fail(
        "--summary is a table or, with --format json, one object: it does not go with "
        "--template or --format csv");
  }
  if (options.settingsFile) {
    if (const auto problem = qv::console::settings_file_problem(*options.settingsFile)) {
      return fail("cannot read settings file '" + *options.settingsFile + "': " + *problem);
    }
    if (!section_has_settings(*options.settingsFile, *options.section)) {
      return fail("no settings in section [" + *options.section + "] of '" + *options.settingsFile +
                  "'");
    }
  }
  qv::console::exit_on_interrupt(130);
  quorvane_process_attach();
  const std::int32_t instance = dllstartup(0, 0);
  load_record(options, instance);
  qv::InstanceSettings& record = *qv::instance_record(instance);
  return options.meter ? run_meter(options, record) : run_command(options, record, started);
}

}  // namespace

int main(int argc, char** argv) {
  // Look-ups may still be in flight: nothing is waited for once the listing is out.
  qv::console::exit_now(run(argc, argv));
}
