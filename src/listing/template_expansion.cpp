// Placeholder replacement under the template's rules: exact case, left to right, never searching
// the text just inserted for the same placeholder, but letting later placeholders search it.
#include "listing/template_expansion.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/text.hpp"
#include "listing/names.hpp"

namespace qv {

namespace {

// The line lives in one of two buffers; a replacement writes into the other and flips. Writing
// stops at the capacity, which is the same as replacing everything and then cutting.
struct WorkLine {
  char buffers[2][kLineCapacity + 1];
  int current = 0;
  std::size_t length = 0;

  std::string_view text() const { return {buffers[current], length}; }
};

// Replaces every occurrence of placeholder from the first one, found, onwards.
void replace_every(WorkLine& line, std::size_t found, std::string_view placeholder,
                   std::string_view value) {
  const std::string_view source = line.text();
  char* out = line.buffers[1 - line.current];
  std::size_t written = 0;
  const auto put = [&](std::string_view piece) {
    const std::size_t count = std::min(piece.size(), kLineCapacity - written);
    std::copy_n(piece.data(), count, out + written);
    written += count;
  };
  std::size_t scanned = 0;
  // Scanning the source, not the output, is what keeps the inserted text out of this search.
  while (found != std::string_view::npos && written < kLineCapacity) {
    put(source.substr(scanned, found - scanned));
    put(value);
    scanned = found + placeholder.size();
    found = source.find(placeholder, scanned);
  }
  put(source.substr(scanned));
  line.current = 1 - line.current;
  line.length = written;
}

// Ports and process ids are 32-bit values that the system reports unsigned.
std::string_view number_text(std::int32_t value, int minDigits, char (&buffer)[21]) {
  const std::size_t length = format_number(static_cast<std::uint32_t>(value), minDigits, buffer);
  return {buffer, length};
}

}  // namespace

bool entry_listed(const ConnectionEntry& entry, const InstanceSettings& settings) {
  if (settings.hideZeroAddress == 1 && entry.remoteAddressNumber == 0) return false;
  return !(entry.remoteAddressNumber > settings.rangeLow &&
           entry.remoteAddressNumber < settings.rangeHigh);
}

std::size_t expand_line(const ConnectionEntry& entry, const InstanceSettings& settings,
                        char (&line)[kLineCapacity + 1]) {
  WorkLine work;
  const std::string_view outputTemplate = field_text(settings.outputTemplate);
  work.length = std::min(outputTemplate.size(), kLineCapacity);
  std::memcpy(work.buffers[0], outputTemplate.data(), work.length);

  const bool plain = settings.noLeadingZeros == 1;
  char number[21];
  // A replacement text is only made for a placeholder that the line holds.
  const auto replace = [&](std::string_view placeholder, auto&& value) {
    const std::size_t found = work.text().find(placeholder);
    if (found != std::string_view::npos) replace_every(work, found, placeholder, value());
  };
  replace("%lip", [&] { return field_text(entry.localAddressText); });
  replace("%lpt", [&] { return number_text(entry.localPort, plain ? 1 : 5, number); });
  replace("%rpt", [&] { return number_text(entry.remotePort, plain ? 1 : 5, number); });
  replace("%pid", [&] { return number_text(entry.processId, plain ? 1 : 4, number); });
  replace("%rip", [&] { return field_text(entry.remoteAddressText); });
  replace("%nm", [&] { return field_text(entry.programName); });
  replace("%stat", [&] { return TcpStateName(entry.tcpState); });
  replace("%ptt", [&] { return ProtocolName(entry.protocol); });
  replace("%hn", [&] { return field_text(entry.hostName); });

  std::memcpy(line, work.buffers[work.current], work.length);
  line[work.length] = '\0';
  return work.length;
}

std::size_t build_listing(std::span<const ConnectionEntry> entries,
                          const InstanceSettings& settings, char (&listing)[kListingCapacity + 1]) {
  std::size_t length = 0;
  char line[kLineCapacity + 1];
  for (const ConnectionEntry& entry : entries) {
    // A full listing cannot change any more: the remaining entries need no expansion.
    if (length == kListingCapacity) break;
    if (!entry_listed(entry, settings)) continue;
    const std::size_t lineLength = expand_line(entry, settings, line);
    const std::size_t count = std::min(lineLength, kListingCapacity - length);
    std::memcpy(listing + length, line, count);
    length += count;
  }
  listing[length] = '\0';
  return length;
}

}  // namespace qv
