// The owning program of an endpoint: the file name of the process's executable.
#pragma once

#include <cstdint>
#include <string>

#include "os/os.hpp"

namespace qv {

// The executable's file name without its folder, "System" for a process whose executable cannot
// be found at all, or empty when its module list can be read but not its path. As ANSI text (the
// meter's) it holds at most 259 characters; as UTF-8 (the command's) it is whole.
std::string ProgramName(const std::uint32_t& processId, os::PathText text = os::PathText::ansi);

}  // namespace qv
