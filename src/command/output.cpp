// The command's output formats, all built from the same endpoint texts.
#include "command/output.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "collector/address.hpp"
#include "collector/connection_table.hpp"
#include "command/endpoint_text.hpp"
#include "command/summary.hpp"
#include "command/table.hpp"
#include "common/text.hpp"
#include "listing/names.hpp"

namespace qv {

namespace {

constexpr std::string_view kNone = "-";

std::string or_none(std::string text) {
  return text.empty() ? std::string(kNone) : std::move(text);
}

std::string_view state_name(const os::SocketRow& socket) {
  return socket.protocol == os::Protocol::tcp
             ? TcpStateName(static_cast<std::int32_t>(socket.tcpState))
             : std::string_view();
}

// The host column and %hn: the name found, else the remote address; nothing without a remote end.
std::string host_text(const Endpoint& endpoint) {
  const os::SocketRow& socket = endpoint.socket;
  if (!has_remote(socket)) return {};
  if (endpoint.hostName) return escaped_name(*endpoint.hostName);
  return address_text(socket.family, socket.remote.address);
}

std::string_view number_text(std::uint32_t value, int minDigits, char (&buffer)[21]) {
  return {buffer, format_number(value, minDigits, buffer)};
}

}  // namespace

std::array<std::string, kTextFieldCount> text_row_fields(const Endpoint& endpoint) {
  const os::SocketRow& socket = endpoint.socket;
  const bool owned = socket.owningPid != 0;
  return {std::string(ProtocolName(static_cast<std::int32_t>(socket.protocol))),
          local_endpoint_text(socket),
          remote_endpoint_text(socket),
          or_none(std::string(state_name(socket))),
          owned ? std::to_string(socket.owningPid) : std::string(kNone),
          owned ? or_none(escaped_name(endpoint.program)) : std::string(kNone),
          or_none(host_text(endpoint))};
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

namespace {

template <typename T>
std::string or_none(const std::optional<T>& value, std::string (*text)(T)) {
  return value ? text(*value) : std::string(kNone);
}

std::string milliseconds_text(std::uint32_t microseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f ms", microseconds < 10000 ? 2 : 0, microseconds / 1000.0);
  return text;
}

std::string bytes_text(std::uint64_t bytes) { return human_bytes(static_cast<double>(bytes)); }
std::string queue_text(std::uint32_t bytes) { return std::to_string(bytes); }
std::string rate_text(double bytesPerSecond) { return human_bytes(bytesPerSecond) + "/s"; }

}  // namespace

std::vector<std::string> info_fields(const Endpoint& endpoint, bool rates) {
  const os::SocketRow& socket = endpoint.socket;
  const os::TcpTraffic none;
  const os::TcpTraffic& traffic = socket.traffic ? *socket.traffic : none;
  std::vector<std::string> fields = {
      or_none(socket.recvQueue, queue_text), or_none(socket.sendQueue, queue_text),
      or_none(traffic.rttUs, milliseconds_text), or_none(traffic.bytesSent, bytes_text),
      or_none(traffic.bytesReceived, bytes_text)};
  if (rates) {
    fields.push_back(or_none(endpoint.rateIn, rate_text));
    fields.push_back(or_none(endpoint.rateOut, rate_text));
  }
  return fields;
}

void append_text_row(std::string& out, const Endpoint& endpoint, bool info, bool rates) {
  const auto fields = text_row_fields(endpoint);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) out += '\t';
    out += fields[i];
  }
  if (info) {
    for (const std::string& field : info_fields(endpoint, rates)) (out += '\t') += field;
  }
  out += '\n';
}

namespace {

// The expansion into work.line; hostAsked tells whether %hn was still there at its turn.
void expand_endpoint(std::string_view outputTemplate, bool noLeadingZeros, const Endpoint& endpoint,
                     ExpansionWork& work, bool& hostAsked) {
  const os::SocketRow& socket = endpoint.socket;
  const bool remote = has_remote(socket);
  char number[21];
  std::string text;  // keeps the latest made text alive until its replacement is done
  const auto valueOf = [&](Placeholder placeholder) -> std::string_view {
    switch (placeholder) {
      case Placeholder::lip:
        return text = endpoint_address_text(socket, socket.local.address);
      case Placeholder::lpt:
        return number_text(socket.local.port, noLeadingZeros ? 1 : 5, number);
      case Placeholder::rpt:
        return remote ? number_text(socket.remote.port, noLeadingZeros ? 1 : 5, number) : "*";
      case Placeholder::pid:
        return socket.owningPid != 0 ? number_text(socket.owningPid, noLeadingZeros ? 1 : 4, number)
                                     : kNone;
      case Placeholder::rip:
        return text = endpoint_address_text(socket, socket.remote.address);
      case Placeholder::nm:
        return socket.owningPid != 0 ? text = escaped_name(endpoint.program) : kNone;
      case Placeholder::stat:
        return state_name(socket);
      case Placeholder::ptt:
        return ProtocolName(static_cast<std::int32_t>(socket.protocol));
      case Placeholder::hn:
        hostAsked = true;
        return text = host_text(endpoint);
    }
    return {};
  };
  expand_template(outputTemplate, kUncut, valueOf, work);
}

}  // namespace

void append_expansion(std::string& out, std::string_view outputTemplate, bool noLeadingZeros,
                      const Endpoint& endpoint, ExpansionWork& work) {
  bool hostAsked = false;
  expand_endpoint(outputTemplate, noLeadingZeros, endpoint, work, hostAsked);
  out += work.line;
}

bool template_needs_host(std::string_view outputTemplate, std::span<const Endpoint> endpoints) {
  if (outputTemplate.find("%hn") != std::string_view::npos) return true;
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

std::array<RecordField, kRecordFieldCount> record_fields(const Endpoint& endpoint) {
  const os::SocketRow& socket = endpoint.socket;
  const bool remote = has_remote(socket);
  const bool owned = socket.owningPid != 0;
  const auto optional_text = [](bool present, std::string text) {
    return present ? std::optional<std::string>(std::move(text)) : std::nullopt;
  };
  return {{
      {"protocol", socket.protocol == os::Protocol::tcp ? "tcp" : "udp"},
      {"family", socket.family == os::kFamilyIpv6 ? "ipv6" : "ipv4"},
      {"local_address", address_text(socket.family, socket.local.address)},
      {"local_port", std::to_string(socket.local.port), true},
      {"remote_address", optional_text(remote, address_text(socket.family, socket.remote.address))},
      {"remote_port", optional_text(remote, std::to_string(socket.remote.port)), true},
      {"state",
       optional_text(socket.protocol == os::Protocol::tcp, std::string(state_name(socket)))},
      {"pid", optional_text(owned, std::to_string(socket.owningPid)), true},
      {"program", optional_text(owned, endpoint.program)},
      {"host", endpoint.hostName},
  }};
}

namespace {

template <typename T>
std::optional<std::string> number_text(const std::optional<T>& value) {
  if (!value) return std::nullopt;
  return std::to_string(*value);
}

// A round trip in milliseconds, exactly: microseconds / 1000 in the shortest decimal.
std::optional<std::string> milliseconds_number(const std::optional<std::uint32_t>& microseconds) {
  if (!microseconds) return std::nullopt;
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, *microseconds / 1000.0).ptr;
  return std::string(text, end);
}

std::optional<std::string> rate_number(const std::optional<double>& bytesPerSecond) {
  if (!bytesPerSecond) return std::nullopt;
  return std::to_string(std::llround(*bytesPerSecond));
}

// Every field of the endpoint's record, and its traffic fields when asked, in order.
template <typename Visit>
void for_each_field(const Endpoint& endpoint, bool traffic, Visit&& visit) {
  for (const RecordField& field : record_fields(endpoint)) visit(field);
  if (!traffic) return;
  for (const RecordField& field : traffic_record_fields(endpoint)) visit(field);
}

}  // namespace

std::array<RecordField, kTrafficFieldCount> traffic_record_fields(const Endpoint& endpoint) {
  const os::SocketRow& socket = endpoint.socket;
  const os::TcpTraffic none;
  const os::TcpTraffic& t = socket.traffic ? *socket.traffic : none;
  return {{
      {"recv_queue", number_text(socket.recvQueue), true},
      {"send_queue", number_text(socket.sendQueue), true},
      {"bytes_sent", number_text(t.bytesSent), true},
      {"bytes_received", number_text(t.bytesReceived), true},
      {"bytes_retrans", number_text(t.bytesRetrans), true},
      {"retransmits", number_text(t.retransmits), true},
      {"rtt_ms", milliseconds_number(t.rttUs), true},
      {"rtt_var_ms", milliseconds_number(t.rttVarUs), true},
      {"min_rtt_ms", milliseconds_number(t.minRttUs), true},
      {"cwnd", number_text(t.cwnd), true},
      {"delivery_rate", number_text(t.deliveryRate), true},
      {"rate_in", rate_number(endpoint.rateIn), true},
      {"rate_out", rate_number(endpoint.rateOut), true},
  }};
}

void append_json_record(std::string& out, const Endpoint& endpoint, bool traffic) {
  out += '{';
  append_json_members(out, endpoint, traffic);
  out += "}\n";
}

void append_json_members(std::string& out, const Endpoint& endpoint, bool traffic) {
  bool first = true;
  for_each_field(endpoint, traffic, [&](const RecordField& field) {
    if (!first) out += ',';
    first = false;
    append_json_string(out, field.key);
    out += ':';
    if (!field.value) {
      out += "null";
    } else if (field.number) {
      out += *field.value;
    } else {
      append_json_string(out, *field.value);
    }
  });
}

void append_csv_header(std::string& out, bool traffic) {
  const Endpoint none{};
  bool first = true;
  for_each_field(none, traffic, [&](const RecordField& field) {
    if (!first) out += ',';
    first = false;
    out += field.key;
  });
  out += "\r\n";
}

void append_csv_record(std::string& out, const Endpoint& endpoint, bool traffic) {
  bool first = true;
  for_each_field(endpoint, traffic, [&](const RecordField& field) {
    if (!first) out += ',';
    first = false;
    if (field.value) append_csv_field(out, *field.value);
  });
  out += "\r\n";
}

bool endpoint_listed(const Endpoint& endpoint, const InstanceSettings& settings) {
  const os::SocketRow& socket = endpoint.socket;
  std::optional<std::int64_t> remoteNumber = 0;
  if (has_remote(socket)) {
    const bool ipv4 = socket.family != os::kFamilyIpv6;
    if (ipv4 || is_ipv4_mapped(socket.remote.address)) {
      std::uint8_t octets[4];
      std::memcpy(octets, socket.remote.address.data() + (ipv4 ? 0 : 12), sizeof octets);
      remoteNumber = TwelveDigitValue(octets);
    } else {
      remoteNumber = std::nullopt;
    }
  }
  return remote_address_listed(remoteNumber, settings);
}

bool style_needs_host(const ListingStyle& style, std::span<const Endpoint> endpoints) {
  if (style.summary) return false;
  if (style.format == OutputFormat::text && style.outputTemplate) {
    return template_needs_host(*style.outputTemplate, endpoints);
  }
  return true;
}

std::string listing_text(std::span<const Endpoint> endpoints, const ListingStyle& style) {
  if (style.summary) {
    const Summary summary = summarize(endpoints);
    return style.format == OutputFormat::json ? summary_json(summary) : summary_text(summary);
  }
  const bool rows = style.format == OutputFormat::text && !style.outputTemplate;
  const bool header =
      style.header.value_or(style.format == OutputFormat::csv || (rows && style.aligned));
  if (rows && style.aligned) {
    return aligned_endpoint_table(endpoints, header, style.info, style.rates);
  }
  std::string out;
  ExpansionWork work;
  if (header && rows) out += endpoint_header_line(style.info, style.rates);
  if (header && style.format == OutputFormat::csv) append_csv_header(out, style.info);
  for (const Endpoint& endpoint : endpoints) {
    switch (style.format) {
      case OutputFormat::text:
        if (style.outputTemplate) {
          append_expansion(out, *style.outputTemplate, style.noLeadingZeros, endpoint, work);
        } else {
          append_text_row(out, endpoint, style.info, style.rates);
        }
        break;
      case OutputFormat::json:
        append_json_record(out, endpoint, style.info);
        break;
      case OutputFormat::csv:
        append_csv_record(out, endpoint, style.info);
        break;
    }
  }
  return out;
}

}  // namespace qv
