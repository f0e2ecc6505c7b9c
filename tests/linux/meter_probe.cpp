// Prints the meter's listing for one settings section, as the engine builds it after one
// collector pass on this machine: the reference that `quorvane --meter` must reproduce.
// Usage: meter_probe FILE SECTION
#include <cstdio>
#include <vector>

#include "collector/collector.hpp"
#include "host/settings.hpp"
#include "listing/template_expansion.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: meter_probe FILE SECTION\n");
    return 2;
  }
  qv::InstanceSettings record{};
  qv::load_settings(record, argv[1], argv[2]);
  qv::collect_one_pass();
  std::vector<qv::ConnectionEntry> entries;
  if (!qv::take_snapshot(entries)) {
    std::fprintf(stderr, "meter_probe: nothing published\n");
    return 1;
  }
  const std::size_t length = qv::build_listing(entries, record, record.outputText);
  return std::fwrite(record.outputText, 1, length, stdout) == length ? 0 : 1;
}
