// Which processes hold each socket, kept from one table to the next: a later table costs only the
// processes that are new, the holders of sockets whose holders have all gone, and whatever its
// new sockets send us to. Pure: the process list, the clock and the reading of one process are
// passed in.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
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
// The pid of the process's parent; nullopt when it has gone.
using ReadParent = std::function<std::optional<std::uint32_t>(std::uint32_t pid)>;

struct ProcessReading {
  ReadSockets sockets;
  ReadParent parent;
};

class SocketOwners {
 public:
  // retryUnplaced: how long a socket that no process could be found for waits before it is hunted
  // again. rereadAll: how often every process is read again, so that holders which closed their
  // copy, and sockets passed between processes known before, are seen.
  explicit SocketOwners(std::chrono::seconds retryUnplaced = std::chrono::seconds(10),
                        std::chrono::seconds rereadAll = std::chrono::seconds(30))
      : retryUnplaced_(retryUnplaced), rereadAll_(rereadAll) {}

  // Finds the holders of this table's sockets (inodes; 0 and repeats are ignored). processes is
  // the current process list in ascending pid order. The first call, and every call rereadAll
  // after the last such one, reads every process. In between, a process that has gone (or whose
  // pid another has taken) holds nothing any more; every new process is read, and so is the
  // parent of one that holds a socket only new processes hold (a fork after the socket was
  // made); then the sockets no process holds are hunted, reading processes in this order until
  // every one is found: those already holding sockets of the table, then the rest, each by
  // ascending pid. Sockets that a hunt could not place are not hunted again for retryUnplaced,
  // though any reading that meets them places them.
  void refresh(std::span<const Process> processes, std::span<const std::uint64_t> inodes,
               Clock::time_point now, const ProcessReading& read);

  // Reads every process and keeps every socket met, table or not, forgetting what came before.
  void rebuild(std::span<const Process> processes, const ReadSockets& read);

  // Every pid known to hold the socket, ascending; empty when none visible here does.
  [[nodiscard]] std::span<const std::uint32_t> holders(std::uint64_t inode) const;
  // The lowest of them; 0 when there is none.
  [[nodiscard]] std::uint32_t owner(std::uint64_t inode) const;
  [[nodiscard]] bool knows(std::uint64_t inode) const;

 private:
  struct Holding {
    std::uint64_t inode;
    std::uint32_t pid;
    friend bool operator<(const Holding& a, const Holding& b) {
      return a.inode < b.inode || (a.inode == b.inode && a.pid < b.pid);
    }
    friend bool operator==(const Holding&, const Holding&) = default;
  };
  struct Unplaced {
    std::uint64_t inode;
    Clock::time_point retryAfter;
  };

  // Reads one process and records its holdings among the table's sockets (sorted inodes).
  void read_process(std::uint32_t pid, std::span<const std::uint64_t> table,
                    const ReadSockets& read);
  // Sorts the holdings read since the last call into place, repeats dropped.
  void settle();

  std::chrono::seconds retryUnplaced_;
  std::chrono::seconds rereadAll_;
  std::optional<Clock::time_point> nextRereadAll_;
  std::vector<Holding> holdings_;     // by inode, then pid; values and positions as of settle()
  std::vector<std::uint32_t> pids_;   // holdings_'s pids, contiguous for holders()
  std::vector<Unplaced> unplaced_;    // by ascending inode: sockets a hunt could not place
  std::vector<Process> processes_;    // as of the last call
  std::vector<std::uint64_t> found_;  // one process's inodes, kept for its capacity
};

}  // namespace os::linux_owners
