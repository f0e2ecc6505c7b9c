// Address texts (IPv6 as RFC 5952 writes it), terminal-safe names, JSON and CSV quoting.
#include "command/endpoint_text.hpp"

#include <algorithm>
#include <cstring>

#include "collector/address.hpp"
#include "command/endpoints.hpp"

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
    text += escaped_name(interfaceName);
  }
  text += ':';
  text += port;
  return text;
}

// The length of the valid UTF-8 sequence at the start of bytes, or 0 when it does not start
// with one: no overlong forms, no encoded surrogates, nothing beyond U+10FFFF.
std::size_t utf8_sequence_length(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

void append_unicode_escape(std::string& out, unsigned value) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHexDigits[(value >> shift) & 0xF];
}

void append_octal_escape(std::string& out, unsigned char byte) {
  out += '\\';
  out += static_cast<char>('0' + (byte >> 6));
  out += static_cast<char>('0' + ((byte >> 3) & 7));
  out += static_cast<char>('0' + (byte & 7));
}

// U+0080 to U+009F in UTF-8: the C1 controls, which terminals may take for CSI and its kin as
// readily as ESC itself.
bool c1_control_at(std::string_view text, std::size_t i) {
  return i + 1 < text.size() && static_cast<unsigned char>(text[i]) == 0xC2 &&
         static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
         static_cast<unsigned char>(text[i + 1]) <= 0x9F;
}

}  // namespace

std::string address_text(std::uint8_t family, const std::array<std::uint8_t, 16>& address) {
  return family == os::kFamilyIpv6 ? ipv6_text(address) : dotted(address.data());
}

std::string endpoint_address_text(const os::SocketRow& socket,
                                  const std::array<std::uint8_t, 16>& address) {
  return dual_stack_wildcard(socket, address) ? "*" : address_text(socket.family, address);
}

std::string local_endpoint_text(const os::SocketRow& socket) {
  return host_and_port(socket, socket.localAddress, socket.interfaceName,
                       std::to_string(socket.localPort));
}

std::string remote_endpoint_text(const os::SocketRow& socket) {
  return host_and_port(socket, socket.remoteAddress, {},
                       has_remote(socket) ? std::to_string(socket.remotePort) : std::string("*"));
}

std::string escaped_name(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const auto byte = static_cast<unsigned char>(c);
    if (c1_control_at(name, i)) {
      append_octal_escape(out, byte);
      append_octal_escape(out, static_cast<unsigned char>(name[++i]));
      continue;
    }
    if (byte >= 0x20 && byte != 0x7F && c != '\\') {
      out += c;
      continue;
    }
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\a':
        out += "\\a";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\v':
        out += "\\v";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        append_octal_escape(out, byte);
    }
  }
  return out;
}

void append_json_string(std::string& out, std::string_view bytes) {
  out += '"';
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = utf8_sequence_length(bytes.substr(i));
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (length == 0) {
      // Not UTF-8: the byte as the lone surrogate that surrogateescape decoders map back to it.
      append_unicode_escape(out, 0xDC00 + byte);
      i += 1;
      continue;
    }
    if (length == 1) {
      switch (bytes[i]) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\b':
          out += "\\b";
          break;
        case '\f':
          out += "\\f";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          // DEL too: JSON allows it raw, but a terminal showing the record must not get it.
          if (byte < 0x20 || byte == 0x7F) {
            append_unicode_escape(out, byte);
          } else {
            out += bytes[i];
          }
      }
    } else if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0) {
      // C1 controls (U+0080 to U+009F): some terminals obey them as they would ESC sequences.
      append_unicode_escape(out, static_cast<unsigned char>(bytes[i + 1]));
    } else {
      out.append(bytes.substr(i, length));
    }
    i += length;
  }
  out += '"';
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
