// The owning program of an endpoint: the file name of the process's executable.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// The executable's file name without its folder (at most 259 characters), "System" for a process
// whose executable cannot be found at all, or empty when its module list can be read but not
// its path.
std::string ProgramName(const std::uint32_t& processId);

}  // namespace qv
