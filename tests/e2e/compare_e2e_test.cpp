// dormiscope-view --compare on pairs of written traces worked out by hand, a
// document standing in for its trace, the inputs refused, and --budget's
// exit codes on both sides of each rule.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "e2e_run.h"
#include "report_json.h"
#include "etl_writer/code_events.h"
#include "platform/kernel_event_classes.h"
#include "support/kernel_trace.h"

namespace dormiscope::testing {
namespace {

constexpr std::uint32_t kIdle = 0;
constexpr std::uint64_t kSecond = 10'000'000;

// A trace of threads that each wake from idle on a processor of their own.
class PairTrace {
public:
    PairTrace() { trace_.ProcessRundown(0, "Idle").ThreadRundown(0, kIdle); }

    PairTrace& Process(std::uint32_t pid, const std::string& name, const std::u16string& command_line) {
        etl::ProcessFields fields;
        fields.ProcessId = pid;
        fields.ParentId = 4;
        fields.ImageFileName = name;
        fields.CommandLine = command_line;
        trace_.Process(kOpcodeDCStart, 4, fields, 0);
        return *this;
    }
    PairTrace& Image(std::uint32_t pid, std::uint64_t base, const std::u16string& path) {
        const etl::ImageFields fields{.ImageBase = base, .ImageSize = 0x10000, .ProcessId = pid, .FileName = path};
        trace_.Add(etl::ImageEvent(0, 0, kOpcodeImageDCStart, kImageVersion, 8, fields), 0);
        return *this;
    }
    // A thread starting at `start` (0: the writer's default, in no module), named when `name` is given.
    PairTrace& Thread(std::uint32_t pid, std::uint32_t tid, std::uint64_t start = 0, const std::u16string& name = {}) {
        etl::ThreadFields fields;
        fields.ProcessId = pid;
        fields.TThreadId = tid;
        if (start != 0) {
            fields.Win32StartAddr = start;
        }
        trace_.Add(etl::ThreadEvent(0, 0, kOpcodeDCStart, name.empty() ? 3 : 4, 8, fields, name), 0);
        return *this;
    }
    // `count` wakes spread evenly over `length`, each from idle, 10 µs on the processor.
    PairTrace& Wakes(std::uint32_t tid, std::uint32_t processor, std::uint64_t count, std::uint64_t length) {
        for (std::uint64_t wake = 0; wake < count; ++wake) {
            const std::uint64_t at = (wake + 1) * (length / count) - 200;
            trace_.Add(etl::CSwitchEvent(processor, 0, {.NewThreadId = tid, .OldThreadId = kIdle, .PreviousCState = 1}),
                       at);
            trace_.Add(etl::CSwitchEvent(processor, 0, {.NewThreadId = kIdle, .OldThreadId = tid}), at + 100);
        }
        return *this;
    }
    // The last event, on a processor no thread uses: the recording's length.
    std::filesystem::path Write(const std::filesystem::path& file, std::uint64_t length) {
        trace_.Add(etl::CSwitchEvent(7, 0, {.NewThreadId = kIdle, .OldThreadId = kIdle}), length);
        return trace_.Write(file);
    }

private:
    KernelTrace trace_;
};

constexpr std::uint64_t kAppBaseBefore = 0x7FF6'1000'0000;
constexpr std::uint64_t kAppBaseAfter = 0x7FF7'4230'0000;
constexpr std::uint64_t kWorkerOffset = 0x1500;

// One second: app.exe's worker 64 wakes/s, two svchost.exe, gone.exe.
std::filesystem::path WriteBefore(const std::filesystem::path& file) {
    return PairTrace()
        .Process(700, "app.exe", u"C:\\app\\app.exe")
        .Image(700, kAppBaseBefore, u"\\Device\\HarddiskVolume3\\app\\app.exe")
        .Thread(700, 710, kAppBaseBefore + kWorkerOffset)
        .Process(800, "svchost.exe", u"svchost.exe -k netsvcs")
        .Thread(800, 810, 0, u"timer")
        .Process(900, "svchost.exe", u"svchost.exe -k LocalService")
        .Thread(900, 910, 0, u"timer")
        .Process(950, "gone.exe", u"gone.exe")
        .Thread(950, 960)
        .Wakes(710, 1, 64, kSecond)
        .Wakes(810, 2, 10, kSecond)
        .Wakes(910, 3, 20, kSecond)
        .Wakes(960, 4, 10, kSecond)
        .Write(file, kSecond);
}

// Two seconds, every pid and tid another, app.exe at another base, the two
// svchost.exe listed the other way round: the worker at 1 000 wakes/s,
// new.exe instead of gone.exe.
std::filesystem::path WriteAfter(const std::filesystem::path& file) {
    return PairTrace()
        .Process(1900, "svchost.exe", u"svchost.exe -k LocalService")
        .Thread(1900, 1910, 0, u"timer")
        .Process(1800, "svchost.exe", u"svchost.exe -k netsvcs")
        .Thread(1800, 1810, 0, u"timer")
        .Process(1700, "app.exe", u"C:\\app\\app.exe")
        .Image(1700, kAppBaseAfter, u"\\Device\\HarddiskVolume3\\app\\app.exe")
        .Thread(1700, 1710, kAppBaseAfter + kWorkerOffset)
        .Process(1950, "new.exe", u"new.exe")
        .Thread(1950, 1960)
        .Wakes(1710, 1, 2000, 2 * kSecond)
        .Wakes(1810, 2, 20, 2 * kSecond)
        .Wakes(1910, 3, 40, 2 * kSecond)
        .Wakes(1960, 4, 30, 2 * kSecond)
        .Write(file, 2 * kSecond);
}

ProcessResult RunView(const TemporaryDirectory& directory, const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {DORMISCOPE_VIEW_BINARY};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunProcess(all, directory.path());
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Text(const JsonValue* value) {
    EXPECT_NE(value, nullptr);
    if (value == nullptr || value->kind == JsonValue::Kind::Null) {
        return "null";
    }
    return std::string(value->text.begin(), value->text.end());
}

// A row as one line: name [command line] status before → after change ratio noise.
std::string RowLine(const JsonValue& row, std::u16string_view name_key) {
    const JsonValue* command_line = row.Member(u"command_line");
    std::string line = Text(row.Member(name_key));
    if (command_line != nullptr && command_line->kind == JsonValue::Kind::String) {
        line += " [" + Text(command_line) + "]";
    }
    return line + " " + Text(row.Member(u"status")) + " " + Text(row.Member(u"before_per_s")) + " -> " +
           Text(row.Member(u"after_per_s")) + " " + Text(row.Member(u"change_per_s")) + " " +
           Text(row.Member(u"ratio")) + " " + Text(row.Member(u"beyond_noise"));
}

std::vector<std::string> ProcessLines(const JsonValue& document) {
    std::vector<std::string> lines;
    for (const JsonValue& process : document.Member(u"processes")->items) {
        lines.push_back(RowLine(process, u"name"));
        for (const JsonValue& group : process.Member(u"threads")->items) {
            lines.push_back("  " + Text(group.Member(u"key_kind")) + ":" + RowLine(group, u"key") + " " +
                            Text(group.Member(u"threads_before")) + "/" + Text(group.Member(u"threads_after")));
        }
    }
    return lines;
}

class CompareTest : public ::testing::Test {
protected:
    void SetUp() override {
        before_ = WriteBefore(directory_.path() / "before.etl");
        after_ = WriteAfter(directory_.path() / "after.etl");
    }
    TemporaryDirectory directory_;
    std::filesystem::path before_;
    std::filesystem::path after_;
};

TEST_F(CompareTest, LinesUpProcessesAndThreadsByWhatStaysTheSameWithTheHandFigures) {
    const ProcessResult run =
        RunView(directory_, {"--compare", "before.etl", "after.etl", "-o", "compare.html", "--json", "compare.json"});
    ASSERT_EQ(run.exit_code, 0) << run.standard_error;
    const std::optional<JsonValue> document = ParseJson(ReadFile(directory_.path() / "compare.json"));
    ASSERT_TRUE(document.has_value());
    EXPECT_EQ(Text(document->Member(u"format")), "dormiscope-comparison");
    // app.exe's worker: 64 in 1 s, then 2 000 in 2 s; new.exe 30 in 2 s; gone.exe 10 in 1 s; each svchost.exe
    // keeps its rate (10/s and 20/s) and is told apart by its command line.
    const std::vector<std::string> expected = {
        "app.exe [C:\\app\\app.exe] both 64.000 -> 1000.000 936.000 15.625 true",
        "  start:app.exe+0x1500 both 64.000 -> 1000.000 936.000 15.625 true 1/1",
        "new.exe [new.exe] new 0.000 -> 15.000 15.000 null true",
        "  none: new 0.000 -> 15.000 15.000 null true 0/1",
        "svchost.exe [svchost.exe -k LocalService] both 20.000 -> 20.000 0.000 1.000 false",
        "  name:timer both 20.000 -> 20.000 0.000 1.000 false 1/1",
        "svchost.exe [svchost.exe -k netsvcs] both 10.000 -> 10.000 0.000 1.000 false",
        "  name:timer both 10.000 -> 10.000 0.000 1.000 false 1/1",
        "gone.exe [gone.exe] gone 10.000 -> 0.000 -10.000 0.000 true",
        "  none: gone 10.000 -> 0.000 -10.000 0.000 true 1/0",
    };
    EXPECT_EQ(ProcessLines(*document), expected);
    const JsonValue* before = document->Member(u"before");
    const JsonValue* after = document->Member(u"after");
    EXPECT_EQ(Text(before->Member(u"duration_ms")), "1000.0000");
    EXPECT_EQ(Text(after->Member(u"duration_ms")), "2000.0000");
    EXPECT_EQ(Text(before->Member(u"wakes_per_s")), "104.000");
    EXPECT_EQ(Text(after->Member(u"wakes_per_s")), "1045.000");
    EXPECT_EQ(Text(document->Member(u"wakes")->Member(u"beyond_noise")), "true");
    EXPECT_TRUE(document->Member(u"notes")->items.empty());
    // The worker got worse: its stacks would be listed, but these traces record none.
    EXPECT_TRUE(document->Member(u"processes")->items[0].Member(u"threads")->items[0].Member(u"wait_stacks")
                    ->items.empty());
    const std::string page = ReadFile(directory_.path() / "compare.html");
    EXPECT_NE(page.find("\"format\":\"dormiscope-comparison\""), std::string::npos);
    EXPECT_EQ(page.find("{{"), std::string::npos);
}

TEST_F(CompareTest, AStoredDocumentGivesWhatItsTraceGives) {
    ASSERT_EQ(RunView(directory_, {"-i", "before.etl", "-o", "b.html", "--json", "before.json"}).exit_code, 0);
    ASSERT_EQ(RunView(directory_, {"-i", "after.etl", "-o", "a.html", "--json", "after.json"}).exit_code, 0);
    ASSERT_EQ(RunView(directory_, {"--compare", "before.etl", "after.etl", "-o", "c.html", "--json", "traces.json"})
                  .exit_code,
              0);
    ASSERT_EQ(RunView(directory_, {"--compare", "before.json", "after.etl", "-o", "c.html", "--json", "mixed.json"})
                  .exit_code,
              0);
    ASSERT_EQ(RunView(directory_, {"--compare", "before.etl", "after.json", "-o", "c.html", "--json", "docs.json"})
                  .exit_code,
              0);
    const std::string traces = ReadFile(directory_.path() / "traces.json");
    EXPECT_EQ(ReadFile(directory_.path() / "mixed.json"), traces);
    EXPECT_EQ(ReadFile(directory_.path() / "docs.json"), traces);
}

TEST_F(CompareTest, AMissingOrForeignSideIsRefusedAndNothingIsWritten) {
    ASSERT_EQ(RunView(directory_, {"--compare", "before.etl", "after.etl", "-o", "c.html", "--json", "other.json"})
                  .exit_code,
              0);
    std::ofstream(directory_.path() / "broken.json") << "{\"format\":\"dormiscope-wakes\",";
    struct Case {
        std::string before;
        std::string message;
    };
    const Case cases[] = {
        {"missing.etl", "dormiscope-view: cannot read missing.etl: no such file\n"},
        {"other.json",
         "dormiscope-view: cannot read the document other.json: the document: the format is "
         "\"dormiscope-comparison\", not \"dormiscope-wakes\"\n"},
        {"broken.json", "dormiscope-view: cannot read the document broken.json: not JSON: "},
    };
    for (const Case& test : cases) {
        const ProcessResult run =
            RunView(directory_, {"--compare", test.before, "after.etl", "-o", "out.html", "--json", "out.json"});
        EXPECT_EQ(run.exit_code, 3) << test.before;
        EXPECT_EQ(run.standard_error.substr(0, test.message.size()), test.message);
        EXPECT_FALSE(std::filesystem::exists(directory_.path() / "out.html")) << test.before;
        EXPECT_FALSE(std::filesystem::exists(directory_.path() / "out.json")) << test.before;
    }
}

// Two recordings of one workload that differ only by counting noise.
TEST(CompareNoise, NothingIsMarkedBeyondNoise) {
    TemporaryDirectory directory;
    PairTrace()
        .Process(700, "app.exe", u"app.exe")
        .Thread(700, 710, 0, u"busy")
        .Thread(700, 720, 0, u"slow")
        .Wakes(710, 1, 1000, kSecond)
        .Wakes(720, 2, 100, kSecond)
        .Write(directory.path() / "before.etl", kSecond);
    PairTrace()
        .Process(1700, "app.exe", u"app.exe")
        .Thread(1700, 1710, 0, u"busy")
        .Thread(1700, 1720, 0, u"slow")
        .Wakes(1710, 1, 1050, kSecond)
        .Wakes(1720, 2, 88, kSecond)
        .Write(directory.path() / "after.etl", kSecond);
    ASSERT_EQ(RunView(directory, {"--compare", "before.etl", "after.etl", "-o", "c.html", "--json", "c.json"})
                  .exit_code,
              0);
    const std::string json = ReadFile(directory.path() / "c.json");
    EXPECT_EQ(json.find("\"beyond_noise\":true"), std::string::npos) << json;
    EXPECT_NE(json.find("\"beyond_noise\":false"), std::string::npos);
}

struct BudgetCase {
    std::string name;
    std::string budget;
    bool compare;
    int exit_code;
    std::string standard_error;  // the budget's lines; for exit 2, the start of the message
};

class Budget : public CompareTest, public ::testing::WithParamInterface<BudgetCase> {};

TEST_P(Budget, ExitsAndSaysWhatIsBroken) {
    const BudgetCase& test = GetParam();
    std::ofstream(directory_.path() / "budget.json") << test.budget;
    std::vector<std::string> arguments = {"-o", "out.html", "--json", "out.json", "--budget", "budget.json"};
    if (test.compare) {
        arguments.insert(arguments.end(), {"--compare", "before.etl", "after.etl"});
    } else {
        arguments.insert(arguments.end(), {"-i", "after.etl"});
    }
    const ProcessResult run = RunView(directory_, arguments);
    EXPECT_EQ(run.exit_code, test.exit_code) << ReadFile(directory_.path() / "out.json");
    if (test.exit_code == 2) {
        EXPECT_EQ(run.standard_error.substr(0, test.standard_error.size()), test.standard_error);
        EXPECT_FALSE(std::filesystem::exists(directory_.path() / "out.html"));
        return;
    }
    EXPECT_EQ(run.standard_error, test.standard_error);
    const std::string page = ReadFile(directory_.path() / "out.html");
    ASSERT_TRUE(std::filesystem::exists(directory_.path() / "out.json"));
    EXPECT_NE(page.find(test.exit_code == 0 ? "Every rule of the budget is kept." : "Budget broken"),
              std::string::npos);
}

// The later recording: 1 045 wakes/s, all from idle; svchost.exe 30/s; the
// periods 50 ms (LocalService) and 100 ms (netsvcs, new.exe), the worker's
// intervals being under the 1 ms that periods start at. Compared, app.exe
// rose 1 462.5 % and new.exe is new.
INSTANTIATE_TEST_SUITE_P(
    Rules, Budget,
    ::testing::Values(
        BudgetCase{"wakes_kept", R"({"wakes_per_s": 1045})", false, 0, ""},
        BudgetCase{"wakes_broken", R"({"wakes_per_s": 1044.5})", false, 5,
                   "dormiscope-view: budget broken: wakes_per_s: limit 1044.5, measured 1045\n"},
        BudgetCase{"idle_kept", R"({"idle_wakes_per_s": 1045})", true, 0, ""},
        BudgetCase{"idle_broken", R"({"idle_wakes_per_s": 1000})", true, 5,
                   "dormiscope-view: budget broken: idle_wakes_per_s: limit 1000, measured 1045\n"},
        BudgetCase{"process_kept", R"({"processes": {"svchost.exe": {"wakes_per_s": 30}, "x.exe": {"wakes_per_s": 0}}})",
                   false, 0, ""},
        BudgetCase{"process_broken", R"({"processes": {"svchost.exe": {"wakes_per_s": 29.9}}})", false, 5,
                   "dormiscope-view: budget broken: processes[\"svchost.exe\"].wakes_per_s: limit 29.9, measured 30\n"},
        BudgetCase{"period_kept", R"({"shortest_period_ms": 50})", false, 0, ""},
        BudgetCase{"period_broken", R"({"shortest_period_ms": 100.5})", false, 5,
                   "dormiscope-view: budget broken: shortest_period_ms: limit 100.5, measured 50 (svchost.exe pid "
                   "1900, thread 1910, and 2 more threads)\n"},
        BudgetCase{"increase_broken", R"({"max_increase_percent": 1000000, "wakes_per_s": 2000})", true, 5,
                   "dormiscope-view: budget broken: max_increase_percent: limit 1000000, measured new.exe: new (0 "
                   "to 15 wakes/s), and 1 more rows\n"},
        BudgetCase{"two_broken", R"({"wakes_per_s": 1, "max_increase_percent": 10})", true, 5,
                   "dormiscope-view: budget broken: wakes_per_s: limit 1, measured 1045\n"
                   "dormiscope-view: budget broken: max_increase_percent: limit 10, measured new.exe: new (0 to 15 "
                   "wakes/s), and 3 more rows\n"},
        BudgetCase{"unknown_key", R"({"wakes_per_second": 1})", false, 2,
                   "dormiscope-view: the budget budget.json is refused: wakes_per_second: not a rule of a budget"},
        BudgetCase{"wrong_type", R"({"processes": {"a.exe": {"wakes_per_s": "5"}}})", false, 2,
                   "dormiscope-view: the budget budget.json is refused: processes.a.exe.wakes_per_s: expected a "
                   "number"},
        BudgetCase{"increase_without_compare", R"({"max_increase_percent": 5})", false, 2,
                   "dormiscope-view: the budget budget.json is refused: max_increase_percent: holds only with "
                   "--compare\n"}),
    [](const ::testing::TestParamInfo<BudgetCase>& info) { return info.param.name; });

}  // namespace
}  // namespace dormiscope::testing
