// The endpoint field table and the outputs that read it.
#include "command/fields.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "command/endpoint_text.hpp"
#include "command/vocabulary.hpp"
#include "common/utf8.hpp"

namespace qv {

namespace {

using Value = std::optional<std::string>;

constexpr std::string_view kNone = "-";
constexpr std::string_view kHostPlaceholder = "%hn";

bool tcp(const Endpoint& e) { return e.socket.protocol == os::Protocol::tcp; }
bool owned(const Endpoint& e) { return e.socket.owningPid != 0; }
bool remote(const Endpoint& e) { return has_remote(e.socket); }

Value present_if(bool present, std::string text) {
  return present ? Value(std::move(text)) : std::nullopt;
}

// The traffic figures of a TCP socket; all unknown for any other, or when not asked for.
const os::TcpTraffic& traffic(const Endpoint& e) {
  static const os::TcpTraffic kUnknown;
  return e.socket.traffic ? *e.socket.traffic : kUnknown;
}

template <typename T>
Value number(const std::optional<T>& value) {
  return value ? Value(std::to_string(*value)) : std::nullopt;
}

// A round trip in milliseconds, exactly: the kernel's microseconds in the shortest decimal.
Value milliseconds(const std::optional<std::uint32_t>& microseconds) {
  if (!microseconds) return std::nullopt;
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, *microseconds / 1000.0).ptr;
  return std::string(text, end);
}

Value whole_rate(const std::optional<double>& bytesPerSecond) {
  return bytesPerSecond ? Value(std::to_string(std::llround(*bytesPerSecond))) : std::nullopt;
}

// The same figures for people.
Value milliseconds_for_people(const std::optional<std::uint32_t>& microseconds) {
  if (!microseconds) return std::nullopt;
  char text[32];
  std::snprintf(text, sizeof text, "%.*f ms", *microseconds < 10000 ? 2 : 0,
                *microseconds / 1000.0);
  return text;
}

Value bytes_for_people(const std::optional<std::uint64_t>& bytes) {
  return bytes ? Value(human_bytes(static_cast<double>(*bytes))) : std::nullopt;
}

Value rate_for_people(const std::optional<double>& bytesPerSecond) {
  return bytesPerSecond ? Value(human_bytes(*bytesPerSecond) + "/s") : std::nullopt;
}

constexpr FieldGroup kInfo = FieldGroup::info;
constexpr FieldGroup kNamespaces = FieldGroup::namespaces;
constexpr FieldGroup kOwners = FieldGroup::owners;

Value text_if_any(const std::string& text) { return present_if(!text.empty(), text); }

// A container's name from its runtime, else its id.
Value container_name(const Endpoint& e) {
  return e.containerName ? e.containerName : text_if_any(e.place.container);
}

// Every field, in the order of the JSON members, CSV fields and columns.
// clang-format off
const EndpointField kFields[] = {
    // Where the endpoint lives, first, as the listing of several namespaces is read by it: its
    // container's name, else its namespace's. Windows has no namespaces.
    {.heading = "Netns", .kind = FieldKind::name, .group = kNamespaces,
     .value = [](const Endpoint& e) {
       return present_if(e.socket.netnsInode != 0,
                         place_text(container_name(e).value_or(std::string()),
                                    e.socket.netnsName, e.socket.netnsInode));
     }},
    {.key = "protocol",
     .value = [](const Endpoint& e) -> Value {
       return std::string(protocol_key(e.socket.protocol));
     }},
    {.heading = "Proto", .placeholder = "%ptt",
     .value = [](const Endpoint& e) -> Value {
       return std::string(protocol_name(e.socket.protocol));
     }},
    {.key = "family",
     .value = [](const Endpoint& e) -> Value {
       return e.socket.family == os::kFamilyIpv6 ? "ipv6" : "ipv4";
     }},
    // null for IPv4, where the question does not arise.
    {.key = "ipv6_only", .kind = FieldKind::boolean,
     .value = [](const Endpoint& e) {
       return present_if(e.socket.family == os::kFamilyIpv6, e.socket.ipv6Only ? "true" : "false");
     }},
    {.key = "local_address",
     .value = [](const Endpoint& e) -> Value {
       return address_text(e.socket.family, e.socket.local.address);
     }},
    {.key = "local_port", .placeholder = "%lpt", .kind = FieldKind::number, .templateDigits = 5,
     .value = [](const Endpoint& e) -> Value { return std::to_string(e.socket.local.port); }},
    {.key = "local_service", .kind = FieldKind::name,
     .value = [](const Endpoint& e) { return e.localService; }},
    // For people the port's name where it has one, else its number, as the Local column.
    {.placeholder = "%lsv", .kind = FieldKind::name,
     .value = [](const Endpoint& e) {
       return Value(e.localService.value_or(std::to_string(e.socket.local.port)));
     }},
    {.key = "interface", .kind = FieldKind::name,
     .value = [](const Endpoint& e) {
       return present_if(!e.socket.interfaceName.empty(), e.socket.interfaceName);
     }},
    {.heading = "Local",
     .value = [](const Endpoint& e) -> Value {
       return local_endpoint_text(e.socket, e.localService);
     }},
    {.placeholder = "%lip",
     .value = [](const Endpoint& e) -> Value {
       return endpoint_address_text(e.socket, e.socket.local.address);
     }},
    {.key = "remote_address",
     .value = [](const Endpoint& e) {
       return present_if(remote(e), address_text(e.socket.family, e.socket.remote.address));
     }},
    {.key = "remote_port", .placeholder = "%rpt", .absentInTemplate = "*",
     .kind = FieldKind::number, .templateDigits = 5,
     .value = [](const Endpoint& e) {
       return present_if(remote(e), std::to_string(e.socket.remote.port));
     }},
    {.key = "remote_service", .kind = FieldKind::name,
     .value = [](const Endpoint& e) { return e.remoteService; }},
    {.placeholder = "%rsv", .absentInTemplate = "*", .kind = FieldKind::name,
     .value = [](const Endpoint& e) {
       return present_if(remote(e), e.remoteService.value_or(std::to_string(e.socket.remote.port)));
     }},
    {.heading = "Remote",
     .value = [](const Endpoint& e) -> Value {
       return remote_endpoint_text(e.socket, e.remoteService);
     }},
    {.placeholder = "%rip",
     .value = [](const Endpoint& e) -> Value {
       return endpoint_address_text(e.socket, e.socket.remote.address);
     }},
    {.key = "state", .heading = "State", .placeholder = "%stat",
     .value = [](const Endpoint& e) {
       return present_if(tcp(e), std::string(state_name(e.socket.tcpState)));
     }},
    {.key = "pid", .heading = "PID", .placeholder = "%pid", .absentInTemplate = kNone,
     .kind = FieldKind::number, .align = Align::right, .templateDigits = 4,
     .value = [](const Endpoint& e) {
       return present_if(owned(e), std::to_string(e.socket.owningPid));
     }},
    // Every holder, ascending; empty when none is visible.
    {.key = "pids", .kind = FieldKind::numbers,
     .value = [](const Endpoint& e) -> Value {
       std::string text;
       for (const std::uint32_t pid : socket_holders(e.socket)) {
         if (!text.empty()) text += ' ';
         text += std::to_string(pid);
       }
       return text;
     }},
    {.key = "program", .heading = "Program", .placeholder = "%nm", .absentInTemplate = kNone,
     .kind = FieldKind::name,
     .value = [](const Endpoint& e) { return present_if(owned(e), e.program); }},
    // The executable's file has gone since the program started.
    {.key = "deleted", .kind = FieldKind::boolean,
     .value = [](const Endpoint& e) { return present_if(owned(e), e.deleted ? "true" : "false"); }},
    {.key = "host", .kind = FieldKind::name,
     .value = [](const Endpoint& e) { return e.hostName; }},
    // For people the host is the name found, else the remote address.
    {.heading = "Host", .placeholder = kHostPlaceholder, .kind = FieldKind::name,
     .value = [](const Endpoint& e) -> Value {
       if (!remote(e)) return std::nullopt;
       return e.hostName ? *e.hostName : address_text(e.socket.family, e.socket.remote.address);
     }},
    // The inode's placeholder goes first, so that %ns does not take its beginning.
    {.key = "netns_inode", .placeholder = "%nsino", .absentInTemplate = kNone,
     .kind = FieldKind::number, .group = kNamespaces,
     .value = [](const Endpoint& e) {
       return present_if(e.socket.netnsInode != 0, std::to_string(e.socket.netnsInode));
     }},
    {.key = "netns", .placeholder = "%ns", .absentInTemplate = kNone, .kind = FieldKind::name,
     .group = kNamespaces,
     .value = [](const Endpoint& e) {
       return present_if(!e.socket.netnsName.empty(), e.socket.netnsName);
     }},
    // --extended: who owns the endpoint; the user is the uid where the system has no name for it.
    {.key = "uid", .placeholder = "%uid", .absentInTemplate = kNone, .kind = FieldKind::number, .group = kOwners,
     .value = [](const Endpoint& e) { return number(e.socket.ownerUid); }},
    {.key = "user", .heading = "User", .placeholder = "%user", .absentInTemplate = kNone, .kind = FieldKind::name,
     .group = kOwners,
     .value = [](const Endpoint& e) { return e.userName ? e.userName : number(e.socket.ownerUid); }},
    {.key = "unit", .heading = "Unit", .placeholder = "%unit", .absentInTemplate = kNone, .kind = FieldKind::name,
     .group = kOwners, .value = [](const Endpoint& e) { return text_if_any(e.place.unit); }},
    {.key = "container", .placeholder = "%cid", .absentInTemplate = kNone, .kind = FieldKind::name, .group = kOwners,
     .value = [](const Endpoint& e) { return text_if_any(e.place.container); }},
    {.key = "container_name", .placeholder = "%ctr", .absentInTemplate = kNone, .kind = FieldKind::name, .group = kOwners,
     .value = container_name},
    {.key = "container_runtime", .group = kOwners,
     .value = [](const Endpoint& e) { return text_if_any(e.place.runtime); }},
    {.key = "pod", .placeholder = "%pod", .absentInTemplate = kNone, .group = kOwners,
     .value = [](const Endpoint& e) { return text_if_any(e.place.pod); }},
    // --info: the kernel's figures, for scripts exactly and for people readably.
    {.key = "recv_queue", .heading = "Recv-Q", .placeholder = "%rq", .kind = FieldKind::number,
     .align = Align::right, .group = kInfo,
     .value = [](const Endpoint& e) { return number(e.socket.recvQueue); }},
    {.key = "send_queue", .heading = "Send-Q", .placeholder = "%sq", .kind = FieldKind::number,
     .align = Align::right, .group = kInfo,
     .value = [](const Endpoint& e) { return number(e.socket.sendQueue); }},
    {.key = "bytes_sent", .placeholder = "%tx", .kind = FieldKind::number, .group = kInfo,
     .value = [](const Endpoint& e) { return number(traffic(e).bytesSent); }},
    {.key = "bytes_received", .placeholder = "%rx", .kind = FieldKind::number, .group = kInfo,
     .value = [](const Endpoint& e) { return number(traffic(e).bytesReceived); }},
    {.key = "bytes_retrans", .kind = FieldKind::number, .group = kInfo,
     .value = [](const Endpoint& e) { return number(traffic(e).bytesRetrans); }},
    {.key = "retransmits", .placeholder = "%retr", .kind = FieldKind::number, .group = kInfo,
     .value = [](const Endpoint& e) { return number(traffic(e).retransmits); }},
    {.key = "rtt_ms", .placeholder = "%rtt", .kind = FieldKind::number, .group = kInfo,
     .value = [](const Endpoint& e) { return milliseconds(traffic(e).rttUs); }},
    {.key = "rtt_var_ms", .kind = FieldKind::number, .group = kInfo,
     .value = [](const Endpoint& e) { return milliseconds(traffic(e).rttVarUs); }},
    {.key = "min_rtt_ms", .kind = FieldKind::number, .group = kInfo,
     .value = [](const Endpoint& e) { return milliseconds(traffic(e).minRttUs); }},
    {.key = "cwnd", .kind = FieldKind::number, .group = kInfo,
     .value = [](const Endpoint& e) { return number(traffic(e).cwnd); }},
    {.key = "delivery_rate", .kind = FieldKind::number, .group = kInfo,
     .value = [](const Endpoint& e) { return number(traffic(e).deliveryRate); }},
    {.key = "rate_in", .placeholder = "%rin", .kind = FieldKind::number, .group = kInfo,
     .value = [](const Endpoint& e) { return whole_rate(e.rateIn); }},
    {.key = "rate_out", .placeholder = "%rout", .kind = FieldKind::number, .group = kInfo,
     .value = [](const Endpoint& e) { return whole_rate(e.rateOut); }},
    {.heading = "RTT", .align = Align::right, .group = kInfo,
     .value = [](const Endpoint& e) { return milliseconds_for_people(traffic(e).rttUs); }},
    {.heading = "Sent", .align = Align::right, .group = kInfo,
     .value = [](const Endpoint& e) { return bytes_for_people(traffic(e).bytesSent); }},
    {.heading = "Received", .align = Align::right, .group = kInfo,
     .value = [](const Endpoint& e) { return bytes_for_people(traffic(e).bytesReceived); }},
    {.heading = "In", .align = Align::right, .group = FieldGroup::rates,
     .value = [](const Endpoint& e) { return rate_for_people(e.rateIn); }},
    {.heading = "Out", .align = Align::right, .group = FieldGroup::rates,
     .value = [](const Endpoint& e) { return rate_for_people(e.rateOut); }},
};
// clang-format on

bool in_set(const EndpointField& field, FieldSet set) {
  switch (field.group) {
    case FieldGroup::always:
      return true;
    case FieldGroup::info:
      return set.info;
    case FieldGroup::rates:
      return set.info && set.rates;
    case FieldGroup::namespaces:
      return set.namespaces;
    case FieldGroup::owners:
      return set.owners;
  }
  return false;
}

// "7 9" as the JSON array [7,9].
void write_number_list(JsonWriter& json, std::string_view key, std::string_view numbers) {
  json.begin_array(key);
  while (!numbers.empty()) {
    const std::size_t space = numbers.find(' ');
    json.number_text({}, numbers.substr(0, space));
    numbers = space == std::string_view::npos ? std::string_view() : numbers.substr(space + 1);
  }
  json.end_array();
}

// A value as the text outputs write it: names escaped.
std::string shown(const EndpointField& field, const std::string& value) {
  return field.kind == FieldKind::name ? terminal_safe(value, UnsafeText::escape) : value;
}

std::vector<TableColumn> make_columns(FieldSet set) {
  std::vector<TableColumn> columns;
  for (const EndpointField& field : kFields) {
    // Names give way first when the table must fit a window.
    if (!field.heading.empty() && in_set(field, set)) {
      columns.push_back({field.heading, field.align, field.kind == FieldKind::name});
    }
  }
  return columns;
}

// The fields with a placeholder in the order a template replaces them: the meter's order, and
// the host's last of all, so that a host name is never searched for placeholders.
struct PlaceholderOrder {
  std::vector<std::string_view> texts;
  std::vector<const EndpointField*> fields;
};

PlaceholderOrder make_placeholder_order() {
  std::vector<const EndpointField*> fields;
  for (const EndpointField& field : kFields) {
    if (!field.placeholder.empty()) fields.push_back(&field);
  }
  const auto rank = [](const EndpointField* field) {
    if (field->placeholder == kHostPlaceholder) return kPlaceholderTexts.size() + 1;
    const auto* meter =
        std::find(kPlaceholderTexts.begin(), kPlaceholderTexts.end(), field->placeholder);
    return static_cast<std::size_t>(meter - kPlaceholderTexts.begin());
  };
  std::stable_sort(fields.begin(), fields.end(),
                   [&](const auto* a, const auto* b) { return rank(a) < rank(b); });
  PlaceholderOrder order{{}, fields};
  for (const EndpointField* field : fields) order.texts.push_back(field->placeholder);
  return order;
}

const PlaceholderOrder& placeholder_order() {
  static const PlaceholderOrder order = make_placeholder_order();
  return order;
}

// The expansion into work.line; hostAsked tells whether %hn was still there at its turn.
void expand_endpoint(std::string_view outputTemplate, bool noLeadingZeros, const Endpoint& endpoint,
                     ExpansionWork& work, bool& hostAsked) {
  const PlaceholderOrder& order = placeholder_order();
  std::string text;  // keeps the latest made text alive until its replacement is done
  const auto valueOf = [&](std::size_t index) -> std::string_view {
    const EndpointField& field = *order.fields[index];
    if (field.placeholder == kHostPlaceholder) hostAsked = true;
    const Value value = field.value(endpoint);
    if (!value) return field.absentInTemplate;
    if (field.kind == FieldKind::number && !noLeadingZeros) {
      const auto digits = static_cast<std::size_t>(field.templateDigits);
      return text = std::string(digits - std::min(digits, value->size()), '0') + *value;
    }
    return text = shown(field, *value);
  };
  expand_placeholders(outputTemplate, kUncut, order.texts, valueOf, work);
}

}  // namespace

const EndpointField& endpoint_field(std::string_view key) {
  return *std::find_if(std::begin(kFields), std::end(kFields),
                       [&](const EndpointField& field) { return field.key == key; });
}

std::string field_cell(const EndpointField& field, const Value& value) {
  return value && !value->empty() ? shown(field, *value) : std::string(kNone);
}

std::string human_bytes(double bytes) {
  static constexpr const char* kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
  std::size_t unit = 0;
  while (bytes >= 999.5 && unit + 1 < std::size(kUnits)) {
    bytes /= 1000;
    ++unit;
  }
  char text[32];
  // Whole bytes, and one decimal below ten of a larger unit, as people read sizes.
  const bool decimal = unit > 0 && bytes < 9.95;
  std::snprintf(text, sizeof text, decimal ? "%.1f %s" : "%.0f %s", bytes, kUnits[unit]);
  return text;
}

std::span<const TableColumn> endpoint_columns(FieldSet set) {
  // Every combination of the switches that matter, made once: info (none, counters, counters
  // and rates) by namespaces by owners.
  static const auto kSets = [] {
    std::array<std::vector<TableColumn>, 12> sets;
    for (std::size_t i = 0; i < sets.size(); ++i) {
      sets[i] = make_columns({.info = i % 3 != 0,
                              .rates = i % 3 == 2,
                              .namespaces = (i / 3) % 2 == 1,
                              .owners = i >= 6});
    }
    return sets;
  }();
  const std::size_t kind = !set.info ? 0 : set.rates ? 2 : 1;
  return kSets[kind + (set.namespaces ? 3 : 0) + (set.owners ? 6 : 0)];
}

std::vector<std::string> endpoint_cells(const Endpoint& endpoint, FieldSet set) {
  std::vector<std::string> cells;
  cells.reserve(endpoint_columns(set).size());
  for (const EndpointField& field : kFields) {
    if (field.heading.empty() || !in_set(field, set)) continue;
    cells.push_back(field_cell(field, field.value(endpoint)));
  }
  return cells;
}

void append_text_row(std::string& out, const Endpoint& endpoint, FieldSet set) {
  const auto cells = endpoint_cells(endpoint, set);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i != 0) out += '\t';
    out += cells[i];
  }
  out += '\n';
}

std::string endpoint_header_line(FieldSet set) {
  std::string line;
  for (const TableColumn& column : endpoint_columns(set)) {
    if (!line.empty()) line += '\t';
    line += column.heading;
  }
  return line + '\n';
}

std::string aligned_endpoint_table(std::span<const Endpoint> endpoints, bool header, FieldSet set) {
  std::vector<std::vector<std::string>> rows;
  rows.reserve(endpoints.size());
  for (const Endpoint& endpoint : endpoints) rows.push_back(endpoint_cells(endpoint, set));
  return aligned_table(endpoint_columns(set), rows, header);
}

void append_expansion(std::string& out, std::string_view outputTemplate, bool noLeadingZeros,
                      const Endpoint& endpoint, ExpansionWork& work) {
  bool hostAsked = false;
  expand_endpoint(outputTemplate, noLeadingZeros, endpoint, work, hostAsked);
  out += work.line;
}

namespace {

bool template_asks_group(std::string_view outputTemplate, bool (*inGroup)(FieldGroup)) {
  return std::any_of(std::begin(kFields), std::end(kFields), [&](const EndpointField& field) {
    return inGroup(field.group) && !field.placeholder.empty() &&
           outputTemplate.find(field.placeholder) != std::string_view::npos;
  });
}

}  // namespace

bool template_needs_traffic(std::string_view outputTemplate) {
  return template_asks_group(outputTemplate, [](FieldGroup group) {
    return group == FieldGroup::info || group == FieldGroup::rates;
  });
}

bool template_needs_owners(std::string_view outputTemplate) {
  return template_asks_group(outputTemplate,
                             [](FieldGroup group) { return group == FieldGroup::owners; });
}

bool template_needs_host(std::string_view outputTemplate, std::span<const Endpoint> endpoints) {
  if (outputTemplate.find(kHostPlaceholder) != std::string_view::npos) return true;
  // Only a program name can bring the placeholder in.
  if (outputTemplate.find("%nm") == std::string_view::npos) return false;
  ExpansionWork work;
  for (const Endpoint& endpoint : endpoints) {
    if (!has_remote(endpoint.socket)) continue;
    bool hostAsked = false;
    expand_endpoint(outputTemplate, true, endpoint, work, hostAsked);
    if (hostAsked) return true;
  }
  return false;
}

void write_json_members(JsonWriter& json, const Endpoint& endpoint, FieldSet set) {
  for (const EndpointField& field : kFields) {
    if (field.key.empty() || !in_set(field, set)) continue;
    const Value value = field.value(endpoint);
    switch (field.kind) {
      case FieldKind::text:
      case FieldKind::name:
        json.text(field.key, value);
        break;
      case FieldKind::number:
        json.number_text(field.key, value);
        break;
      case FieldKind::boolean:
        json.boolean(field.key, value ? std::optional(*value == "true") : std::nullopt);
        break;
      case FieldKind::numbers:
        write_number_list(json, field.key, value.value_or(std::string()));
        break;
    }
  }
}

void append_json_record(std::string& out, const Endpoint& endpoint, FieldSet set) {
  JsonWriter json(out);
  json.begin_object();
  write_json_members(json, endpoint, set);
  json.end_object();
  out += '\n';
}

void append_csv_header(std::string& out, FieldSet set) {
  bool first = true;
  for (const EndpointField& field : kFields) {
    if (field.key.empty() || !in_set(field, set)) continue;
    if (!first) out += ',';
    first = false;
    out += field.key;
  }
  out += "\r\n";
}

void append_csv_record(std::string& out, const Endpoint& endpoint, FieldSet set, bool escapeNames) {
  bool first = true;
  for (const EndpointField& field : kFields) {
    if (field.key.empty() || !in_set(field, set)) continue;
    if (!first) out += ',';
    first = false;
    if (const Value value = field.value(endpoint)) {
      append_csv_field(out, escapeNames ? shown(field, *value) : *value);
    }
  }
  out += "\r\n";
}

}  // namespace qv
