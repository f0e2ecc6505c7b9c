// The words the listing shows for TCP state and protocol numbers.
#pragma once

#include <cstdint>
#include <string_view>

namespace qv {

// The state numbers of the system's TCP connection table (1 to 12); empty for any other value.
std::string_view TcpStateName(std::int32_t tcpState);
// 1 "TCP", 2 "UDP"; empty for any other value.
std::string_view ProtocolName(std::int32_t protocol);

}  // namespace qv
