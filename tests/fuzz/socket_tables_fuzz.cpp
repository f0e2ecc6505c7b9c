// Fuzzes the Linux layer's parsers of kernel and resolver output: the socket table text, fd link
// texts and DNS replies. Beyond crashes and undefined behaviour it checks that every parsed line,
// written back in the kernel's own layout, parses to the same values.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "os/linux/proc_net.hpp"
#include "os/linux/reverse_dns.hpp"

namespace {

std::string kernel_line(const os::linux_net::SocketLine& line) {
  char text[200];
  std::snprintf(text, sizeof text,
                "   0: %08X:%04X %08X:%04X %02X 00000000:00000000 00:00000000 00000000     0        "
                "0 %llu 1 0000000000000000 100 0 0 10 0\n",
                line.localAddress, line.localPort, line.remoteAddress, line.remotePort, line.state,
                static_cast<unsigned long long>(line.inode));
  return text;
}

bool same(const os::linux_net::SocketLine& a, const os::linux_net::SocketLine& b) {
  return a.localAddress == b.localAddress && a.localPort == b.localPort &&
         a.remoteAddress == b.remoteAddress && a.remotePort == b.remotePort &&
         a.state == b.state && a.inode == b.inode;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<os::linux_net::SocketLine> lines;
  os::linux_net::parse_socket_lines(text, lines);
  std::string written = "header\n";
  for (const auto& line : lines) written += kernel_line(line);
  std::vector<os::linux_net::SocketLine> again;
  os::linux_net::parse_socket_lines(written, again);
  if (again.size() != lines.size()) std::abort();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!same(lines[i], again[i])) std::abort();
  }
  (void)os::linux_net::socket_inode_of_link(text);
  (void)os::linux_dns::first_answer_name(data, size);
  return 0;
}
