// The meter through its exports while the fake machine misbehaves on the collector's thread:
// table requests that fail every other pass, a process that exits between the table and its
// name, a resolver that hangs, more endpoints than the table holds, a table that cannot be
// allocated, a stop asked for in the middle of a pass. The meter must keep answering at once with
// a whole listing, never a torn or half-written one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <latch>
#include <semaphore>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "collector/collector.hpp"
#include "common/text.hpp"
#include "fake/fake_os.hpp"
#include "host/exports.hpp"
#include "host/host_state.hpp"

namespace {

using namespace std::chrono_literals;
using fake::address;
using fake::port;

// Holds the worker in its pause after each pass until the test has listed, so that the test
// sees every pass exactly once and changes the world only between passes.
class Lockstep {
 public:
  // On the worker, from the fake's pause.
  void pause() {
    if (free_) return;
    paused_.release();
    listed_.acquire();
  }
  void wait_for_pause() { paused_.acquire(); }
  void resume() { listed_.release(); }
  void let_go() {
    free_ = true;
    listed_.release();
  }

 private:
  std::counting_semaphore<> paused_{0};
  std::counting_semaphore<> listed_{0};
  std::atomic<bool> free_{false};
};

// A resolver that hangs on one chosen query until the test lets it go (or, should the test fail
// to, for a few seconds).
class HangingResolver {
 public:
  explicit HangingResolver(int hangingQuery) : hangingQuery_(hangingQuery) {}
  void answer() {
    if (++queries_ != hangingQuery_) return;
    hanging_.count_down();
    releasedByTest_ = released_.try_acquire_for(5s);
  }
  void wait_until_hanging() { hanging_.wait(); }
  void release() { released_.release(); }
  [[nodiscard]] bool released_by_test() const { return releasedByTest_; }
  [[nodiscard]] int queries() const { return queries_; }

 private:
  const int hangingQuery_;
  std::atomic<int> queries_{0};
  std::latch hanging_{1};
  std::counting_semaphore<> released_{0};
  std::atomic<bool> releasedByTest_{false};
};

os::TcpRow listener(std::uint16_t localPort, std::uint32_t pid = 1) {
  return {2, address(0, 0, 0, 0), port(localPort), address(0, 0, 0, 0), port(0), pid};
}

os::TcpRow connection(std::uint8_t remoteLast, std::uint16_t remotePort) {
  return {5, address(10, 0, 0, 2), port(50000), address(192, 168, 5, remoteLast), port(remotePort),
          1};
}

os::UdpRow udp(std::uint16_t localPort) { return {address(0, 0, 0, 0), port(localPort), 1}; }

// Lets the worker go and stops it at the end of a test's scope, declared after the objects that
// the fake's hooks use so that no pass outlives them, however the test ends.
class WorkerStop {
 public:
  explicit WorkerStop(Lockstep& lockstep) : lockstep_(lockstep) {}
  WorkerStop(const WorkerStop&) = delete;
  WorkerStop& operator=(const WorkerStop&) = delete;
  ~WorkerStop() {
    lockstep_.let_go();
    dllshutdown(0);
  }

 private:
  Lockstep& lockstep_;
};

class InjectedFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    quorvane_process_attach();
    ASSERT_EQ(dllstartup(0, 0), 1);
    use_template("%ptt%lpt;", 1);
  }
  void TearDown() override {
    dllshutdown(0);
    quorvane_process_detach();
    fake::reset();
  }

  static void use_template(const char* outputTemplate, std::int32_t noLeadingZeros) {
    qv::InstanceSettings& record = *qv::instance_record(1);
    qv::store_text(record.outputTemplate, outputTemplate);
    record.noLeadingZeros = noLeadingZeros;
  }
  void pause_in_lockstep() {
    fake::machine().onSleep = [this](std::uint32_t) { lockstep.pause(); };
  }
  // The listing of the pass that has just paused; the worker then goes on to the next pass.
  std::string listing_after_next_pass() {
    lockstep.wait_for_pause();
    std::string listing = ListPorts(1);
    lockstep.resume();
    return listing;
  }

  Lockstep lockstep;
};

TEST_F(InjectedFaults, TableRequestsFailingOnAlternatePassesGiveWholeListings) {
  fake::Os& m = fake::machine();
  const std::vector<os::TcpRow> tcpRows = {listener(80), listener(81)};
  const std::vector<os::UdpRow> udpRows = {udp(53)};
  std::atomic<int> tcpRequests{0}, udpRequests{0};
  const WorkerStop stop(lockstep);
  // TCP fails on every second pass, UDP on every third and fourth of four.
  m.onTcpTable = [&] {
    const bool fail = ++tcpRequests % 2 == 0;
    std::lock_guard lock(fake::machine().mutex);
    fake::machine().tcpRows = fail ? std::nullopt : std::optional(tcpRows);
  };
  m.onUdpTable = [&] {
    const int turn = ++udpRequests % 4;
    const bool fail = turn == 3 || turn == 0;
    std::lock_guard lock(fake::machine().mutex);
    fake::machine().udpRows = fail ? std::nullopt : std::optional(udpRows);
  };
  pause_in_lockstep();

  ListPorts(1);
  const char* const expected[] = {"TCP80;TCP81;UDP53;", "UDP53;", "TCP80;TCP81;", ""};
  for (int pass = 0; pass < 12; ++pass) {
    EXPECT_EQ(listing_after_next_pass(), expected[pass % 4]) << "pass " << pass + 1;
  }
}

TEST_F(InjectedFaults, ListingsTakenWhilePassesFailAreAlwaysOneWholePass) {
  fake::Os& m = fake::machine();
  std::vector<os::TcpRow> tcpRows;
  for (std::uint16_t p = 1000; p < 1200; ++p) tcpRows.push_back(listener(p));
  std::atomic<int> requests{0};
  const WorkerStop stop(lockstep);
  m.onTcpTable = [&] {
    const bool fail = ++requests % 2 == 0;
    std::lock_guard lock(fake::machine().mutex);
    fake::machine().tcpRows = fail ? std::nullopt : std::optional(tcpRows);
  };
  use_template("%lpt;", 1);
  std::string whole;
  for (std::uint16_t p = 1000; p < 1200; ++p) whole += std::to_string(p) + ";";

  // The worker runs freely; the meter is called as fast as it can be.
  std::set<std::string> seen;
  while (requests < 200) seen.insert(ListPorts(1));
  for (const std::string& listing : seen) {
    EXPECT_TRUE(listing.empty() || listing == whole) << listing.substr(0, 80);
  }
}

TEST_F(InjectedFaults, AProcessThatExitsBetweenTheTableAndItsNameIsSystem) {
  fake::Os& m = fake::machine();
  m.tcpRows = std::vector<os::TcpRow>{listener(80, 10), listener(81, 11)};
  m.processes[10] = fake::Process{true, true, "/usr/bin/httpd", std::nullopt};
  m.processes[11] = fake::Process{true, true, "/usr/bin/sshd", std::nullopt};
  std::atomic<int> requests{0};
  const WorkerStop stop(lockstep);
  m.onTcpTable = [&] {
    if (++requests != 2) return;
    // Gone after the system listed its endpoints, before the collector asks for its name.
    std::lock_guard lock(fake::machine().mutex);
    fake::machine().processes.erase(10);
  };
  use_template("%nm;", 1);
  pause_in_lockstep();

  ListPorts(1);
  EXPECT_EQ(listing_after_next_pass(), "httpd;sshd;");
  EXPECT_EQ(listing_after_next_pass(), "System;sshd;");
  lockstep.wait_for_pause();
  std::lock_guard lock(m.mutex);
  EXPECT_EQ(m.openProcessHandles, 0) << "every process opened was closed again";
}

TEST_F(InjectedFaults, AHangingResolverNeverHoldsUpTheMeter) {
  fake::Os& m = fake::machine();
  m.tcpRows = std::vector<os::TcpRow>{connection(9, 443)};
  m.ptrAnswers["9.5.168.192.IN-ADDR.ARPA"] = "peer.example";
  HangingResolver resolver(2);  // the first pass resolves, the second one hangs
  const WorkerStop stop(lockstep);
  m.onDnsQuery = [&](const std::string&) { resolver.answer(); };
  use_template("%hn:%rpt;", 1);
  pause_in_lockstep();

  ListPorts(1);
  EXPECT_EQ(listing_after_next_pass(), "peer.example:443;");
  resolver.wait_until_hanging();
  // The host's pace for a second, then some more calls as fast as they come.
  std::chrono::steady_clock::duration worst{};
  for (int call = 0; call < 120; ++call) {
    const auto start = std::chrono::steady_clock::now();
    const std::string listing = ListPorts(1);
    worst = std::max(worst, std::chrono::steady_clock::now() - start);
    EXPECT_EQ(listing, "peer.example:443;");
    if (call < 20) std::this_thread::sleep_for(50ms);
  }
  resolver.release();
  // Had a call waited for the resolver, the resolver would have given up by itself first.
  lockstep.wait_for_pause();
  EXPECT_TRUE(resolver.released_by_test());
  const auto worstMicroseconds = std::chrono::duration_cast<std::chrono::microseconds>(worst);
  std::cout << "worst ListPorts call while the resolver hung: " << worstMicroseconds.count()
            << " us\n";
  RecordProperty("worst_call_us", static_cast<int>(worstMicroseconds.count()));
  EXPECT_EQ(ListPorts(1), std::string("peer.example:443;"));
  lockstep.resume();
}

TEST_F(InjectedFaults, MoreEndpointsThanTheTableHoldsKeepTheFirst1025AndCutAt4095) {
  fake::Os& m = fake::machine();
  const auto fill = [](int tcpCount, int udpCount) {
    std::vector<os::TcpRow> tcpRows;
    std::vector<os::UdpRow> udpRows;
    tcpRows.reserve(static_cast<std::size_t>(tcpCount));
    udpRows.reserve(static_cast<std::size_t>(udpCount));
    for (int i = 0; i < tcpCount; ++i) tcpRows.push_back(listener(static_cast<std::uint16_t>(i)));
    for (int i = 0; i < udpCount; ++i) udpRows.push_back(udp(static_cast<std::uint16_t>(i)));
    std::lock_guard lock(fake::machine().mutex);
    fake::machine().tcpRows = std::move(tcpRows);
    fake::machine().udpRows = std::move(udpRows);
  };
  std::atomic<int> requests{0};
  const WorkerStop stop(lockstep);
  m.onTcpTable = [&] { ++requests == 1 ? fill(1500, 600) : fill(1000, 600); };
  pause_in_lockstep();
  use_template("%ptt", 1);
  ListPorts(1);
  std::string expected;
  for (int i = 0; i < 1025; ++i) expected += "TCP";
  EXPECT_EQ(listing_after_next_pass(), expected);
  expected.clear();
  for (int i = 0; i < 1025; ++i) expected += i < 1000 ? "TCP" : "UDP";
  EXPECT_EQ(listing_after_next_pass(), expected);

  use_template("%ptt%lpt%pid.", 0);  // 13 characters an entry: the listing is cut at 4,095
  lockstep.wait_for_pause();
  const std::string cut = ListPorts(1);
  lockstep.resume();
  EXPECT_EQ(cut.size(), 4095U);
  EXPECT_EQ(cut.substr(0, 26), "TCP000000001.TCP000010001.");
}

TEST_F(InjectedFaults, ATableThatCannotBeAllocatedLeavesThePreviousListing) {
  fake::Os& m = fake::machine();
  m.tcpRows = std::vector<os::TcpRow>{listener(80)};
  std::atomic<int> requests{0};
  const WorkerStop stop(lockstep);
  // The pause after the first pass sets the second one up to fail its allocation, and so on.
  m.onSleep = [&](std::uint32_t) {
    {
      std::lock_guard lock(fake::machine().mutex);
      const int next = ++requests + 1;
      fake::machine().failAllocation = next == 2 || next == 3;
      fake::machine().tcpRows = std::vector<os::TcpRow>{listener(static_cast<std::uint16_t>(next))};
    }
    lockstep.pause();
  };
  ListPorts(1);
  EXPECT_EQ(listing_after_next_pass(), "TCP80;");
  EXPECT_EQ(listing_after_next_pass(), "TCP80;") << "no table: the previous listing stands";
  EXPECT_EQ(listing_after_next_pass(), "TCP80;");
  EXPECT_EQ(listing_after_next_pass(), "TCP4;");
}

TEST_F(InjectedFaults, AStopAskedForMidPassEndsAfterThatPassAndItsPause) {
  fake::Os& m = fake::machine();
  m.tcpRows = std::vector<os::TcpRow>{connection(9, 443)};
  HangingResolver resolver(1);
  const WorkerStop stop(lockstep);
  m.onDnsQuery = [&](const std::string&) { resolver.answer(); };
  use_template("%hn;", 1);

  EXPECT_STREQ(ListPorts(1), "");
  resolver.wait_until_hanging();
  EXPECT_STREQ(ListPorts(1), "") << "the pass under way is not read";
  std::atomic<bool> shutdownReturned{false};
  std::atomic<bool> resolverReleasedFirst{false};
  std::atomic<bool> releasing{false};
  std::thread host([&] {
    EXPECT_EQ(dllshutdown(0), 0);
    resolverReleasedFirst = releasing.load();
    shutdownReturned = true;
  });
  // The stop is asked for while the pass still hangs in the resolver.
  while (qv::collector_view().collectorStop != 1) std::this_thread::yield();
  releasing = true;
  resolver.release();
  host.join();
  EXPECT_TRUE(shutdownReturned);
  EXPECT_TRUE(resolverReleasedFirst) << "dllshutdown returned while the pass still ran";
  EXPECT_TRUE(resolver.released_by_test());
  EXPECT_EQ(ListPorts(1), std::string("192.168.5.9;")) << "the finished pass is published";
  std::lock_guard lock(m.mutex);
  EXPECT_EQ(m.sleeps, std::vector<std::uint32_t>{1000}) << "one pass, one pause, then the end";
  EXPECT_EQ(m.threadStarts, 1) << "no collector is started after dllshutdown";
  EXPECT_EQ(resolver.queries(), 1);
}

}  // namespace
