#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e_run.h"

namespace dormiscope::testing {
namespace {

using Environment = std::vector<std::pair<std::string, std::string>>;

constexpr int kLauncherFailure = 125;

bool KernelOffersCpuidFaulting() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string word; cpuinfo >> word;) {
        if (word == "cpuid_fault") {
            return true;
        }
    }
    return false;
}

TEST(LauncherEndToEnd, PrintsNothingOfItsOwnWhenItWorks) {
    const TemporaryDirectory directory;
    const EndToEndRun run = RunLauncher(directory, {}, {"-i", "a.etl"});
    EXPECT_EQ(run.result.exit_code, 1639 & 0xFF);
    EXPECT_EQ(run.result.standard_error, "");
    EXPECT_EQ(run.result.standard_output, "");
    EXPECT_FALSE(run.log_exists);
}

// Its own failures name their cause on one line and exit with a code the
// program never returns; the program does not run.
TEST(LauncherEndToEnd, ItsOwnFailuresExitWith125AndOneLine) {
    struct Case {
        Environment environment;
        std::string cause;
    };
    std::vector<Case> cases = {
        {{{"DORMISCOPE_EMULATE_VENDOR", "Vexor"}}, "12 bytes"},
        {{{"DORMISCOPE_EMULATE_VENDOR", "GenuineVexorX"}}, "12 bytes"},
        {{{"DORMISCOPE_EMULATE_VENDOR", "Made,UpVendr"}, {"DORMISCOPE_EMULATION", "qemu"}}, "comma"},
        {{{"DORMISCOPE_EMULATION", "hardware"}}, "cpuid-fault or qemu"},
    };
    if (!KernelOffersCpuidFaulting()) {
        cases.push_back({{{"DORMISCOPE_EMULATION", "cpuid-fault"}}, "no CPUID faulting"});
    }
    for (const Case& failure : cases) {
        const TemporaryDirectory directory;
        const EndToEndRun run = RunLauncher(directory, failure.environment, {"-i", "a.etl", "-o", "b.json"});
        EXPECT_EQ(run.result.exit_code, kLauncherFailure) << failure.cause;
        EXPECT_EQ(run.result.standard_error.rfind("bin/dormiscope: ", 0), 0U) << run.result.standard_error;
        EXPECT_NE(run.result.standard_error.find(failure.cause), std::string::npos) << run.result.standard_error;
        EXPECT_EQ(run.result.standard_error.find('\n'), run.result.standard_error.size() - 1)
            << run.result.standard_error;
        EXPECT_FALSE(run.log_exists) << failure.cause;
    }
}

// The loader splits LD_PRELOAD at spaces and colons, and a checkout may live
// in a folder whose name holds either: each way still gives the program the
// vendor text asked for. The checkout is reached through a link in that folder.
TEST(LauncherEndToEnd, RunsFromACheckoutPathWithASpaceOrAColon) {
    std::vector<std::string> ways = {"qemu"};
    if (KernelOffersCpuidFaulting()) {
        ways.emplace_back("cpuid-fault");
    }
    const std::filesystem::path checkout = std::filesystem::path(DORMISCOPE_LAUNCHER).parent_path().parent_path();
    for (const std::string folder : {"odd path", "odd:path"}) {
        const TemporaryDirectory outside;
        std::filesystem::create_directory(outside / folder);
        const std::filesystem::path linked_checkout = outside / folder / "dormiscope";
        std::filesystem::create_directory_symlink(checkout, linked_checkout);
        const std::string launcher = (linked_checkout / "bin" / "dormiscope").string();
        for (const std::string& way : ways) {
            for (const auto& [vendor, exit_code] : {std::pair{"GenuineVexor", 6}, std::pair{"AuthenticAMD", 255}}) {
                const TemporaryDirectory directory;
                const ProcessResult run =
                    RunProcess({launcher, "-i", "missing.etl", "-o", "b.json"}, directory.path(),
                               {{"DORMISCOPE_EMULATE_VENDOR", vendor}, {"DORMISCOPE_EMULATION", way}});
                EXPECT_EQ(run.exit_code, exit_code) << folder << ", " << way << ", " << vendor << ": "
                                                    << run.standard_error;
            }
        }
    }
}

// The native build with the preloaded library answering leaf 0: the
// program's own check sees the vendor text given, nothing else changes.
TEST(CpuidFaultingEndToEnd, TheNativeBuildSeesTheVendorTextGiven) {
    if (!KernelOffersCpuidFaulting()) {
        GTEST_SKIP() << "this kernel offers no CPUID faulting (no cpuid_fault flag in /proc/cpuinfo)";
    }
    struct Case {
        std::string vendor;
        int exit_code;
        std::string standard_error;
    };
    const std::vector<Case> cases = {
        {"GenuineVexor", 6, "6Failed in First Parsing"},
        {"AuthenticAMD", 255, "Incorrect target architecture"},
        {"MadeUpVendor", 255, "Incorrect target architecture"},
    };
    for (const Case& expected : cases) {
        const TemporaryDirectory directory;
        const EndToEndRun run =
            RunLauncher(directory,
                        {{"DORMISCOPE_EMULATE_VENDOR", expected.vendor}, {"DORMISCOPE_EMULATION", "cpuid-fault"}},
                        {"-i", "missing.etl", "-o", "b.json"});
        EXPECT_EQ(run.result.exit_code, expected.exit_code) << expected.vendor;
        EXPECT_EQ(run.result.standard_error, expected.standard_error) << expected.vendor;
        EXPECT_TRUE(run.log_exists) << expected.vendor;
    }
}

}  // namespace
}  // namespace dormiscope::testing
