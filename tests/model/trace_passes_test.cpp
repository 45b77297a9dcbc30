#include "model/trace_passes.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "etl_writer/trace_clock.h"
#include "support/kernel_trace.h"
#include "support/log_capture.h"

namespace dormiscope {
namespace {

using testing::KernelTrace;
using testing::LogCapture;
using testing::TemporaryDirectory;

// Both passes over a written trace, as the driver runs them.
class TracePassesTest : public ::testing::Test {
protected:
    void RunBothPasses(const KernelTrace& trace) {
        run_.input_path = trace.Write(directory_ / "trace.etl").wstring();
        ASSERT_EQ(FirstPassParsing(run_), 0U);
        ASSERT_EQ(SecondPassParsing(run_), 0U);
    }

    std::vector<std::string> LinesContaining(const std::string& text) {
        std::vector<std::string> found;
        for (const std::string& line : log_.Lines()) {
            if (line.find(text) != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }

    const ThreadEntry& ThreadWithSequence(std::uint64_t sequence) { return *run_.model.ThreadList.at(sequence); }

    TemporaryDirectory directory_;
    LogCapture log_;
    RunContext run_;
};

TEST_F(TracePassesTest, ThreadBeforeItsProcessIsDroppedWithoutUsingASequence) {
    RunBothPasses(KernelTrace().ThreadRundown(720, 10, 10).ProcessRundown(720, "app.exe", 20).ThreadRundown(720, 11, 30));
    ASSERT_EQ(run_.model.ThreadList.size(), 1U);
    EXPECT_EQ(ThreadWithSequence(0).TThreadId, 11U);
    EXPECT_EQ(run_.model.next_sequence, 1U);
    EXPECT_EQ(LinesContaining("Unknown process"), std::vector<std::string>{"[INFO] Warning: Unknown process: 720"});
}

TEST_F(TracePassesTest, RepeatedProcessIdKeepsTheFirstName) {
    RunBothPasses(KernelTrace().ProcessRundown(4, "System", 1).ProcessRundown(4, "Other", 2).ThreadRundown(4, 8, 3));
    ASSERT_EQ(run_.model.ProcessList.size(), 1U);
    EXPECT_EQ(run_.model.ProcessList.at(4).ImageFileName, "System");
    EXPECT_EQ(run_.model.ProcessList.at(4).threads.size(), 1U);
}

TEST_F(TracePassesTest, RepeatedThreadIdMakesANewEntryThatTheIndexPointsTo) {
    RunBothPasses(KernelTrace()
                      .ProcessRundown(4, "System", 1)
                      .ProcessRundown(720, "app.exe", 2)
                      .ThreadRundown(4, 8, 3)
                      .ThreadRundown(720, 8, 4)
                      .ContextSwitch(200'000, 8, 0));
    ASSERT_EQ(run_.model.ThreadList.size(), 2U);
    EXPECT_EQ(ThreadWithSequence(0).ProcessId, 4U);
    EXPECT_EQ(ThreadWithSequence(1).ProcessId, 720U);
    EXPECT_EQ(run_.model.ThreadIndex.Find(8), &ThreadWithSequence(1));
    EXPECT_TRUE(ThreadWithSequence(0).periods.empty());
    EXPECT_EQ(ThreadWithSequence(1).periods, std::vector<std::uint64_t>{200'000});
}

TEST_F(TracePassesTest, KeepsIntervalsWithinBothBoundsOnly) {
    struct Case {
        std::uint64_t off_processor;
        bool kept;
    };
    const std::vector<Case> cases = {{9'999, false}, {10'000, true}, {150'000, true}, {10'000'000, true},
                                     {10'000'001, false}};
    KernelTrace trace;
    trace.ProcessRundown(4, "System").ThreadRundown(4, 8).ThreadRundown(4, 9);
    std::uint64_t at = 20'000'000;  // the first switch-in, from the trace start, is out of bounds
    std::vector<std::uint64_t> expected;
    for (const Case& test : cases) {
        trace.ContextSwitch(at, 8, 9).ContextSwitch(at + 1, 9, 8);
        at += 1 + test.off_processor;
        if (test.kept) {
            expected.push_back(test.off_processor);
        }
    }
    trace.ContextSwitch(at, 8, 9);
    RunBothPasses(trace);
    EXPECT_EQ(run_.model.ThreadIndex.Find(8)->periods, expected);
}

TEST_F(TracePassesTest, FirstSwitchInCountsFromTheTraceStartAndSameThreadInAndOut) {
    RunBothPasses(KernelTrace()
                      .ProcessRundown(4, "System")
                      .ThreadRundown(4, 8)
                      .ContextSwitch(15'000, 8, 8)
                      .ContextSwitch(40'000, 8, 8));
    const ThreadEntry& thread = *run_.model.ThreadIndex.Find(8);
    EXPECT_EQ(thread.periods, (std::vector<std::uint64_t>{15'000, 25'000}));
    EXPECT_EQ(thread.last_switch_out, static_cast<std::uint64_t>(etl::TraceOptions{}.start_time + 40'000));
}

TEST_F(TracePassesTest, UnknownThreadsAreLoggedIncomingFirst) {
    RunBothPasses(KernelTrace().ProcessRundown(4, "System").ThreadRundown(4, 8).ContextSwitch(100, 99, 98).ContextSwitch(
        200, 8, 97));
    const std::vector<std::string> expected = {
        "[INFO] CSwitchEvent: Unknown Thread. ThreadID: 99",
        "[INFO] CSwitchEvent: Unknown Thread. ThreadID: 98",
        "[INFO] CSwitchEvent: Unknown Thread. ThreadID: 97",
    };
    EXPECT_EQ(LinesContaining("Unknown Thread"), expected);
}

TEST_F(TracePassesTest, ProcessesAndThreadsCreatedDuringTheRecordingJoinTheModel) {
    RunBothPasses(KernelTrace()
                      .ProcessRundown(4, "System")
                      .ThreadRundown(4, 8)
                      .ContextSwitch(100, 30, 8)
                      .ProcessStart(720, "late.exe", 1'000)
                      .ThreadStart(720, 30, 2'000)
                      .ThreadStart(4, 31, 2'500)
                      .ContextSwitch(200'000, 30, 8)
                      .ThreadEnd(720, 30, 300'000)
                      .ProcessEnd(720, "late.exe", 400'000));
    EXPECT_EQ(run_.model.ProcessList.at(720).ImageFileName, "late.exe");
    ASSERT_EQ(run_.model.ThreadList.size(), 3U);
    EXPECT_EQ(run_.model.ThreadIndex.Find(30)->sequence, 1U);
    EXPECT_EQ(run_.model.ThreadIndex.Find(30)->periods, std::vector<std::uint64_t>{200'000});
    EXPECT_EQ(LinesContaining("Unknown Thread"), std::vector<std::string>{"[INFO] CSwitchEvent: Unknown Thread. ThreadID: 30"});
    const auto names = LinesContaining("Process Name :");
    EXPECT_NE(std::find(names.begin(), names.end(), "[DEBUG] Process Name :late.exeProcess ID :720"), names.end());
}

TEST_F(TracePassesTest, ListingCountsProcessesAndThreadRegistrations) {
    KernelTrace trace;
    trace.ProcessRundown(4, "System").ProcessRundown(8, "a.exe").ProcessRundown(12, "b.exe");
    for (std::uint32_t thread = 0; thread < 7; ++thread) {
        trace.ThreadRundown(4 * (1 + thread % 3), 100 + thread % 5);
    }
    RunBothPasses(trace);
    EXPECT_EQ(LinesContaining("Process list size"), std::vector<std::string>{"[DEBUG] Process list size : 3"});
    EXPECT_EQ(LinesContaining("Total No of Processes"), std::vector<std::string>{"[DEBUG] Total No of Processes : 3"});
    EXPECT_EQ(LinesContaining("List of Threads Ids"), std::vector<std::string>{"[DEBUG] List of Threads Ids: 7"});
    EXPECT_EQ(LinesContaining("Thread Id :").size(), 7U);
    EXPECT_EQ(LinesContaining("First Parsing End"), std::vector<std::string>{"[INFO] First Parsing End "});
}

TEST_F(TracePassesTest, TraceLengthComesFromTheHeaderAndMayWrap) {
    struct Case {
        std::int64_t end_offset;
        std::uint64_t duration;
        const char* logged;
    };
    const std::vector<Case> cases = {{125'000'000, 125'000'000, "[DEBUG] Length: 12.500000 seconds "},
                                     {-1, ~std::uint64_t{0}, "[DEBUG] Length: 1844674407370.955078 seconds "}};
    for (const Case& test : cases) {
        etl::TraceOptions options;
        options.end_time = options.start_time + test.end_offset;
        TemporaryDirectory directory;
        LogCapture log;
        RunContext run;
        run.input_path = KernelTrace(options).ProcessRundown(4, "System").ThreadRundown(4, 8).Write(directory / "t.etl").wstring();
        ASSERT_EQ(FirstPassParsing(run), 0U);
        EXPECT_EQ(run.trace_duration, test.duration);
        EXPECT_EQ(run.model.ThreadList.at(0)->trace_duration, test.duration);
        const auto lines = log.Lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), test.logged), lines.end()) << test.logged;
    }
}

TEST_F(TracePassesTest, OtherLayoutsAreReadByPropertyName) {
    struct Case {
        const char* name;
        std::uint32_t pointer_size;
        std::uint16_t process_version;
        std::uint16_t thread_version;
    };
    const std::vector<Case> cases = {
        {"64-bit, process v3 (no Flags)", 8, 3, 3}, {"32-bit, process v4", 4, 4, 3}, {"32-bit, process v3", 4, 3, 2},
        {"64-bit, process v5, thread v4", 8, 5, 4}, {"64-bit, process v0, thread v0", 8, 0, 0},
    };
    for (const Case& test : cases) {
        etl::TraceOptions options;
        options.pointer_size = test.pointer_size;
        etl::ProcessFields process;
        process.ProcessId = 1980;
        process.ParentId = 1732;
        process.SessionId = 2;
        process.ImageFileName = "test.exe";
        process.CommandLine = u"test.exe";
        etl::ThreadFields thread;
        thread.ProcessId = 1980;
        thread.TThreadId = 2044;
        TemporaryDirectory directory;
        RunContext run;
        run.input_path = KernelTrace(options)
                             .Process(kOpcodeDCStart, test.process_version, process, 1)
                             .Thread(kOpcodeDCStart, test.thread_version, thread, 2)
                             .Write(directory / "t.etl")
                             .wstring();
        ASSERT_EQ(FirstPassParsing(run), 0U) << test.name;
        ASSERT_EQ(run.model.ProcessList.size(), 1U) << test.name;
        const ProcessEntry& entry = run.model.ProcessList.begin()->second;
        EXPECT_EQ(entry.ProcessId, 1980U) << test.name;
        EXPECT_EQ(entry.ImageFileName, "test.exe") << test.name;
        if (test.process_version > 0) {
            EXPECT_EQ(entry.ParentId, 1732U) << test.name;
        }
        ASSERT_EQ(run.model.ThreadList.size(), 1U) << test.name;
        EXPECT_EQ(run.model.ThreadList.at(0)->TThreadId, 2044U) << test.name;
        EXPECT_EQ(run.model.ThreadList.at(0)->ProcessId, 1980U) << test.name;
    }
}

TEST_F(TracePassesTest, EventsCutShortAreSkippedNotAttributedToIdZero) {
    KernelTrace trace;
    trace.ProcessRundown(0, "Idle").ThreadRundown(0, 0);
    etl::Event short_thread = etl::ThreadEvent(0, 0, kOpcodeDCStart, 3, 8, {});
    short_thread.payload.resize(6);
    trace.Add(short_thread, 10);
    etl::Event short_switch = etl::CSwitchEvent(0, 0, 0, 0);
    short_switch.payload.resize(6);
    trace.Add(short_switch, 200'000);
    RunBothPasses(trace);
    EXPECT_EQ(run_.model.ThreadList.size(), 1U);
    EXPECT_TRUE(run_.model.ThreadIndex.Find(0)->periods.empty());
}

}  // namespace
}  // namespace dormiscope
