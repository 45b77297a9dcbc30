#include <gtest/gtest.h>

#include "e2e_run.h"

namespace dormiscope::testing {
namespace {

TEST(CommandLineEndToEnd, RefusedLinesExitWith1639AndLeaveNoTrace) {
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"-i", "a.etl"},
        {"-o", "b.json", "-d", "debug"},
        {"-i", "a", "-o", "b", "-x", "c"},
        {"-i", "a", "b"},
        {"-i", "-o", "x"},
    };
    for (const auto& arguments : refused) {
        const TemporaryDirectory directory;
        const EndToEndRun run = RunNative(directory, arguments);
        // A POSIX exit status keeps the low 8 bits of the code: 1639 arrives as 103.
        EXPECT_EQ(run.result.exit_code, 1639 & 0xFF) << arguments.size();
        EXPECT_FALSE(run.log_exists);
        EXPECT_EQ(run.result.standard_output, "");
        EXPECT_EQ(run.result.standard_error, "");
    }
}

TEST(VendorCheckEndToEnd, AnotherVendorIsRefusedWithMinusOne) {
    const TemporaryDirectory directory;
    const EndToEndRun run = RunEmulated(directory, "AuthenticAMD", {"-i", "a.etl", "-o", "b.json"});
    EXPECT_EQ(run.result.exit_code, 255);
    EXPECT_EQ(run.result.standard_error, "Incorrect target architecture");
    EXPECT_EQ(run.result.standard_output, "");
    const std::vector<std::string> expected = {
        "[INFO] Parsing Process and Thread records...",
        "[INFO] Incorrect target architecture : GenuineVexor",
        "[ERROR] Incorrect target architecture! Exiting",
    };
    EXPECT_EQ(LogLinesWithoutStamps(run.log), expected);
}

TEST(VendorCheckEndToEnd, TheAcceptedVendorGoesOnToTheFirstPass) {
    const TemporaryDirectory directory;
    const EndToEndRun run = RunEmulated(directory, "GenuineVexor", {"-I", "missing.etl", "-O", "b.json"});
    EXPECT_EQ(run.result.exit_code, 6);
    EXPECT_EQ(run.result.standard_error, "6Failed in First Parsing");
    const std::vector<std::string> expected = {
        "[INFO] Parsing Process and Thread records...",
        "[INFO] Correct target architecture! Exiting",
        "[ERROR] ERROR_INVALID_HANDLE ",
        "[INFO] First Parsing End ",
    };
    EXPECT_EQ(LogLinesWithoutStamps(run.log), expected);
}

TEST(VendorCheckEndToEnd, InputSwitchWithoutValueRunsTheFirstPassOnAnEmptyPath) {
    const TemporaryDirectory directory;
    const EndToEndRun run = RunEmulated(directory, "GenuineVexor", {"-o", "b.json", "-i"});
    EXPECT_EQ(run.result.exit_code, 6);
    EXPECT_EQ(run.result.standard_error, "6Failed in First Parsing");
}

}  // namespace
}  // namespace dormiscope::testing
