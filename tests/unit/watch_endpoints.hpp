// Endpoints for the watch tests: loopback TCP connections told apart by their ports and state.
#pragma once

#include <cstdint>

#include "command/endpoints.hpp"

namespace watch_test {

inline constexpr std::uint32_t kEstablished = 5;
inline constexpr std::uint32_t kFinWait2 = 7;
inline constexpr std::uint32_t kCloseWait = 8;

inline qv::Endpoint tcp(std::uint16_t localPort, std::uint16_t remotePort = 9000,
                        std::uint32_t state = kEstablished) {
  qv::Endpoint e{};
  e.socket.protocol = 1;
  e.socket.family = os::kFamilyIpv4;
  e.socket.localAddress = {127, 0, 0, 1};
  e.socket.localPort = localPort;
  e.socket.remoteAddress = {127, 0, 0, 1};
  e.socket.remotePort = remotePort;
  e.socket.tcpState = state;
  return e;
}

// A listener on 127.0.0.1, one of those sharing the port (SO_REUSEPORT), told apart by identity.
inline qv::Endpoint listener(std::uint16_t port, std::uint64_t identity) {
  qv::Endpoint e = tcp(port, 0, 2);
  e.socket.remoteAddress = {};
  e.socket.identity = identity;
  return e;
}

}  // namespace watch_test
