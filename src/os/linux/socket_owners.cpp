// The owner book: which sockets to hunt after a new table, and in which processes to look first.
#include "os/linux/socket_owners.hpp"

#include <algorithm>

namespace os::linux_owners {

namespace {

bool same_process(const Process& a, const Process& b) {
  return a.pid == b.pid && a.identity == b.identity;
}

bool by_pid(const Process& a, const Process& b) { return a.pid < b.pid; }

// The processes of from that are not in other (both by ascending pid), as pids.
std::vector<std::uint32_t> missing_from(std::span<const Process> from,
                                        std::span<const Process> other) {
  std::vector<std::uint32_t> pids;
  auto next = other.begin();
  for (const Process& process : from) {
    next = std::lower_bound(next, other.end(), process, by_pid);
    if (next == other.end() || !same_process(*next, process)) pids.push_back(process.pid);
  }
  return pids;
}

bool contains(const std::vector<std::uint32_t>& sortedPids, std::uint32_t pid) {
  return std::binary_search(sortedPids.begin(), sortedPids.end(), pid);
}

}  // namespace

void SocketOwners::refresh(std::span<const Process> processes,
                           std::span<const std::uint64_t> inodes, Clock::time_point now,
                           const ReadSockets& read) {
  const std::vector<std::uint32_t> gone = missing_from(processes_, processes);
  const std::vector<std::uint32_t> fresh = missing_from(processes, processes_);
  processes_.assign(processes.begin(), processes.end());

  // The new table, each socket keeping what the old one knew of it unless its owner has gone.
  std::vector<Socket> table;
  table.reserve(inodes.size());
  for (const std::uint64_t inode : inodes) {
    if (inode != 0) table.push_back({inode, 0, {}});
  }
  std::sort(table.begin(), table.end(),
            [](const Socket& a, const Socket& b) { return a.inode < b.inode; });
  table.erase(std::unique(table.begin(), table.end(),
                          [](const Socket& a, const Socket& b) { return a.inode == b.inode; }),
              table.end());
  auto old = sockets_.cbegin();
  std::size_t hunted = 0;
  for (Socket& socket : table) {
    while (old != sockets_.cend() && old->inode < socket.inode) ++old;
    if (old != sockets_.cend() && old->inode == socket.inode && !contains(gone, old->pid)) {
      socket.pid = old->pid;
      socket.retryAfter = old->retryAfter;
    }
    if (socket.pid == 0 && socket.retryAfter <= now) ++hunted;
  }
  sockets_ = std::move(table);
  if (hunted == 0) return;

  std::vector<std::uint32_t> holders;
  for (const Socket& socket : sockets_) {
    if (socket.pid != 0) holders.push_back(socket.pid);
  }
  std::sort(holders.begin(), holders.end());
  holders.erase(std::unique(holders.begin(), holders.end()), holders.end());
  std::vector<std::uint32_t> order = fresh;
  for (const std::uint32_t pid : holders) {
    if (!contains(fresh, pid)) order.push_back(pid);
  }
  for (const Process& process : processes) {
    if (!contains(fresh, process.pid) && !contains(holders, process.pid)) {
      order.push_back(process.pid);
    }
  }
  for (const std::uint32_t pid : order) {
    hunted -= place(pid, now, read);
    if (hunted == 0) return;
  }
  for (Socket& socket : sockets_) {
    if (socket.pid == 0 && socket.retryAfter <= now) socket.retryAfter = now + retryUnplaced_;
  }
}

void SocketOwners::rebuild(std::span<const Process> processes, const ReadSockets& read) {
  processes_.assign(processes.begin(), processes.end());
  sockets_.clear();
  for (const Process& process : processes) {
    found_.clear();
    read(process.pid, found_);
    for (const std::uint64_t inode : found_) {
      if (inode != 0) sockets_.push_back({inode, process.pid, {}});
    }
  }
  std::sort(sockets_.begin(), sockets_.end(), [](const Socket& a, const Socket& b) {
    return a.inode < b.inode || (a.inode == b.inode && a.pid < b.pid);
  });
  sockets_.erase(std::unique(sockets_.begin(), sockets_.end(),
                             [](const Socket& a, const Socket& b) { return a.inode == b.inode; }),
                 sockets_.end());
}

std::uint32_t SocketOwners::owner(std::uint64_t inode) const {
  const Socket* socket = find(inode);
  return socket == nullptr ? 0 : socket->pid;
}

bool SocketOwners::knows(std::uint64_t inode) const { return owner(inode) != 0; }

std::size_t SocketOwners::place(std::uint32_t pid, Clock::time_point now, const ReadSockets& read) {
  found_.clear();
  read(pid, found_);
  std::size_t placed = 0;
  for (const std::uint64_t inode : found_) {
    Socket* socket = find(inode);
    if (socket == nullptr) continue;
    if (socket->pid == 0) {
      if (socket->retryAfter <= now) ++placed;
      socket->pid = pid;
    } else if (pid < socket->pid) {
      socket->pid = pid;
    }
  }
  return placed;
}

SocketOwners::Socket* SocketOwners::find(std::uint64_t inode) {
  const auto found = std::lower_bound(
      sockets_.begin(), sockets_.end(), inode,
      [](const Socket& socket, std::uint64_t value) { return socket.inode < value; });
  return found != sockets_.end() && found->inode == inode ? &*found : nullptr;
}

const SocketOwners::Socket* SocketOwners::find(std::uint64_t inode) const {
  return const_cast<SocketOwners*>(this)->find(inode);
}

}  // namespace os::linux_owners
