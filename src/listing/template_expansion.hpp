// Template expansion and filtering: a listing as a pure function of the entries and an instance's
// settings, without threads or the collector.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "collector/connection_table.hpp"
#include "host/instance_settings.hpp"

namespace qv {

inline constexpr std::size_t kLineCapacity = 511;
inline constexpr std::size_t kListingCapacity = 4095;

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
