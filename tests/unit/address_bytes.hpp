// Addresses in the 16-byte network-order form of the command's socket rows, for its unit tests.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace test_address {

inline std::array<std::uint8_t, 16> v4(std::uint8_t a, std::uint8_t b, std::uint8_t c,
                                       std::uint8_t d) {
  return {a, b, c, d};
}

inline std::array<std::uint8_t, 16> v6(const char* text) {
  std::array<std::uint8_t, 16> address{};
  EXPECT_EQ(inet_pton(AF_INET6, text, address.data()), 1) << text;
  return address;
}

}  // namespace test_address
