// Keeps IPv4 sockets opening and closing without a pause across several processes, for the load
// test: each process holds its share of TCP listeners, connected TCP pairs and UDP sockets on
// loopback and replaces one of them every few milliseconds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const char* what) {
  std::perror(what);
  std::_Exit(1);
}

sockaddr_in loopback(std::uint8_t last, std::uint16_t port = 0) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(port);
  where.sin_addr.s_addr = htonl(0x7F000000U | last);
  return where;
}

int bound_socket(int type, const sockaddr_in& where) {
  const int s = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (s < 0) die("socket");
  if (bind(s, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) die("bind");
  return s;
}

// A reset instead of an orderly close: nothing lingers in TIME_WAIT, so ports never run out.
void close_at_once(int s) {
  const linger now{1, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  close(s);
}

enum class Kind { listener, udp, pair };

struct Held {
  Kind kind;
  int fds[2];
};

class Process {
 public:
  explicit Process(unsigned seed) : random_(seed) {
    server_ = bound_socket(SOCK_STREAM, loopback(1));
    if (listen(server_, 128) != 0) die("listen");
    socklen_t length = sizeof serverAddress_;
    if (getsockname(server_, reinterpret_cast<sockaddr*>(&serverAddress_), &length) != 0) {
      die("getsockname");
    }
  }

  // Opens sockets of each kind in turn until about count are held.
  void fill(int count) {
    static constexpr Kind kMix[] = {Kind::listener, Kind::udp, Kind::pair, Kind::pair};
    for (int open = 1; open < count;) {
      const Kind kind = kMix[held_.size() % 4];
      held_.push_back(make(kind));
      open += kind == Kind::pair ? 2 : 1;
    }
  }

  // Replaces one held socket (or pair) by a new one of the same kind.
  void churn() {
    Held& victim = held_[std::uniform_int_distribution<std::size_t>(0, held_.size() - 1)(random_)];
    close_at_once(victim.fds[0]);
    if (victim.kind == Kind::pair) close_at_once(victim.fds[1]);
    victim = make(victim.kind);
  }

 private:
  Held make(Kind kind) {
    // Clients come from 127.0.0.2 to 127.0.0.151, so that the remote addresses vary.
    const auto client = static_cast<std::uint8_t>(2 + random_() % 150);
    switch (kind) {
      case Kind::listener: {
        const int s = bound_socket(SOCK_STREAM, loopback(1));
        if (listen(s, 4) != 0) die("listen");
        return {kind, {s, -1}};
      }
      case Kind::udp:
        return {kind, {bound_socket(SOCK_DGRAM, loopback(client)), -1}};
      case Kind::pair: {
        const int s = bound_socket(SOCK_STREAM, loopback(client));
        if (connect(s, reinterpret_cast<const sockaddr*>(&serverAddress_), sizeof serverAddress_) !=
            0) {
          die("connect");
        }
        const int accepted = accept4(server_, nullptr, nullptr, SOCK_CLOEXEC);
        if (accepted < 0) die("accept");
        return {kind, {s, accepted}};
      }
    }
    die("kind");
  }

  std::mt19937 random_;
  int server_;
  sockaddr_in serverAddress_{};
  std::vector<Held> held_;
};

[[noreturn]] void run_child(int index, int sockets, int readyPipe) {
  // Ends with the parent, however the parent ends.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  Process process(static_cast<unsigned>(index) + 1);
  process.fill(sockets);
  if (write(readyPipe, "r", 1) != 1) die("ready");
  close(readyPipe);
  const timespec pause{0, 5'000'000};
  for (;;) {
    process.churn();
    nanosleep(&pause, nullptr);
  }
}

}  // namespace

// Usage: socket_churn READY_FILE PROCESSES SOCKETS_PER_PROCESS
// Writes READY_FILE once every process holds its sockets; runs until it is terminated.
int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s READY_FILE PROCESSES SOCKETS_PER_PROCESS\n", argv[0]);
    return 2;
  }
  const int processes = std::atoi(argv[2]);
  const int sockets = std::atoi(argv[3]);
  int ready[2];
  if (pipe(ready) != 0) die("pipe");
  std::vector<pid_t> children;
  for (int i = 0; i < processes; ++i) {
    const pid_t child = fork();
    if (child < 0) die("fork");
    if (child == 0) {
      close(ready[0]);
      run_child(i, sockets, ready[1]);
    }
    children.push_back(child);
  }
  close(ready[1]);
  for (int i = 0; i < processes; ++i) {
    char byte;
    if (read(ready[0], &byte, 1) != 1) die("a child failed before it was ready");
  }
  const std::string partial = std::string(argv[1]) + ".partial";
  std::FILE* file = std::fopen(partial.c_str(), "w");
  if (file == nullptr || std::fclose(file) != 0 || rename(partial.c_str(), argv[1]) != 0) {
    die(argv[1]);
  }
  // Until terminated; a child that dies ends the whole run.
  int status = 0;
  const pid_t ended = wait(&status);
  std::fprintf(stderr, "socket_churn: child %d ended (status %d)\n", static_cast<int>(ended),
               status);
  for (const pid_t child : children) kill(child, SIGKILL);
  return 1;
}
