#include "view/program/view_options.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace dormiscope::view {
namespace {

using Request = ViewOptions::Request;

ViewCommandLine Parse(std::vector<std::wstring> arguments) {
    arguments.insert(arguments.begin(), L"dormiscope-view");
    return ParseViewOptions(arguments);
}

TEST(ViewOptionsTest, HelpAndVersionStandAloneAndSwitchesIgnoreLetterCase) {
    struct Case {
        std::vector<std::wstring> arguments;
        std::optional<Request> request;  // nothing: refused
        std::string problem;             // the line shown before the usage when refused
    };
    const Case cases[] = {
        {{L"--help"}, Request::kHelp, ""},
        {{L"-h"}, Request::kHelp, ""},
        {{L"-H"}, Request::kHelp, ""},
        {{L"--Version"}, Request::kVersion, ""},
        {{L"--help", L"--version"}, std::nullopt, "--help goes alone"},
        {{L"-i", L"t.etl", L"-o", L"w.html", L"--help"}, std::nullopt, "--help goes alone"},
        {{L"-I", L"t.etl", L"-O", L"w.html", L"--JSON", L"w.json"}, Request::kRun, ""},
        {{L"-i", L"t.etl", L"-o", L"w.html", L"-I", L"u.etl"}, std::nullopt, "-I given twice"},
        {{L"-i", L"t.etl", L"-o", L"w.html", L"--json", L"a", L"--json", L"b"}, std::nullopt, "--json given twice"},
        {{L"--versions"}, std::nullopt, "unknown switch --versions"},
        {{L"-i", L"t.etl", L"-o", L"w.html", L"--colour", L"red"}, std::nullopt, "unknown switch --colour"},
        {{L"-i", L"t.etl", L"extra.etl", L"-o", L"w.html"}, std::nullopt, "stray argument extra.etl"},
        {{L"-i", L"t.etl", L"-o"}, std::nullopt, "-o needs a value"},
        {{L"-i", L"", L"-o", L"w.html"}, std::nullopt, "-i needs a value"},
        {{L"-i", L"t.etl", L"-o", L"w.html", L"--symbols"}, std::nullopt, "--symbols needs a value"},
        {{L"-i", L"t.etl", L"-o", L"w.html", L"--symbols", L""}, std::nullopt, "--symbols needs a value"},
        {{L"-i", L"t.etl"}, std::nullopt, "no page given (-o)"},
        {{L"-o", L"w.html"}, std::nullopt, "no trace given (-i)"},
        {{L"-i", L"t.etl", L"--Symbols", L"s", L"-o", L"w.html", L"--SYMBOLS", L"s"}, Request::kRun, ""},
        {{L"--Compare", L"a.etl", L"b.json", L"-o", L"c.html", L"--budget", L"b.json"}, Request::kRun, ""},
        {{L"--compare", L"a.etl", L"b.etl", L"-i", L"t.etl", L"-o", L"c.html"}, std::nullopt,
         "-i and --compare do not go together"},
        {{L"--compare", L"a", L"b", L"--compare", L"a", L"b", L"-o", L"c.html"}, std::nullopt, "--compare given twice"},
        {{L"-o", L"c.html", L"--compare", L"a.etl"}, std::nullopt, "--compare needs two values, BEFORE and AFTER"},
        {{L"--compare", L"a.etl", L"", L"-o", L"c.html"}, std::nullopt, "--compare needs two values, BEFORE and AFTER"},
        {{L"--compare", L"a.etl", L"b.etl", L"-o", L"c.html", L"--csv", L"t.csv"}, std::nullopt,
         "--csv goes with -i, not --compare"},
        {{L"--compare", L"a.etl", L"b.etl", L"-o", L"c.html", L"--folded", L"f.txt"}, std::nullopt,
         "--folded goes with -i, not --compare"},
        {{L"-i", L"t.etl", L"-o", L"w.html", L"--budget", L"b", L"--BUDGET", L"b"}, std::nullopt,
         "--BUDGET given twice"},
    };
    for (const Case& test : cases) {
        const ViewCommandLine parsed = Parse(test.arguments);
        std::string shown;
        for (const std::wstring& argument : test.arguments) {
            shown += std::string(argument.begin(), argument.end()) + " ";
        }
        ASSERT_EQ(parsed.options.has_value(), test.request.has_value()) << shown;
        EXPECT_EQ(parsed.problem, test.problem) << shown;
        if (parsed.options) {
            EXPECT_EQ(parsed.options->request, *test.request);
        }
    }
    const std::optional<ViewOptions> run = Parse({L"-I", L"t.etl", L"-O", L"w.html", L"--JSON", L"w.json"}).options;
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->trace_path, L"t.etl");
    EXPECT_EQ(run->page_path, L"w.html");
    EXPECT_EQ(run->json_path, L"w.json");
    EXPECT_TRUE(run->symbol_folders.empty());
    EXPECT_FALSE(run->comparing());
    const std::optional<ViewOptions> compare =
        Parse({L"-o", L"c.html", L"--compare", L"a.etl", L"b.json", L"--budget", L"budget.json"}).options;
    ASSERT_TRUE(compare.has_value());
    EXPECT_TRUE(compare->comparing());
    EXPECT_EQ(compare->before_path, L"a.etl");
    EXPECT_EQ(compare->after_path, L"b.json");
    EXPECT_EQ(compare->budget_path, L"budget.json");
}

TEST(ViewOptionsTest, ExportsTakeAFileAndTheFoldedStylesNeedTheFoldedFile) {
    struct Case {
        std::vector<std::wstring> extra;
        std::string problem;  // empty: accepted
        bool idle;
        bool off_wake;
    };
    const Case cases[] = {
        {{L"--folded", L"w.folded"}, "", false, false},
        {{L"--folded-idle", L"--FOLDED", L"w.folded", L"--folded-offwake"}, "", true, true},
        {{L"--folded", L"w.folded", L"--folded-offwake"}, "", false, true},
        {{L"--folded-idle"}, "--folded-idle needs --folded FILE", false, false},
        {{L"--folded-offwake", L"--csv", L"t.csv"}, "--folded-offwake needs --folded FILE", false, false},
        {{L"--folded", L"w.folded", L"--folded-idle", L"--folded-idle"}, "--folded-idle given twice", false, false},
        {{L"--folded"}, "--folded needs a value", false, false},
        {{L"--folded", L"a", L"--folded", L"b"}, "--folded given twice", false, false},
        {{L"--csv", L""}, "--csv needs a value", false, false},
        {{L"--csv", L"t.csv", L"--csv", L"u.csv"}, "--csv given twice", false, false},
    };
    for (const Case& test : cases) {
        std::vector<std::wstring> arguments = {L"-i", L"t.etl", L"-o", L"w.html"};
        arguments.insert(arguments.end(), test.extra.begin(), test.extra.end());
        const ViewCommandLine parsed = Parse(arguments);
        EXPECT_EQ(parsed.problem, test.problem);
        ASSERT_EQ(parsed.options.has_value(), test.problem.empty()) << test.problem;
        if (parsed.options) {
            EXPECT_EQ(parsed.options->folded_path, L"w.folded");
            EXPECT_EQ(parsed.options->folded_idle, test.idle);
            EXPECT_EQ(parsed.options->folded_off_wake, test.off_wake);
        }
    }
    const std::optional<ViewOptions> csv = Parse({L"-i", L"t.etl", L"--csv", L"t.csv", L"-o", L"w.html"}).options;
    ASSERT_TRUE(csv.has_value());
    EXPECT_EQ(csv->csv_path, L"t.csv");
    EXPECT_EQ(csv->folded_path, L"");
}

TEST(ViewOptionsTest, SymbolFoldersRepeatInTheOrderGiven) {
    const std::optional<ViewOptions> options =
        Parse({L"--symbols", L"C:\\symbols", L"-i", L"t.etl", L"--SYMBOLS", L"/srv/pdb", L"-o", L"w.html",
               L"--Symbols", L"C:\\symbols"})
            .options;
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->symbol_folders, (std::vector<std::wstring>{L"C:\\symbols", L"/srv/pdb", L"C:\\symbols"}));
}

}  // namespace
}  // namespace dormiscope::view
