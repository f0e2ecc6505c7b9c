// Module-wide state of the host interface: instance numbers, the host's window, the instance table.
#pragma once

#include <cstdint>
#include <vector>

#include "host/instance_settings.hpp"

namespace qv {

using HostWindow = std::uintptr_t;

struct HostState {
  std::int32_t instanceCount;
  HostWindow hostWindow;
  std::int32_t configuredInstance;
  std::vector<InstanceSettings> instanceTable;  // index = instance number; index 0 never handed out
};

extern HostState host;

// Process attach: the table with indexes 0 and 1, all zero; everything else zero.
void host_attach();
// Process detach: counts and window back to 0, the table released.
void host_detach();

// The next instance number; grows the table to it. A table that cannot grow keeps its records and
// the number is handed out all the same.
std::int32_t start_instance(HostWindow window);

// The record of an instance number, or nullptr when the number lies outside the table.
InstanceSettings* instance_record(std::int32_t instance);

}  // namespace qv
