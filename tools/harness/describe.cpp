// Scenario "describe": the description exports and the first instance numbers.
#include <cstring>

#include "harness.hpp"
#include "scenarios.hpp"

namespace harness {

int describe(int, char**) {
  const Plugin plugin = load_plugin();
  ok(plugin.dlltype() == 1, "dlltype is 1");
  ok(std::strcmp(plugin.init(), "ListPorts") == 0, "init names ListPorts");
  ok(std::strcmp(plugin.getparam(0), "") == 0, "getparam is empty");
  ok(std::strcmp(plugin.getinfo(0), "Quorvane") == 0, "getinfo(0) is the name");
  ok(std::strcmp(plugin.getinfo(7), "") == 0, "getinfo(7) is empty");
  ok(plugin.dllstartup(0, 0) == 1, "first instance is 1");
  ok(plugin.dllstartup(0, 0) == 2, "second instance is 2");
  ok(plugin.dllshutdown(0) == 0, "dllshutdown before any listing returns 0");
  ok(FreeLibrary(plugin.module) != 0, "FreeLibrary");
  return 0;
}

}  // namespace harness
