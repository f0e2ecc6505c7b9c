// The engine's version text: the host reads it through getinfo(2), quorvane --version prints it.
#pragma once

namespace qv {

inline constexpr char kEngineVersion[] = "Beta 0.1";

}  // namespace qv
