// The owner book: which processes to read after a new table, in which order, and what a process
// that has gone takes with it.
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

template <typename Value>
bool contains(const std::vector<Value>& sorted, Value value) {
  return std::binary_search(sorted.begin(), sorted.end(), value);
}

void sort_unique(std::vector<std::uint32_t>& pids) {
  std::sort(pids.begin(), pids.end());
  pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
}

}  // namespace

void SocketOwners::read_process(std::uint32_t pid, std::span<const std::uint64_t> table,
                                const ReadSockets& read) {
  found_.clear();
  read(pid, found_);
  for (const std::uint64_t inode : found_) {
    if (inode != 0 && std::binary_search(table.begin(), table.end(), inode)) {
      holdings_.push_back({inode, pid});
    }
  }
}

void SocketOwners::settle() {
  std::sort(holdings_.begin(), holdings_.end());
  holdings_.erase(std::unique(holdings_.begin(), holdings_.end()), holdings_.end());
  pids_.resize(holdings_.size());
  std::transform(holdings_.begin(), holdings_.end(), pids_.begin(),
                 [](const Holding& holding) { return holding.pid; });
}

void SocketOwners::refresh(std::span<const Process> processes,
                           std::span<const std::uint64_t> inodes, Clock::time_point now,
                           const ProcessReading& read) {
  const std::vector<std::uint32_t> gone = missing_from(processes_, processes);
  const std::vector<std::uint32_t> fresh = missing_from(processes, processes_);
  processes_.assign(processes.begin(), processes.end());
  std::vector<std::uint64_t> table;
  table.reserve(inodes.size());
  for (const std::uint64_t inode : inodes) {
    if (inode != 0) table.push_back(inode);
  }
  std::sort(table.begin(), table.end());
  table.erase(std::unique(table.begin(), table.end()), table.end());

  std::vector<std::uint32_t> readNow;  // every process read by this call
  const bool readAll = !nextRereadAll_ || now >= *nextRereadAll_;
  if (readAll) {
    holdings_.clear();
    for (const Process& process : processes) read_process(process.pid, table, read.sockets);
    nextRereadAll_ = now + rereadAll_;
    for (const Process& process : processes) readNow.push_back(process.pid);
  } else {
    std::erase_if(holdings_, [&](const Holding& holding) {
      return !std::binary_search(table.begin(), table.end(), holding.inode) ||
             contains(gone, holding.pid);
    });
    for (const std::uint32_t pid : fresh) read_process(pid, table, read.sockets);
    readNow = fresh;
  }
  settle();

  // A process that made a socket and then forked: the child is new and read, the parent is not.
  std::vector<std::uint32_t> parents;
  for (auto group = holdings_.begin(); !readAll && group != holdings_.end();) {
    const auto end = std::find_if(group, holdings_.end(), [&](const Holding& holding) {
      return holding.inode != group->inode;
    });
    if (std::all_of(group, end, [&](const Holding& h) { return contains(fresh, h.pid); })) {
      for (auto holding = group; holding != end; ++holding) {
        const auto parent = read.parent(holding->pid);
        if (parent && !contains(fresh, *parent)) parents.push_back(*parent);
      }
    }
    group = end;
  }
  sort_unique(parents);
  for (const std::uint32_t pid : parents) read_process(pid, table, read.sockets);
  readNow.insert(readNow.end(), parents.begin(), parents.end());
  sort_unique(readNow);
  if (!parents.empty()) settle();

  // The sockets without a holder that are due for a hunt.
  std::vector<Unplaced> unplaced;
  std::vector<std::uint64_t> hunted;
  auto known = holdings_.cbegin();
  auto waiting = unplaced_.cbegin();
  for (const std::uint64_t inode : table) {
    while (known != holdings_.cend() && known->inode < inode) ++known;
    if (known != holdings_.cend() && known->inode == inode) continue;
    while (waiting != unplaced_.cend() && waiting->inode < inode) ++waiting;
    const bool waits = waiting != unplaced_.cend() && waiting->inode == inode &&
                       waiting->retryAfter > now && !readAll;
    if (waits) {
      unplaced.push_back(*waiting);
    } else {
      unplaced.push_back({inode, now + retryUnplaced_});
      if (!readAll) hunted.push_back(inode);
    }
  }
  if (!hunted.empty()) {
    std::vector<std::uint32_t> holderPids(pids_);
    sort_unique(holderPids);
    std::vector<std::uint32_t> order;
    for (const std::uint32_t pid : holderPids) {
      if (!contains(readNow, pid)) order.push_back(pid);
    }
    for (const Process& process : processes) {
      if (!contains(readNow, process.pid) && !contains(holderPids, process.pid)) {
        order.push_back(process.pid);
      }
    }
    std::vector<bool> placed(hunted.size(), false);
    std::size_t left = hunted.size();
    for (const std::uint32_t pid : order) {
      read_process(pid, table, read.sockets);
      for (const std::uint64_t inode : found_) {
        const auto at = std::lower_bound(hunted.begin(), hunted.end(), inode);
        if (at == hunted.end() || *at != inode) continue;
        const auto index = static_cast<std::size_t>(at - hunted.begin());
        if (!placed[index]) {
          placed[index] = true;
          --left;
        }
      }
      if (left == 0) break;
    }
    settle();
    // What the hunt met is placed, waiting or not.
    std::erase_if(unplaced, [&](const Unplaced& socket) { return !holders(socket.inode).empty(); });
  }
  unplaced_ = std::move(unplaced);
}

void SocketOwners::rebuild(std::span<const Process> processes, const ReadSockets& read) {
  processes_.assign(processes.begin(), processes.end());
  holdings_.clear();
  unplaced_.clear();
  for (const Process& process : processes) {
    found_.clear();
    read(process.pid, found_);
    for (const std::uint64_t inode : found_) {
      if (inode != 0) holdings_.push_back({inode, process.pid});
    }
  }
  settle();
}

std::span<const std::uint32_t> SocketOwners::holders(std::uint64_t inode) const {
  struct ByInode {
    bool operator()(const Holding& holding, std::uint64_t value) const {
      return holding.inode < value;
    }
    bool operator()(std::uint64_t value, const Holding& holding) const {
      return value < holding.inode;
    }
  };
  const auto [first, last] = std::equal_range(holdings_.begin(), holdings_.end(), inode, ByInode{});
  return {pids_.data() + (first - holdings_.begin()), static_cast<std::size_t>(last - first)};
}

std::uint32_t SocketOwners::owner(std::uint64_t inode) const {
  const auto pids = holders(inode);
  return pids.empty() ? 0 : pids.front();
}

bool SocketOwners::knows(std::uint64_t inode) const { return owner(inode) != 0; }

}  // namespace os::linux_owners
