// Reading settings as numbers, and an instance's settings to and from the profile file.
#include "host/settings.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "fake/fake_os.hpp"

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

struct NumberCase {
  const char* text;
  std::int64_t expected;
};

TEST(ReadNumber, FollowsTheReadingRule) {
  // clang-format off
  const std::vector<NumberCase> cases = {
      // no number at all
      {"", 0}, {"abc", 0}, {"   ", 0}, {"+", 0}, {"-", 0}, {".", 0}, {"- 5", 0}, {"e5", 0},
      // leading blanks, tabs and line feeds only
      {" 7", 7}, {"\t\n 7", 7}, {"\r7", 0}, {"\v7", 0},
      // stops at the first character that cannot continue the number
      {"12abc", 12}, {"12 34", 12}, {"1,5", 1}, {"1e", 1}, {"1e+", 1}, {"1.5.5", 2}, {"5.", 5},
      // signs
      {"+5", 5}, {"-5", -5}, {"--5", 0}, {"-0", 0},
      // rounding, ties to the even neighbour
      {"2.5", 2}, {"3.5", 4}, {"-2.5", -2}, {"-3.5", -4}, {"0.5", 0}, {".5", 0}, {".51", 1},
      {"1.49999999", 1}, {"2.5000000000000000000001", 3}, {"-0.4", 0}, {"0.0000001", 0},
      // exponents with E or D, either case
      {"1e3", 1000}, {"1E3", 1000}, {"1d3", 1000}, {"1D+3", 1000}, {"15e-1", 2}, {"25E-1", 2},
      {"1.5e1x", 15}, {"5.e2", 500}, {"123456e-3", 123}, {"0e999999", 0}, {"1e-300", 0},
      // other bases after "&"
      {"&H10", 16}, {"&h1f", 31}, {"&HFFg", 255}, {"&B101", 5}, {"&b102", 2}, {"&O17", 15},
      {"&o17", 15}, {"&Q17", 15}, {"&q17", 15}, {"&17", 15}, {"&18", 1}, {"&", 0}, {"&H", 0},
      {"&Z1", 0}, {" &H10", 16}, {"-&H10", 0}, {"&H7FFFFFFFFFFFFFFF", kMax},
      // the whole 64-bit range, exactly (no detour through floating point)
      {"192168000001", 192168000001}, {"9007199254740993", 9007199254740993},
      {"00000000000000000000000000001", 1}, {"9223372036854775806.5", 9223372036854775806},
      {"9223372036854775807", kMax}, {"-9223372036854775808", kMin},
      // beyond the range: saturated at the limits
      {"9223372036854775808", kMax}, {"9223372036854775807.5", kMax},
      {"-9223372036854775809", kMin}, {"1e300", kMax}, {"-1e300", kMin}, {"1e19", kMax},
      {"1e99999999999999999999999", kMax}, {"&H8000000000000000", kMax},
      {"&HFFFFFFFFFFFFFFFFFFFF", kMax},
      {"&B1111111111111111111111111111111111111111111111111111111111111111", kMax},
  };
  // clang-format on
  for (const NumberCase& c : cases) {
    EXPECT_EQ(qv::read_number(c.text), c.expected) << '"' << c.text << '"';
  }
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::reset(); }

  static std::string& file(const char* name) { return fake::machine().files[name]; }

  static qv::InstanceSettings loaded(const char* name, const char* section) {
    qv::InstanceSettings record;
    std::memset(&record, 0x5A, sizeof record);  // nothing of this may survive the load
    qv::load_settings(record, name, section);
    return record;
  }
};

TEST_F(SettingsTest, MissingFileSectionOrKeysLoadTheDefaults) {
  file("other.ini") = "[Other]\r\nSot=5\r\n";
  for (const char* name : {"missing.ini", "other.ini"}) {
    const qv::InstanceSettings record = loaded(name, "Meter");
    EXPECT_EQ(record.selectedOption, 10003);
    EXPECT_STREQ(record.outputTemplate, "");
    EXPECT_EQ(record.rangeLow, 192168000001);
    EXPECT_EQ(record.rangeHigh, 192168000255);
    EXPECT_EQ(record.filterEnabled, 0);
    EXPECT_EQ(record.hideZeroAddress, 0);
    EXPECT_EQ(record.noLeadingZeros, 0);
    EXPECT_EQ(qv::field_text(record.outputText), "");
    // The whole record is zero but for the loaded fields: no byte of the old one survives.
    qv::InstanceSettings expected{};
    expected.selectedOption = 10003;
    expected.rangeLow = 192168000001;
    expected.rangeHigh = 192168000255;
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0);
  }
}

TEST_F(SettingsTest, AwkwardValuesLoadByTheNumberRule) {
  file("s.ini") =
      "[meter]\n"
      "sot = 4294967297\n"  // names without regard to case; low 32 bits of a wider number
      "TEMPLATE=  \"  %lip:%lpt  \"  \n"
      "fltL=1e300\n"
      "fltH=-1e300\n"
      "fltE=2147483648\n"
      "flt0=  3.5 apples\n"
      "zero=&HFFFFFFFF\n";
  const qv::InstanceSettings record = loaded("s.ini", "Meter");
  EXPECT_EQ(record.selectedOption, 1);
  EXPECT_STREQ(record.outputTemplate, "  %lip:%lpt  ");
  EXPECT_EQ(record.rangeLow, kMax);
  EXPECT_EQ(record.rangeHigh, kMin);
  EXPECT_EQ(record.filterEnabled, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(record.hideZeroAddress, 4);
  EXPECT_EQ(record.noLeadingZeros, -1);
}

TEST_F(SettingsTest, LongTemplatesAreCutTo511Characters) {
  const std::string longTemplate(600, 'x');
  file("s.ini") = "[m]\nTemplate=" + longTemplate + "\n";
  EXPECT_EQ(qv::field_text(loaded("s.ini", "m").outputTemplate), longTemplate.substr(0, 511));
}

TEST_F(SettingsTest, SaveWritesEveryKeyInOrderAsPlainDecimals) {
  qv::InstanceSettings record{};
  record.selectedOption = 10003;
  record.rangeLow = 10000000001;  // 10.0.0.1: fewer than twelve digits
  record.rangeHigh = kMin;
  record.filterEnabled = 1;
  record.hideZeroAddress = -7;
  record.noLeadingZeros = 0;
  qv::store_text(record.outputText, "never saved");
  qv::store_text(record.outputTemplate, "%lip %lpt");
  qv::save_settings(record, "s.ini", "Meter");
  EXPECT_EQ(file("s.ini"),
            "[Meter]\r\nSot=10003\r\nTemplate=%lip %lpt\r\nfltL=10000000001\r\n"
            "fltH=-9223372036854775808\r\nfltE=1\r\nflt0=-7\r\nzero=0\r\n");
}

TEST_F(SettingsTest, DefaultsSaveAsTheirTexts) {
  qv::save_settings(loaded("none.ini", "Meter"), "s.ini", "Meter");
  EXPECT_EQ(file("s.ini"),
            "[Meter]\r\nSot=10003\r\nTemplate=\r\nfltL=192168000001\r\nfltH=192168000255\r\n"
            "fltE=0\r\nflt0=0\r\nzero=0\r\n");
}

TEST_F(SettingsTest, SaveReplacesValuesInPlaceAndKeepsTheRestOfTheFile) {
  file("s.ini") = "; host's own\n[Other]\nx=1\n[meter]\nzero=1\nmine=keep\n";
  qv::InstanceSettings record{};
  qv::save_settings(record, "s.ini", "Meter");
  EXPECT_EQ(file("s.ini"),
            "; host's own\n[Other]\nx=1\n[meter]\nzero=0\nmine=keep\nSot=0\nTemplate=\nfltL=0\n"
            "fltH=0\nfltE=0\nflt0=0\n");
}

// Blanks at either end and a pair of enclosing quotes would be lost on the way back through the
// profile service: such a template is saved inside quotes, everything else as it is.
TEST_F(SettingsTest, SaveThenLoadGivesBackEveryFieldButTheListing) {
  const std::string templates[] = {"",
                                   "%lip:%lpt %rip:%rpt %stat %nm\t",
                                   " lead",
                                   "trail ",
                                   "\"quoted\"",
                                   "'single'",
                                   "\"",
                                   "a=b;c",
                                   std::string(511, 'y')};
  const std::int64_t ranges[] = {0, 10000000001, kMax, kMin, -1};
  for (const std::string& text : templates) {
    for (const std::int64_t range : ranges) {
      qv::InstanceSettings record{};
      qv::store_text(record.outputText, "gone after a load");
      qv::store_text(record.outputTemplate, text);
      record.rangeLow = range;
      record.rangeHigh = -range / 2;
      record.selectedOption = static_cast<std::int32_t>(range);
      record.filterEnabled = 1;
      record.hideZeroAddress = std::numeric_limits<std::int32_t>::min();
      record.noLeadingZeros = std::numeric_limits<std::int32_t>::max();
      fake::reset();
      qv::save_settings(record, "round.ini", "Meter 1");
      qv::InstanceSettings back = loaded("round.ini", "Meter 1");
      EXPECT_EQ(qv::field_text(back.outputText), "");
      qv::store_text(back.outputText, "gone after a load");
      EXPECT_EQ(std::memcmp(&record, &back, sizeof record), 0) << '"' << text << "\" " << range;
    }
  }
  qv::InstanceSettings blank{};
  qv::store_text(blank.outputTemplate, " x ");
  qv::save_settings(blank, "quoted.ini", "m");
  EXPECT_NE(file("quoted.ini").find("Template=\" x \"\r\n"), std::string::npos);
}

}  // namespace
