// ListPorts: start the collector, take the published table when it is free, list it.
#include "listing/list_ports.hpp"

#include <vector>

#include "collector/collector.hpp"
#include "host/host_state.hpp"
#include "listing/template_expansion.hpp"

namespace qv {

namespace {

// Kept from call to call, so that a listing costs one copy of the table and no allocation. Only
// the host's thread lists.
std::vector<ConnectionEntry>& snapshot_buffer() {
  static std::vector<ConnectionEntry> snapshot;
  return snapshot;
}

}  // namespace

bool refresh_listing(std::int32_t instance) noexcept {
  InstanceSettings* record = instance_record(instance);
  if (record == nullptr) return false;
  try {
    // The call that starts the collector answers as if it were busy, however quickly the new
    // worker publishes its first pass.
    if (!collector_started()) {
      start_collector_once();
      return false;
    }
    std::vector<ConnectionEntry>& snapshot = snapshot_buffer();
    if (!take_snapshot(snapshot)) return false;
    build_listing(snapshot, *record, record->outputText);
    return true;
  } catch (...) {
    // Out of memory: the previous listing stands.
    return false;
  }
}

const char* list_ports(std::int32_t instance) noexcept {
  refresh_listing(instance);
  const InstanceSettings* record = instance_record(instance);
  return record != nullptr ? record->outputText : "";
}

}  // namespace qv
