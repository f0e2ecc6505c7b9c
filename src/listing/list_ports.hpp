// The meter function: the instance's template expanded for every endpoint that passes its filter.
#pragma once

#include <cstdint>

namespace qv {

// The listing for an instance; the text lives in the instance's record (or is a constant empty
// text for a number outside the table) and stays valid until the host's next call.
const char* list_ports(std::int32_t instance);

}  // namespace qv
