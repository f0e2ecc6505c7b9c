// Windows: one TCP connection's extended statistics into the command's traffic record.
#include "os/win32/tcp_statistics.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace os::win32 {

namespace {

// One kind of a connection's statistics into rod, switching its collection on where it is off.
template <typename Rw, typename Rod, typename TcpRow, typename Get, typename Set>
bool read_statistics(Get get, Set set, TcpRow& row, TCP_ESTATS_TYPE type, Rod& rod,
                     StatisticsProblem& problem) {
  Rw rw{};
  const auto read = [&] {
    return get(&row, type, reinterpret_cast<PUCHAR>(&rw), 0, sizeof rw, nullptr, 0, 0,
               reinterpret_cast<PUCHAR>(&rod), 0, sizeof rod) == NO_ERROR;
  };
  if (!read()) return false;
  if (rw.EnableCollection) return true;
  Rw enable{};
  enable.EnableCollection = TRUE;
  const ULONG status = set(&row, type, reinterpret_cast<PUCHAR>(&enable), 0, sizeof enable, 0);
  if (status != NO_ERROR) {
    if (status == ERROR_ACCESS_DENIED) problem = std::max(problem, StatisticsProblem::notPermitted);
    return false;
  }
  return read() && rw.EnableCollection;
}

template <typename TcpRow, typename Get, typename Set>
std::optional<TcpTraffic> traffic_of(Get get, Set set, TcpRow row, StatisticsProblem& problem) {
  std::optional<TcpTraffic> traffic;
  TCP_ESTATS_DATA_ROD_v0 data{};
  if (read_statistics<TCP_ESTATS_DATA_RW_v0>(get, set, row, TcpConnectionEstatsData, data,
                                             problem)) {
    traffic.emplace();
    traffic->bytesSent = data.DataBytesOut;
    traffic->bytesReceived = data.DataBytesIn;
  }
  TCP_ESTATS_PATH_ROD_v0 path{};
  if (read_statistics<TCP_ESTATS_PATH_RW_v0>(get, set, row, TcpConnectionEstatsPath, path,
                                             problem)) {
    if (!traffic) traffic.emplace();
    // Milliseconds here, microseconds in the row; all ones where there is no sample yet.
    const auto microseconds = [](ULONG ms) -> std::optional<std::uint32_t> {
      if (ms == ULONG_MAX || ms > UINT32_MAX / 1000) return std::nullopt;
      return static_cast<std::uint32_t>(ms * 1000);
    };
    traffic->rttUs = microseconds(path.SmoothedRtt);
    traffic->rttVarUs = microseconds(path.RttVar);
    traffic->minRttUs = microseconds(path.MinRtt);
    traffic->bytesRetrans = path.BytesRetrans;
    traffic->retransmits = path.PktsRetrans;
  }
  return traffic;
}

}  // namespace

std::optional<TcpTraffic> connection_traffic(GetTcpEStats get, SetTcpEStats set, MIB_TCPROW row,
                                             StatisticsProblem& problem) {
  return traffic_of(get, set, row, problem);
}

std::optional<TcpTraffic> connection_traffic(GetTcp6EStats get, SetTcp6EStats set, MIB_TCP6ROW row,
                                             StatisticsProblem& problem) {
  return traffic_of(get, set, row, problem);
}

}  // namespace os::win32
