// The collector and the figures on hand-fed events, for what a written trace
// cannot easily show: time stamps that go backwards, far processor numbers,
// threads the model does not know, and the percentiles' ranks.
#include "view/collect/wake_collector.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "platform/kernel_event_classes.h"
#include "view/collect/build_figures.h"

namespace dormiscope::view {
namespace {

constexpr std::uint32_t kIdle = 0;
constexpr std::uint32_t kPid = 720;
constexpr std::uint32_t kThread = 96;

class CollectorTest : public ::testing::Test {
protected:
    CollectorTest() {
        ProcessEventData process;
        WriteField(process.fixedPart, process_field::kProcessId, kPid);
        process.text2 = "app.exe";
        model_.AddProcess(process);
        ThreadPayload thread{};
        WriteField(thread, thread_field::kProcessId, kPid);
        WriteField(thread, thread_field::kTThreadId, kThread);
        model_.AddThread(thread, 0);
    }

    // The figures of thread 96 after the given switches into and out of it on processor 0.
    ThreadFigures FiguresAfter(const std::vector<std::pair<std::int64_t, bool>>& switches_in_and_out) {
        auto collector = std::make_unique<WakeCollector>(model_);
        collector->SetWindow({0, 10'000'000});
        for (const auto& [time, in] : switches_in_and_out) {
            collector->ContextSwitch(0, time, in ? kThread : kIdle, in ? kIdle : kThread, 1);
        }
        WakeReading reading;
        reading.header.processors = 1;
        reading.collector = std::move(collector);
        reading.duration = 10'000'000;
        ModuleOffsetNames frame_names;
        const TraceFigures figures = BuildFigures(model_, 10'000'000, reading, frame_names);
        EXPECT_EQ(figures.processes.size(), 1U);
        return figures.processes.front().threads.front();
    }

    TraceModel model_;
};

TEST_F(CollectorTest, PercentilesAreNearestRanksOfTheOffProcessorTimes) {
    struct Case {
        std::vector<std::int64_t> gaps;  // off-processor times, in order
        std::uint64_t p10, median, p90;
    };
    const std::vector<Case> cases = {
        {{700}, 700, 700, 700},
        {{900, 100}, 100, 100, 900},
        {{5, 9, 1, 7, 3, 10, 2, 8, 4, 6}, 1, 5, 9},
        {{50, 50, 10, 50, 50, 50, 50, 50, 50, 50, 90}, 50, 50, 50},
    };
    for (const Case& test_case : cases) {
        std::vector<std::pair<std::int64_t, bool>> switches = {{100, true}, {200, false}};
        std::int64_t now = 200;
        for (const std::int64_t gap : test_case.gaps) {
            now += gap;
            switches.push_back({now, true});
            now += 10;
            switches.push_back({now, false});
        }
        const ThreadFigures figures = FiguresAfter(switches);
        ASSERT_TRUE(figures.intervals.has_value());
        EXPECT_EQ(figures.intervals->count, test_case.gaps.size());
        EXPECT_EQ(figures.intervals->p10, test_case.p10);
        EXPECT_EQ(figures.intervals->median, test_case.median);
        EXPECT_EQ(figures.intervals->p90, test_case.p90);
        EXPECT_EQ(figures.on_processor, 100 + 10 * test_case.gaps.size());
    }
}

TEST_F(CollectorTest, TimeGoingBackwardsAddsNoTimeAndNoInterval) {
    const ThreadFigures figures = FiguresAfter({{1'000, true}, {500, false}, {400, true}, {-5, false}});
    EXPECT_EQ(figures.wakes, 2U);
    EXPECT_EQ(figures.on_processor, 0U);
    EXPECT_FALSE(figures.intervals.has_value());
    ASSERT_EQ(figures.timeline.size(), kTimelineSlices);
    EXPECT_EQ(figures.timeline.front(), 2U) << "both wakes lie in the first slice of the window";
}

// Stamps at the ends of the 64-bit range: their differences do not fit a
// signed number, and a wake far past a short window is in its last slice.
TEST_F(CollectorTest, FarStampsGiveExactTimesAndTheLastSlice) {
    constexpr std::int64_t kFarPast = std::numeric_limits<std::int64_t>::min() + 1;
    constexpr std::int64_t kFarFuture = std::numeric_limits<std::int64_t>::max();
    WakeCollector collector(model_);
    collector.SetWindow({-10, 10});
    collector.ContextSwitch(0, kFarPast, kThread, kIdle, 1);
    collector.ContextSwitch(0, 30'000'000, kIdle, kThread, 1);
    collector.ContextSwitch(0, kFarFuture, kThread, kIdle, 1);
    const ThreadWakes* thread = collector.WakesOf(*model_.ThreadIndex.Find(kThread));
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread->on_processor, std::uint64_t{30'000'000} - static_cast<std::uint64_t>(kFarPast));
    ASSERT_EQ(thread->timeline.size(), kTimelineSlices);
    EXPECT_EQ(thread->timeline.front(), 1U);
    EXPECT_EQ(thread->timeline.back(), 1U);
}

// A stack whose event time converts to the far past names no event, not an
// empty place in the processor's list of recent ones.
TEST_F(CollectorTest, AStackAtTheFarPastMatchesNoEvent) {
    WakeCollector collector(model_);
    collector.SetClock(TimeConverter::Create({.clock_type = 2, .start_time = 0, .reference_raw = 0}));
    collector.ContextSwitch(0, 1'000, kThread, kIdle, 1);
    StackEventData stack;
    stack.opcode = kOpcodeStack;
    stack.EventTimeStamp = std::uint64_t{1} << 63;
    stack.frames = {0x1234};
    collector.Stack(0, stack);
    EXPECT_EQ(collector.stacks().counts().stacks, 1U);
    EXPECT_EQ(collector.stacks().counts().matched, 0U);
    EXPECT_EQ(collector.stacks().counts().unmatched, 1U);
}

TEST_F(CollectorTest, FarProcessorsUnknownThreadsAndEmptyWindowsAreCountedWithoutFigures) {
    WakeCollector collector(model_);
    collector.SetWindow({1'000, 0});
    collector.ContextSwitch(65'535, 5'000, kThread, kIdle, 7);
    collector.ContextSwitch(65'535, 6'000, 4'242, kThread, 0);
    collector.ReadyThread(40'000, {.TimeStamp = 6'500, .TThreadId = 4'242});
    collector.ContextSwitch(3, 7'000, 4'242, kIdle, 2);
    EXPECT_EQ(collector.context_switches(), 3U);
    EXPECT_EQ(collector.wakes(), 3U);
    EXPECT_EQ(collector.idle_wakes(), 2U);
    const std::vector<std::uint64_t> by_processor = collector.IdleWakesByProcessor();
    ASSERT_EQ(by_processor.size(), 65'536U);
    EXPECT_EQ(by_processor[65'535], 1U);
    EXPECT_EQ(by_processor[3], 1U);
    const ThreadWakes* thread = collector.WakesOf(*model_.ThreadIndex.Find(kThread));
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread->on_processor, 1'000U);
    EXPECT_EQ(thread->idle_wakes_by_cstate.at(7), 1U);
    EXPECT_EQ(thread->timeline.front(), 1U) << "a window of no length puts every wake in its first slice";
}

}  // namespace
}  // namespace dormiscope::view
