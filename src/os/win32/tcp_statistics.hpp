// Windows: one TCP connection's bytes, round trips and retransmissions from its extended
// statistics, with the statistics' functions handed in, so that callers bind them at run time.
#pragma once

#include <optional>

#include "os/os.hpp"
#include "os/win32/ip_helper.hpp"

namespace os::win32 {

// What kept a connection's statistics from being read, worst last.
enum class StatisticsProblem { none, notPermitted, missing };

// Bytes from the connection's data statistics; round trips and retransmissions from its path
// statistics. Collection is off until someone switches it on, which takes an elevated process;
// once on, it counts from then. nullopt when neither kind could be read. A refusal to switch
// collection on raises problem to notPermitted; problem is never lowered.
std::optional<TcpTraffic> connection_traffic(GetTcpEStats get, SetTcpEStats set, MIB_TCPROW row,
                                             StatisticsProblem& problem);
std::optional<TcpTraffic> connection_traffic(GetTcp6EStats get, SetTcp6EStats set, MIB_TCP6ROW row,
                                             StatisticsProblem& problem);

}  // namespace os::win32
