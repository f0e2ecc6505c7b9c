// The owner book against a scripted set of processes: who is read, in which order, and when not.
#include "os/linux/socket_owners.hpp"

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace {

using os::linux_owners::Clock;
using os::linux_owners::Process;
using os::linux_owners::SocketOwners;
using std::chrono::seconds;

// Processes and the socket inodes each holds; every reading is logged.
struct World {
  std::map<std::uint32_t, std::vector<std::uint64_t>> sockets;
  std::map<std::uint32_t, std::uint64_t> identity;
  std::map<std::uint32_t, std::uint32_t> parent;
  std::vector<std::uint32_t> reads;

  [[nodiscard]] std::vector<Process> processes() const {
    std::vector<Process> list;
    for (const auto& [pid, inodes] : sockets) {
      const auto found = identity.find(pid);
      list.push_back({pid, found == identity.end() ? 0 : found->second});
    }
    return list;
  }

  std::vector<std::uint32_t> refresh(SocketOwners& owners, std::vector<std::uint64_t> table,
                                     Clock::time_point now) {
    reads.clear();
    const auto list = processes();
    owners.refresh(list, table, now,
                   {[this](std::uint32_t pid, std::vector<std::uint64_t>& out) {
                      reads.push_back(pid);
                      const auto& held = sockets.at(pid);
                      out.insert(out.end(), held.begin(), held.end());
                    },
                    [this](std::uint32_t pid) -> std::optional<std::uint32_t> {
                      const auto found = parent.find(pid);
                      if (found == parent.end()) return std::nullopt;
                      return found->second;
                    }});
    return reads;
  }
};

const auto t0 = Clock::time_point{} + seconds(1000);
using Pids = std::vector<std::uint32_t>;

Pids holders(const SocketOwners& owners, std::uint64_t inode) {
  const auto pids = owners.holders(inode);
  return {pids.begin(), pids.end()};
}

TEST(SocketOwners, FirstTableReadsEveryProcessAndFindsEveryHolder) {
  World w;
  w.sockets = {{1, {}}, {10, {100, 101}}, {20, {101, 102}}, {30, {103}}, {40, {104}}};
  SocketOwners owners;
  EXPECT_EQ(w.refresh(owners, {100, 101, 102, 103, 0, 100}, t0), (Pids{1, 10, 20, 30, 40}));
  EXPECT_EQ(owners.owner(100), 10U);
  EXPECT_EQ(owners.owner(101), 10U);  // shared: the lowest pid
  EXPECT_EQ(holders(owners, 101), (Pids{10, 20}));
  EXPECT_EQ(holders(owners, 104), Pids{});
  EXPECT_EQ(owners.owner(102), 20U);
  EXPECT_EQ(owners.owner(103), 30U);
  EXPECT_EQ(owners.owner(104), 0U);  // held, but not in the table
  EXPECT_EQ(owners.owner(0), 0U);
}

TEST(SocketOwners, KnownSocketsCostNoReadingButNewProcessesAreRead) {
  World w;
  w.sockets = {{10, {100}}, {20, {200}}};
  SocketOwners owners;
  w.refresh(owners, {100, 200}, t0);
  EXPECT_EQ(w.refresh(owners, {100, 200}, t0 + seconds(1)), Pids{});
  w.sockets[30] = {100};  // a child inherits a socket already known
  EXPECT_EQ(w.refresh(owners, {100, 200}, t0 + seconds(1)), Pids{30});
  EXPECT_EQ(owners.owner(100), 10U);
  EXPECT_EQ(holders(owners, 100), (Pids{10, 30}));
  // The child ends: the parent alone holds the socket, with nothing read.
  w.sockets.erase(30);
  EXPECT_EQ(w.refresh(owners, {100, 200}, t0 + seconds(1)), Pids{});
  EXPECT_EQ(holders(owners, 100), Pids{10});
  // Sockets that left the table are forgotten.
  EXPECT_EQ(w.refresh(owners, {200}, t0 + seconds(2)), Pids{});
  EXPECT_EQ(owners.owner(100), 0U);
  EXPECT_EQ(owners.owner(200), 20U);
}

TEST(SocketOwners, NewSocketsAreLookedForInNewProcessesThenHoldersThenTheRest) {
  World w;
  w.sockets = {{5, {}}, {10, {100}}, {20, {200}}, {30, {}}};
  SocketOwners owners;
  w.refresh(owners, {100, 200}, t0);
  w.sockets[40] = {400};
  w.sockets[25] = {250};
  EXPECT_EQ(w.refresh(owners, {100, 200, 400, 250}, t0 + seconds(1)), (Pids{25, 40}));
  EXPECT_EQ(owners.owner(400), 40U);
  EXPECT_EQ(owners.owner(250), 25U);
  // A server that accepted a connection: the holders are read before the others.
  w.sockets[20].push_back(201);
  EXPECT_EQ(w.refresh(owners, {100, 200, 201}, t0 + seconds(2)), (Pids{10, 20}));
  EXPECT_EQ(owners.owner(201), 20U);
  // A socket made by a process that held none yet: every group in turn.
  w.sockets[5].push_back(500);
  EXPECT_EQ(w.refresh(owners, {100, 200, 500}, t0 + seconds(3)), (Pids{10, 20, 5}));
  EXPECT_EQ(owners.owner(500), 5U);
}

TEST(SocketOwners, OwnersThatWentOrWhosePidWasTakenAreLookedForAgain) {
  World w;
  w.sockets = {{10, {100}}, {20, {100, 200}}, {30, {300}}};
  SocketOwners owners;
  w.refresh(owners, {100, 200, 300}, t0);
  ASSERT_EQ(owners.owner(100), 10U);
  w.sockets.erase(10);  // the parent ends; the child holds the socket on
  EXPECT_EQ(w.refresh(owners, {100, 200, 300}, t0 + seconds(1)), Pids{});
  EXPECT_EQ(owners.owner(100), 20U);
  // Pid 30 ends and another process takes its number, holding other sockets.
  w.sockets[30] = {301};
  w.identity[30] = 7;
  w.sockets[20].push_back(300);  // the old socket is now 20's
  EXPECT_EQ(w.refresh(owners, {100, 200, 300, 301}, t0 + seconds(2)), (Pids{30, 20}));
  EXPECT_EQ(owners.owner(300), 20U);
  EXPECT_EQ(owners.owner(301), 30U);
  EXPECT_EQ(holders(owners, 300), Pids{20});  // never the new process of the old number
  // The last holder goes: the survivor that was never read is hunted for.
  w.sockets[40] = {};
  w.refresh(owners, {100, 200, 300, 301}, t0 + seconds(3));
  w.sockets[40] = {301};
  w.sockets.erase(30);
  EXPECT_EQ(w.refresh(owners, {100, 200, 300, 301}, t0 + seconds(4)), (Pids{20, 40}));
  EXPECT_EQ(holders(owners, 301), Pids{40});
}

TEST(SocketOwners, AParentThatForkedAfterMakingASocketIsFoundThroughItsChild) {
  World w;
  w.sockets = {{1, {}}, {10, {}}};
  SocketOwners owners;
  w.refresh(owners, {}, t0);
  // 10 listens, then forks 11; 12 is new and unrelated.
  w.sockets[10] = {100};
  w.sockets[11] = {100};
  w.parent[11] = 10;
  w.sockets[12] = {};
  w.parent[12] = 1;
  EXPECT_EQ(w.refresh(owners, {100}, t0 + seconds(1)), (Pids{11, 12, 10}));
  EXPECT_EQ(holders(owners, 100), (Pids{10, 11}));
  EXPECT_EQ(owners.owner(100), 10U);
}

TEST(SocketOwners, EveryProcessIsReadAgainAfterAWhile) {
  World w;
  w.sockets = {{10, {100}}, {20, {100}}};
  SocketOwners owners(seconds(10), seconds(30));
  w.refresh(owners, {100}, t0);
  w.sockets[20] = {};  // closes its copy: nothing tells until all are read again
  EXPECT_EQ(w.refresh(owners, {100}, t0 + seconds(29)), Pids{});
  EXPECT_EQ(holders(owners, 100), (Pids{10, 20}));
  EXPECT_EQ(w.refresh(owners, {100}, t0 + seconds(30)), (Pids{10, 20}));
  EXPECT_EQ(holders(owners, 100), Pids{10});
}

TEST(SocketOwners, SocketsNoProcessHoldsWaitBeforeTheyAreHuntedAgain) {
  World w;
  w.sockets = {{10, {100}}, {20, {}}};
  SocketOwners owners(seconds(10));
  EXPECT_EQ(w.refresh(owners, {100, 900}, t0), (Pids{10, 20}));
  EXPECT_EQ(owners.owner(900), 0U);
  EXPECT_EQ(w.refresh(owners, {100, 900}, t0 + seconds(9)), Pids{});
  // Another hunt that reads everything places it on the way.
  w.sockets[20] = {900, 901};
  EXPECT_EQ(w.refresh(owners, {100, 900, 901}, t0 + seconds(9)), (Pids{10, 20}));
  EXPECT_EQ(owners.owner(900), 20U);
  // After the wait the hunt resumes.
  w.sockets[20] = {900, 901};
  EXPECT_EQ(w.refresh(owners, {100, 900, 901, 902}, t0 + seconds(10)), (Pids{10, 20}));
  EXPECT_EQ(w.refresh(owners, {100, 900, 901, 902}, t0 + seconds(19)), Pids{});
  EXPECT_EQ(w.refresh(owners, {100, 900, 901, 902}, t0 + seconds(20)), (Pids{10, 20}));
}

TEST(SocketOwners, RebuildReadsEveryProcessAndKeepsEverySocketMet) {
  World w;
  w.sockets = {{10, {100, 0}}, {20, {100, 200}}, {30, {}}};
  SocketOwners owners;
  w.refresh(owners, {100}, t0);
  w.reads.clear();
  const auto list = w.processes();
  owners.rebuild(list, [&w](std::uint32_t pid, std::vector<std::uint64_t>& out) {
    w.reads.push_back(pid);
    out.insert(out.end(), w.sockets.at(pid).begin(), w.sockets.at(pid).end());
  });
  EXPECT_EQ(w.reads, (Pids{10, 20, 30}));
  EXPECT_EQ(owners.owner(100), 10U);
  EXPECT_EQ(owners.owner(200), 20U);
  EXPECT_TRUE(owners.knows(200));
  EXPECT_FALSE(owners.knows(0));
  EXPECT_FALSE(owners.knows(300));
}

}  // namespace
