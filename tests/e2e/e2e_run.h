// Runs the program in a fresh working directory, as a user would.
#pragma once

#include <string>
#include <vector>

#include "support/process_runner.h"
#include "support/temporary_directory.h"

namespace dormiscope::testing {

struct EndToEndRun {
    ProcessResult result;
    std::string log;          // dormiscope.log, empty when none was created
    bool log_exists = false;
};

// The native binary: only for what happens before the processor check.
EndToEndRun RunNative(const TemporaryDirectory& directory, const std::vector<std::string>& arguments);

// Through the launcher, on a processor emulated to report `vendor`.
EndToEndRun RunEmulated(const TemporaryDirectory& directory, const std::string& vendor,
                const std::vector<std::string>& arguments);

// Through the launcher, with the environment extended by `environment`.
EndToEndRun RunLauncher(const TemporaryDirectory& directory,
                        const std::vector<std::pair<std::string, std::string>>& environment,
                        const std::vector<std::string>& arguments);

// The log's lines without their time stamps: "[LEVEL] text".
std::vector<std::string> LogLinesWithoutStamps(const std::string& log);

}  // namespace dormiscope::testing
