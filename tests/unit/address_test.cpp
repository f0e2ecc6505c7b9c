// Address and port forms at their edges.
#include "collector/address.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::uint32_t delivered(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t field;
  std::memcpy(&field, bytes, sizeof field);
  return field;
}

struct AddressCase {
  std::uint8_t octets[4];
  const char* dotted;
  std::int64_t twelveDigits;
  const char* padded;
};

TEST(AddressForms, DottedTwelveDigitAndPaddedTextAgree) {
  const AddressCase cases[] = {
      {{192, 168, 0, 1}, "192.168.0.1", 192168000001, "192.168.000.001"},
      {{0, 0, 0, 0}, "0.0.0.0", 0, "000.000.000.000"},
      {{255, 255, 255, 255}, "255.255.255.255", 255255255255, "255.255.255.255"},
      {{10, 0, 0, 138}, "10.0.0.138", 10000000138, "010.000.000.138"},
      {{192, 168, 1, 0}, "192.168.1.0", 192168001000, "192.168.001.000"},
  };
  for (const auto& c : cases) {
    const std::uint32_t field = delivered(c.octets[0], c.octets[1], c.octets[2], c.octets[3]);
    qv::AddressText text;
    qv::DottedAddress(field, text);
    EXPECT_STREQ(text, c.dotted);
    EXPECT_EQ(qv::TwelveDigitAddress(field), c.twelveDigits) << c.dotted;
    qv::PaddedDottedAddress(c.octets, text);
    EXPECT_STREQ(text, c.padded);
  }
}

TEST(AddressForms, TwelveDigitOrderIsAddressOrder) {
  EXPECT_LT(qv::TwelveDigitAddress(delivered(192, 168, 0, 255)),
            qv::TwelveDigitAddress(delivered(192, 168, 1, 0)));
  EXPECT_LT(qv::TwelveDigitAddress(delivered(9, 255, 255, 255)),
            qv::TwelveDigitAddress(delivered(10, 0, 0, 0)));
}

TEST(AddressForms, PortIsTheFirstTwoBytesHighFirst) {
  const struct {
    std::uint8_t bytes[4];
    std::int32_t port;
  } cases[] = {{{0, 80, 0, 0}, 80},     {{1, 187, 0, 0}, 443},     {{192, 0, 0, 0}, 49152},
               {{128, 1, 0, 0}, 32769}, {{255, 255, 0, 0}, 65535}, {{0, 80, 0xAB, 0xCD}, 80}};
  for (const auto& c : cases) {
    std::uint32_t field;
    std::memcpy(&field, c.bytes, sizeof field);
    EXPECT_EQ(qv::HostPort(field), c.port);
  }
}

}  // namespace
