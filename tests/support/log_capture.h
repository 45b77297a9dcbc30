// Points the process-wide log at a file of the test's own, at a given level.
#pragma once

#include <string>
#include <vector>

#include "support/temporary_directory.h"

namespace dormiscope::testing {

class LogCapture {
public:
    explicit LogCapture(const std::wstring& level_text = L"debug");
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Closes the log and returns its lines as "[LEVEL] text", without time stamps.
    std::vector<std::string> Lines();

private:
    TemporaryDirectory directory_;
};

}  // namespace dormiscope::testing
