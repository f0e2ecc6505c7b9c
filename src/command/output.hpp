// What the command writes for endpoints: the default text row, a template's expansion, JSON Lines
// and CSV records, and the meter's settings filters applied to the command's endpoints.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "command/endpoints.hpp"
#include "command/options.hpp"
#include "host/instance_settings.hpp"
#include "listing/template_expansion.hpp"

namespace qv {

// The default text row's fields: protocol, local and remote "address:port", state, pid, program
// and host (the reverse name, or the remote address); "-" for an empty field, names escaped.
inline constexpr std::size_t kTextFieldCount = 7;
std::array<std::string, kTextFieldCount> text_row_fields(const Endpoint& endpoint);
// The row's fields joined by tabs, and a newline.
void append_text_row(std::string& out, const Endpoint& endpoint);

// One endpoint through a template: the meter's placeholders and rules, uncut; numbers with the
// meter's widths unless noLeadingZeros; names escaped (the template's own text is not).
void append_expansion(std::string& out, std::string_view outputTemplate, bool noLeadingZeros,
                      const Endpoint& endpoint, ExpansionWork& work);
// Whether the expansion of any of these endpoints would ask for %hn, which only then needs a
// look-up (a program name may bring the placeholder in).
bool template_needs_host(std::string_view outputTemplate, std::span<const Endpoint> endpoints);

// The machine-readable record: keys in this order, nullopt for JSON's null (CSV's empty field).
struct RecordField {
  std::string_view key;
  std::optional<std::string> value;
  bool number = false;  // written bare in JSON: a number, true or false
  bool list = false;    // numbers separated by spaces, a JSON array
};
inline constexpr std::size_t kRecordFieldCount = 13;
std::array<RecordField, kRecordFieldCount> record_fields(const Endpoint& endpoint);
// One JSON object and a newline.
void append_json_record(std::string& out, const Endpoint& endpoint);
// The object's members alone, comma-separated without braces, for records that carry more.
void append_json_members(std::string& out, const Endpoint& endpoint);
// The CSV header and records, each line ended by CRLF as RFC 4180 has it.
void append_csv_header(std::string& out);
void append_csv_record(std::string& out, const Endpoint& endpoint);

// The meter's filters from the settings: the zero-address filter (no remote end) and the range
// exclusion on IPv4 remote addresses, an IPv4-mapped one counting as its IPv4 address.
bool endpoint_listed(const Endpoint& endpoint, const InstanceSettings& settings);

// How a listing is laid out.
struct ListingStyle {
  OutputFormat format = OutputFormat::text;
  std::optional<std::string> outputTemplate;  // text through this template, else the rows
  bool noLeadingZeros = true;
  bool aligned = false;  // the rows as a table for people (a terminal), not tab-separated
  // The header line of the rows, the table and CSV; nullopt: the table and CSV have one.
  std::optional<bool> header;
  bool summary = false;  // the endpoints counted (text or JSON) instead of listed
};

// Whether a listing in this style shows host names, so that look-ups are worth making.
bool style_needs_host(const ListingStyle& style, std::span<const Endpoint> endpoints);

// The whole listing of the endpoints.
std::string listing_text(std::span<const Endpoint> endpoints, const ListingStyle& style);

}  // namespace qv
