// Resident memory of the engine over many collector passes and listings while sockets open and
// close between passes, every connection from a new remote address. Run inside a private network
// namespace.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <vector>

#include "collector/collector.hpp"
#include "common/text.hpp"
#include "host/instance_settings.hpp"
#include "listing/template_expansion.hpp"

namespace {

constexpr std::size_t kOpenSets = 64;

long resident_kib() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

sockaddr_in at(std::uint32_t hostOrderAddress) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_addr.s_addr = htonl(hostOrderAddress);
  return where;
}

int socket_at(int type, const sockaddr_in& where) {
  const int s = socket(AF_INET, type, 0);
  if (s < 0 || bind(s, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
    std::perror("socket");
    std::_Exit(1);  // at once: nothing of a half-made socket set is worth flushing
  }
  return s;
}

// Closed with a reset, so that no TIME-WAIT endpoints pile up over the run.
void close_now(int s) {
  const linger now{1, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  close(s);
}

// One UDP socket, one listener, and a connection to the fixed server from a client address that
// no earlier pass used (127.x.y.z counts up), so the reverse look-ups never repeat.
std::vector<int> open_set(int server, const sockaddr_in& serverAddress, std::uint32_t pass) {
  const std::uint32_t client = (127U << 24) | (((pass / 62500U) % 254U + 1U) << 16) |
                               (((pass / 250U) % 250U) << 8) | (pass % 250U + 1U);
  std::vector<int> set = {socket_at(SOCK_DGRAM, at(INADDR_LOOPBACK)),
                          socket_at(SOCK_STREAM, at(INADDR_LOOPBACK)),
                          socket_at(SOCK_STREAM, at(client))};
  listen(set[1], 4);
  if (connect(set[2], reinterpret_cast<const sockaddr*>(&serverAddress), sizeof serverAddress) !=
      0) {
    std::perror("connect");
    std::_Exit(1);  // at once: nothing of a half-made socket set is worth flushing
  }
  set.push_back(accept(server, nullptr, nullptr));
  return set;
}

}  // namespace

// Usage: memory_bench PASSES; prints "pass resident_kib" lines, the last after the last pass.
int main(int argc, char** argv) {
  const std::uint32_t passes = argc > 1 ? static_cast<std::uint32_t>(std::atoi(argv[1])) : 10000;
  const int server = socket_at(SOCK_STREAM, at(INADDR_LOOPBACK));
  listen(server, 16);
  sockaddr_in serverAddress{};
  socklen_t length = sizeof serverAddress;
  getsockname(server, reinterpret_cast<sockaddr*>(&serverAddress), &length);

  auto* record = new qv::InstanceSettings{};
  qv::store_text(record->outputTemplate, "%ptt %lip:%lpt %rip:%rpt %stat %pid %nm %hn\n");
  std::deque<std::vector<int>> open;
  std::vector<qv::ConnectionEntry> snapshot;
  for (std::uint32_t pass = 1; pass <= passes; ++pass) {
    open.push_back(open_set(server, serverAddress, pass));
    if (open.size() > kOpenSets) {
      for (const int s : open.front()) close_now(s);
      open.pop_front();
    }
    qv::collect_one_pass();
    if (qv::take_snapshot(snapshot)) qv::build_listing(snapshot, *record, record->outputText);
    if (pass == 1 || pass == 10 || pass == 100 || pass % 1000 == 0 || pass == passes / 2 ||
        pass == passes) {
      std::printf("%u %ld\n", pass, resident_kib());
      std::fflush(stdout);
    }
  }
  delete record;
  return 0;
}
