// etwdump on a trace damaged inside a buffer: every event before the damage
// is printed, in order, and the exit code still reports the damage.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/kernel_trace.h"
#include "support/process_runner.h"
#include "support/temporary_directory.h"
#include "support/trace_damage.h"

namespace dormiscope::testing {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(EtwdumpDamagedTrace, PrintsEveryEventBeforeTheDamage) {
    const TemporaryDirectory directory;
    etl::TraceOptions options;
    options.processors = 2;
    options.buffer_size = 4096;
    KernelTrace trace(options);
    trace.ProcessRundown(500, "svc.exe", 10);
    for (std::uint32_t index = 0; index < 8; ++index) {
        trace.ContextSwitch(20 + index, 600, 0, 0).ContextSwitch(20 + index, 600, 0, 1);
    }
    const auto path = trace.Write(directory / "trace.etl");
    const ProcessResult intact = RunProcess({DORMISCOPE_ETWDUMP_BINARY, path.string()}, directory.path());
    ASSERT_EQ(intact.exit_code, 0) << intact.standard_error;

    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    ASSERT_TRUE(ZeroEventSize(bytes, options.buffer_size, 1, 4));
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const ProcessResult damaged = RunProcess({DORMISCOPE_ETWDUMP_BINARY, path.string()}, directory.path());

    // 1392 (the file is corrupt), as a shell sees it.
    EXPECT_EQ(damaged.exit_code, 1392 & 0xFF);
    std::vector<std::string> expected;
    int processor_one = 0;
    for (const std::string& line : Lines(intact.standard_output)) {
        if (line.find("\"processor\":1,") == std::string::npos || processor_one++ < 4) {
            expected.push_back(line);
        }
    }
    EXPECT_EQ(processor_one, 8);
    EXPECT_EQ(Lines(damaged.standard_output), expected);
}

// A refused command line names its problem on the line before the usage.
TEST(EtwdumpCommandLine, NamesTheProblemBeforeTheUsage) {
    struct Case {
        std::vector<std::string> arguments;
        std::string problem;
    };
    const Case cases[] = {
        {{"--summary", "--frobnicate", "t.etl"}, "unknown switch --frobnicate"},
        {{"--summary", "--Summary", "t.etl"}, "--Summary given twice"},
        {{"--table", "--summary", "t.etl"}, "--summary and --table exclude each other"},
        {{"a.etl", "b.etl"}, "stray argument b.etl"},
        {{"--summary"}, "no trace given"},
        {{"t.etl", "--version"}, "--version goes alone"},
    };
    const TemporaryDirectory directory;
    for (const Case& test : cases) {
        std::vector<std::string> command = {DORMISCOPE_ETWDUMP_BINARY};
        command.insert(command.end(), test.arguments.begin(), test.arguments.end());
        const ProcessResult run = RunProcess(command, directory.path());
        EXPECT_EQ(run.exit_code, 2) << test.problem;
        EXPECT_EQ(run.standard_error, "etwdump: " + test.problem + "\nusage: etwdump [--summary | --table] <file.etl>\n");
    }
}

}  // namespace
}  // namespace dormiscope::testing
