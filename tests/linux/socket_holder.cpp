// Holds a known set of sockets for the end-to-end tests. Reads commands from stdin, one a line,
// answers each with "ok" or "error ..." on stdout, and exits when stdin closes:
//   listen ADDR PORT            a TCP listener
//   connect LOCAL ADDR PORT     a TCP connection from LOCAL (any port) to ADDR:PORT
//   connect-close LOCAL ADDR PORT   the same, closed at once (this side lingers in TIME_WAIT)
//   udp ADDR PORT               a bound UDP socket
//   accept                      accepts every connection waiting on the listeners
//   many-tcp ADDR PORT N        a listener on ADDR:PORT and N accepted connections to it
//   many-udp ADDR PORT N        N UDP sockets bound to ADDR, ports PORT upwards
//   listen6 ADDR PORT [v6only]  an IPv6 TCP listener, dual-stack unless v6only is given
//   connect6 LOCAL ADDR PORT    an IPv6 TCP connection (ADDR may be IPv4-mapped, ::ffff:a.b.c.d)
//   udp6 ADDR PORT              a bound IPv6 UDP socket (dual-stack)
//   udp-connect LOCAL ADDR PORT a UDP socket bound to LOCAL (any port) and connected to ADDR:PORT;
//                               IPv6 when LOCAL holds a colon
// Every address of the IPv6 commands is in the usual text form without brackets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<int> listeners;
std::vector<int> held;

sockaddr_in endpoint(const std::string& address, int port) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) throw std::runtime_error(address);
  return where;
}

sockaddr_in6 endpoint6(const std::string& address, int port) {
  sockaddr_in6 where{};
  where.sin6_family = AF_INET6;
  where.sin6_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET6, address.c_str(), &where.sin6_addr) != 1) {
    throw std::runtime_error(address);
  }
  return where;
}

// An IPv4 or IPv6 socket address, by the address's text.
struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family = AF_INET;
};

Address any_endpoint(const std::string& address, int port) {
  Address result;
  if (address.find(':') != std::string::npos) {
    const sockaddr_in6 where = endpoint6(address, port);
    std::memcpy(&result.storage, &where, sizeof where);
    result.length = sizeof where;
    result.family = AF_INET6;
  } else {
    const sockaddr_in where = endpoint(address, port);
    std::memcpy(&result.storage, &where, sizeof where);
    result.length = sizeof where;
  }
  return result;
}

const sockaddr* as_sockaddr(const Address& address) {
  return reinterpret_cast<const sockaddr*>(&address.storage);
}

int bound_socket(int type, const std::string& address, int port, bool v6only = false) {
  const Address where = any_endpoint(address, port);
  const int fd = socket(where.family, type, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (where.family == AF_INET6) {
    const int only = v6only ? 1 : 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
  }
  if (bind(fd, as_sockaddr(where), where.length) != 0) {
    throw std::runtime_error(std::string("bind: ") + std::strerror(errno));
  }
  return fd;
}

int connected(int type, const std::string& local, const std::string& address, int port) {
  const int fd = bound_socket(type, local, 0);
  const Address where = any_endpoint(address, port);
  if (connect(fd, as_sockaddr(where), where.length) != 0) {
    throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
  }
  return fd;
}

int connected(const std::string& local, const std::string& address, int port) {
  return connected(SOCK_STREAM, local, address, port);
}

void run(const std::string& line) {
  std::istringstream words(line);
  std::string command, local, address;
  int port = 0;
  words >> command;
  if (command == "listen") {
    words >> address >> port;
    const int fd = bound_socket(SOCK_STREAM, address, port);
    if (listen(fd, 1024) != 0) throw std::runtime_error("listen");
    fcntl(fd, F_SETFL, O_NONBLOCK);
    listeners.push_back(fd);
  } else if (command == "connect" || command == "connect6") {
    words >> local >> address >> port;
    held.push_back(connected(local, address, port));
  } else if (command == "connect-close") {
    words >> local >> address >> port;
    close(connected(local, address, port));
  } else if (command == "udp" || command == "udp6") {
    words >> address >> port;
    held.push_back(bound_socket(SOCK_DGRAM, address, port));
  } else if (command == "accept") {
    for (const int listener : listeners) {
      for (int fd; (fd = accept(listener, nullptr, nullptr)) >= 0;) held.push_back(fd);
    }
  } else if (command == "many-tcp") {
    int count = 0;
    words >> address >> port >> count;
    run("listen " + address + " " + std::to_string(port));
    for (int i = 0; i < count; ++i) {
      held.push_back(connected(address, address, port));
      if (i % 64 == 63 || i == count - 1) run("accept");  // keep the backlog short
    }
  } else if (command == "many-udp") {
    int count = 0;
    words >> address >> port >> count;
    for (int i = 0; i < count; ++i) held.push_back(bound_socket(SOCK_DGRAM, address, port + i));
  } else if (command == "listen6") {
    std::string option;
    words >> address >> port >> option;
    const int fd = bound_socket(SOCK_STREAM, address, port, option == "v6only");
    if (listen(fd, 1024) != 0) throw std::runtime_error("listen");
    fcntl(fd, F_SETFL, O_NONBLOCK);
    listeners.push_back(fd);
  } else if (command == "udp-connect") {
    words >> local >> address >> port;
    held.push_back(connected(SOCK_DGRAM, local, address, port));
  } else {
    throw std::runtime_error("unknown command " + command);
  }
}

}  // namespace

int main() {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;  // room for the many-socket commands
  setrlimit(RLIMIT_NOFILE, &files);
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
