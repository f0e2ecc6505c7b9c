// quorvane: hosts the meter engine on Linux as the desktop host would (one instance, its settings,
// the meter function) and prints the listing once, or again and again with --watch.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <variant>

#include "common/text.hpp"
#include "host/exports.hpp"
#include "host/host_state.hpp"
#include "listing/list_ports.hpp"
#include "options.hpp"
#include "os/os.hpp"

namespace {

constexpr char kDefaultTemplate[] = "%ptt\t%lip:%lpt\t%rip:%rpt\t%stat\t%pid\t%nm\t%hn\n";
constexpr auto kPollInterval = std::chrono::milliseconds(10);

volatile sig_atomic_t interrupted = 0;

void on_interrupt(int) { interrupted = 1; }

void catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int fail(const std::string& reason) {
  std::fprintf(stderr, "quorvane: %s\n", reason.c_str());
  return 2;
}

// 0 when the file can be read (a directory opens but cannot be read); else the error number.
int read_error(const std::string& file) {
  std::FILE* stream = std::fopen(file.c_str(), "r");
  if (stream == nullptr) return errno;
  char probe[256];
  const bool failed = std::fread(probe, 1, sizeof probe, stream) == 0 && std::ferror(stream) != 0;
  const int error = errno;
  std::fclose(stream);
  return failed ? error : 0;
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

// Sleeps in short steps so that Ctrl-C ends the wait at once.
void pause_for(std::chrono::duration<double> length) {
  const auto end = std::chrono::steady_clock::now() + length;
  while (interrupted == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(kPollInterval);
  }
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
  for (const char c : listing)
    frame += c == '\n' ? std::string_view("\x1b[K\n") : std::string_view(&c, 1);
  frame += "\x1b[K\x1b[J";
  return write_all(frame) && std::fflush(stdout) == 0;
}

int write_failed() {
  std::fprintf(stderr, "quorvane: cannot write the listing: %s\n", std::strerror(errno));
  return 1;
}

int run(const quorvane::Options& options, std::int32_t instance) {
  qv::InstanceSettings& record = *qv::instance_record(instance);
  if (options.settingsFile) {
    src_load_settings(instance, options.settingsFile->c_str(), options.section->c_str());
  } else {
    qv::store_text(record.outputTemplate, kDefaultTemplate);
    record.noLeadingZeros = 1;
  }
  if (options.outputTemplate) qv::store_text(record.outputTemplate, *options.outputTemplate);

  // The first call starts the collector; its first pass publishes when it is done, however long
  // the machine takes.
  while (!qv::refresh_listing(instance)) {
    if (interrupted != 0) return 130;
    std::this_thread::sleep_for(kPollInterval);
  }
  if (!options.watchSeconds) return print_plain(record.outputText) ? 0 : write_failed();

  const bool terminal = isatty(STDOUT_FILENO) == 1;
  if (terminal && !write_all("\x1b[2J")) return write_failed();
  const char* listing = record.outputText;
  for (;;) {
    // Piped listings follow each other, a blank line between them.
    if (!(terminal ? print_frame(listing) : print_plain(listing) && write_all("\n"))) {
      return write_failed();
    }
    pause_for(std::chrono::duration<double>(*options.watchSeconds));
    if (interrupted != 0) return 0;
    listing = ListPorts(instance);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = quorvane::parse_options(argc, argv);
  if (const auto* reason = std::get_if<std::string>(&parsed)) {
    return fail(*reason + " (see quorvane --help)");
  }
  const quorvane::Options& options = std::get<quorvane::Options>(parsed);
  if (options.help) return std::fputs(quorvane::kUsage, stdout) >= 0 ? 0 : 1;
  if (options.version) return std::printf("quorvane %s\n", getinfo(2)) > 0 ? 0 : 1;
  if (options.settingsFile) {
    if (const int error = read_error(*options.settingsFile)) {
      return fail("cannot read settings file '" + *options.settingsFile +
                  "': " + std::strerror(error));
    }
    if (!section_has_settings(*options.settingsFile, *options.section)) {
      return fail("no settings in section [" + *options.section + "] of '" + *options.settingsFile +
                  "'");
    }
  }
  catch_interrupts();

  quorvane_process_attach();
  const std::int32_t instance = dllstartup(0, 0);
  const int status = run(options, instance);
  dllshutdown(0);
  quorvane_process_detach();
  return status;
}
