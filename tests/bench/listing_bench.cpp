// ListPorts on a full table against its floor, copying the snapshot alone, measured side by side:
// single calls of the two alternate, and the medians of each are compared, so that a burst of
// load on a shared machine hits both alike and outliers drop out.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "collector/collector.hpp"
#include "common/text.hpp"
#include "fake/fake_os.hpp"
#include "host/exports.hpp"
#include "host/host_state.hpp"
#include "listing/list_ports.hpp"

namespace {

constexpr int kSamples = 4001;
constexpr double kGoal = 5.0;

// 600 TCP rows (two thirds connected), 425 UDP rows, 50 programs with long paths, host names for
// every remote address: 1,025 entries with every text field in use.
void fill_machine() {
  fake::Os& m = fake::machine();
  std::lock_guard lock(m.mutex);
  std::vector<os::TcpRow> tcp;
  for (std::uint32_t i = 0; i < 600; ++i) {
    const bool connected = i % 3 != 0;
    const std::uint32_t remote = connected ? fake::address(10, static_cast<std::uint8_t>(i / 250),
                                                           7, static_cast<std::uint8_t>(i % 250))
                                           : 0;
    tcp.push_back({connected ? 5U : 2U, fake::address(192, 168, 100, 200),
                   fake::port(static_cast<std::uint16_t>(40000 + i)), remote,
                   fake::port(connected ? 443 : 0), 1000 + i % 50});
    if (connected) {
      m.ptrAnswers[std::to_string(i % 250) + ".7." + std::to_string(i / 250) + ".10.in-addr.arpa"] =
          "host-" + std::to_string(i) + ".example.net";
    }
  }
  std::vector<os::UdpRow> udp;
  for (std::uint32_t i = 0; i < 425; ++i) {
    udp.push_back({fake::address(0, 0, 0, 0), fake::port(static_cast<std::uint16_t>(5000 + i)),
                   1000 + i % 50});
  }
  m.tcpRows = tcp;
  m.udpRows = udp;
  for (std::uint32_t pid = 1000; pid < 1050; ++pid) {
    fake::Process process;
    process.executablePath = "/usr/lib/quorvane-bench/programs/service-" + std::to_string(pid);
    m.processes[pid] = process;
  }
}

// The worker stops in its first pause, so the published table stays put while we measure.
struct Pause {
  std::mutex mutex;
  std::condition_variable ended;
  bool over = false;

  void hold() {
    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return over; });
  }
  void end() {
    std::lock_guard lock(mutex);
    over = true;
    ended.notify_all();
  }
};

template <typename Work>
double microseconds_of(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
  return spent.count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Case {
  const char* name;
  const char* outputTemplate;
  std::int32_t hideZeroAddress;
  std::int64_t rangeLow;
  std::int64_t rangeHigh;
};

}  // namespace

int main() {
  Pause pause;
  fake::reset();
  fill_machine();
  fake::machine().onSleep = [&](std::uint32_t) { pause.hold(); };
  quorvane_process_attach();
  const std::int32_t instance = dllstartup(0, 0);
  qv::InstanceSettings& record = *qv::instance_record(instance);
  while (!qv::refresh_listing(instance)) {
  }

  const Case cases[] = {
      {"all nine placeholders", "%ptt %lip:%lpt %rip:%rpt %stat %pid %nm %hn\n", 0, 0, 0},
      {"all nine, every entry filtered", "%ptt %lip:%lpt %rip:%rpt %stat %pid %nm %hn\n", 1,
       10000007000, 10002007250},
      {"no placeholders, 1 character", "x", 0, 0, 0},
  };
  std::printf("ListPorts against the floor (copying the snapshot alone), %d entries,\n",
              qv::collector_view().lastEntryIndex + 1);
  std::printf("medians of %d calls each, the two alternating\n\n", kSamples);
  std::printf("%-32s %10s %14s %7s %6s\n", "case", "floor us", "ListPorts us", "ratio", "goal");
  bool met = true;
  std::vector<qv::ConnectionEntry> snapshot;
  for (const Case& c : cases) {
    qv::store_text(record.outputTemplate, c.outputTemplate);
    record.hideZeroAddress = c.hideZeroAddress;
    record.rangeLow = c.rangeLow;
    record.rangeHigh = c.rangeHigh;
    std::vector<double> floors, listings;
    for (int sample = 0; sample < kSamples; ++sample) {
      floors.push_back(microseconds_of([&] { qv::take_snapshot(snapshot); }));
      listings.push_back(microseconds_of([&] { ListPorts(instance); }));
    }
    const double ratio = median(listings) / median(floors);
    met = met && ratio <= kGoal;
    std::printf("%-32s %10.1f %14.1f %6.2fx %5s%.0fx\n", c.name, median(floors), median(listings),
                ratio, "<=", kGoal);
  }

  pause.end();
  dllshutdown(0);
  quorvane_process_detach();
  return met ? 0 : 1;
}
