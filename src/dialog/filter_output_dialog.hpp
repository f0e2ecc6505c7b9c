// The "Filter & Output" dialog that edits the record of the configured instance.
#pragma once

#include <cstdint>

#include "host/host_state.hpp"

namespace qv {

// Runs the dialog modally, owned by ownerWindow (0: no owner), on the record of
// host.configuredInstance. Always returns 0.
std::int32_t ShowFilterOutputDialog(HostWindow ownerWindow);

// Height of the dialog's 8-point fonts on a screen of logPixelsY dots per inch: a character height
// in pixels (hence negative), the division truncated toward zero.
constexpr int DialogFontHeight(int logPixelsY) { return -(8 * logPixelsY) / 72; }

}  // namespace qv
