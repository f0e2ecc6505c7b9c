// A scriptable operating system for unit tests: endpoint tables, processes, DNS answers, profile
// files and heap failures are plain data that a test sets (and may change between passes).
// Threads are real; the pause between passes is whatever the test makes of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "os/os.hpp"

namespace fake {

struct Process {
  bool openable = true;
  bool modulesReadable = true;
  std::optional<std::string> executablePath;  // nullopt: the path query fails
  std::optional<std::string> limitedPath;     // what the limited query gives
};

struct PtrBatch {
  std::vector<std::string> names;
  std::size_t parallel;
  std::uint32_t timeLimitMs;
};

// A few of the names every services database holds.
std::map<std::pair<os::Protocol, std::uint16_t>, std::string> default_services();

struct Os {
  std::mutex mutex;  // guards everything below against the collector thread
  std::optional<std::vector<os::TcpRow>> tcpRows = std::vector<os::TcpRow>{};
  std::optional<std::vector<os::UdpRow>> udpRows = std::vector<os::UdpRow>{};
  // The command's table; socket_table gives the rows of the kinds asked for, in this order.
  std::optional<std::vector<os::SocketRow>> socketRows = std::vector<os::SocketRow>{};
  std::vector<os::SocketKinds> socketTableCalls;  // every request, in order
  std::map<std::uint32_t, Process> processes;     // pids not listed cannot be opened
  std::map<std::uint32_t, int> processOpens;      // open_process calls by pid
  std::map<std::string, std::string> ptrAnswers;  // query name -> first record's name
  std::map<std::string, std::string> files;       // profile files by name
  std::vector<std::string> dnsQueries;            // every query name asked, in order
  // The batches of parallel queries, and the names whose answers miss the first batch that asks
  // for them (as if still in flight at its time limit) and are there for the later ones.
  std::vector<PtrBatch> ptrBatches;
  std::set<std::string> lateAnswers;
  std::vector<std::uint32_t> sleeps;             // every pause asked, in order
  std::map<std::uint32_t, std::string> cgroups;  // a process's cgroup listing by pid
  std::map<std::uint32_t, int> cgroupReads;      // process_cgroups calls by pid
  std::map<std::uint32_t, std::string> users;    // user names by uid
  // What a local service answers, by socket path; paths not listed have nothing listening.
  std::map<std::string, std::string> localServices;
  std::vector<std::string> localRequests;  // every request sent, in order
  int openProcessHandles = 0;
  bool failAllocation = false;
  bool failThreadStart = false;
  int threadStarts = 0;  // threads started successfully
  os::LocalDate date{2026, 12, 8};
  // The services database, and the range outgoing connections take their local ports from.
  std::map<std::pair<os::Protocol, std::uint16_t>, std::string> services = default_services();
  std::optional<os::PortRange> ephemeralPorts = os::PortRange{32768, 60999};
  // Called (outside the mutex) at the points the collector reaches; tests use them to change the
  // world between and within passes, or to hold a pass still.
  std::function<void()> onTcpTable;
  std::function<void()> onUdpTable;
  std::function<void(const std::string&)> onDnsQuery;
  std::function<void(std::uint32_t)> onSleep;
  // Called once a thread has been started, before start_thread returns to its caller.
  std::function<void()> onThreadStarted;
};

// The one fake machine; reset() puts it back to an empty world.
Os& machine();
void reset();

// Builders for rows in their delivered form.
std::uint32_t address(std::uint8_t o1, std::uint8_t o2, std::uint8_t o3, std::uint8_t o4);
std::uint32_t port(std::uint16_t hostOrder);

}  // namespace fake
