// The command's output formats, all built from the same endpoint texts.
#include "command/output.hpp"

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
  return socket.protocol == kProtocolTcp ? TcpStateName(static_cast<std::int32_t>(socket.tcpState))
                                         : std::string_view();
}

// The host column and %hn: the name found, else the remote address; nothing without a remote end.
std::string host_text(const Endpoint& endpoint) {
  const os::SocketRow& socket = endpoint.socket;
  if (!has_remote(socket)) return {};
  if (endpoint.hostName) return escaped_name(*endpoint.hostName);
  return address_text(socket.family, socket.remoteAddress);
}

std::string pid_list(const os::SocketRow& socket) {
  std::string text;
  for (const std::uint32_t pid : socket_holders(socket)) {
    if (!text.empty()) text += ' ';
    text += std::to_string(pid);
  }
  return text;
}

std::string_view number_text(std::uint32_t value, int minDigits, char (&buffer)[21]) {
  return {buffer, format_number(value, minDigits, buffer)};
}

}  // namespace

std::array<std::string, kTextFieldCount> text_row_fields(const Endpoint& endpoint) {
  const os::SocketRow& socket = endpoint.socket;
  const bool owned = socket.owningPid != 0;
  return {std::string(ProtocolName(socket.protocol)),
          local_endpoint_text(socket),
          remote_endpoint_text(socket),
          or_none(std::string(state_name(socket))),
          owned ? std::to_string(socket.owningPid) : std::string(kNone),
          owned ? or_none(escaped_name(endpoint.program)) : std::string(kNone),
          or_none(host_text(endpoint))};
}

void append_text_row(std::string& out, const Endpoint& endpoint) {
  const auto fields = text_row_fields(endpoint);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) out += '\t';
    out += fields[i];
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
        return text = endpoint_address_text(socket, socket.localAddress);
      case Placeholder::lpt:
        return number_text(socket.localPort, noLeadingZeros ? 1 : 5, number);
      case Placeholder::rpt:
        return remote ? number_text(socket.remotePort, noLeadingZeros ? 1 : 5, number) : "*";
      case Placeholder::pid:
        return socket.owningPid != 0 ? number_text(socket.owningPid, noLeadingZeros ? 1 : 4, number)
                                     : kNone;
      case Placeholder::rip:
        return text = endpoint_address_text(socket, socket.remoteAddress);
      case Placeholder::nm:
        return socket.owningPid != 0 ? text = escaped_name(endpoint.program) : kNone;
      case Placeholder::stat:
        return state_name(socket);
      case Placeholder::ptt:
        return ProtocolName(socket.protocol);
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
      {"protocol", socket.protocol == kProtocolTcp ? "tcp" : "udp"},
      {"family", socket.family == os::kFamilyIpv6 ? "ipv6" : "ipv4"},
      {"local_address", address_text(socket.family, socket.localAddress)},
      {"local_port", std::to_string(socket.localPort), true},
      {"interface", optional_text(!socket.interfaceName.empty(), socket.interfaceName)},
      {"remote_address", optional_text(remote, address_text(socket.family, socket.remoteAddress))},
      {"remote_port", optional_text(remote, std::to_string(socket.remotePort)), true},
      {"state", optional_text(socket.protocol == kProtocolTcp, std::string(state_name(socket)))},
      {"pid", optional_text(owned, std::to_string(socket.owningPid)), true},
      {"pids", pid_list(socket), false, true},
      {"program", optional_text(owned, endpoint.program)},
      {"deleted", optional_text(owned, endpoint.deleted ? "true" : "false"), true},
      {"host", endpoint.hostName},
  }};
}

void append_json_record(std::string& out, const Endpoint& endpoint) {
  out += '{';
  append_json_members(out, endpoint);
  out += "}\n";
}

void append_json_members(std::string& out, const Endpoint& endpoint) {
  bool first = true;
  for (const RecordField& field : record_fields(endpoint)) {
    if (!first) out += ',';
    first = false;
    append_json_string(out, field.key);
    out += ':';
    if (!field.value) {
      out += "null";
    } else if (field.list) {
      out += '[';
      for (const char c : *field.value) out += c == ' ' ? ',' : c;
      out += ']';
    } else if (field.number) {
      out += *field.value;
    } else {
      append_json_string(out, *field.value);
    }
  }
}

void append_csv_header(std::string& out) {
  const Endpoint none{};
  bool first = true;
  for (const RecordField& field : record_fields(none)) {
    if (!first) out += ',';
    first = false;
    out += field.key;
  }
  out += "\r\n";
}

void append_csv_record(std::string& out, const Endpoint& endpoint) {
  bool first = true;
  for (const RecordField& field : record_fields(endpoint)) {
    if (!first) out += ',';
    first = false;
    if (field.value) append_csv_field(out, *field.value);
  }
  out += "\r\n";
}

bool endpoint_listed(const Endpoint& endpoint, const InstanceSettings& settings) {
  const os::SocketRow& socket = endpoint.socket;
  std::optional<std::int64_t> remoteNumber = 0;
  if (has_remote(socket)) {
    const bool ipv4 = socket.family != os::kFamilyIpv6;
    if (ipv4 || is_ipv4_mapped(socket.remoteAddress)) {
      std::uint8_t octets[4];
      std::memcpy(octets, socket.remoteAddress.data() + (ipv4 ? 0 : 12), sizeof octets);
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
  if (rows && style.aligned) return aligned_endpoint_table(endpoints, header);
  std::string out;
  ExpansionWork work;
  if (header && rows) out += endpoint_header_line();
  if (header && style.format == OutputFormat::csv) append_csv_header(out);
  for (const Endpoint& endpoint : endpoints) {
    switch (style.format) {
      case OutputFormat::text:
        if (style.outputTemplate) {
          append_expansion(out, *style.outputTemplate, style.noLeadingZeros, endpoint, work);
        } else {
          append_text_row(out, endpoint);
        }
        break;
      case OutputFormat::json:
        append_json_record(out, endpoint);
        break;
      case OutputFormat::csv:
        append_csv_record(out, endpoint);
        break;
    }
  }
  return out;
}

}  // namespace qv
