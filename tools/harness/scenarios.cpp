// The table of scenarios; each scenario file adds its entry here.
#include "scenarios.hpp"

#include "harness.hpp"

namespace harness {

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> all = {
      {"describe", describe},       {"dialog", dialog}, {"dialog-show", dialog_show},
      {"settings", settings},       {"meter", meter},   {"odd-settings", odd_settings},
      {"lifecycle", lifecycle},     {"unload", unload}, {"command", command},
      {"hold-socket", hold_socket},
  };
  return all;
}

}  // namespace harness
