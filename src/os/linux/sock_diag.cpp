// Building sock_diag dump requests and reading their replies, message by message, bounds checked.
#include "os/linux/sock_diag.hpp"

#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "os/linux/proc_net.hpp"

namespace os::linux_diag {

namespace {

// Reads a T at offset of buffer when it lies wholly inside; the buffer has no alignment promise.
template <typename T>
bool read_at(std::span<const std::uint8_t> buffer, std::size_t offset, T& value) {
  if (offset > buffer.size() || buffer.size() - offset < sizeof value) return false;
  std::memcpy(&value, buffer.data() + offset, sizeof value);
  return true;
}

// Calls take(type, payload) for each whole attribute among those that follow the message body.
template <typename Take>
void for_each_attribute(std::span<const std::uint8_t> attributes, Take&& take) {
  std::size_t offset = 0;
  rtattr attribute;
  while (read_at(attributes, offset, attribute) && attribute.rta_len >= sizeof attribute &&
         attribute.rta_len <= attributes.size() - offset) {
    take(attribute.rta_type,
         attributes.subspan(offset + RTA_LENGTH(0), attribute.rta_len - RTA_LENGTH(0)));
    offset += RTA_ALIGN(attribute.rta_len);
  }
}

// A field of tcp_info when the kernel's structure reaches to the field's end: tcp_info grows with
// kernel versions, and what an older kernel does not send is unknown, not zero.
template <typename Field>
std::optional<Field> sent_field(std::size_t sentBytes, std::size_t offset, Field value) {
  if (sentBytes < offset + sizeof value) return std::nullopt;
  return value;
}

TcpTraffic tcp_traffic(std::span<const std::uint8_t> payload) {
  tcp_info info{};
  std::memcpy(&info, payload.data(), std::min(payload.size(), sizeof info));
  const std::size_t sent = payload.size();
  TcpTraffic traffic;
  traffic.bytesSent =
      sent_field(sent, offsetof(tcp_info, tcpi_bytes_sent), std::uint64_t{info.tcpi_bytes_sent});
  traffic.bytesReceived = sent_field(sent, offsetof(tcp_info, tcpi_bytes_received),
                                     std::uint64_t{info.tcpi_bytes_received});
  traffic.bytesRetrans = sent_field(sent, offsetof(tcp_info, tcpi_bytes_retrans),
                                    std::uint64_t{info.tcpi_bytes_retrans});
  traffic.retransmits = sent_field(sent, offsetof(tcp_info, tcpi_total_retrans),
                                   std::uint32_t{info.tcpi_total_retrans});
  traffic.rttUs = sent_field(sent, offsetof(tcp_info, tcpi_rtt), std::uint32_t{info.tcpi_rtt});
  traffic.rttVarUs =
      sent_field(sent, offsetof(tcp_info, tcpi_rttvar), std::uint32_t{info.tcpi_rttvar});
  // Until the first round trip is measured the kernel reports its minimum as all ones.
  if (info.tcpi_min_rtt != ~0U) {
    traffic.minRttUs =
        sent_field(sent, offsetof(tcp_info, tcpi_min_rtt), std::uint32_t{info.tcpi_min_rtt});
  }
  traffic.cwnd =
      sent_field(sent, offsetof(tcp_info, tcpi_snd_cwnd), std::uint32_t{info.tcpi_snd_cwnd});
  traffic.deliveryRate = sent_field(sent, offsetof(tcp_info, tcpi_delivery_rate),
                                    std::uint64_t{info.tcpi_delivery_rate});
  return traffic;
}

bool add_socket(std::span<const std::uint8_t> message, Protocol protocol,
                std::vector<SocketRow>& rows, std::vector<std::uint64_t>& inodes) {
  inet_diag_msg body;
  if (!read_at(message, NLMSG_HDRLEN, body)) return false;
  const bool ipv6 = body.idiag_family == AF_INET6;
  if (!ipv6 && body.idiag_family != AF_INET) return true;  // no family of ours: passed over
  SocketRow& row = rows.emplace_back();
  row.protocol = protocol;
  row.family = ipv6 ? kFamilyIpv6 : kFamilyIpv4;
  const std::size_t addressBytes = ipv6 ? 16 : 4;
  std::memcpy(row.local.address.data(), body.id.idiag_src, addressBytes);
  std::memcpy(row.remote.address.data(), body.id.idiag_dst, addressBytes);
  row.local.port = ntohs(body.id.idiag_sport);
  row.remote.port = ntohs(body.id.idiag_dport);
  row.tcpState = protocol == Protocol::tcp
                     ? static_cast<TcpState>(linux_net::mib_tcp_state(body.idiag_state))
                     : TcpState::none;
  row.recvQueue = body.idiag_rqueue;
  row.sendQueue = body.idiag_wqueue;
  row.ownerUid = body.idiag_uid;
  // The kernel sends the v6-only flag for listening and unconnected sockets only, the ones it
  // matters to.
  row.ipv6Only = false;
  for_each_attribute(message.subspan(NLMSG_LENGTH(sizeof body)),
                     [&](std::uint16_t type, std::span<const std::uint8_t> payload) {
                       if (type == INET_DIAG_SKV6ONLY && !payload.empty()) {
                         row.ipv6Only = ipv6 && payload[0] != 0;
                       } else if (type == INET_DIAG_INFO && protocol == Protocol::tcp) {
                         row.traffic = tcp_traffic(payload);
                       }
                     });
  row.interfaceIndex = body.id.idiag_if;
  // The cookie's two halves, low first, as the kernel stores them.
  row.identity = body.id.idiag_cookie[0] | (std::uint64_t{body.id.idiag_cookie[1]} << 32);
  inodes.push_back(body.idiag_inode);
  return true;
}

}  // namespace

DumpRequest dump_request(std::uint8_t family, std::uint8_t protocol, std::uint32_t sequence,
                         bool traffic) {
  DumpRequest request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = sequence;
  request.body.sdiag_family = family;
  request.body.sdiag_protocol = protocol;
  request.body.idiag_states = ~0U;
  if (traffic && protocol == IPPROTO_TCP) request.body.idiag_ext = 1U << (INET_DIAG_INFO - 1);
  return request;
}

DumpProgress parse_dump(std::span<const std::uint8_t> buffer, std::uint32_t sequence,
                        Protocol protocol, std::vector<SocketRow>& rows,
                        std::vector<std::uint64_t>& inodes) {
  std::size_t offset = 0;
  while (offset < buffer.size()) {
    nlmsghdr header;
    if (!read_at(buffer, offset, header) || header.nlmsg_len < sizeof header ||
        header.nlmsg_len > buffer.size() - offset) {
      return DumpProgress::failed;
    }
    const auto message = buffer.subspan(offset, header.nlmsg_len);
    offset += std::min<std::size_t>(NLMSG_ALIGN(header.nlmsg_len), buffer.size() - offset);
    if (header.nlmsg_seq != sequence) continue;
    switch (header.nlmsg_type) {
      case NLMSG_DONE: {
        // Since Linux 4.x the end carries the dump's own outcome; older kernels send 0 or nothing.
        int error = 0;
        (void)read_at(message, NLMSG_HDRLEN, error);
        return error < 0 ? DumpProgress::failed : DumpProgress::done;
      }
      case NLMSG_ERROR: {
        nlmsgerr error;
        if (!read_at(message, NLMSG_HDRLEN, error) || error.error != 0) {
          return DumpProgress::failed;
        }
        break;  // an acknowledgement
      }
      case SOCK_DIAG_BY_FAMILY:
        if (!add_socket(message, protocol, rows, inodes)) return DumpProgress::failed;
        break;
      default:
        break;
    }
  }
  return DumpProgress::more;
}

}  // namespace os::linux_diag
