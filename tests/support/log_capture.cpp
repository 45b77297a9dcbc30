#include "support/log_capture.h"

#include <sstream>

#include "log/logger.h"

namespace dormiscope::testing {

LogCapture::LogCapture(const std::wstring& level_text) {
    Logger& log = Logger::Instance();
    log.Close();
    log.pending_lines.clear();
    log.pending_levels.clear();
    log.file_name = (directory_ / "test.log").string();
    log.time_source = [] { return std::string("STAMP"); };
    log.Configure(level_text);
    log.Open();
}

LogCapture::~LogCapture() {
    Logger& log = Logger::Instance();
    log.Close();
    log.time_source = CurrentTimeText;
}

std::vector<std::string> LogCapture::Lines() {
    Logger::Instance().Close();
    std::istringstream in(ReadFile(directory_ / "test.log"));
    std::vector<std::string> lines;
    const std::string stamp = "[STAMP]";
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line.rfind(stamp, 0) == 0 ? line.substr(stamp.size()) : line);
    }
    return lines;
}

}  // namespace dormiscope::testing
