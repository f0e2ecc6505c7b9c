// The unit tests' one way to make an endpoint: name the fields that matter to the test, by name;
// every field left out is zero, empty or absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "address_bytes.hpp"
#include "command/endpoints.hpp"

namespace test_endpoint {

using os::Protocol;
using os::TcpState;

struct Spec {
  Protocol protocol = Protocol::tcp;
  std::uint8_t family = os::kFamilyIpv4;
  bool ipv6Only = false;
  os::SocketEnd local{};
  os::SocketEnd remote{};
  TcpState state = TcpState::none;
  std::uint32_t pid = 0;
  std::string program{};
  std::optional<std::string> host{};
};

inline os::SocketRow socket_row(const Spec& spec) {
  return {spec.protocol, spec.family, spec.ipv6Only, spec.local, spec.remote, spec.state, spec.pid};
}

inline qv::Endpoint endpoint(Spec spec) {
  return {socket_row(spec), std::move(spec.program), std::move(spec.host)};
}

// A loopback TCP connection, told apart from others by its ports and state.
inline qv::Endpoint loopback_tcp(std::uint16_t localPort, std::uint16_t remotePort = 9000,
                                 TcpState state = TcpState::established) {
  const auto loopback = test_address::v4(127, 0, 0, 1);
  return endpoint(
      {.local = {loopback, localPort}, .remote = {loopback, remotePort}, .state = state});
}

// A listener on 127.0.0.1, one of those sharing the port (SO_REUSEPORT), told apart by identity.
inline qv::Endpoint listener(std::uint16_t port, std::uint64_t identity) {
  qv::Endpoint e =
      endpoint({.local = {test_address::v4(127, 0, 0, 1), port}, .state = TcpState::listen});
  e.socket.identity = identity;
  return e;
}

// A TCP socket's counters with its byte totals only.
inline os::TcpTraffic traffic(std::uint64_t sent, std::uint64_t received) {
  os::TcpTraffic counters{};
  counters.bytesSent = sent;
  counters.bytesReceived = received;
  return counters;
}

}  // namespace test_endpoint
