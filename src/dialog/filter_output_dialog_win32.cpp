// Placeholder until the dialog lands.
#include "dialog/filter_output_dialog.hpp"

namespace qv {

std::int32_t ShowFilterOutputDialog(HostWindow /*ownerWindow*/) { return 0; }

}  // namespace qv
