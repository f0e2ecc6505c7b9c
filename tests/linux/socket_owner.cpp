// A process that owns a known set of IPv4 sockets for end-to-end tests and benchmarks: TCP
// listeners, connected TCP pairs and UDP sockets, kept open until the process is ended.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void die(const char* what) {
  std::perror(what);
  std::exit(1);
}

sockaddr_in loopback(const char* address) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  if (inet_pton(AF_INET, address, &where.sin_addr) != 1) die(address);
  return where;
}

int bound_socket(int type, const sockaddr_in& where) {
  const int s = socket(AF_INET, type, 0);
  if (s < 0) die("socket");
  if (bind(s, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) die("bind");
  return s;
}

int listener(const sockaddr_in& where) {
  const int s = bound_socket(SOCK_STREAM, where);
  if (listen(s, 64) != 0) die("listen");
  return s;
}

sockaddr_in name_of(int s) {
  sockaddr_in name{};
  socklen_t length = sizeof name;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&name), &length) != 0) die("getsockname");
  return name;
}

}  // namespace

// Usage: socket_owner READY_FILE LISTENERS PAIRS UDP ADDRESS [CLIENT_ADDRESS...]
// Listeners and UDP sockets are bound to ADDRESS (any port); pair k connects from the k-th client
// address (in turn) to an extra listener on ADDRESS. Writes its pid to READY_FILE once every
// socket is open and every pair accepted.
int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: %s READY_FILE LISTENERS PAIRS UDP ADDRESS [CLIENT...]\n", argv[0]);
    return 2;
  }
  const int listeners = std::atoi(argv[2]);
  const int pairs = std::atoi(argv[3]);
  const int udp = std::atoi(argv[4]);
  const sockaddr_in address = loopback(argv[5]);

  for (int i = 0; i < listeners; ++i) listener(address);
  for (int i = 0; i < udp; ++i) bound_socket(SOCK_DGRAM, address);
  if (pairs > 0) {
    const int server = listener(address);
    const sockaddr_in target = name_of(server);
    for (int k = 0; k < pairs; ++k) {
      const char* client = argc > 6 ? argv[6 + k % (argc - 6)] : argv[5];
      const int s = bound_socket(SOCK_STREAM, loopback(client));
      if (connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        die("connect");
      }
      if (accept(server, nullptr, nullptr) < 0) die("accept");
    }
  }

  const std::string ready = argv[1];
  const std::string partial = ready + ".partial";
  std::FILE* file = std::fopen(partial.c_str(), "w");
  if (file == nullptr) die(partial.c_str());
  std::fprintf(file, "%d\n", static_cast<int>(getpid()));
  if (std::fclose(file) != 0 || std::rename(partial.c_str(), ready.c_str()) != 0) die("ready");
  for (;;) pause();
}
