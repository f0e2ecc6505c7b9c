// The scenarios' sockets: each closed when the scenario's set of them goes, and the port each is
// bound to.
#pragma once

#include <winsock2.h>

#include <vector>

namespace harness {

// Every socket a scenario opens or accepts, closed when the set ends.
struct SocketSet {
  std::vector<SOCKET> all;
  SocketSet() = default;
  SocketSet(const SocketSet&) = delete;
  SocketSet& operator=(const SocketSet&) = delete;
  ~SocketSet();
  // A new socket, kept in the set; INVALID_SOCKET when there is none.
  SOCKET open(int family, int type);
  // An accepted socket, kept in the set; INVALID_SOCKET stays out.
  SOCKET adopt(SOCKET accepted);
};

// The local port a bound IPv4 or IPv6 socket has.
int port_of(SOCKET s);

}  // namespace harness
