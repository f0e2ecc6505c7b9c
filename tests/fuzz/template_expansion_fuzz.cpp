// Fuzzes the listing: any template, any entries (texts that fill their fields to the last byte),
// any filter. Lines never exceed 511 characters nor the listing 4,095, nothing is read past a
// field, and the result equals a plain std::string expansion of the same rules.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "listing/names.hpp"
#include "listing/template_expansion.hpp"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// Fills a text field with input bytes, possibly to its last byte without a terminating NUL.
template <std::size_t N>
void fill(FuzzedDataProvider& input, char (&field)[N]) {
  const std::string bytes = input.ConsumeRandomLengthString(N);
  std::memset(field, 0, N);
  std::memcpy(field, bytes.data(), bytes.size());
}

template <std::size_t N>
std::string text_of(const char (&field)[N]) {
  return {field, strnlen(field, N)};
}

std::string number(std::int32_t value, std::size_t width) {
  std::string digits = std::to_string(static_cast<std::uint32_t>(value));
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// The expansion rules written the obvious way, on an unbounded string cut after each placeholder.
std::string expected_line(const qv::ConnectionEntry& e, const qv::InstanceSettings& s) {
  const bool plain = s.noLeadingZeros == 1;
  const std::pair<std::string, std::string> placeholders[] = {
      {"%lip", text_of(e.localAddressText)},
      {"%lpt", number(e.localPort, plain ? 1 : 5)},
      {"%rpt", number(e.remotePort, plain ? 1 : 5)},
      {"%pid", number(e.processId, plain ? 1 : 4)},
      {"%rip", text_of(e.remoteAddressText)},
      {"%nm", text_of(e.programName)},
      {"%stat", std::string(qv::TcpStateName(e.tcpState))},
      {"%ptt", std::string(qv::ProtocolName(e.protocol))},
      {"%hn", text_of(e.hostName)},
  };
  std::string line = text_of(s.outputTemplate).substr(0, qv::kLineCapacity);
  for (const auto& [placeholder, value] : placeholders) {
    for (std::size_t at = line.find(placeholder); at != std::string::npos;
         at = line.find(placeholder, at + value.size())) {
      line.replace(at, placeholder.size(), value);
    }
    line.resize(std::min(line.size(), qv::kLineCapacity));
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // On the heap, so that a read past the record or an entry meets a red zone.
  auto settings = std::make_unique<qv::InstanceSettings>();
  fill(input, settings->outputTemplate);
  settings->noLeadingZeros = input.ConsumeIntegralInRange(0, 2);
  settings->hideZeroAddress = input.ConsumeIntegralInRange(0, 2);
  settings->rangeLow = input.ConsumeIntegral<std::int64_t>();
  settings->rangeHigh = input.ConsumeIntegral<std::int64_t>();
  std::vector<qv::ConnectionEntry> entries(input.ConsumeIntegralInRange(0, 40));
  for (qv::ConnectionEntry& e : entries) {
    e.localPort = input.ConsumeIntegral<std::int32_t>();
    e.remotePort = input.ConsumeIntegral<std::int32_t>();
    e.processId = input.ConsumeIntegral<std::int32_t>();
    e.tcpState = input.ConsumeIntegralInRange(-1, 13);
    e.protocol = input.ConsumeIntegralInRange(0, 3);
    e.remoteAddressNumber = input.ConsumeBool() ? 0 : input.ConsumeIntegral<std::int64_t>();
    fill(input, e.localAddressText);
    fill(input, e.remoteAddressText);
    fill(input, e.programName);
    fill(input, e.hostName);
  }

  std::string expected;
  for (const qv::ConnectionEntry& e : entries) {
    char line[qv::kLineCapacity + 1];
    const std::size_t length = qv::expand_line(e, *settings, line);
    check(length <= qv::kLineCapacity && line[length] == '\0');
    const std::string reference = expected_line(e, *settings);
    check(std::string(line, length) == reference);
    const bool hidden = settings->hideZeroAddress == 1 && e.remoteAddressNumber == 0;
    const bool excluded =
        e.remoteAddressNumber > settings->rangeLow && e.remoteAddressNumber < settings->rangeHigh;
    check(qv::entry_listed(e, *settings) == (!hidden && !excluded));
    if (!hidden && !excluded) expected += reference;
  }
  expected.resize(std::min(expected.size(), qv::kListingCapacity));
  // Into the record's own outputText, as the meter does.
  const std::size_t length = qv::build_listing(entries, *settings, settings->outputText);
  check(length <= qv::kListingCapacity && settings->outputText[length] == '\0');
  check(std::string(settings->outputText, length) == expected);
  return 0;
}
