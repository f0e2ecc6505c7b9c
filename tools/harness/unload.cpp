// Scenario "unload": the host frees the library while the collector still runs (no dllshutdown
// came). The worker keeps the library loaded, its passes go on, and the process ends cleanly.
#include <windows.h>

#include "harness.hpp"
#include "scenarios.hpp"

namespace harness {

int unload(int, char**) {
  const Plugin plugin = load_plugin();
  ok(plugin.dllstartup(0, 0) == 1, "first instance is 1");
  plugin.ListPorts(1);  // starts the collector
  // Long enough for a few passes: the worker must be under way when the library is freed.
  Sleep(3000);
  ok(FreeLibrary(plugin.module) != 0, "FreeLibrary without dllshutdown");
  ok(GetModuleHandleA("Quorvane.dll") == plugin.module, "the running worker keeps the library");
  Sleep(3000);

  // Loading it again finds the same library, its state untouched by the host's FreeLibrary.
  const Plugin again = load_plugin();
  ok(again.module == plugin.module, "loading again gives the same library");
  ok(again.dllstartup(0, 0) == 2, "instance numbers go on");
  again.ListPorts(2);
  ok(FreeLibrary(again.module) != 0, "FreeLibrary again");
  // The process now ends with the worker still running; the exit status tells whether the
  // library's detach at exit kept out of its way.
  return 0;
}

}  // namespace harness
