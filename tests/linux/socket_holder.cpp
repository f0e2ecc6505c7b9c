// Holds a known set of sockets for the end-to-end tests. Reads commands from stdin, one a line,
// answers each with "ok" or "error ..." on stdout, and exits when stdin closes. Addresses are
// IPv4 or IPv6 by their form ("127.0.0.1", "::1"):
//   listen ADDR PORT            a TCP listener
//   listen6 ADDR PORT [v6only]  an IPv6 TCP listener, dual stack unless v6only
//   connect LOCAL ADDR PORT     a TCP connection from LOCAL (any port) to ADDR:PORT
//   connect6 LOCAL ADDR PORT    the same over IPv6 (ADDR may be IPv4-mapped, ::ffff:a.b.c.d)
//   connect-close LOCAL ADDR PORT   the same, closed at once; answered once the peer has
//                               acknowledged the close (this side waits in FIN-WAIT-2, and in
//                               TIME-WAIT once the peer closes too)
//   udp ADDR PORT               a bound UDP socket
//   udp6 ADDR PORT [v6only]     an IPv6 UDP socket, dual stack unless v6only
//   udp-connect LOCAL ADDR PORT a UDP socket bound to LOCAL (any port), connected to ADDR:PORT
//   accept                      accepts every connection waiting on the listeners
//   many-tcp ADDR PORT N        a listener on ADDR:PORT and N accepted connections to it
//   many-udp ADDR PORT N        N UDP sockets bound to ADDR, ports PORT upwards
//   reuseport ADDR PORT         a TCP listener that shares its port (SO_REUSEPORT)
//   udp-device ADDR PORT DEV    a UDP socket bound to device DEV (SO_BINDTODEVICE), sharing the
//   port fork SECONDS                a child holding every socket so far, ending after SECONDS
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace {

std::vector<int> listeners;
std::vector<int> held;

struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family = AF_UNSPEC;
  [[nodiscard]] const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

std::runtime_error system_error(const std::string& what) {
  return std::runtime_error(what + ": " + std::generic_category().message(errno));
}

Address endpoint(const std::string& address, int port) {
  Address where;
  const auto port_bytes = htons(static_cast<std::uint16_t>(port));
  if (address.find(':') == std::string::npos) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = port_bytes;
    if (inet_pton(AF_INET, address.c_str(), &v4.sin_addr) != 1) throw std::runtime_error(address);
    std::memcpy(&where.storage, &v4, sizeof v4);
    where.length = sizeof v4;
  } else {
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = port_bytes;
    if (inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) != 1) {
      throw std::runtime_error(address);
    }
    std::memcpy(&where.storage, &v6, sizeof v6);
    where.length = sizeof v6;
  }
  where.family = where.storage.ss_family;
  return where;
}

// An IPv6 socket states its IPV6_V6ONLY choice itself: the default follows a sysctl.
int bound_socket(int type, const std::string& address, int port, bool v6only = false) {
  const Address where = endpoint(address, port);
  const int fd = socket(where.family, type, 0);
  if (fd < 0) throw system_error("socket");
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (where.family == AF_INET6) {
    const int only = v6only ? 1 : 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
  }
  if (bind(fd, where.get(), where.length) != 0) {
    close(fd);
    throw system_error("bind " + address + " " + std::to_string(port));
  }
  return fd;
}

int connected(int type, const std::string& local, const std::string& address, int port) {
  const int fd = bound_socket(type, local, 0);
  const Address where = endpoint(address, port);
  if (connect(fd, where.get(), where.length) != 0) {
    close(fd);
    throw system_error("connect " + address + " " + std::to_string(port));
  }
  return fd;
}

// Closes a connection once its FIN has been acknowledged: the peer's ACK comes back through the
// loopback's softirq, which a busy machine defers, so a caller looking at once would still see
// FIN-WAIT-1 now and then.
void close_acknowledged(int fd) {
  shutdown(fd, SHUT_WR);
  for (int wait = 0; wait < 200; ++wait) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        info.tcpi_state != TCP_FIN_WAIT1) {
      break;
    }
    usleep(10000);
  }
  close(fd);
}

void listen_on(const std::string& address, int port, bool v6only) {
  const int fd = bound_socket(SOCK_STREAM, address, port, v6only);
  if (listen(fd, 1024) != 0) throw system_error("listen");
  fcntl(fd, F_SETFL, O_NONBLOCK);
  listeners.push_back(fd);
}

bool v6only_word(std::istringstream& words) {
  std::string word;
  words >> word;
  if (!word.empty() && word != "v6only") throw std::runtime_error("unknown option " + word);
  return word == "v6only";
}

void run(const std::string& line) {
  std::istringstream words(line);
  std::string command, local, address;
  int port = 0;
  words >> command;
  if (command == "listen" || command == "listen6") {
    words >> address >> port;
    listen_on(address, port, v6only_word(words));
  } else if (command == "connect" || command == "connect6") {
    words >> local >> address >> port;
    held.push_back(connected(SOCK_STREAM, local, address, port));
  } else if (command == "connect-close") {
    words >> local >> address >> port;
    close_acknowledged(connected(SOCK_STREAM, local, address, port));
  } else if (command == "udp" || command == "udp6") {
    words >> address >> port;
    held.push_back(bound_socket(SOCK_DGRAM, address, port, v6only_word(words)));
  } else if (command == "udp-connect") {
    words >> local >> address >> port;
    held.push_back(connected(SOCK_DGRAM, local, address, port));
  } else if (command == "accept") {
    for (const int listener : listeners) {
      for (int fd; (fd = accept(listener, nullptr, nullptr)) >= 0;) held.push_back(fd);
    }
  } else if (command == "many-tcp") {
    int count = 0;
    words >> address >> port >> count;
    held.reserve(held.size() + 2 * static_cast<std::size_t>(count));
    listen_on(address, port, false);
    for (int i = 0; i < count; ++i) {
      held.push_back(connected(SOCK_STREAM, address, address, port));
      if (i % 64 == 63 || i == count - 1) run("accept");  // keep the backlog short
    }
  } else if (command == "reuseport") {
    words >> address >> port;
    const Address where = endpoint(address, port);
    const int fd = socket(where.family, SOCK_STREAM, 0);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0 ||
        bind(fd, where.get(), where.length) != 0 || listen(fd, 16) != 0) {
      throw system_error("reuseport " + address);
    }
    listeners.push_back(fd);
  } else if (command == "udp-device") {
    std::string device;
    words >> address >> port >> device;
    const Address where = endpoint(address, port);
    const int fd = socket(where.family, SOCK_DGRAM, 0);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(),
                   static_cast<socklen_t>(device.size())) != 0 ||
        bind(fd, where.get(), where.length) != 0) {
      throw system_error("udp-device " + device);
    }
    held.push_back(fd);
  } else if (command == "fork") {
    unsigned seconds = 0;
    words >> seconds;
    std::cout.flush();
    const pid_t child = fork();
    if (child < 0) throw system_error("fork");
    if (child == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      sleep(seconds);  // NOLINT(concurrency-mt-unsafe): a forked child has one thread
      _exit(0);
    }
  } else if (command == "many-udp") {
    int count = 0;
    words >> address >> port >> count;
    for (int i = 0; i < count; ++i) held.push_back(bound_socket(SOCK_DGRAM, address, port + i));
  } else {
    throw std::runtime_error("unknown command " + command);
  }
}

// Room for the many-socket commands: as root the hard limit may rise to the kernel's own.
void raise_file_limit() {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  rlim_t kernel_limit = 0;
  if (std::ifstream("/proc/sys/fs/nr_open") >> kernel_limit && kernel_limit > files.rlim_max) {
    const rlimit raised{kernel_limit, kernel_limit};
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) return;
  }
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
}

}  // namespace

int main() {
  raise_file_limit();
  std::signal(SIGCHLD, SIG_IGN);  // forked children are reaped as they end, as servers do
  for (std::string line; std::getline(std::cin, line);) {
    if (line.empty()) continue;
    try {
      run(line);
      std::cout << "ok" << std::endl;
    } catch (const std::exception& failure) {
      std::cout << "error " << failure.what() << std::endl;
    }
  }
  return 0;
}
