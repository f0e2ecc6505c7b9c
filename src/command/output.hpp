// A whole listing of endpoints in the style asked for (rows, table, template, JSON Lines, CSV or
// the summary), and the meter's settings filters applied to the command's endpoints.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "command/endpoints.hpp"
#include "command/fields.hpp"
#include "command/options.hpp"
#include "host/instance_settings.hpp"

namespace qv {

// The meter's filters from the settings: the zero-address filter (no remote end) and the range
// exclusion on IPv4 remote addresses, an IPv4-mapped one counting as its IPv4 address.
bool endpoint_listed(const Endpoint& endpoint, const InstanceSettings& settings);

// How a listing is laid out.
struct ListingStyle {
  OutputFormat format = OutputFormat::text;
  std::optional<std::string> outputTemplate;  // text through this template, else the rows
  bool noLeadingZeros = true;
  bool aligned = false;  // the rows as a table for people (a terminal), not tab-separated
  // Written to a terminal: CSV's names escaped as the text outputs escape them (JSON escapes
  // every control character and stray byte anyway); to a pipe or file they stay exact.
  bool terminal = false;
  // The header line of the rows, the table and CSV; nullopt: the table and CSV have one.
  std::optional<bool> header;
  bool summary = false;  // the endpoints counted (text or JSON) instead of listed
};

// Whether a listing in this style shows host names, so that look-ups are worth making.
bool style_needs_host(const ListingStyle& style, std::span<const Endpoint> endpoints);

// The whole listing of the endpoints.
std::string listing_text(std::span<const Endpoint> endpoints, const ListingStyle& style);

}  // namespace qv
