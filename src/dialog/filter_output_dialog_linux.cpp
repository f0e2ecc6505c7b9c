// Linux has no dialog toolkit to show the dialog with: configuring only records the instance.
#include "dialog/filter_output_dialog.hpp"

namespace qv {

std::int32_t ShowFilterOutputDialog(HostWindow /*ownerWindow*/) { return 0; }

}  // namespace qv
