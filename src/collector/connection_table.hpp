// The process-wide connection table that the collector rebuilds and the meter reads.
#pragma once

#include <cstdint>
#include <type_traits>

#include "os/os.hpp"

namespace qv {

struct ConnectionEntry {
  std::int32_t localPort;
  char localAddressText[16];
  std::int32_t remotePort;           // UDP: 0
  char remoteAddressText[16];        // UDP: "000.000.000.000"
  std::int64_t remoteAddressNumber;  // twelve-digit form; 0 for 0.0.0.0 and for UDP
  std::int32_t processId;
  char programName[128];
  std::int32_t tcpState;  // 1 to 12 as the system reports it; UDP: 0
  std::int32_t protocol;  // 1 TCP, 2 UDP
  std::int32_t entryIndex;
  char hostName[256];  // TCP with a remote address: reverse name or the address text; else empty
};

static_assert(std::is_trivially_copyable_v<ConnectionEntry>);

inline constexpr int kConnectionTableSize = 1025;
// The entry's protocol field holds the seam's numbers.
inline constexpr std::int32_t kProtocolTcp = static_cast<std::int32_t>(os::Protocol::tcp);
inline constexpr std::int32_t kProtocolUdp = static_cast<std::int32_t>(os::Protocol::udp);

}  // namespace qv
