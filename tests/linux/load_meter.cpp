// Plays the desktop host under load: three meter instances with their own settings, each listed
// 20 times a second for a given time, every entry of every listing checked against its
// template's shape, the settings saved and loaded again now and then, and the process's resident
// memory compared between the start of the run and its end.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "host/exports.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kStates[] =
    "(Closed|Listening|SYN Sent|SYN Recieved|Established|FIN Wait 1|FIN Wait 2|Close Wait|"
    "Closing|Last ACK|Time Wait|Delete TCB)";
constexpr char kAddress[] = R"((\d{1,3}\.){3}\d{1,3})";

// One instance's settings and the shape every entry of its listing must have.
struct Meter {
  const char* section;
  const char* settings;
  char entryEnd;  // the template's last character, which ends every entry
  std::regex entry;
};

long resident_kib() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Totals {
  long listings = 0;
  long entries = 0;
  long withChurn = 0;  // listings that name the churning processes
  long changes = 0;    // listings unlike the instance's previous one: the meter follows the churn
  long malformed = 0;
};

// Every whole entry must have the shape; only a listing cut at 4,095 characters may end in part
// of one.
void check(const Meter& meter, const std::string& listing, Totals& totals) {
  ++totals.listings;
  if (listing.find("socket_churn") != std::string::npos) ++totals.withChurn;
  std::size_t start = 0;
  for (std::size_t end; (end = listing.find(meter.entryEnd, start)) != std::string::npos;
       start = end + 1) {
    ++totals.entries;
    if (!std::regex_match(listing.begin() + static_cast<std::ptrdiff_t>(start),
                          listing.begin() + static_cast<std::ptrdiff_t>(end), meter.entry)) {
      ++totals.malformed;
      std::printf("malformed entry of [%s]: %s\n", meter.section,
                  listing.substr(start, end - start).c_str());
    }
  }
  if (start != listing.size() && listing.size() != 4095) {
    ++totals.malformed;
    std::printf("listing of [%s] ends in part of an entry: %s\n", meter.section,
                listing.substr(start).c_str());
  }
}

int run(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SECONDS SETTINGS_FILE\n", argv[0]);
    return 2;
  }
  const auto seconds = std::chrono::seconds(std::atoi(argv[1]));
  const char* file = argv[2];
  const std::string address = kAddress;
  const Meter meters[] = {
      {"Every endpoint", "Template=%ptt %lip:%lpt %rip:%rpt [%stat] %pid %nm|\nzero=1\n", '|',
       std::regex("TCP " + address + R"(:\d+ )" + address + R"(:\d+ \[)" + kStates +
                  R"(\] \d+ [^|]*|UDP )" + address +
                  R"(:\d+ 000\.000\.000\.000:0 \[\] \d+ [^|]*)")},
      {"Connections", "Template=%ptt%lpt/%rpt/%pid;\nflt0=1\n", ';',
       std::regex(R"(TCP\d{5,}/\d{5,}/\d{4,})")},
      {"Far hosts", "Template=<%hn>\nflt0=1\nfltL=127000000000\nfltH=127000000100\n", '>',
       std::regex("<[^<>]+")},
  };
  {
    std::ofstream settings(file);
    for (const Meter& meter : meters) settings << '[' << meter.section << "]\n" << meter.settings;
  }

  quorvane_process_attach();
  for (const Meter& meter : meters) {
    const std::int32_t instance = dllstartup(0, 0);
    src_load_settings(instance, file, meter.section);
  }

  Totals totals;
  std::string previous[3];
  Clock::duration worst{};
  long firstKib = 0;
  const Clock::time_point begin = Clock::now();
  const Clock::time_point firstSample = begin + seconds / 10;
  Clock::time_point tick = begin;
  for (int round = 0; Clock::now() < begin + seconds; ++round) {
    for (std::int32_t instance = 1; instance <= 3; ++instance) {
      const Clock::time_point start = Clock::now();
      const std::string listing = ListPorts(instance);
      worst = std::max(worst, Clock::now() - start);
      check(meters[instance - 1], listing, totals);
      if (listing != previous[instance - 1]) ++totals.changes;
      previous[instance - 1] = listing;
    }
    // Now and then the host saves a meter's settings and loads them again (which empties it).
    if (round % 100 == 99) {
      src_save_settings(3, file, meters[2].section);
      src_load_settings(3, file, meters[2].section);
    }
    if (firstKib == 0 && Clock::now() >= firstSample) firstKib = resident_kib();
    tick += std::chrono::milliseconds(50);
    std::this_thread::sleep_until(tick);
  }
  const long lastKib = resident_kib();
  dllshutdown(0);
  quorvane_process_detach();

  const auto worstUs = std::chrono::duration_cast<std::chrono::microseconds>(worst).count();
  std::printf(
      "load: %ld listings (%ld changed), %ld entries, %ld malformed, %ld naming socket_churn; "
      "worst call %lld us; resident memory first %ld KiB, last %ld KiB\n",
      totals.listings, totals.changes, totals.entries, totals.malformed, totals.withChurn,
      static_cast<long long>(worstUs), firstKib, lastKib);
  bool passed =
      totals.malformed == 0 && totals.entries > 0 && totals.withChurn > 0 && totals.changes >= 3;
  // Flat: growth within a tenth of the start and some slack for the allocator's own caches.
  if (lastKib > firstKib + firstKib / 10 + 8192) {
    std::printf("load: resident memory grew from %ld KiB to %ld KiB\n", firstKib, lastKib);
    passed = false;
  }
  return passed ? 0 : 1;
}

}  // namespace

// Usage: load_meter SECONDS SETTINGS_FILE
int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "load_meter: %s\n", error.what());
    return 2;
  }
}
