// Template expansion and filtering: the placeholder rules, once, for the meter's listing (with its
// line and listing cuts) and for the command's (uncut), as pure functions without threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "collector/connection_table.hpp"
#include "host/instance_settings.hpp"

namespace qv {

inline constexpr std::size_t kLineCapacity = 511;
inline constexpr std::size_t kListingCapacity = 4095;
// No cut at all: the command's lines.
inline constexpr std::size_t kUncut = std::string::npos;

// The placeholders in the order they are replaced.
enum class Placeholder : std::uint8_t { lip, lpt, rpt, pid, rip, nm, stat, ptt, hn };
inline constexpr std::array<std::string_view, 9> kPlaceholderTexts = {
    "%lip", "%lpt", "%rpt", "%pid", "%rip", "%nm", "%stat", "%ptt", "%hn"};

// The line being expanded and a second buffer that each replacement writes into before the two
// trade places; kept by a caller that expands many lines, so that their room is reused.
struct ExpansionWork {
  std::string line;
  std::string spare;
};

// Replaces every occurrence of placeholder in work.line, the first of which is at found, by
// value, scanning only the line as it was (the inserted text is not searched for the same
// placeholder); the result is cut to capacity characters.
void replace_every(ExpansionWork& work, std::size_t found, std::string_view placeholder,
                   std::string_view value, std::size_t capacity);

// The template expanded into work.line: cut to capacity, then each placeholder in its order
// replaced everywhere, exactly as written, left to right, the line cut to capacity after each.
// Text inserted for one placeholder is searched by the later ones, so the last is never searched.
// valueOf(i) gives the replacement text of placeholders[i] and is called only for a placeholder
// that the line holds at its turn.
template <typename ValueOf>
void expand_placeholders(std::string_view outputTemplate, std::size_t capacity,
                         std::span<const std::string_view> placeholders, ValueOf&& valueOf,
                         ExpansionWork& work) {
  work.line.assign(outputTemplate.substr(0, capacity));
  for (std::size_t i = 0; i < placeholders.size(); ++i) {
    const std::size_t found = work.line.find(placeholders[i]);
    if (found == std::string::npos) continue;
    replace_every(work, found, placeholders[i], valueOf(i), capacity);
  }
}

// The meter's address filters on an endpoint's remote address in the twelve-digit form (0 when
// it has none): the zero-address filter, and the range exclusion, which leaves out addresses
// strictly between rangeLow and rangeHigh. nullopt stands for an address beyond IPv4, which
// neither filter leaves out.
bool remote_address_listed(std::optional<std::int64_t> remoteAddressNumber,
                           const InstanceSettings& settings);

// Whether an entry passes the zero-address filter and the range exclusion of the settings.
bool entry_listed(const ConnectionEntry& entry, const InstanceSettings& settings);

// The template expanded for one entry: the nine placeholders replaced in their order, the line
// cut to 511 characters after each. Returns the line's length; line is NUL-terminated.
std::size_t expand_line(const ConnectionEntry& entry, const InstanceSettings& settings,
                        char (&line)[kLineCapacity + 1]);

// The expansions of every listed entry, joined and cut to 4,095 characters, into listing (which
// may be the record's own outputText). Returns the listing's length.
std::size_t build_listing(std::span<const ConnectionEntry> entries,
                          const InstanceSettings& settings, char (&listing)[kListingCapacity + 1]);

}  // namespace qv
