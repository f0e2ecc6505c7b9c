// Prints the Linux layer's socket table, one row a line, fields separated by tabs:
// protocol family v6only local-address local-port remote-address remote-port state pid
// Options: --proc reads /proc/net only (the fallback), --repeat N asks N times and prints the
// last table (later calls reuse the owners found), --count prints the number of rows only.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os/linux/socket_sources.hpp"
#include "os/os.hpp"

namespace {

const char* address_text(const os::SocketRow& row, const std::array<std::uint8_t, 16>& address,
                         char (&text)[INET6_ADDRSTRLEN]) {
  const int family = row.family == os::kFamilyIpv6 ? AF_INET6 : AF_INET;
  return inet_ntop(family, address.data(), text, sizeof text);
}

}  // namespace

int main(int argc, char** argv) {
  bool proc = false;
  bool count = false;
  int repeat = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--proc") == 0) {
      proc = true;
    } else if (std::strcmp(argv[i], "--count") == 0) {
      count = true;
    } else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: socket_table_probe [--proc] [--repeat N] [--count]\n");
      return 2;
    }
  }
  std::optional<std::vector<os::SocketRow>> rows;
  for (int i = 0; i < repeat; ++i) {
    rows = proc ? os::linux_sockets::socket_table_from(os::linux_sockets::Source::proc, {})
                : os::socket_table({});
  }
  if (!rows) {
    std::fprintf(stderr, "socket_table_probe: no table\n");
    return 1;
  }
  if (count) {
    std::printf("%zu\n", rows->size());
    return 0;
  }
  for (const os::SocketRow& row : *rows) {
    char local[INET6_ADDRSTRLEN];
    char remote[INET6_ADDRSTRLEN];
    std::printf("%s\t%d\t%d\t%s\t%u\t%s\t%u\t%u\t%u\n",
                row.protocol == os::Protocol::tcp ? "tcp" : "udp", row.family, row.ipv6Only ? 1 : 0,
                address_text(row, row.local.address, local), row.local.port,
                address_text(row, row.remote.address, remote), row.remote.port,
                static_cast<unsigned>(row.tcpState), row.owningPid);
  }
  return 0;
}
