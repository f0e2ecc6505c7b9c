// Fuzzes the rule that reads every numeric setting: beyond crashes and undefined behaviour, the
// value must not depend on blanks before it or junk after it, a minus sign must negate it exactly
// (ties round to even on both sides), and every 64-bit value written in decimal or in the
// "&H", "&O", "&B" forms must read back as itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

#include "host/settings.hpp"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// v in the given base (2, 8 or 16) after its "&" prefix.
std::string based(std::uint64_t v, int base, const char* prefix) {
  char digits[65];
  const auto end = std::to_chars(digits, digits + sizeof digits, v, base).ptr;
  return prefix + std::string(digits, end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto v = input.ConsumeIntegral<std::int64_t>();
  const std::string text = input.ConsumeRemainingBytesAsString();
  const std::int64_t value = qv::read_number(text);

  check(qv::read_number(" \t\n" + text) == value);
  // No character continues a number with "x", not even in hexadecimal.
  check(qv::read_number(text + "x") == value);
  if (!text.empty() && ((text[0] >= '0' && text[0] <= '9') || text[0] == '.')) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const std::int64_t negated = qv::read_number("-" + text);
    // Beyond the limit both signs saturate; exactly at it the minus sign still negates.
    check(negated == -value ||
          (value == kMax && negated == std::numeric_limits<std::int64_t>::min()));
  }

  char decimal[24];
  check(qv::read_number(std::string(decimal, std::to_chars(decimal, decimal + 24, v).ptr)) == v);
  if (v >= 0) {
    const auto magnitude = static_cast<std::uint64_t>(v);
    check(qv::read_number(based(magnitude, 16, "&H")) == v);
    check(qv::read_number(based(magnitude, 16, "&h")) == v);
    check(qv::read_number(based(magnitude, 8, "&O")) == v);
    check(qv::read_number(based(magnitude, 8, "&")) == v);
    check(qv::read_number(based(magnitude, 2, "&B")) == v);
  }
  return 0;
}
