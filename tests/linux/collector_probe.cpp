// Runs one collector pass on this machine (the engine over the Linux layer) and prints the
// published table, one entry per line, fields separated by tabs:
// protocol local-address local-port remote-address remote-port state pid program host-name
#include <cstdio>
#include <vector>

#include "collector/collector.hpp"
#include "common/text.hpp"

int main() {
  qv::collect_one_pass();
  std::vector<qv::ConnectionEntry> entries;
  if (!qv::take_snapshot(entries)) {
    std::fprintf(stderr, "collector_probe: nothing published\n");
    return 1;
  }
  for (const auto& e : entries) {
    std::printf("%s\t%s\t%d\t%s\t%d\t%d\t%d\t%s\t%s\n",
                e.protocol == qv::kProtocolTcp ? "tcp" : "udp", e.localAddressText, e.localPort,
                e.remoteAddressText, e.remotePort, e.tcpState, e.processId, e.programName,
                e.hostName);
  }
  return 0;
}
