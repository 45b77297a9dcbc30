#include "app/command_line.h"

#include <gtest/gtest.h>

namespace dormiscope {
namespace {

struct CommandLineCase {
    const char* name;
    std::vector<std::wstring> arguments;
    std::int32_t status;
    std::wstring input_path;
    std::wstring output_path;
    std::wstring log_level;
};

TEST(ParseCommandLineTest, FollowsTheSwitchRules) {
    const std::vector<CommandLineCase> cases = {
        {"no arguments", {}, 1639, L"", L"", L""},
        {"only the program path", {L"dormiscope"}, 1639, L"", L"", L""},
        {"both paths", {L"p", L"-i", L"a.etl", L"-o", L"r.json"}, 0, L"a.etl", L"r.json", L""},
        {"capital switches", {L"p", L"-I", L"a", L"-O", L"b", L"-D", L"debug"}, 0, L"a", L"b", L"debug"},
        {"only -i", {L"p", L"-i", L"a"}, 1639, L"a", L"", L""},
        {"-o and -d without -i", {L"p", L"-o", L"b", L"-d", L"info"}, 1639, L"", L"b", L"info"},
        {"unknown switch after a valid line", {L"p", L"-i", L"a", L"-o", L"b", L"-x", L"c"}, 1639, L"a", L"b", L""},
        {"stray path", {L"p", L"-i", L"a", L"b"}, 1639, L"a", L"", L""},
        {"-i last counts as seen", {L"p", L"-o", L"b", L"-i"}, 0, L"", L"b", L""},
        {"value of -i is -o", {L"p", L"-i", L"-o", L"x"}, 1639, L"-o", L"", L""},
        {"later value wins", {L"p", L"-i", L"a", L"-o", L"b", L"-i", L"c"}, 0, L"c", L"b", L""},
        {"level kept verbatim", {L"p", L"-i", L"a", L"-o", L"b", L"-d", L"DEBUG"}, 0, L"a", L"b", L"DEBUG"},
        {"switch compared whole", {L"p", L"-in", L"a", L"-o", L"b"}, 1639, L"", L"", L""},
    };
    for (const CommandLineCase& test : cases) {
        RunContext run;
        EXPECT_EQ(ParseCommandLine(static_cast<int>(test.arguments.size()), test.arguments, run), test.status)
            << test.name;
        EXPECT_EQ(run.input_path, test.input_path) << test.name;
        EXPECT_EQ(run.output_path, test.output_path) << test.name;
        EXPECT_EQ(run.log_level, test.log_level) << test.name;
    }
}

}  // namespace
}  // namespace dormiscope
