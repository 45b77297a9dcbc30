// A report that cannot be written is a failed run, told by its exit code.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "e2e_run.h"
#include "support/kernel_trace.h"

namespace dormiscope::testing {
namespace {

struct ReportFailure {
    std::string name;
    // Prepares the working directory and gives the -o value.
    std::function<std::string(const TemporaryDirectory&)> output;
    int exit_code;  // the low 8 bits a POSIX parent sees
    std::string standard_error;
    std::string error_line;
};

const std::vector<ReportFailure>& ReportFailures() {
    static const std::vector<ReportFailure> failures = {
        {"MissingDirectory", [](const TemporaryDirectory&) { return std::string("missing/report.json"); }, 3,
         "Failed to open file", "[ERROR] Failed to open file "},
        {"DirectoryIsAFile",
         [](const TemporaryDirectory& directory) {
             std::ofstream(directory / "plain") << "x";
             return std::string("plain/report.json");
         },
         3, "Failed to open file", "[ERROR] Failed to open file "},
        {"PathIsADirectory",
         [](const TemporaryDirectory& directory) {
             std::filesystem::create_directory(directory / "folder");
             return std::string("folder");
         },
         110, "Failed to open file", "[ERROR] Failed to open file "},
        {"DeviceIsFull", [](const TemporaryDirectory&) { return std::string("/dev/full"); }, 29,
         "Failed to write output file", "[ERROR] Failed to write output file"},
    };
    return failures;
}

void PrintTo(const ReportFailure& failure, std::ostream* out) {
    *out << failure.name;
}

// One thread, so the run gets as far as the report.
std::filesystem::path WriteTraceWithOneThread(const TemporaryDirectory& directory) {
    return KernelTrace().ProcessRundown(720, "app.exe").ThreadRundown(720, 96).Write(directory / "trace.etl");
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void ExpectFailedReport(const EndToEndRun& run, const ReportFailure& failure) {
    EXPECT_EQ(run.result.exit_code, failure.exit_code);
    EXPECT_EQ(run.result.standard_error, failure.standard_error);
    const std::vector<std::string> lines = LogLinesWithoutStamps(run.log);
    EXPECT_TRUE(HasLine(lines, failure.error_line)) << run.log;
    EXPECT_FALSE(HasLine(lines, "[INFO] Successfully Completed Histogram Computing")) << run.log;
}

class ReportFailureRun : public ::testing::TestWithParam<ReportFailure> {};

TEST_P(ReportFailureRun, EndsWithTheFailuresCodeAndNoSuccessLine) {
    const TemporaryDirectory directory;
    const auto trace = WriteTraceWithOneThread(directory);
    const std::string output = GetParam().output(directory);
    ExpectFailedReport(RunEmulated(directory, "GenuineVexor", {"-i", trace.string(), "-o", output}), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Paths, ReportFailureRun, ::testing::ValuesIn(ReportFailures()),
                         [](const ::testing::TestParamInfo<ReportFailure>& info) { return info.param.name; });

// Needs an account that file permissions apply to.
TEST(ReportFailureRunUnprivileged, ReadOnlyDirectoryIsAccessDenied) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not stop the superuser";
    }
    const TemporaryDirectory directory;
    const auto trace = WriteTraceWithOneThread(directory);
    const auto locked = directory / "locked";
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const EndToEndRun run = RunEmulated(directory, "GenuineVexor", {"-i", trace.string(), "-o", "locked/report.json"});
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    ExpectFailedReport(run, {"AccessDenied", {}, 5, "Failed to open file", "[ERROR] Failed to open file "});
}

}  // namespace
}  // namespace dormiscope::testing
