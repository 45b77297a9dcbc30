// A run whose standard error is a terminal shows one progress line per pass
// and erases it; the same run with standard error captured prints nothing.
#include <gtest/gtest.h>

#include "e2e_run.h"
#include "support/kernel_trace.h"

namespace dormiscope::testing {
namespace {

// Long enough for each pass to look at the clock at least once.
std::filesystem::path BusyTrace(const TemporaryDirectory& directory) {
    KernelTrace trace;
    trace.ProcessRundown(100, "busy.exe").ThreadRundown(100, 8).ThreadRundown(100, 12);
    for (std::uint64_t index = 0; index < 70'000; ++index) {
        trace.ContextSwitch(1'000 + 20'000 * index, index % 2 == 0 ? 8 : 12, index % 2 == 0 ? 12 : 8);
    }
    return trace.Write(directory / "busy.etl");
}

TEST(ProgressLine, ShownAndErasedOnATerminalOnly) {
    TemporaryDirectory directory;
    const auto trace = BusyTrace(directory);
    const std::string command = std::string(DORMISCOPE_LAUNCHER) + " -i " + trace.string() + " -o report.json";
    const ProcessResult terminal =
        RunProcess({"/usr/bin/script", "-qfec", command, (directory / "typescript").string()}, directory.path(),
                   {{"DORMISCOPE_EMULATE_VENDOR", "GenuineVexor"}});
    ASSERT_EQ(terminal.exit_code, 0) << terminal.standard_output;
    const std::string screen = ReadFile(directory / "typescript");
    const auto first = screen.find("\rFirst pass:");
    const auto second = screen.find("\rSecond pass:");
    ASSERT_NE(first, std::string::npos) << screen;
    ASSERT_NE(second, std::string::npos) << screen;
    // Each pass ends by blanking its line and returning to its start.
    const std::string blanking = std::string(20, ' ') + "\r";
    EXPECT_LT(screen.find(blanking, first), second);
    EXPECT_NE(screen.find(blanking, second), std::string::npos);

    const EndToEndRun captured = RunEmulated(directory, "GenuineVexor", {"-i", trace.string(), "-o", "report.json"});
    EXPECT_EQ(captured.result.exit_code, 0);
    EXPECT_EQ(captured.result.standard_error, "");
}

}  // namespace
}  // namespace dormiscope::testing
