// The protocol and state words of the command, printed and parsed from one table.
#include "command/vocabulary.hpp"

#include <array>
#include <cctype>
#include <string>
#include <utility>

namespace qv {

namespace {

struct StateWords {
  os::TcpState state;
  std::string_view name;   // the command's
  std::string_view ss;     // ss's, where it differs once folded
  std::string_view other;  // another spelling users have seen, where there is one
};

constexpr std::array<StateWords, os::kTcpStateCount - 1> kStates = {{
    {os::TcpState::closed, "Closed", "close", {}},
    {os::TcpState::listen, "Listening", "listen", {}},
    {os::TcpState::synSent, "SYN Sent", {}, {}},
    {os::TcpState::synReceived, "SYN Received", "syn-recv", "SYN Recieved"},  // the meter's
    {os::TcpState::established, "Established", "estab", {}},
    {os::TcpState::finWait1, "FIN Wait 1", {}, {}},
    {os::TcpState::finWait2, "FIN Wait 2", {}, {}},
    {os::TcpState::closeWait, "Close Wait", {}, {}},
    {os::TcpState::closing, "Closing", {}, {}},
    {os::TcpState::lastAck, "Last ACK", {}, {}},
    {os::TcpState::timeWait, "Time Wait", {}, {}},
    {os::TcpState::deleteTcb, "Delete TCB", {}, {}},
}};

// Lower case without the characters people put between words in different ways.
std::string folded(std::string_view text) {
  std::string result;
  for (const char c : text) {
    if (c == ' ' || c == '-' || c == '_' || c == '\t') continue;
    result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return result;
}

TcpStateSet only(os::TcpState state) { return TcpStateSet().set(os::state_index(state)); }

TcpStateSet states_from(os::TcpState first, os::TcpState last) {
  TcpStateSet set;
  for (std::size_t state = os::state_index(first); state <= os::state_index(last); ++state) {
    set.set(state);
  }
  return set;
}

}  // namespace

std::string_view protocol_name(os::Protocol protocol) {
  return protocol == os::Protocol::tcp ? "TCP" : "UDP";
}

std::string_view protocol_key(os::Protocol protocol) {
  return protocol == os::Protocol::tcp ? "tcp" : "udp";
}

std::string_view state_name(os::TcpState state) {
  const std::size_t index = os::state_index(state);
  return index >= 1 && index <= kStates.size() ? kStates[index - 1].name : std::string_view();
}

std::optional<TcpStateSet> states_named(std::string_view word) {
  const std::string wanted = folded(word);
  if (wanted.empty()) return std::nullopt;
  for (const StateWords& words : kStates) {
    for (const std::string_view spelling : {words.name, words.ss, words.other}) {
      if (!spelling.empty() && folded(spelling) == wanted) return only(words.state);
    }
  }
  const TcpStateSet all = states_from(os::TcpState::closed, os::TcpState::deleteTcb);
  const TcpStateSet bucket = only(os::TcpState::synReceived) | only(os::TcpState::timeWait);
  const std::array<std::pair<std::string_view, TcpStateSet>, 5> groups = {{
      {"all", all},
      {"connected", states_from(os::TcpState::synSent, os::TcpState::timeWait)},
      {"synchronized", states_from(os::TcpState::synReceived, os::TcpState::timeWait)},
      {"bucket", bucket},
      {"big", all & ~bucket},
  }};
  for (const auto& [name, set] : groups) {
    if (name == wanted) return set;
  }
  return std::nullopt;
}

}  // namespace qv
