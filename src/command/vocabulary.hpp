// The command's words for protocols and TCP states: one table serves both printing and the
// --state values it parses (the command's names, ss's, and the meter's spelling).
#pragma once

#include <bitset>
#include <optional>
#include <string_view>

#include "os/os.hpp"

namespace qv {

// "TCP", "UDP" for people; "tcp", "udp" in JSON and CSV.
std::string_view protocol_name(os::Protocol protocol);
std::string_view protocol_key(os::Protocol protocol);

// The command's name of a state ("SYN Received"); empty for none and for numbers beyond the
// table.
std::string_view state_name(os::TcpState state);

// States by os::state_index.
using TcpStateSet = std::bitset<os::kTcpStateCount>;

// The states a word names, case, blanks, hyphens and underscores ignored: one state by the
// command's name ("Time Wait"), ss's ("time-wait", "syn-recv", "estab") or the meter's
// ("SYN Recieved"), or one of ss's groups (all, connected, synchronized, bucket, big).
std::optional<TcpStateSet> states_named(std::string_view word);

}  // namespace qv
