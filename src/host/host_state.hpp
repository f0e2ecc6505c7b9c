// Module-wide state of the host interface: instance numbers, the host's window, the instance table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/instance_settings.hpp"

namespace qv {

using HostWindow = std::uintptr_t;

// One record per instance number from 0 up; index 0 exists but is never handed out. A plain heap
// block that growth may move (realloc), so records are always reached afresh by index.
struct InstanceTable {
  InstanceSettings* records = nullptr;
  std::size_t count = 0;

  InstanceTable() = default;
  InstanceTable(const InstanceTable&) = delete;
  InstanceTable& operator=(const InstanceTable&) = delete;
  ~InstanceTable() { release(); }

  // Grows to count records, the new ones all zero; on failure nothing changes.
  bool grow(std::size_t newCount);
  void release();
};

struct HostState {
  std::int32_t instanceCount = 0;
  HostWindow hostWindow = 0;
  std::int32_t configuredInstance = 0;
  InstanceTable instanceTable;
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
