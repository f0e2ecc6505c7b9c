// The instance table's lifecycle: created at load, grown by dllstartup, released at unload.
#include "host/host_state.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qv {

HostState host;

bool InstanceTable::grow(std::size_t newCount) {
  if (newCount <= count) return true;
  if (newCount > SIZE_MAX / sizeof(InstanceSettings)) return false;
  void* grown = std::realloc(records, newCount * sizeof(InstanceSettings));
  if (grown == nullptr) return false;  // the old block and its records stand
  records = static_cast<InstanceSettings*>(grown);
  std::memset(records + count, 0, (newCount - count) * sizeof(InstanceSettings));
  count = newCount;
  return true;
}

void InstanceTable::release() {
  std::free(records);
  records = nullptr;
  count = 0;
}

void host_attach() {
  host.instanceCount = 0;
  host.hostWindow = 0;
  host.configuredInstance = 0;
  host.instanceTable.release();
  host.instanceTable.grow(2);
}

void host_detach() {
  host.instanceCount = 0;
  host.hostWindow = 0;
  host.instanceTable.release();
}

std::int32_t start_instance(HostWindow window) {
  // Numbers are never reused; past the 32-bit limit they wrap rather than overflow.
  host.instanceCount =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(host.instanceCount) + 1U);
  if (host.instanceCount > 0) {
    host.instanceTable.grow(static_cast<std::size_t>(host.instanceCount) + 1);
  }
  host.hostWindow = window;
  return host.instanceCount;
}

InstanceSettings* instance_record(std::int32_t instance) {
  if (instance < 0 || static_cast<std::size_t>(instance) >= host.instanceTable.count) {
    return nullptr;
  }
  return &host.instanceTable.records[instance];
}

}  // namespace qv
