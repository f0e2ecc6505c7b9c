// Building sock_diag dump requests and reading their replies, message by message, bounds checked.
#include "os/linux/sock_diag.hpp"

#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>

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

// The v6-only flag among the attributes that follow the message body.
bool v6_only(std::span<const std::uint8_t> attributes) {
  std::size_t offset = 0;
  rtattr attribute;
  while (read_at(attributes, offset, attribute) && attribute.rta_len >= sizeof attribute &&
         attribute.rta_len <= attributes.size() - offset) {
    if (attribute.rta_type == INET_DIAG_SKV6ONLY && attribute.rta_len > RTA_LENGTH(0)) {
      return attributes[offset + RTA_LENGTH(0)] != 0;
    }
    offset += RTA_ALIGN(attribute.rta_len);
  }
  return false;
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
  // The kernel sends the flag for listening and unconnected sockets only, the ones it matters to.
  row.ipv6Only = ipv6 && v6_only(message.subspan(NLMSG_LENGTH(sizeof body)));
  row.interfaceIndex = body.id.idiag_if;
  // The cookie's two halves, low first, as the kernel stores them.
  row.identity = body.id.idiag_cookie[0] | (std::uint64_t{body.id.idiag_cookie[1]} << 32);
  inodes.push_back(body.idiag_inode);
  return true;
}

}  // namespace

DumpRequest dump_request(std::uint8_t family, std::uint8_t protocol, std::uint32_t sequence) {
  DumpRequest request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = sequence;
  request.body.sdiag_family = family;
  request.body.sdiag_protocol = protocol;
  request.body.idiag_states = ~0U;
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
