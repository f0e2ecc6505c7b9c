// The collector: one background worker that rebuilds the connection table pass after pass, and the
// hand-over of its published table to the meter.
#pragma once

#include <cstdint>
#include <vector>

#include "collector/connection_table.hpp"

namespace qv {

// Starts the worker unless one has been started since load. A worker that could not be created
// leaves the collector unstarted, so the next call tries again.
void start_collector_once();
bool collector_started();

// Copies the published entries 0 to lastEntryIndex into snapshot, in index order, and returns
// true; returns false, touching nothing, while a pass is under way or before the first publish.
// Never waits for a pass.
bool take_snapshot(std::vector<ConnectionEntry>& snapshot);

// dllshutdown: asks the worker to stop and waits for it without a time limit. Returns at once
// when no worker was started or it has already ended.
void stop_collector();

// Process detach: releases the table and puts the collector back to its load-time state, unless a
// worker may still be using them.
void release_collector();

// The worker routine; its argument is not used.
void CollectConnections(void* unused);

// One pass of the worker without the pause that follows it: rebuilds and publishes the table on
// the calling thread (tests, benchmarks and the command use it without a worker).
void collect_one_pass();

// The collector's shared values as they stand, for tests: collectorBusy is 0 when idle, 1 while
// a pass runs and 2 while a snapshot is being copied.
struct CollectorView {
  std::int32_t collectorBusy;
  std::int32_t lastEntryIndex;
  std::int32_t collectorStop;
  bool published;
};
CollectorView collector_view();

}  // namespace qv
