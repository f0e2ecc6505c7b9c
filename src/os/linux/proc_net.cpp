// Parsing of the kernel's socket tables and fd links.
#include "os/linux/proc_net.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace os::linux_net {

namespace {

// A cursor over one line; every reader fails softly so that a malformed line is simply skipped.
struct Cursor {
  std::string_view rest;

  void skip_blanks() {
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
  }

  bool skip_field() {
    skip_blanks();
    const auto end = rest.find_first_of(" \t");
    if (end == 0 || rest.empty()) return false;
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    return true;
  }

  // Exactly digits hexadecimal digits.
  template <typename T>
  bool hex(std::size_t digits, T& value) {
    if (rest.size() < digits) return false;
    std::uint64_t result = 0;
    for (std::size_t i = 0; i < digits; ++i) {
      const char c = rest[i];
      unsigned digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<unsigned>(c - '0');
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<unsigned>(c - 'A' + 10);
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<unsigned>(c - 'a' + 10);
      } else {
        return false;
      }
      result = result * 16 + digit;
    }
    rest.remove_prefix(digits);
    value = static_cast<T>(result);
    return true;
  }

  bool decimal(std::uint64_t& value) {
    skip_blanks();
    std::size_t i = 0;
    value = 0;
    for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9' && i < 20; ++i) {
      value = value * 10 + static_cast<std::uint64_t>(rest[i] - '0');
    }
    rest.remove_prefix(i);
    return i > 0 && (rest.empty() || rest.front() == ' ' || rest.front() == '\t');
  }

  bool literal(char c) {
    if (rest.empty() || rest.front() != c) return false;
    rest.remove_prefix(1);
    return true;
  }

  // "0100007F:0035": the address as the kernel printed its network-order words (one for IPv4,
  // four for IPv6), then the port. The kernel printed the in-memory words of this same machine,
  // so their bytes are the octets in network order, which is the delivered form.
  template <typename Address>
  bool endpoint(Address& address, std::uint16_t& port) {
    skip_blanks();
    static_assert(sizeof address % 4 == 0);
    auto* bytes = reinterpret_cast<unsigned char*>(&address);
    for (std::size_t word = 0; word < sizeof address / 4; ++word) {
      std::uint32_t printed;
      if (!hex(8, printed)) return false;
      std::memcpy(bytes + word * 4, &printed, sizeof printed);
    }
    if (!literal(':') || !hex(4, port)) return false;
    return rest.empty() || rest.front() == ' ';
  }
};

template <typename Line>
bool parse_line(std::string_view text, Line& line) {
  Cursor cursor{text};
  // "  0: LOCAL REMOTE ST TX:RX TR:WHEN RETRNSMT UID TIMEOUT INODE ..."
  if (!cursor.skip_field() || !cursor.endpoint(line.localAddress, line.localPort) ||
      !cursor.endpoint(line.remoteAddress, line.remotePort)) {
    return false;
  }
  cursor.skip_blanks();
  if (!cursor.hex(2, line.state)) return false;
  for (int i = 0; i < 3; ++i) {
    if (!cursor.skip_field()) return false;
  }
  std::uint64_t uid = 0;
  if (!cursor.decimal(uid) || uid > UINT32_MAX || !cursor.skip_field()) return false;
  line.uid = static_cast<std::uint32_t>(uid);
  return cursor.decimal(line.inode);
}

template <typename Line>
void parse_lines(std::string_view fileText, std::vector<Line>& lines) {
  lines.clear();
  bool header = true;
  while (!fileText.empty()) {
    const auto end = fileText.find('\n');
    const auto text = fileText.substr(0, end);
    fileText.remove_prefix(end == std::string_view::npos ? fileText.size() : end + 1);
    if (header) {
      header = false;
      continue;
    }
    Line line{};
    if (parse_line(text, line)) lines.push_back(line);
  }
}

}  // namespace

void parse_socket_lines(std::string_view fileText, std::vector<SocketLine>& lines) {
  parse_lines(fileText, lines);
}

void parse_socket_lines(std::string_view fileText, std::vector<SocketLine6>& lines) {
  parse_lines(fileText, lines);
}

namespace {

// The value of key on the line that starts with prefix ("TCP: inuse 5 orphan 0 tw 2": pairs of a
// key and its count).
std::size_t sockstat_count(std::string_view text, std::string_view prefix, std::string_view key) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with(prefix)) continue;
    Cursor cursor{line.substr(prefix.size())};
    for (;;) {
      cursor.skip_blanks();
      const std::string_view name = cursor.rest.substr(0, cursor.rest.find_first_of(" \t"));
      std::uint64_t count = 0;
      if (!cursor.skip_field() || !cursor.decimal(count)) return 0;
      if (name == key) return static_cast<std::size_t>(count);
    }
  }
  return 0;
}

}  // namespace

SocketCounts parse_sockstat(std::string_view sockstat, std::string_view sockstat6) {
  return {sockstat_count(sockstat, "TCP:", "inuse"), sockstat_count(sockstat6, "TCP6:", "inuse"),
          sockstat_count(sockstat, "TCP:", "tw"), sockstat_count(sockstat, "UDP:", "inuse"),
          sockstat_count(sockstat6, "UDP6:", "inuse")};
}

std::uint32_t mib_tcp_state(unsigned linuxState) {
  // Indexed by the kernel's number: ESTABLISHED, SYN_SENT, SYN_RECV, FIN_WAIT1, FIN_WAIT2,
  // TIME_WAIT, CLOSE, CLOSE_WAIT, LAST_ACK, LISTEN, CLOSING, NEW_SYN_RECV.
  static constexpr std::uint32_t kMib[] = {1, 5, 3, 4, 6, 7, 11, 1, 8, 10, 2, 9, 4};
  return linuxState < std::size(kMib) ? kMib[linuxState] : 1;
}

std::uint32_t delivered_port(std::uint16_t hostOrder) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(hostOrder >> 8),
                                  static_cast<unsigned char>(hostOrder & 0xFF), 0, 0};
  std::uint32_t field;
  std::memcpy(&field, bytes, sizeof field);
  return field;
}

std::optional<std::uint64_t> socket_inode_of_link(std::string_view linkText) {
  constexpr std::string_view kPrefix = "socket:[";
  if (linkText.size() < kPrefix.size() + 2 || linkText.substr(0, kPrefix.size()) != kPrefix ||
      linkText.back() != ']') {
    return std::nullopt;
  }
  const auto digits = linkText.substr(kPrefix.size(), linkText.size() - kPrefix.size() - 1);
  if (digits.size() > 19) return std::nullopt;
  std::uint64_t inode = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    inode = inode * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return inode;
}

}  // namespace os::linux_net
