// Which process holds each socket, kept from one table to the next: a later table costs only the
// processes its new sockets send us to. Pure: the process list, the clock and the reading of one
// process's open sockets are passed in.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace os::linux_owners {

using Clock = std::chrono::steady_clock;

struct Process {
  std::uint32_t pid;
  // Changes when the pid is taken by another process (the /proc entry's inode): the old owner's
  // sockets are then no longer its.
  std::uint64_t identity;
};

// Appends the inodes of the sockets the process holds open; nothing when it has gone or hides
// its files.
using ReadSockets = std::function<void(std::uint32_t pid, std::vector<std::uint64_t>& inodes)>;

class SocketOwners {
 public:
  // How long a socket that no process could be found for waits before it is hunted again.
  explicit SocketOwners(std::chrono::seconds retryUnplaced = std::chrono::seconds(10))
      : retryUnplaced_(retryUnplaced) {}

  // Finds the owners of this table's sockets (inodes; 0 and repeats are ignored). processes is
  // the current process list in ascending pid order. Owners already known stay unless their
  // process has gone; the others are hunted, reading processes in this order until every one is
  // found: processes new since the last call, then those already holding sockets of the table,
  // then the rest, each group by ascending pid. Sockets that a reading of every process could not
  // place are not hunted again for retryUnplaced, though any reading that meets them places them.
  void refresh(std::span<const Process> processes, std::span<const std::uint64_t> inodes,
               Clock::time_point now, const ReadSockets& read);

  // Reads every process and keeps every socket met, table or not, forgetting what came before.
  void rebuild(std::span<const Process> processes, const ReadSockets& read);

  // The pid holding the socket; 0 when none visible here does. Where several processes share a
  // socket (inherited across fork, passed over a Unix socket) it is the lowest pid among the
  // processes read since it was placed. The first table's reading goes by ascending pid, so
  // there that is the lowest of all holders; a socket hunted later may be placed with a new
  // process before an older holder is read.
  [[nodiscard]] std::uint32_t owner(std::uint64_t inode) const;
  [[nodiscard]] bool knows(std::uint64_t inode) const;

 private:
  struct Socket {
    std::uint64_t inode;
    std::uint32_t pid;  // 0: not placed
    Clock::time_point retryAfter;
  };

  [[nodiscard]] Socket* find(std::uint64_t inode);
  [[nodiscard]] const Socket* find(std::uint64_t inode) const;
  // Places the sockets of the table that one process holds; returns how many of them were hunted.
  std::size_t place(std::uint32_t pid, Clock::time_point now, const ReadSockets& read);

  std::chrono::seconds retryUnplaced_;
  std::vector<Socket> sockets_;       // by ascending inode
  std::vector<Process> processes_;    // as of the last call
  std::vector<std::uint64_t> found_;  // one process's inodes, kept for its capacity
};

}  // namespace os::linux_owners
