// The kernel's socket diagnostics (netlink sock_diag): the dump request for one family and
// protocol, and its replies parsed into endpoint rows. Pure bytes in, values out: the netlink
// socket is the caller's.
#pragma once

#include <linux/inet_diag.h>
#include <linux/netlink.h>

#include <cstdint>
#include <span>
#include <vector>

#include "os/os.hpp"

namespace os::linux_diag {

struct DumpRequest {
  nlmsghdr header;
  inet_diag_req_v2 body;
};

// Every socket of family (AF_INET, AF_INET6) and protocol (IPPROTO_TCP, IPPROTO_UDP), in every
// state: the inode, the queues and, for listeners, the v6-only flag come anyway; with traffic,
// each TCP socket's tcp_info too.
DumpRequest dump_request(std::uint8_t family, std::uint8_t protocol, std::uint32_t sequence,
                         bool traffic = false);

enum class DumpProgress {
  more,    // every message read; the dump goes on in the next datagram
  done,    // the dump's end was read
  failed,  // an error reply, or a message cut short: the dump's rows cannot be trusted
};

// Appends one row (owner 0, protocol as given: 1 TCP, 2 UDP, identity the socket's cookie, the
// interface by index only) and its socket inode (0 when no
// process can hold it, as for time-wait sockets) for every socket message of the given sequence
// in buffer, one datagram of whole netlink messages. Messages of other sequences and of other
// types are passed over. A TCP message's tcp_info, where the kernel sent one, becomes the row's
// traffic, read only as far as the kernel's structure reaches.
DumpProgress parse_dump(std::span<const std::uint8_t> buffer, std::uint32_t sequence,
                        Protocol protocol, std::vector<SocketRow>& rows,
                        std::vector<std::uint64_t>& inodes);

}  // namespace os::linux_diag
