// A whole listing in the style asked for, and the settings filters on the command's endpoints.
#include "command/output.hpp"

#include <cstring>

#include "collector/address.hpp"
#include "command/summary.hpp"
#include "listing/template_expansion.hpp"

namespace qv {

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
    const Summary summary = summarize(endpoints, kSummaryPrograms, style.fields.namespaces);
    return style.format == OutputFormat::json ? summary_json(summary, style.fields)
                                              : summary_text(summary, style.fields);
  }
  const bool rows = style.format == OutputFormat::text && !style.outputTemplate;
  const bool header =
      style.header.value_or(style.format == OutputFormat::csv || (rows && style.aligned));
  if (rows && style.aligned) return aligned_endpoint_table(endpoints, header, style.fields);
  std::string out;
  ExpansionWork work;
  if (header && rows) out += endpoint_header_line(style.fields);
  if (header && style.format == OutputFormat::csv) append_csv_header(out, style.fields);
  for (const Endpoint& endpoint : endpoints) {
    switch (style.format) {
      case OutputFormat::text:
        if (style.outputTemplate) {
          append_expansion(out, *style.outputTemplate, style.noLeadingZeros, endpoint, work);
        } else {
          append_text_row(out, endpoint, style.fields);
        }
        break;
      case OutputFormat::json:
        append_json_record(out, endpoint, style.fields);
        break;
      case OutputFormat::csv:
        append_csv_record(out, endpoint, style.fields, style.terminal);
        break;
    }
  }
  return out;
}

}  // namespace qv
