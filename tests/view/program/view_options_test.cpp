#include "view/program/view_options.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace dormiscope::view {
namespace {

using Request = ViewOptions::Request;

std::optional<ViewOptions> Parse(std::vector<std::wstring> arguments) {
    arguments.insert(arguments.begin(), L"dormiscope-view");
    return ParseViewOptions(arguments);
}

TEST(ViewOptionsTest, HelpAndVersionStandAloneAndSwitchesIgnoreLetterCase) {
    struct Case {
        std::vector<std::wstring> arguments;
        std::optional<Request> request;  // nothing: refused
    };
    const Case cases[] = {
        {{L"--help"}, Request::kHelp},
        {{L"-h"}, Request::kHelp},
        {{L"-H"}, Request::kHelp},
        {{L"--Version"}, Request::kVersion},
        {{L"--help", L"--version"}, std::nullopt},
        {{L"-i", L"t.etl", L"-o", L"w.html", L"--help"}, std::nullopt},
        {{L"-I", L"t.etl", L"-O", L"w.html", L"--JSON", L"w.json"}, Request::kRun},
        {{L"-i", L"t.etl", L"-o", L"w.html", L"-I", L"u.etl"}, std::nullopt},
        {{L"--versions"}, std::nullopt},
        {{L"-i", L"t.etl", L"-o", L"w.html", L"--symbols"}, std::nullopt},
        {{L"-i", L"t.etl", L"-o", L"w.html", L"--symbols", L""}, std::nullopt},
        {{L"-i", L"t.etl", L"--Symbols", L"s", L"-o", L"w.html", L"--SYMBOLS", L"s"}, Request::kRun},
    };
    for (const Case& test : cases) {
        const std::optional<ViewOptions> options = Parse(test.arguments);
        const std::wstring& first = test.arguments[0];
        ASSERT_EQ(options.has_value(), test.request.has_value()) << std::string(first.begin(), first.end());
        if (options) {
            EXPECT_EQ(options->request, *test.request);
        }
    }
    const std::optional<ViewOptions> run = Parse({L"-I", L"t.etl", L"-O", L"w.html", L"--JSON", L"w.json"});
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->trace_path, L"t.etl");
    EXPECT_EQ(run->page_path, L"w.html");
    EXPECT_EQ(run->json_path, L"w.json");
    EXPECT_TRUE(run->symbol_folders.empty());
}

TEST(ViewOptionsTest, SymbolFoldersRepeatInTheOrderGiven) {
    const std::optional<ViewOptions> options =
        Parse({L"--symbols", L"C:\\symbols", L"-i", L"t.etl", L"--SYMBOLS", L"/srv/pdb", L"-o", L"w.html",
               L"--Symbols", L"C:\\symbols"});
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->symbol_folders, (std::vector<std::wstring>{L"C:\\symbols", L"/srv/pdb", L"C:\\symbols"}));
}

}  // namespace
}  // namespace dormiscope::view
