// An endpoint's fields, each computed once in one table, and every endpoint output the command
// writes (text rows, the aligned table, templates, JSON and CSV records) as readers of that table.
// A new field is one entry in the table and its value.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "command/endpoints.hpp"
#include "command/json.hpp"
#include "command/table.hpp"
#include "listing/template_expansion.hpp"

namespace qv {

enum class FieldKind {
  text,     // the program's own text: written as it is
  name,     // text from outside (a program's or a host's name): escaped in text outputs
  number,   // decimal digits: a JSON number
  boolean,  // "true" or "false": a JSON boolean
  numbers   // numbers separated by spaces: a JSON array of numbers
};

// Which outputs show a field: always, with --info, with --info while watching (the rates), or
// when the listing spans network namespaces (-A, --netns), or with --extended (who owns the
// endpoint).
enum class FieldGroup { always, info, rates, namespaces, owners };

// The fields an output shows.
struct FieldSet {
  bool info = false;
  bool rates = false;
  bool namespaces = false;
  bool owners = false;
};

struct EndpointField {
  std::string_view key{};          // in JSON and CSV; empty: a field of the text outputs only
  std::string_view heading{};      // the column of text rows and the table; empty: no column
  std::string_view placeholder{};  // in templates; empty: none
  // What a template writes for an absent value. JSON writes null, CSV an empty field, a column
  // "-" (for an empty value too).
  std::string_view absentInTemplate{};
  FieldKind kind = FieldKind::text;
  Align align = Align::left;
  int templateDigits = 0;  // a number's digits in a template with leading zeros (the meter's)
  FieldGroup group = FieldGroup::always;
  // nullopt: the endpoint has no value for the field.
  std::optional<std::string> (*value)(const Endpoint&) = nullptr;
};

// The field of that JSON key; every key names one.
const EndpointField& endpoint_field(std::string_view key);
// A value as the text rows' and the table's cells write it: names escaped, "-" for nothing.
std::string field_cell(const EndpointField& field, const std::optional<std::string>& value);

// The columns of the text rows and the table, in order.
std::span<const TableColumn> endpoint_columns(FieldSet set = {});
// An endpoint's cells for those columns: names escaped, "-" for nothing.
std::vector<std::string> endpoint_cells(const Endpoint& endpoint, FieldSet set = {});
// The cells joined by tabs, and a newline.
void append_text_row(std::string& out, const Endpoint& endpoint, FieldSet set = {});
// The column headings as one tab-separated line, for a pipe that asks for it.
std::string endpoint_header_line(FieldSet set = {});
// The endpoints' cells as an aligned table.
std::string aligned_endpoint_table(std::span<const Endpoint> endpoints, bool header,
                                   FieldSet set = {});

// One endpoint through a template: the meter's placeholders and rules, uncut; numbers with the
// meter's widths unless noLeadingZeros; names escaped (the template's own text is not).
void append_expansion(std::string& out, std::string_view outputTemplate, bool noLeadingZeros,
                      const Endpoint& endpoint, ExpansionWork& work);
// Whether a template asks for a value of --info, which only then needs the counters.
bool template_needs_traffic(std::string_view outputTemplate);
// Whether a template asks for a value of --extended, which only then needs the owners read.
bool template_needs_owners(std::string_view outputTemplate);
// Whether the expansion of any of these endpoints would ask for %hn, which only then needs a
// look-up (a program name may bring the placeholder in).
bool template_needs_host(std::string_view outputTemplate, std::span<const Endpoint> endpoints);

// The endpoint's keyed fields as members of the writer's open object.
void write_json_members(JsonWriter& json, const Endpoint& endpoint, FieldSet set = {});
// One JSON object and a newline.
void append_json_record(std::string& out, const Endpoint& endpoint, FieldSet set = {});
// The CSV header and records, each line ended by CRLF as RFC 4180 has it.
void append_csv_header(std::string& out, FieldSet set = {});
// escapeNames: names as the text outputs write them, for a terminal.
void append_csv_record(std::string& out, const Endpoint& endpoint, FieldSet set = {},
                       bool escapeNames = false);

// Bytes for people, in SI units: "512 B", "340 kB", "1.2 MB".
std::string human_bytes(double bytes);

}  // namespace qv
