// Fuzzes the Linux layer's parsers of kernel and resolver output: the socket table texts of both
// families, sock_diag replies, fd link texts and DNS replies. Beyond crashes and undefined
// behaviour it checks that every parsed line, written back in the kernel's own layout, parses to
// the same values, and that a reply gives exactly one inode per row and nothing when it fails.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "os/linux/proc_net.hpp"
#include "os/linux/reverse_dns.hpp"
#include "os/linux/sock_diag.hpp"

namespace {

template <typename Line>
std::string kernel_address(const Line& line, bool local) {
  const auto& address = local ? line.localAddress : line.remoteAddress;
  std::string text;
  for (std::size_t word = 0; word < sizeof address / 4; ++word) {
    std::uint32_t printed;
    std::memcpy(&printed, reinterpret_cast<const unsigned char*>(&address) + word * 4,
                sizeof printed);
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", printed);
    text += hex;
  }
  return text;
}

template <typename Line>
std::string kernel_line(const Line& line) {
  char text[240];
  std::snprintf(text, sizeof text,
                "   0: %s:%04X %s:%04X %02X 00000000:00000000 00:00000000 00000000     0        "
                "0 %llu 1 0000000000000000 100 0 0 10 0\n",
                kernel_address(line, true).c_str(), line.localPort,
                kernel_address(line, false).c_str(), line.remotePort, line.state,
                static_cast<unsigned long long>(line.inode));
  return text;
}

template <typename Line>
bool same(const Line& a, const Line& b) {
  return a.localAddress == b.localAddress && a.localPort == b.localPort &&
         a.remoteAddress == b.remoteAddress && a.remotePort == b.remotePort && a.state == b.state &&
         a.inode == b.inode;
}

template <typename Line>
void round_trip(std::string_view text) {
  std::vector<Line> lines;
  os::linux_net::parse_socket_lines(text, lines);
  std::string written = "header\n";
  for (const auto& line : lines) written += kernel_line(line);
  std::vector<Line> again;
  os::linux_net::parse_socket_lines(written, again);
  if (again.size() != lines.size()) std::abort();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!same(lines[i], again[i])) std::abort();
  }
}

void diag_reply(const std::uint8_t* data, std::size_t size) {
  // The sequence of the first message, so that the fuzzer reaches the bodies at once.
  std::uint32_t sequence = 0;
  if (size >= 12) std::memcpy(&sequence, data + 8, sizeof sequence);
  std::vector<os::SocketRow> rows(1);
  std::vector<std::uint64_t> inodes(1);
  const auto progress = os::linux_diag::parse_dump(
      {data, size}, sequence, (size & 1) != 0 ? os::Protocol::tcp : os::Protocol::udp, rows,
      inodes);
  if (rows.size() != inodes.size() || rows.empty()) std::abort();
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto& row = rows[i];
    if (row.family != os::kFamilyIpv4 && row.family != os::kFamilyIpv6) std::abort();
    if (row.ipv6Only && row.family != os::kFamilyIpv6) std::abort();
    if (os::state_index(row.tcpState) >= os::kTcpStateCount || row.owningPid != 0) std::abort();
  }
  (void)progress;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  round_trip<os::linux_net::SocketLine>(text);
  round_trip<os::linux_net::SocketLine6>(text);
  diag_reply(data, size);
  (void)os::linux_net::socket_inode_of_link(text);
  (void)os::linux_dns::first_answer_name(data, size);
  return 0;
}
