// Whole runs on real Windows recordings and on the bundled idle-machine sample:
// dormiscope's report, and the wake page of the sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "e2e_run.h"
#include "report_json.h"

namespace dormiscope::testing {
namespace {

// What a report with no periodic thread holds.
constexpr char kEmptyReport[] = "{\"processes\":[\r\n]\r\n}\r\n";

struct RecordedSample {
    std::string file;
    int processes;  // "Process list size : "
    int threads;    // "List of Threads Ids: "
    int exit_code;
    std::string standard_error;
    std::vector<std::string> listed_processes;  // lines of the listing that must be there
};

// None of these recordings holds context switches: the ones with threads give
// an empty report, the one without threads stops before the report.
const std::vector<RecordedSample>& RecordedSamples() {
    static const std::vector<RecordedSample> samples = {
        {"win10-shutdown-perfdiag.etl", 94, 1525, 0, "", {}},
        {"win10-diaghub-kernel.etl", 241, 0, 1, "Processing failed as ThreadList size is zero", {}},
        {"win7-relogger-merged.etl", 48, 655, 0, "", {"Process Name :test.exeProcess ID :1980"}},
        {"win8-relogger-compressed.etl",
         33,
         679,
         0,
         "",
         {"Process Name :IdleProcess ID :0", "Process Name :SystemProcess ID :4", "Process Name :smss.exeProcess ID :456",
          "Process Name :csrss.exeProcess ID :576", "Process Name :csrss.exeProcess ID :624"}},
    };
    return samples;
}

void PrintTo(const RecordedSample& sample, std::ostream* out) {
    *out << sample.file;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class RecordedSampleRun : public ::testing::TestWithParam<RecordedSample> {};

TEST_P(RecordedSampleRun, ListsTheModelAndEndsWithTheExpectedCode) {
    const RecordedSample& sample = GetParam();
    const std::filesystem::path trace = std::filesystem::path(DORMISCOPE_SAMPLES_DIR) / sample.file;
    if (!std::filesystem::exists(trace)) {
        GTEST_SKIP() << trace << " is not there";
    }
    const TemporaryDirectory directory;
    const EndToEndRun run =
        RunEmulated(directory, "GenuineVexor", {"-i", trace.string(), "-o", "report.json", "-d", "debug"});

    EXPECT_EQ(run.result.exit_code, sample.exit_code);
    EXPECT_EQ(run.result.standard_error, sample.standard_error);
    const std::vector<std::string> lines = LogLinesWithoutStamps(run.log);
    EXPECT_TRUE(HasLine(lines, "[DEBUG] Process list size : " + std::to_string(sample.processes)));
    EXPECT_TRUE(HasLine(lines, "[DEBUG] List of Threads Ids: " + std::to_string(sample.threads)));
    for (const std::string& listed : sample.listed_processes) {
        EXPECT_TRUE(HasLine(lines, "[DEBUG] " + listed)) << listed;
    }
    if (sample.exit_code == 0) {
        EXPECT_EQ(ReadFile(directory / "report.json"), kEmptyReport);
        EXPECT_TRUE(HasLine(lines, "[INFO] Successfully Completed Histogram Computing"));
    } else {
        EXPECT_FALSE(std::filesystem::exists(directory / "report.json"));
    }
}

INSTANTIATE_TEST_SUITE_P(Recordings, RecordedSampleRun, ::testing::ValuesIn(RecordedSamples()),
                         [](const ::testing::TestParamInfo<RecordedSample>& info) {
                             std::string name = info.param.file.substr(0, info.param.file.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

struct PeriodicThread {
    std::u16string process_name;
    std::string pid;
    std::string thread_id;
    std::string periodicity;
};

// The timer-driven threads of tools/make_sample/idle_machine.scenario. The
// 15.625 ms timer falls in the 15 ms bucket; the 1 ms audio thread keeps only
// its sleeps of at least 1 ms, which still make it a 1 ms thread.
const std::vector<PeriodicThread>& TimerDrivenThreads() {
    static const std::vector<PeriodicThread> threads = {
        {u"System", "4", "148", "1000ms"},      {u"System", "4", "152", "15ms"},
        {u"lsass.exe", "796", "804", "100ms"},  {u"audiodg.exe", "1344", "1348", "1ms"},
        {u"Telemetry.exe", "4410", "4414", "15ms"}, {u"Telemetry.exe", "4410", "4418", "100ms"},
    };
    return threads;
}

TEST(IdleMachineSample, ReportNamesEveryTimerDrivenThreadWithItsPeriod) {
    const std::filesystem::path trace = DORMISCOPE_IDLE_MACHINE_SAMPLE;
    if (!std::filesystem::exists(trace)) {
        GTEST_SKIP() << trace << " is not there; the idle_machine_sample target writes it";
    }
    const TemporaryDirectory directory;
    const EndToEndRun run = RunEmulated(directory, "GenuineVexor", {"-i", trace.string(), "-o", "report.json"});
    ASSERT_EQ(run.result.exit_code, 0) << run.result.standard_error;
    EXPECT_EQ(run.result.standard_error, "");

    const std::string report = ReadFile(directory / "report.json");
    EXPECT_TRUE(std::all_of(report.begin(), report.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), std::count(report.begin(), report.end(), '\r'));
    const auto threads = ReportedThreads(report);
    ASSERT_TRUE(threads.has_value()) << "not a report:\n" << report;

    const std::vector<PeriodicThread>& expected = TimerDrivenThreads();
    for (const PeriodicThread& periodic : expected) {
        const auto found = std::find_if(threads->begin(), threads->end(), [&](const ReportedThread& thread) {
            return thread.thread_id == periodic.thread_id && thread.pid == periodic.pid;
        });
        ASSERT_NE(found, threads->end()) << "thread " << periodic.thread_id << " is not reported";
        EXPECT_TRUE(found->process_name == periodic.process_name) << periodic.thread_id;
        EXPECT_EQ(found->periodicity, periodic.periodicity) << periodic.thread_id;
    }
}

std::string Narrow(const std::u16string& text) {
    return {text.begin(), text.end()};
}

// The first page a user sees shows everything the view can: no notes on
// missing or unusable events, where each timer-driven thread waits and what
// readies it (the kernel's timer DPC), and the DPC and interrupt routines.
TEST(IdleMachineSample, PageShowsWhereThreadsWaitAndWhatReadiesThem) {
    const std::filesystem::path trace = DORMISCOPE_IDLE_MACHINE_SAMPLE;
    if (!std::filesystem::exists(trace)) {
        GTEST_SKIP() << trace << " is not there; the idle_machine_sample target writes it";
    }
    const TemporaryDirectory directory;
    const ProcessResult run = RunProcess(
        {DORMISCOPE_VIEW_BINARY, "-i", trace.string(), "-o", "wakes.html", "--json", "wakes.json"}, directory.path());
    ASSERT_EQ(run.exit_code, 0) << run.standard_error;
    const std::string page = ReadFile(directory / "wakes.html");
    EXPECT_EQ(page.find("id=\"coverage\""), std::string::npos);
    EXPECT_EQ(page.find("id=\"notes\""), std::string::npos);
    const auto document = ParseJson(ReadFile(directory / "wakes.json"));
    ASSERT_TRUE(document.has_value());
    const JsonValue& figures = *document->Member(u"trace");
    EXPECT_TRUE(figures.Member(u"coverage")->items.empty());
    EXPECT_TRUE(figures.Member(u"notes")->items.empty());
    EXPECT_TRUE(figures.Member(u"processors_without_events")->items.empty());

    const JsonValue& code = *figures.Member(u"code");
    const auto count = [&code](std::u16string_view key) { return Narrow(code.Member(key)->text); };
    for (const std::u16string_view recorded : {u"images", u"image_identities", u"stacks", u"dpcs", u"interrupts"}) {
        EXPECT_NE(count(recorded), "0") << Narrow(std::u16string(recorded));
    }
    EXPECT_EQ(count(u"stacks_matched"), count(u"stacks"));
    EXPECT_EQ(count(u"readies_from_dpc_not_recorded"), "0");
    std::set<std::string> routine_kinds;
    for (const JsonValue& routine : figures.Member(u"routines")->items) {
        routine_kinds.insert(Narrow(routine.Member(u"kind")->text));
    }
    EXPECT_EQ(routine_kinds, (std::set<std::string>{"dpc", "interrupt", "timer_dpc"}));

    for (const PeriodicThread& periodic : TimerDrivenThreads()) {
        const JsonValue* found = nullptr;
        for (const JsonValue& process : document->Member(u"processes")->items) {
            for (const JsonValue& thread : process.Member(u"threads")->items) {
                if (Narrow(process.Member(u"pid")->text) == periodic.pid &&
                    Narrow(thread.Member(u"tid")->text) == periodic.thread_id) {
                    found = &thread;
                }
            }
        }
        ASSERT_NE(found, nullptr) << "thread " << periodic.thread_id;
        EXPECT_FALSE(found->Member(u"wait_stacks")->items.empty()) << periodic.thread_id;
        EXPECT_FALSE(found->Member(u"readying_stacks")->items.empty()) << periodic.thread_id;
        const JsonValue& readier = found->Member(u"readiers")->items.at(0);
        EXPECT_EQ(Narrow(readier.Member(u"kind")->text), "dpc") << periodic.thread_id;
        EXPECT_TRUE(Narrow(readier.Member(u"routine")->text).starts_with("ntoskrnl.exe+")) << periodic.thread_id;
    }
}

// With the PDBs built with the sample, every frame in one of its own programs
// reads module!function+0xN, the symbols summary counts those programs and
// lists none of their PDBs as missing, and the page still opens without a
// banner.
TEST(IdleMachineSample, PageNamesTheProgramsFramesFromThePdbsBuiltWithIt) {
    const std::filesystem::path trace = DORMISCOPE_IDLE_MACHINE_SAMPLE;
    const std::filesystem::path symbols = DORMISCOPE_IDLE_MACHINE_SYMBOLS;
    if (!std::filesystem::exists(trace) || !std::filesystem::is_directory(symbols)) {
        GTEST_SKIP() << trace << " or " << symbols << " is not there; the idle_machine_sample target writes them "
                     << "where clang and lld-link are installed";
    }
    std::set<std::string> programs;
    std::set<std::string> program_pdbs;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(symbols)) {
        if (entry.path().extension() == ".exe") {
            programs.insert(entry.path().filename().string());
            program_pdbs.insert(entry.path().stem().string() + ".pdb");
        }
    }
    ASSERT_FALSE(programs.empty());

    const TemporaryDirectory directory;
    const ProcessResult run = RunProcess({DORMISCOPE_VIEW_BINARY, "-i", trace.string(), "-o", "wakes.html", "--json",
                                          "wakes.json", "--symbols", symbols.string()},
                                         directory.path());
    ASSERT_EQ(run.exit_code, 0) << run.standard_error;
    const std::string page = ReadFile(directory / "wakes.html");
    EXPECT_EQ(page.find("id=\"coverage\""), std::string::npos);
    EXPECT_EQ(page.find("id=\"notes\""), std::string::npos);
    EXPECT_NE(page.find("Telemetry.exe!RunTimerLoop+0x"), std::string::npos);
    const auto document = ParseJson(ReadFile(directory / "wakes.json"));
    ASSERT_TRUE(document.has_value());

    // The module a frame names, before its '!' or '+'.
    std::set<std::string> named_programs;
    std::size_t program_frames = 0;
    const std::set<std::string> functions = {"RunTimerLoop", "RunEventLoop", "ProcessWorkItem",
                                             "WaitForConfigurationChange"};
    for (const JsonValue& process : document->Member(u"processes")->items) {
        for (const JsonValue& thread : process.Member(u"threads")->items) {
            for (const std::u16string_view kind : {u"wait_stacks", u"readying_stacks"}) {
                for (const JsonValue& stack : thread.Member(kind)->items) {
                    for (const JsonValue& frame : stack.Member(u"frames")->items) {
                        const std::string text = Narrow(frame.text);
                        const std::string module = text.substr(0, text.find_first_of("!+"));
                        if (!programs.contains(module)) {
                            continue;
                        }
                        ++program_frames;
                        const std::size_t bang = text.find('!');
                        const std::size_t plus = text.find("+0x");
                        ASSERT_TRUE(bang != std::string::npos && plus != std::string::npos && bang < plus) << text;
                        EXPECT_TRUE(functions.contains(text.substr(bang + 1, plus - bang - 1))) << text;
                        named_programs.insert(module);
                    }
                }
            }
        }
    }
    EXPECT_GT(program_frames, 0U);
    EXPECT_TRUE(named_programs.contains("Telemetry.exe"));

    const JsonValue& summary = *document->Member(u"trace")->Member(u"symbols");
    for (const JsonValue& missing : summary.Member(u"missing")->items) {
        const std::string pdb = Narrow(missing.Member(u"pdb")->text);
        EXPECT_FALSE(program_pdbs.contains(pdb)) << pdb;
    }
    EXPECT_TRUE(summary.Member(u"unreadable")->items.empty());
    // Every module of a stack is counted once: named, missing or without an
    // identity. The page lists the busiest stacks only, so it may show fewer
    // of the named programs than the summary counts.
    const std::size_t modules = std::stoul(Narrow(summary.Member(u"modules")->text));
    const std::size_t with_symbols = std::stoul(Narrow(summary.Member(u"modules_with_symbols")->text));
    EXPECT_GE(with_symbols, named_programs.size());
    EXPECT_EQ(modules, with_symbols + summary.Member(u"missing")->items.size() +
                           summary.Member(u"without_identity")->items.size());
}

}  // namespace
}  // namespace dormiscope::testing
