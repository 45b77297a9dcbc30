#include "e2e_run.h"

#include <filesystem>
#include <regex>
#include <sstream>

namespace dormiscope::testing {
namespace {

EndToEndRun Finish(const TemporaryDirectory& directory, ProcessResult result) {
    EndToEndRun run;
    run.result = std::move(result);
    const auto log_path = directory / "dormiscope.log";
    run.log_exists = std::filesystem::exists(log_path);
    if (run.log_exists) {
        run.log = ReadFile(log_path);
    }
    return run;
}

std::vector<std::string> WithProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

}  // namespace

EndToEndRun RunNative(const TemporaryDirectory& directory, const std::vector<std::string>& arguments) {
    return Finish(directory, RunProcess(WithProgram(DORMISCOPE_NATIVE_BINARY, arguments), directory.path()));
}

EndToEndRun RunEmulated(const TemporaryDirectory& directory, const std::string& vendor,
                const std::vector<std::string>& arguments) {
    return Finish(directory, RunProcess(WithProgram(DORMISCOPE_LAUNCHER, arguments), directory.path(),
                                        {{"DORMISCOPE_EMULATE_VENDOR", vendor}}));
}

std::vector<std::string> LogLinesWithoutStamps(const std::string& log) {
    static const std::regex stamp(R"(^\[[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] \d\d:\d\d:\d\d \d{4}\])");
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        std::smatch match;
        lines.push_back(std::regex_search(line, match, stamp) ? line.substr(match.length(0)) : "UNSTAMPED " + line);
    }
    return lines;
}

}  // namespace dormiscope::testing
