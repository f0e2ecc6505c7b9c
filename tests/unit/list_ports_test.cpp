// ListPorts against the collector on real threads and the fake platform: the first call, the
// busy collector, numbers outside the table, a thread that cannot start.
#include "listing/list_ports.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "collector/collector.hpp"
#include "common/text.hpp"
#include "fake/fake_os.hpp"
#include "host/exports.hpp"
#include "host/host_state.hpp"

namespace {

// Holds the collector's next pass still at its TCP table request until released.
struct PassGate {
  std::mutex mutex;
  std::condition_variable changed;
  bool holding = false;
  bool held = false;

  void pass_point() {
    std::unique_lock lock(mutex);
    if (!holding) return;
    held = true;
    changed.notify_all();
    changed.wait(lock, [&] { return !holding; });
    held = false;
  }
  void hold() {
    std::lock_guard lock(mutex);
    holding = true;
  }
  void wait_until_held() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return held; });
  }
  void release() {
    std::lock_guard lock(mutex);
    holding = false;
    changed.notify_all();
  }
};

os::TcpRow listening(std::uint16_t port) {
  return {2, fake::address(127, 0, 0, 1), fake::port(port), 0, 0, 0};
}

void set_tcp_rows(std::vector<os::TcpRow> rows) {
  std::lock_guard lock(fake::machine().mutex);
  fake::machine().tcpRows = std::move(rows);
}

int thread_starts() {
  std::lock_guard lock(fake::machine().mutex);
  return fake::machine().threadStarts;
}

// Calls ListPorts until it answers want (the collector's passes follow each other quickly).
std::string list_until(std::int32_t instance, const std::string& want) {
  std::string text;
  for (int attempt = 0; attempt < 20000 && text != want; ++attempt) {
    text = ListPorts(instance);
    if (text != want) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return text;
}

class ListPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fake::machine().onTcpTable = [this] { gate.pass_point(); };
    quorvane_process_attach();
    EXPECT_EQ(dllstartup(0, 0), 1);
    EXPECT_EQ(dllstartup(0, 0), 2);
    for (const std::int32_t instance : {1, 2}) {
      qv::store_text(qv::instance_record(instance)->outputTemplate, "%ptt %lpt;");
      qv::instance_record(instance)->noLeadingZeros = 1;
    }
    set_tcp_rows({listening(80)});
  }
  void TearDown() override {
    gate.release();
    dllshutdown(0);
    quorvane_process_detach();
    fake::reset();
  }

  PassGate gate;
};

TEST_F(ListPortsTest, FirstCallAnswersEmptyAndOneCollectorServesEveryInstance) {
  gate.hold();
  EXPECT_STREQ(ListPorts(2), "");
  gate.wait_until_held();
  EXPECT_STREQ(ListPorts(1), "");
  EXPECT_STREQ(ListPorts(2), "");
  EXPECT_EQ(thread_starts(), 1);
  gate.release();
  EXPECT_EQ(list_until(1, "TCP 80;"), "TCP 80;");
  EXPECT_EQ(list_until(2, "TCP 80;"), "TCP 80;");
  EXPECT_EQ(thread_starts(), 1);
}

TEST_F(ListPortsTest, CallThatStartsTheCollectorAnswersBusyEvenAfterAQuickFirstPass) {
  // The new worker publishes its first pass, and rests, before the starting call looks at the
  // table.
  std::mutex mutex;
  std::condition_variable changed;
  bool published = false;
  bool resume = false;
  fake::machine().onSleep = [&](std::uint32_t) {
    std::unique_lock lock(mutex);
    published = true;
    changed.notify_all();
    changed.wait(lock, [&] { return resume; });
  };
  fake::machine().onThreadStarted = [&] {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return published; });
  };
  EXPECT_STREQ(ListPorts(1), "");
  EXPECT_STREQ(ListPorts(1), "TCP 80;");
  {
    std::lock_guard lock(mutex);
    resume = true;
    changed.notify_all();
  }
  dllshutdown(0);  // the hooks use this scope's locals
}

TEST_F(ListPortsTest, BusyCollectorGivesThePreviousListingCharacterForCharacter) {
  ASSERT_EQ(list_until(1, "TCP 80;"), "TCP 80;");
  const char* previous = ListPorts(1);
  gate.hold();
  gate.wait_until_held();
  set_tcp_rows({listening(80), listening(443)});
  for (int call = 0; call < 2; ++call) {
    const char* text = ListPorts(1);
    EXPECT_EQ(text, previous);
    EXPECT_STREQ(text, "TCP 80;");
    EXPECT_STREQ(ListPorts(2), "");  // never listed yet
  }
  gate.release();
  EXPECT_EQ(list_until(1, "TCP 80;TCP 443;"), "TCP 80;TCP 443;");
}

TEST_F(ListPortsTest, NumberOutsideTheTableAnswersEmptyAndStartsNothing) {
  for (const std::int32_t instance : {-1, 3, 1000, -2147483647 - 1}) {
    EXPECT_STREQ(ListPorts(instance), "") << instance;
  }
  EXPECT_FALSE(qv::collector_started());
  EXPECT_EQ(thread_starts(), 0);
}

TEST_F(ListPortsTest, ThreadThatCannotStartIsTriedAgainOnTheNextCall) {
  qv::store_text(qv::instance_record(1)->outputText, "old");
  {
    std::lock_guard lock(fake::machine().mutex);
    fake::machine().failThreadStart = true;
  }
  EXPECT_STREQ(ListPorts(1), "old");
  EXPECT_FALSE(qv::collector_started());
  {
    std::lock_guard lock(fake::machine().mutex);
    fake::machine().failThreadStart = false;
  }
  EXPECT_EQ(list_until(1, "TCP 80;"), "TCP 80;");
  EXPECT_EQ(thread_starts(), 1);
}

}  // namespace
