// The timer-resolution requests on hand-fed records, for what the golden
// traces do not show: a request only the closing rundown names, a rundown
// that disagrees with the request seen, the kernel's request from a rundown,
// repeated requests of one resolution, and where a process's name comes from.
#include "view/collect/timer_requests.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/kernel_power_events.h"

namespace dormiscope::view {
namespace {

constexpr std::uint64_t kSecond = 10'000'000;
constexpr std::int64_t kStart = 1'000'000;

TimerResolutionEventData Record(std::uint16_t id, std::uint64_t at, std::uint32_t pid, std::uint32_t requested,
                                const std::u16string& app = u"\\Device\\HarddiskVolume2\\app.exe") {
    TimerResolutionEventData record;
    record.id = id;
    record.TimeStamp = kStart + static_cast<std::int64_t>(at);
    record.Pid = pid;
    record.Requested = requested;
    record.AppName = app;
    return record;
}

struct Fed {
    TimerResolutionEventData record;
    std::uint64_t idle_wakes;
};

TimerResolutionFigures FiguresOf(const std::vector<Fed>& events, std::uint64_t idle_wakes,
                                 const TraceModel& model = TraceModel()) {
    TimerRequests requests;
    requests.SetWindow({kStart, 10 * kSecond});
    for (const Fed& fed : events) {
        requests.Event(fed.record, fed.idle_wakes);
    }
    requests.Finish(idle_wakes);
    ModuleMaps modules;
    ModuleOffsetNames names;
    return requests.Figures(model, modules, names);
}

TEST(TimerRequests, ARequestOnlyTheClosingRundownNamesWasHeldFromTheStart) {
    const TimerResolutionFigures figures =
        FiguresOf({{Record(kEventTimeResolutionRequestRundown, 10 * kSecond, 1300, 10'000), 7}}, 7);
    ASSERT_EQ(figures.requests.size(), 1U);
    const TimerRequestFigure& request = figures.requests.front();
    EXPECT_EQ(request.name, L"app.exe");
    EXPECT_TRUE(request.held_at_start);
    EXPECT_TRUE(request.held_at_end);
    ASSERT_EQ(request.holds.size(), 1U);
    EXPECT_EQ(request.holds.front().held, 10 * kSecond);
    ASSERT_EQ(figures.effective.size(), 1U);
    EXPECT_EQ(figures.effective.front().resolution, 10'000U);
    EXPECT_DOUBLE_EQ(*figures.idle_wakes_per_second_at_finest, 0.7);
    EXPECT_FALSE(figures.idle_wakes_per_second_otherwise.has_value());
}

TEST(TimerRequests, TheRundownsWordStandsAndRepeatsDoNotSplitAHold) {
    const TimerResolutionFigures figures = FiguresOf(
        {
            {Record(kEventTimeResolutionChange, 1 * kSecond, 1200, 10'000), 0},
            {Record(kEventTimeResolutionChange, 2 * kSecond, 1200, 10'000), 0},
            // The closing rundown says 0.5 ms: the process changed it unseen.
            {Record(kEventTimerResolutionStackRundown, 6 * kSecond, 1200, 5'000), 0},
        },
        0);
    ASSERT_EQ(figures.requests.size(), 1U);
    const TimerRequestFigure& request = figures.requests.front();
    EXPECT_EQ(request.changes, 2U);
    EXPECT_FALSE(request.held_at_start);
    ASSERT_EQ(request.holds.size(), 2U);
    EXPECT_EQ(request.holds[0].resolution, 5'000U);
    EXPECT_EQ(request.holds[0].held, 4 * kSecond);
    EXPECT_EQ(request.holds[1].resolution, 10'000U);
    EXPECT_EQ(request.holds[1].held, 5 * kSecond);
}

TEST(TimerRequests, TheKernelsOutstandingRequestAndTheCoarsestPeriodComeFromTheRundown) {
    TimerResolutionEventData rundown = Record(kEventTimeResolutionRundown, 0, 0, 0);
    rundown.MaximumPeriod = 100'000;
    rundown.KernelRequestCount = 1;
    rundown.KernelRequestedPeriod = 20'000;
    const TimerResolutionFigures figures = FiguresOf(
        {{rundown, 0}, {Record(kEventTimeResolutionKernelChange, 5 * kSecond, 0, 0), 0}}, 0);
    EXPECT_TRUE(figures.requests.empty()) << "the kernel is no process";
    ASSERT_EQ(figures.effective.size(), 2U);
    EXPECT_EQ(figures.effective[0].resolution, 20'000U);
    EXPECT_EQ(figures.effective[1].at, 5 * kSecond);
    EXPECT_EQ(figures.effective[1].resolution, 100'000U);
    ASSERT_EQ(figures.kernel_changes.size(), 1U);
    EXPECT_EQ(figures.kernel_changes.front().requested, 0U);
}

TEST(TimerRequests, AProcessTheModelKnowsIsNamedByIt) {
    TraceModel model;
    ProcessEventData process;
    WriteField(process.fixedPart, process_field::kProcessId, std::uint32_t{1200});
    process.text2 = "game.exe";
    model.AddProcess(process);
    const TimerResolutionFigures figures =
        FiguresOf({{Record(kEventTimeResolutionChange, kSecond, 1200, 10'000, u"\\Device\\X\\launcher.exe"), 0}},
                  0, model);
    ASSERT_EQ(figures.requests.size(), 1U);
    EXPECT_EQ(figures.requests.front().name, L"game.exe");
}

}  // namespace
}  // namespace dormiscope::view
