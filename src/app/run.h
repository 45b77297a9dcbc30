// The run from command line to report; returns the process exit code.
#pragma once

#include <string>
#include <vector>

namespace dormiscope {

// The processor vendor the tool accepts.
extern const std::string accepted_vendor;

int RunDormiscope(const std::vector<std::wstring>& arguments);

}  // namespace dormiscope
