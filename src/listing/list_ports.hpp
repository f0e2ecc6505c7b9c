// The meter function: the instance's template expanded for every endpoint that passes its filter.
#pragma once

#include <cstdint>

namespace qv {

// Starts the collector once and, when a published table can be had, replaces the instance's
// outputText with a fresh listing and returns true. Returns false, leaving outputText as it was,
// while the collector is busy or has not yet published, when memory runs short, and for a number
// outside the instance table (which also starts nothing).
bool refresh_listing(std::int32_t instance) noexcept;

// The listing for an instance; the text lives in the instance's record (or is a constant empty
// text for a number outside the table) and stays valid until the host's next call.
const char* list_ports(std::int32_t instance) noexcept;

}  // namespace qv
