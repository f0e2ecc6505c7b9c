// Address texts (IPv6 as RFC 5952 writes it) and CSV quoting.
#include "command/endpoint_text.hpp"

#include <algorithm>
#include <cstring>

#include "collector/address.hpp"
#include "command/endpoints.hpp"
#include "common/utf8.hpp"

namespace qv {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool is_zero(const std::array<std::uint8_t, 16>& address) {
  return std::all_of(address.begin(), address.end(), [](std::uint8_t b) { return b == 0; });
}

std::string dotted(const std::uint8_t* octets) {
  std::uint32_t delivered;
  std::memcpy(&delivered, octets, sizeof delivered);
  AddressText text;
  DottedAddress(delivered, text);
  return text;
}

void append_hex_group(std::string& out, unsigned group) {
  bool started = false;
  for (int shift = 12; shift >= 0; shift -= 4) {
    const unsigned digit = (group >> shift) & 0xF;
    if (digit != 0 || started || shift == 0) {
      out += kHexDigits[digit];
      started = true;
    }
  }
}

std::string ipv6_text(const std::array<std::uint8_t, 16>& address) {
  if (is_ipv4_mapped(address)) return "::ffff:" + dotted(address.data() + 12);
  unsigned groups[8];
  for (std::size_t i = 0; i < 8; ++i) groups[i] = address[2 * i] * 256U + address[2 * i + 1];
  // The longest run of two or more zero groups becomes "::", the first of equally long ones.
  std::size_t bestStart = 8;
  std::size_t bestLength = 1;
  for (std::size_t i = 0; i < 8;) {
    std::size_t end = i;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - i > bestLength) {
      bestStart = i;
      bestLength = end - i;
    }
    i = end == i ? i + 1 : end;
  }
  std::string text;
  for (std::size_t i = 0; i < 8; ++i) {
    if (i == bestStart) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    append_hex_group(text, groups[i]);
  }
  return text;
}

// An IPv6 socket on the wildcard address that also takes IPv4 peers.
bool dual_stack_wildcard(const os::SocketRow& socket, const std::array<std::uint8_t, 16>& address) {
  return socket.family == os::kFamilyIpv6 && !socket.ipv6Only && is_zero(address);
}

std::string host_and_port(const os::SocketRow& socket, const std::array<std::uint8_t, 16>& address,
                          std::string_view interfaceName, std::string_view port) {
  std::string text = endpoint_address_text(socket, address);
  // An IPv6 address is bracketed so that its colons stay apart from the port's.
  if (socket.family == os::kFamilyIpv6 && text != "*") text = "[" + text + "]";
  if (!interfaceName.empty()) {
    text += '%';
    text += terminal_safe(interfaceName, UnsafeText::escape);
  }
  text += ':';
  text += port;
  return text;
}

}  // namespace

std::string address_text(std::uint8_t family, const std::array<std::uint8_t, 16>& address) {
  return family == os::kFamilyIpv6 ? ipv6_text(address) : dotted(address.data());
}

std::string endpoint_address_text(const os::SocketRow& socket,
                                  const std::array<std::uint8_t, 16>& address) {
  return dual_stack_wildcard(socket, address) ? "*" : address_text(socket.family, address);
}

std::string local_endpoint_text(const os::SocketRow& socket,
                                const std::optional<std::string>& service) {
  return host_and_port(
      socket, socket.local.address, socket.interfaceName,
      service ? terminal_safe(*service, UnsafeText::escape) : std::to_string(socket.local.port));
}

std::string remote_endpoint_text(const os::SocketRow& socket,
                                 const std::optional<std::string>& service) {
  const std::string port = !has_remote(socket) ? std::string("*")
                           : service           ? terminal_safe(*service, UnsafeText::escape)
                                               : std::to_string(socket.remote.port);
  return host_and_port(socket, socket.remote.address, {}, port);
}

std::string place_text(std::string_view containerName, std::string_view netnsName,
                       std::uint64_t netnsInode) {
  if (!containerName.empty()) return std::string(containerName);
  if (!netnsName.empty()) return std::string(netnsName);
  return "net:[" + std::to_string(netnsInode) + "]";
}

void append_csv_field(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace qv
