// The meter's listing for the command: collector pass, snapshot and listing without the worker.
#include "command/meter_view.hpp"

#include <algorithm>

#include "collector/collector.hpp"
#include "listing/template_expansion.hpp"

namespace qv {

namespace {

template <std::size_t N>
void replace_controls(char (&field)[N]) {
  std::replace_if(
      field, field + N,
      [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte != 0 && byte < 0x20) || byte == 0x7F;
      },
      '?');
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
