// State and protocol names; "SYN Recieved" is spelled as users of the meter have always seen it.
#include "listing/names.hpp"

#include <array>

#include "collector/connection_table.hpp"

namespace qv {

std::string_view TcpStateName(std::int32_t tcpState) {
  static constexpr std::array<std::string_view, 12> kNames = {
      "Closed",     "Listening",  "SYN Sent", "SYN Recieved", "Established", "FIN Wait 1",
      "FIN Wait 2", "Close Wait", "Closing",  "Last ACK",     "Time Wait",   "Delete TCB"};
  if (tcpState < 1 || tcpState > static_cast<std::int32_t>(kNames.size())) return {};
  return kNames[static_cast<std::size_t>(tcpState - 1)];
}

std::string_view ProtocolName(std::int32_t protocol) {
  switch (protocol) {
    case kProtocolTcp:
      return "TCP";
    case kProtocolUdp:
      return "UDP";
    default:
      return {};
  }
}

}  // namespace qv
