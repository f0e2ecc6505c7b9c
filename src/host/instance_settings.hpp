// One meter instance's settings record (the instance table of them is in host_state.hpp).
#pragma once

#include <cstdint>
#include <type_traits>

namespace qv {

struct InstanceSettings {
  char outputText[4096];  // the last listing handed to the host; never stored in the file
  std::int32_t filterEnabled;
  std::int32_t hideZeroAddress;
  std::int64_t rangeLow;   // twelve-digit address form
  std::int64_t rangeHigh;  // twelve-digit address form
  std::int32_t selectedOption;
  char outputTemplate[512];
  std::int32_t noLeadingZeros;
};

// Records are copied byte for byte (pastemeter, table growth) and zeroed as a whole.
static_assert(std::is_trivially_copyable_v<InstanceSettings>);

}  // namespace qv
