// The dialog's address fields against the twelve-digit form, and the dialog's font height.
#include "dialog/address_field.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>

#include "dialog/filter_output_dialog.hpp"

namespace {

constexpr std::uint32_t packed(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return a << 24 | b << 16 | c << 8 | d;
}

TEST(AddressField, FieldAddressBecomesTwelveDigits) {
  const struct {
    std::uint32_t field;
    std::int64_t number;
  } cases[] = {
      {0xC0A80001, 192168000001},    {packed(10, 0, 0, 138), 10000000138},
      {packed(0, 1, 2, 3), 1002003}, {0, 0},
      {0xFFFFFFFF, 255255255255},    {packed(10, 0, 0, 5), 10000000005},  // blank parts count as 0
  };
  for (const auto& c : cases) EXPECT_EQ(qv::AddressFieldToNumber(c.field), c.number) << c.number;
}

TEST(AddressField, NumberBecomesFieldTextAndAddress) {
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  const struct {
    std::int64_t number;
    const char* text;
    std::uint32_t field;
  } cases[] = {
      {192168000001, "192.168.000.001", 0xC0A80001},
      {10000000138, "010.000.000.138", packed(10, 0, 0, 138)},
      {1002003, "000.001.002.003", packed(0, 1, 2, 3)},
      {0, "000.000.000.000", 0},
      {255255255255, "255.255.255.255", 0xFFFFFFFF},
      // Only a hand-edited settings file holds these: each shows as the nearest address.
      {-1, "000.000.000.000", 0},
      {kMin, "000.000.000.000", 0},
      {255255255256, "255.255.255.255", 0xFFFFFFFF},
      {256000000000, "255.255.255.255", 0xFFFFFFFF},
      {999999999999, "255.255.255.255", 0xFFFFFFFF},
      {kMax, "255.255.255.255", 0xFFFFFFFF},
      {192999000001, "192.255.000.001", packed(192, 255, 0, 1)},
      {192168000999, "192.168.000.255", packed(192, 168, 0, 255)},
      {1256, "000.000.001.255", packed(0, 0, 1, 255)},
  };
  for (const auto& c : cases) {
    qv::AddressText text;
    qv::NumberToAddressText(c.number, text);
    EXPECT_STREQ(text, c.text) << c.number;
    EXPECT_EQ(qv::NumberToFieldAddress(c.number), c.field) << c.number;
  }
}

TEST(AddressField, EveryFieldAddressSurvivesTheRoundTrip) {
  const std::uint32_t parts[] = {0, 1, 9, 10, 99, 100, 127, 199, 200, 254, 255};
  for (const auto a : parts) {
    for (const auto b : parts) {
      for (const auto c : parts) {
        for (const auto d : parts) {
          const std::uint32_t field = packed(a, b, c, d);
          const std::int64_t number = qv::AddressFieldToNumber(field);
          ASSERT_EQ(qv::NumberToFieldAddress(number), field) << number;
          qv::AddressText text;
          qv::NumberToAddressText(number, text);
          char expected[32];
          std::snprintf(expected, sizeof expected, "%03u.%03u.%03u.%03u", a, b, c, d);
          ASSERT_STREQ(text, expected);
        }
      }
    }
  }
}

TEST(DialogFont, HeightIsEightPointsAtTheScreenResolution) {
  const struct {
    int dotsPerInch;
    int height;
  } cases[] = {{96, -10}, {120, -13}, {144, -16}, {72, -8}, {110, -12}, {0, 0}};
  for (const auto& c : cases) EXPECT_EQ(qv::DialogFontHeight(c.dotsPerInch), c.height);
}

}  // namespace
