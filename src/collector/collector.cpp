// The collector thread: passes that rebuild the connection table, and the hand-over of the
// published table to the meter without either side waiting on a slow pass.
#include "collector/collector.hpp"

#include <algorithm>
#include <atomic>
#include <optional>

#include "collector/address.hpp"
#include "collector/program_name.hpp"
#include "collector/reverse_lookup.hpp"
#include "common/text.hpp"
#include "os/os.hpp"

namespace qv {

namespace {

// collectorBusy is also the lock over the table: the worker holds it across a whole pass, a reader
// only across its copy, and neither ever finds the other half-way.
constexpr std::int32_t kIdle = 0;
constexpr std::int32_t kPassRunning = 1;
constexpr std::int32_t kSnapshotCopying = 2;

// No destructor on purpose: at process exit a worker that was never stopped may still be filling
// the table, so only release_collector, which knows no worker runs, gives it back.
struct CollectorState {
  std::optional<os::ThreadHandle> collectorThread;  // the host's thread only
  bool workerEnded = false;                         // the host's thread only
  std::atomic<std::int32_t> collectorBusy{kIdle};
  std::atomic<std::int32_t> collectorStop{0};
  // Written only while the worker holds collectorBusy; atomic so that tests may look at any time.
  std::atomic<std::int32_t> lastEntryIndex{0};
  std::atomic<bool> published{false};
  ConnectionEntry* connectionTable = nullptr;  // guarded by collectorBusy
};

constinit CollectorState collector;

bool try_hold(std::int32_t holder) {
  std::int32_t expected = kIdle;
  return collector.collectorBusy.compare_exchange_strong(expected, holder,
                                                         std::memory_order_acquire);
}

// Gives the table back to the other side when the holder's scope ends, however it ends.
struct Hold {
  Hold() = default;
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  ~Hold() { collector.collectorBusy.store(kIdle, std::memory_order_release); }
};

// Entries are completed one at a time in index order; written counts the complete ones.
struct PassWriter {
  ConnectionEntry* table;
  int written = 0;

  [[nodiscard]] int room() const { return kConnectionTableSize - written; }
};

void fill_host_name(ConnectionEntry& entry) {
  QueryNameBuffer query;
  store_text(query, field_text(entry.remoteAddressText));
  HostNameBuffer result = "";
  LookupHostName(query, result);
  store_text(entry.hostName,
             result[0] != '\0' ? field_text(result) : field_text(entry.remoteAddressText));
}

void fill_tcp_side(ConnectionEntry& entry, const os::TcpRow& row) {
  entry.remotePort = HostPort(row.remotePort);
  DottedAddress(row.remoteAddress, entry.remoteAddressText);
  entry.remoteAddressNumber = TwelveDigitAddress(row.remoteAddress);
  entry.tcpState = static_cast<std::int32_t>(row.state);
  entry.protocol = kProtocolTcp;
  if (entry.remoteAddressNumber != 0) fill_host_name(entry);
}

void fill_udp_side(ConnectionEntry& entry, const os::UdpRow& /*row*/) {
  entry.protocol = kProtocolUdp;
  entry.remotePort = 0;
  store_text(entry.remoteAddressText, "000.000.000.000");
  entry.remoteAddressNumber = 0;
}

// One entry per row, in the system's order, while the table has room.
template <typename Row>
void add_entries(PassWriter& pass, const std::optional<std::vector<Row>>& rows,
                 void (*fill_protocol_side)(ConnectionEntry&, const Row&)) {
  if (!rows) return;
  const auto count = std::min<std::size_t>(rows->size(), static_cast<std::size_t>(pass.room()));
  for (std::size_t i = 0; i < count; ++i) {
    const Row& row = (*rows)[i];
    ConnectionEntry& entry = pass.table[pass.written];
    entry.localPort = HostPort(row.localPort);
    DottedAddress(row.localAddress, entry.localAddressText);
    entry.processId = static_cast<std::int32_t>(row.owningPid);
    store_text(entry.programName, ProgramName(row.owningPid));
    entry.entryIndex = pass.written;
    fill_protocol_side(entry, row);
    ++pass.written;
  }
}

}  // namespace

void collect_one_pass() {
  while (!try_hold(kPassRunning)) os::yield();  // only a reader's copy can be in the way
  const Hold hold;
  collector.lastEntryIndex.store(0, std::memory_order_relaxed);
  collector.published.store(false, std::memory_order_relaxed);
  os::release(collector.connectionTable);
  collector.connectionTable = static_cast<ConnectionEntry*>(
      os::allocate_zeroed(sizeof(ConnectionEntry) * kConnectionTableSize));
  if (collector.connectionTable == nullptr) {
    // No table this pass: it stays unpublished and nothing is written.
    collector.lastEntryIndex.store(-1, std::memory_order_relaxed);
    return;
  }
  // Endpoints beyond the table's last entry are dropped: TCP first, then UDP while room remains.
  PassWriter pass{collector.connectionTable};
  try {
    add_entries(pass, os::tcp_table(), fill_tcp_side);
    add_entries(pass, os::udp_table(), fill_udp_side);
  } catch (...) {
    // Memory ran out part-way: the entries already complete are this pass's table.
  }
  collector.lastEntryIndex.store(pass.written - 1, std::memory_order_relaxed);
  collector.published.store(true, std::memory_order_relaxed);
}

void CollectConnections(void* /*unused*/) {
  do {
    collect_one_pass();
    os::sleep_ms(1000);
  } while (collector.collectorStop.load(std::memory_order_acquire) != 1);
}

void start_collector_once() {
  if (collector.collectorThread) return;
  collector.collectorThread = os::start_thread(CollectConnections, nullptr);
}

bool collector_started() { return collector.collectorThread.has_value(); }

bool take_snapshot(std::vector<ConnectionEntry>& snapshot) {
  if (!try_hold(kSnapshotCopying)) return false;
  const Hold hold;
  // Before the first publish (and after a pass without a table) there is nothing to copy.
  if (!collector.published.load(std::memory_order_relaxed)) return false;
  const ConnectionEntry* first = collector.connectionTable;
  const auto count = collector.lastEntryIndex.load(std::memory_order_relaxed) + 1;
  try {
    // Growing first leaves the caller's copy as it was when memory runs out; after that the
    // copy itself cannot fail, and a caller that keeps its vector pays for no allocation.
    snapshot.reserve(static_cast<std::size_t>(count));
  } catch (...) {
    return false;
  }
  snapshot.assign(first, first + count);
  return true;
}

void stop_collector() {
  if (!collector.collectorThread || collector.workerEnded) return;
  collector.collectorStop.store(1, std::memory_order_release);
  os::wait_thread(*collector.collectorThread);
  collector.workerEnded = true;
}

void release_collector() {
  // A worker that was never stopped keeps its table. On Windows it also holds its own reference
  // to the library, so this detach comes only after it has ended; elsewhere the table is left to
  // it.
  if (collector.collectorThread && !collector.workerEnded) return;
  os::release(collector.connectionTable);
  collector.connectionTable = nullptr;
  collector.collectorThread.reset();
  collector.workerEnded = false;
  collector.collectorBusy.store(kIdle, std::memory_order_relaxed);
  collector.collectorStop.store(0, std::memory_order_relaxed);
  collector.lastEntryIndex.store(0, std::memory_order_relaxed);
  collector.published.store(false, std::memory_order_relaxed);
}

CollectorView collector_view() {
  return {collector.collectorBusy.load(std::memory_order_acquire),
          collector.lastEntryIndex.load(std::memory_order_relaxed),
          collector.collectorStop.load(std::memory_order_relaxed),
          collector.published.load(std::memory_order_relaxed)};
}

}  // namespace qv
