// Placeholder replacement under the template's rules, and the meter's listing built with it: the
// meter's entries as replacement texts, its 511-character line cut and 4,095-character listing.
#include "listing/template_expansion.hpp"

#include <algorithm>
#include <cstring>

#include "common/text.hpp"
#include "listing/names.hpp"

namespace qv {

namespace {

// Ports and process ids are 32-bit values that the system reports unsigned.
std::string_view number_text(std::int32_t value, int minDigits, char (&buffer)[21]) {
  const std::size_t length = format_number(static_cast<std::uint32_t>(value), minDigits, buffer);
  return {buffer, length};
}

void expand_entry(const ConnectionEntry& entry, const InstanceSettings& settings,
                  ExpansionWork& work) {
  const bool plain = settings.noLeadingZeros == 1;
  char number[21];
  const auto valueOf = [&](std::size_t index) -> std::string_view {
    switch (static_cast<Placeholder>(index)) {
      case Placeholder::lip:
        return field_text(entry.localAddressText);
      case Placeholder::lpt:
        return number_text(entry.localPort, plain ? 1 : 5, number);
      case Placeholder::rpt:
        return number_text(entry.remotePort, plain ? 1 : 5, number);
      case Placeholder::pid:
        return number_text(entry.processId, plain ? 1 : 4, number);
      case Placeholder::rip:
        return field_text(entry.remoteAddressText);
      case Placeholder::nm:
        return field_text(entry.programName);
      case Placeholder::stat:
        return TcpStateName(entry.tcpState);
      case Placeholder::ptt:
        return ProtocolName(entry.protocol);
      case Placeholder::hn:
        return field_text(entry.hostName);
    }
    return {};
  };
  expand_placeholders(field_text(settings.outputTemplate), kLineCapacity, kPlaceholderTexts,
                      valueOf, work);
}

}  // namespace

void replace_every(ExpansionWork& work, std::size_t found, std::string_view placeholder,
                   std::string_view value, std::size_t capacity) {
  const std::string_view source = work.line;
  std::string& out = work.spare;
  out.clear();
  // Writing stops at the capacity, which is the same as replacing everything and then cutting.
  const auto put = [&](std::string_view piece) {
    out.append(piece.substr(0, capacity - out.size()));
  };
  std::size_t scanned = 0;
  // Scanning the source, not the output, is what keeps the inserted text out of this search.
  while (found != std::string_view::npos && out.size() < capacity) {
    put(source.substr(scanned, found - scanned));
    put(value);
    scanned = found + placeholder.size();
    found = source.find(placeholder, scanned);
  }
  put(source.substr(scanned));
  work.line.swap(work.spare);
}

bool remote_address_listed(std::optional<std::int64_t> remoteAddressNumber,
                           const InstanceSettings& settings) {
  if (!remoteAddressNumber) return true;
  if (settings.hideZeroAddress == 1 && *remoteAddressNumber == 0) return false;
  return !(*remoteAddressNumber > settings.rangeLow && *remoteAddressNumber < settings.rangeHigh);
}

bool entry_listed(const ConnectionEntry& entry, const InstanceSettings& settings) {
  return remote_address_listed(entry.remoteAddressNumber, settings);
}

std::size_t expand_line(const ConnectionEntry& entry, const InstanceSettings& settings,
                        char (&line)[kLineCapacity + 1]) {
  ExpansionWork work;
  expand_entry(entry, settings, work);
  std::memcpy(line, work.line.data(), work.line.size());
  line[work.line.size()] = '\0';
  return work.line.size();
}

std::size_t build_listing(std::span<const ConnectionEntry> entries,
                          const InstanceSettings& settings, char (&listing)[kListingCapacity + 1]) {
  std::size_t length = 0;
  ExpansionWork work;
  work.line.reserve(kLineCapacity);
  work.spare.reserve(kLineCapacity);
  for (const ConnectionEntry& entry : entries) {
    // A full listing cannot change any more: the remaining entries need no expansion.
    if (length == kListingCapacity) break;
    if (!entry_listed(entry, settings)) continue;
    expand_entry(entry, settings, work);
    const std::size_t count = std::min(work.line.size(), kListingCapacity - length);
    std::memcpy(listing + length, work.line.data(), count);
    length += count;
  }
  listing[length] = '\0';
  return length;
}

}  // namespace qv
