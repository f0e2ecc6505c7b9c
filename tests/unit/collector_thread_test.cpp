// The collector's worker against a reader on real threads: busy until the first publish, a reader
// that never waits and never overlaps a rebuild, shutdown during a pass, start and detach.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "collector/collector.hpp"
#include "fake/fake_os.hpp"

namespace {

using fake::address;
using fake::port;

// A door one thread waits at until another opens it; once open it stays open.
class Gate {
 public:
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// Counts the worker's pauses, each of which follows a publish.
class Publishes {
 public:
  void count() {
    std::lock_guard lock(mutex_);
    ++count_;
    changed_.notify_all();
  }
  void wait_for(int atLeast) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return count_ >= atLeast; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

// Declared after a test's gates and counters, so that the worker is let go and has ended before
// the objects its hooks use are gone, however the test ends.
class WorkerEnd {
 public:
  explicit WorkerEnd(std::initializer_list<Gate*> gates) : gates_(gates) {}
  WorkerEnd(const WorkerEnd&) = delete;
  WorkerEnd& operator=(const WorkerEnd&) = delete;
  ~WorkerEnd() {
    for (Gate* gate : gates_) gate->open();
    qv::stop_collector();
  }

 private:
  std::vector<Gate*> gates_;
};

std::vector<os::TcpRow> listeners(int count) {
  std::vector<os::TcpRow> rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    rows.push_back({2, address(0, 0, 0, 0), port(static_cast<std::uint16_t>(80 + i)), 0, 0, 9});
  }
  return rows;
}

void set_tcp_rows(std::vector<os::TcpRow> rows) {
  std::lock_guard lock(fake::machine().mutex);
  fake::machine().tcpRows = std::move(rows);
}

class CollectorThread : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    qv::release_collector();
  }
  void TearDown() override { qv::release_collector(); }
};

TEST_F(CollectorThread, CountsAsBusyFromItsStartUntilItsFirstPublish) {
  Gate inFirstRequest, letFirstPassOn;
  Publishes publishes;
  fake::machine().tcpRows = listeners(2);
  fake::machine().onTcpTable = [&] {
    inFirstRequest.open();
    letFirstPassOn.wait();
  };
  fake::machine().onSleep = [&](std::uint32_t) { publishes.count(); };

  std::vector<qv::ConnectionEntry> entries;
  const WorkerEnd end{&inFirstRequest, &letFirstPassOn};
  qv::start_collector_once();
  ASSERT_TRUE(qv::collector_started());
  EXPECT_FALSE(qv::take_snapshot(entries));  // whether or not the worker has begun its pass
  inFirstRequest.wait();
  EXPECT_FALSE(qv::take_snapshot(entries));
  EXPECT_EQ(qv::collector_view().collectorBusy, 1);
  letFirstPassOn.open();
  publishes.wait_for(1);
  while (!qv::take_snapshot(entries)) std::this_thread::yield();  // a later pass may be running
  EXPECT_EQ(entries.size(), 2U);
}

TEST_F(CollectorThread, ReaderNeverWaitsForAPassAndSeesOnlyWholePasses) {
  Gate inSecondRequest, letSecondPassOn;
  Publishes publishes;
  std::atomic<int> requests{0};
  fake::machine().tcpRows = listeners(1);
  fake::machine().onTcpTable = [&] {
    if (++requests == 2) {
      set_tcp_rows(listeners(3));
      inSecondRequest.open();
      letSecondPassOn.wait();
    }
  };
  Gate holdPause;
  fake::machine().onSleep = [&](std::uint32_t) {
    publishes.count();
    holdPause.wait();
  };

  const WorkerEnd end{&inSecondRequest, &letSecondPassOn, &holdPause};
  qv::start_collector_once();
  publishes.wait_for(1);
  std::vector<qv::ConnectionEntry> entries;
  ASSERT_TRUE(qv::take_snapshot(entries));  // the worker is held in its pause
  EXPECT_EQ(entries.size(), 1U);
  holdPause.open();
  inSecondRequest.wait();
  EXPECT_FALSE(qv::take_snapshot(entries));
  EXPECT_EQ(entries.size(), 1U) << "a refused snapshot leaves the caller's copy alone";
  letSecondPassOn.open();
  publishes.wait_for(2);
  while (!qv::take_snapshot(entries)) std::this_thread::yield();
  EXPECT_EQ(entries.size(), 3U);
}

TEST_F(CollectorThread, StopDuringAPassLetsItFinishAndPauseThenEnds) {
  Gate inQuery, answerQuery;
  std::atomic<bool> stopReturned{false};
  std::atomic<int> pausesBeforeStopReturned{0};
  fake::machine().tcpRows = std::vector<os::TcpRow>{
      {5, address(10, 0, 0, 2), port(40000), address(10, 0, 0, 9), port(22), 9}};
  fake::machine().onDnsQuery = [&](const std::string&) {
    inQuery.open();
    answerQuery.wait();
  };
  fake::machine().onSleep = [&](std::uint32_t) {
    if (!stopReturned) ++pausesBeforeStopReturned;
  };

  const WorkerEnd end{&inQuery, &answerQuery};
  qv::start_collector_once();
  inQuery.wait();
  std::thread host([&] {
    qv::stop_collector();
    stopReturned = true;
  });
  while (qv::collector_view().collectorStop != 1) std::this_thread::yield();
  EXPECT_FALSE(stopReturned);
  answerQuery.open();
  host.join();

  EXPECT_EQ(pausesBeforeStopReturned, 1);
  EXPECT_EQ(fake::machine().sleeps, std::vector<std::uint32_t>{1000});
  EXPECT_EQ(fake::machine().dnsQueries.size(), 1U) << "no second pass";
  std::vector<qv::ConnectionEntry> entries;
  ASSERT_TRUE(qv::take_snapshot(entries)) << "the last published table stays";
  EXPECT_EQ(entries.size(), 1U);
  EXPECT_TRUE(qv::collector_started()) << "an ended worker is not started again";
  qv::start_collector_once();
  EXPECT_EQ(fake::machine().threadStarts, 1);
  qv::stop_collector();  // a second stop returns at once
}

TEST_F(CollectorThread, SnapshotsTakenDuringRebuildsAreAlwaysWholePasses) {
  // The world flips between a shape of five entries and one of a single entry, pass by pass.
  std::atomic<int> requests{0};
  fake::machine().onTcpTable = [&] {
    const bool big = ++requests % 2 == 0;
    std::lock_guard lock(fake::machine().mutex);
    fake::machine().tcpRows = listeners(big ? 3 : 1);
    fake::machine().udpRows = big ? std::vector<os::UdpRow>{{0, port(53), 9}, {0, port(54), 9}}
                                  : std::vector<os::UdpRow>{};
  };
  std::atomic<int> passes{0};
  fake::machine().onSleep = [&](std::uint32_t) {
    ++passes;
    std::this_thread::yield();
  };

  const WorkerEnd end{};
  qv::start_collector_once();
  int whole = 0;
  std::vector<qv::ConnectionEntry> entries;
  while (passes < 200 || whole < 50) {
    if (!qv::take_snapshot(entries)) continue;
    ++whole;
    ASSERT_TRUE(entries.size() == 1 || entries.size() == 5) << entries.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      ASSERT_EQ(entries[i].entryIndex, static_cast<std::int32_t>(i));
      ASSERT_EQ(entries[i].protocol, entries.size() == 5 && i >= 3 ? 2 : 1);
    }
  }
}

TEST_F(CollectorThread, AWorkerThatCannotStartIsTriedAgainByTheNextCall) {
  fake::machine().failThreadStart = true;
  const WorkerEnd end{};
  qv::start_collector_once();
  EXPECT_FALSE(qv::collector_started());
  qv::stop_collector();  // nothing to stop: returns at once

  fake::machine().failThreadStart = false;
  qv::start_collector_once();
  qv::start_collector_once();
  EXPECT_TRUE(qv::collector_started());
  EXPECT_EQ(fake::machine().threadStarts, 1);
}

TEST_F(CollectorThread, DetachLeavesARunningWorkersTableAndResetsAnEndedOne) {
  Publishes publishes;
  Gate holdPause;
  fake::machine().tcpRows = listeners(2);
  fake::machine().onSleep = [&](std::uint32_t) {
    publishes.count();
    holdPause.wait();
  };
  const WorkerEnd end{&holdPause};
  qv::start_collector_once();
  publishes.wait_for(1);

  qv::release_collector();  // the worker still runs: nothing may be released under it
  std::vector<qv::ConnectionEntry> entries;
  ASSERT_TRUE(qv::take_snapshot(entries));
  EXPECT_EQ(entries.size(), 2U);
  EXPECT_TRUE(qv::collector_started());

  holdPause.open();
  qv::stop_collector();
  qv::release_collector();
  EXPECT_FALSE(qv::collector_started());
  EXPECT_FALSE(qv::take_snapshot(entries));
  const auto view = qv::collector_view();
  EXPECT_EQ(view.collectorBusy, 0);
  EXPECT_EQ(view.collectorStop, 0);
  EXPECT_FALSE(view.published);
}

}  // namespace
