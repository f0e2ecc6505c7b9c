// Linux: the two sources of the command's socket table, for the probes that compare them with
// each other and with ss. Either appends rows (owner 0) and their socket inodes in the kernel's
// order, and on failure leaves both vectors as they were.
#pragma once

#include <cstdint>
#include <vector>

#include "os/os.hpp"

namespace os::linux_sockets {

enum class Source { netlink, proc };

// family AF_INET or AF_INET6, protocol IPPROTO_TCP or IPPROTO_UDP; traffic: each TCP socket's
// counters too, where the source has them (netlink does, /proc does not).
bool read_sockets(Source source, int family, int protocol, std::vector<SocketRow>& rows,
                  std::vector<std::uint64_t>& inodes, bool traffic = false);

// socket_table with the rows read from the given source only, for the probes; socket_table
// itself takes netlink and falls back to /proc per family and protocol.
std::optional<std::vector<SocketRow>> socket_table_from(Source source, SocketKinds kinds);

}  // namespace os::linux_sockets
