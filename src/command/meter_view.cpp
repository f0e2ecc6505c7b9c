// The meter's listing for the command: collector pass, snapshot and listing without the worker.
#include "command/meter_view.hpp"

#include <algorithm>

#include "collector/collector.hpp"
#include "common/text.hpp"
#include "common/utf8.hpp"
#include "listing/template_expansion.hpp"

namespace qv {

namespace {

template <std::size_t N>
void replace_controls(char (&field)[N]) {
  store_text(field, terminal_safe(field_text(field), UnsafeText::questionMarks));
}

}  // namespace

void replace_control_bytes(ConnectionEntry& entry) {
  replace_controls(entry.programName);
  replace_controls(entry.hostName);
}

bool refresh_meter_listing(InstanceSettings& record, std::vector<ConnectionEntry>& snapshot) {
  collect_one_pass();
  if (!take_snapshot(snapshot)) return false;
  std::for_each(snapshot.begin(), snapshot.end(), replace_control_bytes);
  build_listing(snapshot, record, record.outputText);
  return true;
}

}  // namespace qv
