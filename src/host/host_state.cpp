// The instance table's lifecycle: created at load, grown by dllstartup, released at unload.
#include "host/host_state.hpp"

#include <new>
#include <stdexcept>

namespace qv {

HostState host;

void host_attach() {
  host = HostState{};
  host.instanceTable.resize(2, InstanceSettings{});
}

void host_detach() {
  host.instanceCount = 0;
  host.hostWindow = 0;
  host.instanceTable.clear();
  host.instanceTable.shrink_to_fit();
}

std::int32_t start_instance(HostWindow window) {
  // Numbers are never reused; past the 32-bit limit they wrap rather than overflow.
  host.instanceCount =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(host.instanceCount) + 1U);
  const auto wanted = static_cast<std::int64_t>(host.instanceCount) + 1;
  if (wanted > static_cast<std::int64_t>(host.instanceTable.size())) {
    try {
      host.instanceTable.resize(static_cast<std::size_t>(wanted), InstanceSettings{});
    } catch (const std::bad_alloc&) {
      // resize gives the strong guarantee for trivially copyable records: the old table stands.
    } catch (const std::length_error&) {
    }
  }
  host.hostWindow = window;
  return host.instanceCount;
}

InstanceSettings* instance_record(std::int32_t instance) {
  if (instance < 0 || static_cast<std::size_t>(instance) >= host.instanceTable.size()) {
    return nullptr;
  }
  return &host.instanceTable[static_cast<std::size_t>(instance)];
}

}  // namespace qv
