// The instance table's lifecycle and the exports' handling of instance numbers.
#include "host/host_state.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "common/text.hpp"
#include "fake/fake_os.hpp"
#include "host/exports.hpp"

namespace {

class HostStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    quorvane_process_attach();
  }
  void TearDown() override { quorvane_process_detach(); }
};

TEST_F(HostStateTest, LoadCreatesIndexesZeroAndOneAllZero) {
  ASSERT_EQ(qv::host.instanceTable.count, 2U);
  const qv::InstanceSettings zero{};
  for (std::size_t i = 0; i < qv::host.instanceTable.count; ++i) {
    EXPECT_EQ(std::memcmp(&qv::host.instanceTable.records[i], &zero, sizeof zero), 0);
  }
  EXPECT_EQ(qv::host.instanceCount, 0);
}

TEST_F(HostStateTest, StartupNumbersFromOneAndGrowsKeepingRecords) {
  EXPECT_EQ(dllstartup(0x1234, 0), 1);
  EXPECT_EQ(qv::host.instanceTable.count, 2U);
  qv::store_text(qv::host.instanceTable.records[1].outputTemplate, "kept");
  qv::host.instanceTable.records[1].rangeLow = 42;
  EXPECT_EQ(dllstartup(0x5678, 0), 2);
  ASSERT_EQ(qv::host.instanceTable.count, 3U);
  EXPECT_STREQ(qv::host.instanceTable.records[1].outputTemplate, "kept");
  EXPECT_EQ(qv::host.instanceTable.records[1].rangeLow, 42);
  EXPECT_EQ(qv::host.hostWindow, 0x5678U);
  EXPECT_EQ(dllstartup(0, 0), 3);
  EXPECT_EQ(qv::host.instanceTable.count, 4U);
}

TEST_F(HostStateTest, TableThatCannotGrowKeepsRecordsAndStillHandsOutTheNumber) {
  qv::store_text(qv::host.instanceTable.records[1].outputTemplate, "kept");
  // A table of this many records cannot be had: the growth fails, nothing else does.
  qv::host.instanceCount = 0x7FFFFFF0;
  EXPECT_EQ(dllstartup(7, 0), 0x7FFFFFF1);
  EXPECT_EQ(qv::host.instanceTable.count, 2U);
  EXPECT_STREQ(qv::host.instanceTable.records[1].outputTemplate, "kept");
  EXPECT_EQ(qv::host.hostWindow, 7U);
}

TEST_F(HostStateTest, NumbersOutsideTheTableTouchNothing) {
  const std::int32_t outside[] = {-1, -2147483647 - 1, 2, 1000, 2147483647};
  for (const std::int32_t n : outside) {
    EXPECT_EQ(qv::instance_record(n), nullptr) << n;
    EXPECT_STREQ(ListPorts(n), "");
    EXPECT_EQ(pastemeter(n, 1), 0);
    EXPECT_EQ(pastemeter(1, n), 0);
    EXPECT_EQ(src_load_settings(n, "f.ini", "s"), 0);
    EXPECT_EQ(src_save_settings(n, "f.ini", "s"), 0);
    EXPECT_EQ(source_configure(n, "ListPorts"), 0);
    EXPECT_EQ(qv::host.configuredInstance, n);
  }
  EXPECT_TRUE(fake::machine().files.empty());
}

TEST_F(HostStateTest, PastemeterCopiesTheWholeRecord) {
  dllstartup(0, 0);
  dllstartup(0, 0);
  auto& source = qv::host.instanceTable.records[1];
  qv::store_text(source.outputText, "last listing");
  qv::store_text(source.outputTemplate, "%lip ");
  source.rangeLow = 10000000001;
  source.rangeHigh = 10000000255;
  source.filterEnabled = 1;
  source.hideZeroAddress = 1;
  source.noLeadingZeros = 1;
  source.selectedOption = 7;
  EXPECT_EQ(pastemeter(1, 2), 0);
  EXPECT_EQ(std::memcmp(&qv::host.instanceTable.records[2], &source, sizeof source), 0);
  EXPECT_EQ(pastemeter(1, 1), 0);
  EXPECT_STREQ(source.outputText, "last listing");
}

TEST(Description, FixedAnswersNeedNoInstance) {
  EXPECT_EQ(dlltype(), 1);
  EXPECT_STREQ(init(), "ListPorts");
  EXPECT_STREQ(getparam(5), "");
  EXPECT_EQ(configure(), 0);
  EXPECT_STREQ(getinfo(0), "Quorvane");
  EXPECT_STREQ(getinfo(1), "Orvexa");
  EXPECT_STREQ(getinfo(2), "Beta 0.1");
  EXPECT_STREQ(getinfo(3), "Today");
  EXPECT_STREQ(getinfo(5), "No Homepage");
  EXPECT_STREQ(getinfo(6), "No");
  EXPECT_STREQ(getinfo(7), "");
  EXPECT_STREQ(getinfo(-1), "");
}

TEST(Description, DateTextIsMonthNameDayAndYear) {
  fake::reset();
  fake::machine().date = {2027, 5, 1};
  EXPECT_STREQ(getinfo(4), "May 01 2027");
  fake::machine().date = {2026, 12, 8};
  EXPECT_STREQ(getinfo(4), "December 08 2026");
}

}  // namespace
