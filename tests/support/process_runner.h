// Runs a program as a child process and collects what it printed and its exit code.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace dormiscope::testing {

struct ProcessResult {
    int exit_code = -1;
    std::string standard_output;
    std::string standard_error;
};

// Runs `arguments[0]` with the arguments in `working_directory`, with the
// environment extended by `environment` (name, value) pairs.
ProcessResult RunProcess(const std::vector<std::string>& arguments, const std::filesystem::path& working_directory,
                         const std::vector<std::pair<std::string, std::string>>& environment = {});

}  // namespace dormiscope::testing
