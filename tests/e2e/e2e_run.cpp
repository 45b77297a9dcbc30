#include "e2e_run.h"

#include <cctype>
#include <filesystem>
#include <sstream>
#include <string_view>

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
    return RunLauncher(directory, {{"DORMISCOPE_EMULATE_VENDOR", vendor}}, arguments);
}

EndToEndRun RunLauncher(const TemporaryDirectory& directory,
                        const std::vector<std::pair<std::string, std::string>>& environment,
                        const std::vector<std::string>& arguments) {
    return Finish(directory,
                  RunProcess(WithProgram(DORMISCOPE_LAUNCHER, arguments), directory.path(), environment));
}

namespace {

// "[Www Mmm dd hh:mm:ss yyyy]": the asctime layout between brackets.
bool StartsWithStamp(const std::string& line) {
    constexpr std::string_view shape = "[AAA AAA #9 99:99:99 9999]";
    if (line.size() < shape.size()) {
        return false;
    }
    for (std::size_t index = 0; index < shape.size(); ++index) {
        const char expected = shape[index];
        const auto actual = static_cast<unsigned char>(line[index]);
        const bool fits = expected == 'A'   ? std::isalpha(actual) != 0
                          : expected == '9' ? std::isdigit(actual) != 0
                          : expected == '#' ? actual == ' ' || (actual >= '1' && actual <= '3')
                                            : static_cast<char>(actual) == expected;
        if (!fits) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<std::string> LogLinesWithoutStamps(const std::string& log) {
    constexpr std::size_t kStampLength = 26;
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(StartsWithStamp(line) ? line.substr(kStampLength) : "UNSTAMPED " + line);
    }
    return lines;
}

}  // namespace dormiscope::testing
