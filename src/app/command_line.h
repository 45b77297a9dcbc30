// The three switches of the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/run_context.h"

namespace dormiscope {

inline constexpr std::int32_t ERROR_BAD_COMMAND_LINE = 1639;

// Fills the paths and the level text of the run; 0, or 1639 when refused.
std::int32_t ParseCommandLine(int count, const std::vector<std::wstring>& arguments, RunContext& run);

}  // namespace dormiscope
