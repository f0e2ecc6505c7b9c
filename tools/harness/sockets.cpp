// The scenarios' sockets and their ports.
#include "sockets.hpp"

#include <ws2tcpip.h>

namespace harness {

SocketSet::~SocketSet() {
  for (const SOCKET s : all) closesocket(s);
}

SOCKET SocketSet::open(int family, int type) { return adopt(socket(family, type, 0)); }

SOCKET SocketSet::adopt(SOCKET accepted) {
  if (accepted != INVALID_SOCKET) all.push_back(accepted);
  return accepted;
}

int port_of(SOCKET s) {
  sockaddr_storage where{};
  int length = sizeof where;
  getsockname(s, reinterpret_cast<sockaddr*>(&where), &length);
  const u_short port = where.ss_family == AF_INET
                           ? reinterpret_cast<const sockaddr_in&>(where).sin_port
                           : reinterpret_cast<const sockaddr_in6&>(where).sin6_port;
  return ntohs(port);
}

}  // namespace harness
