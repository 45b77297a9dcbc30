#include "etw/timer_resolution_records.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "etl_writer/timer_resolution_events.h"
#include "platform/kernel_power_events.h"
#include "support/for_each_event.h"
#include "support/kernel_trace.h"
#include "support/temporary_directory.h"

namespace dormiscope {
namespace {

using testing::ForEachEvent;
using testing::KernelTrace;
using testing::TemporaryDirectory;

struct ReadBack {
    std::vector<TimerResolutionEventData> records;
    std::vector<TimerResolutionRead> outcomes;
};

ReadBack ReadPowerEvents(const std::filesystem::path& path) {
    ReadBack back;
    ForEachEvent(path, [&](const EVENT_RECORD& event) {
        if (SameGuid(event.EventHeader.ProviderId, kKernelPowerProvider)) {
            back.outcomes.push_back(ReadTimerResolutionEvent(event, back.records.emplace_back()));
        }
    });
    return back;
}

// Every field of every layout, written by the trace writer's own builders and
// read back, with 4-byte addresses widened and 8-byte ones whole.
TEST(TimerResolutionRecords, WrittenEventsReadBackAtBothPointerSizes) {
    TemporaryDirectory directory;
    for (const std::uint32_t pointer_size : {4U, 8U}) {
        SCOPED_TRACE(pointer_size);
        const std::vector<std::uint64_t> stack =
            pointer_size == 4 ? std::vector<std::uint64_t>{0x7710'2A3C, 0x0040'1F00}
                              : std::vector<std::uint64_t>{0x7FFE'1234'5678, 0xFFFF'F801'0000'0010};
        etl::TraceOptions options;
        options.pointer_size = pointer_size;
        KernelTrace trace(options);
        trace.PowerEvent(kEventTimeResolutionChange, 1,
                         etl::TimeResolutionChangePayload({10000, 1200, u"\\Device\\game.exe", std::nullopt, 62}), 10,
                         1200);
        trace.PowerEvent(kEventTimeResolutionRundown, 0,
                         etl::TimeResolutionRundownPayload(0, {156250, 5000, 156250, 2, 10000, 0}), 20);
        trace.PowerEvent(kEventTimeResolutionRundown, 1,
                         etl::TimeResolutionRundownPayload(1, {10000, 5000, 156250, 0, 0, 20000}), 30);
        trace.TimerRequestRundown(1300, u"player.exe", 5000, 40);
        trace.PowerEvent(kEventTimeResolutionKernelChange, 0, etl::TimeResolutionKernelChangePayload(0, 20000), 50);
        trace.PowerEvent(kEventTimeResolutionKernelChange, 1,
                         etl::TimeResolutionKernelChangePayload(1, 156250, 0x6B736154), 60);
        trace.TimerStackRundown(1300, u"player.exe", 5000, stack, 70);
        const ReadBack back =
            ReadPowerEvents(trace.Write(directory.path() / ("kinds" + std::to_string(pointer_size) + ".etl")));

        ASSERT_EQ(back.records.size(), 7U);
        for (const TimerResolutionRead outcome : back.outcomes) {
            EXPECT_EQ(outcome, TimerResolutionRead::kRead);
        }
        const TimerResolutionEventData& change = back.records[0];
        EXPECT_EQ(change.id, kEventTimeResolutionChange);
        EXPECT_EQ(change.version, 1);
        EXPECT_EQ(change.Requested, 10000U);
        EXPECT_EQ(change.Pid, 1200U);
        EXPECT_EQ(change.AppNameLength, 16U);
        EXPECT_EQ(change.AppName, u"\\Device\\game.exe");
        EXPECT_EQ(change.SubProcessTag, 62U);

        const TimerResolutionEventData& rundown0 = back.records[1];
        EXPECT_EQ(rundown0.CurrentPeriod, 156250U);
        EXPECT_EQ(rundown0.MinimumPeriod, 5000U);
        EXPECT_EQ(rundown0.MaximumPeriod, 156250U);
        EXPECT_EQ(rundown0.KernelRequestCount, 2U);
        EXPECT_EQ(rundown0.KernelRequestedPeriod, 10000U);
        EXPECT_EQ(back.records[2].CurrentPeriod, 10000U);
        EXPECT_EQ(back.records[2].InternalSetPeriod, 20000U);

        const TimerResolutionEventData& outstanding = back.records[3];
        EXPECT_EQ(outstanding.id, kEventTimeResolutionRequestRundown);
        EXPECT_EQ(outstanding.Requested, 5000U);
        EXPECT_EQ(outstanding.Pid, 1300U);
        EXPECT_EQ(outstanding.AppName, u"player.exe");

        EXPECT_EQ(back.records[4].Requested, 20000U);
        EXPECT_EQ(back.records[5].Requested, 156250U);
        EXPECT_EQ(back.records[5].Tag, 0x6B736154U);

        const TimerResolutionEventData& with_stack = back.records[6];
        EXPECT_EQ(with_stack.id, kEventTimerResolutionStackRundown);
        EXPECT_EQ(with_stack.Pid, 1300U);
        EXPECT_EQ(with_stack.Requested, 5000U);
        EXPECT_EQ(with_stack.StackSize, stack.size() * pointer_size / 4);
        EXPECT_EQ(with_stack.Stack, stack);
    }
}

// Whatever the layout does not explain is counted as unknown, never read in part.
TEST(TimerResolutionRecords, PayloadsTheLayoutDoesNotExplainAreUnknown) {
    const etl::TimerRequestFields game{10000, 1200, u"game.exe", std::nullopt, 0};
    auto with_length = [&](std::uint16_t length) {
        etl::TimerRequestFields fields = game;
        fields.AppNameLength = length;
        return fields;
    };
    auto longer = [](std::vector<std::uint8_t> payload) {
        payload.insert(payload.end(), {0, 0, 0, 0});
        return payload;
    };
    auto shorter = [](std::vector<std::uint8_t> payload, std::size_t bytes) {
        payload.resize(payload.size() - bytes);
        return payload;
    };
    struct Case {
        const char* what;
        std::uint16_t id;
        std::uint8_t version;
        std::vector<std::uint8_t> payload;
    };
    const std::vector<Case> cases = {
        {"a version-0 change", kEventTimeResolutionChange, 0, etl::TimeResolutionChangePayload(game)},
        {"a version-2 change (a field more)", kEventTimeResolutionChange, 2,
         longer(etl::TimeResolutionChangePayload(game))},
        {"a version-1 request rundown", kEventTimeResolutionRequestRundown, 1,
         longer(etl::TimeResolutionRequestRundownPayload(game))},
        {"a stack rundown of version 1", kEventTimerResolutionStackRundown, 1,
         etl::TimerResolutionStackRundownPayload(game, {{0x1000}, std::nullopt}, 8)},
        {"a change with bytes left over", kEventTimeResolutionChange, 1,
         longer(etl::TimeResolutionChangePayload(game))},
        {"a change cut inside its tag", kEventTimeResolutionChange, 1,
         shorter(etl::TimeResolutionChangePayload(game), 2)},
        {"an empty change", kEventTimeResolutionChange, 1, {}},
        {"a name length past the payload", kEventTimeResolutionChange, 1,
         etl::TimeResolutionChangePayload(with_length(0xFFFF))},
        // 8 units written, 9 counted: the tag would start inside the name.
        {"an odd name length", kEventTimeResolutionChange, 1, etl::TimeResolutionChangePayload(with_length(9))},
        {"a name counted in bytes", kEventTimeResolutionRequestRundown, 0,
         etl::TimeResolutionRequestRundownPayload(with_length(16))},
        {"a stack size beyond the payload", kEventTimerResolutionStackRundown, 0,
         etl::TimerResolutionStackRundownPayload(game, {{0x1000, 0x2000}, 0xFFFF'FFFF}, 8)},
        {"a stack size short of the payload", kEventTimerResolutionStackRundown, 0,
         etl::TimerResolutionStackRundownPayload(game, {{0x1000, 0x2000}, 2}, 8)},
        {"a kernel change of version 2", kEventTimeResolutionKernelChange, 2,
         longer(etl::TimeResolutionKernelChangePayload(1, 10000))},
        {"a version-0 rundown with the version-1 field", kEventTimeResolutionRundown, 0,
         etl::TimeResolutionRundownPayload(1, {})},
    };
    TemporaryDirectory directory;
    for (const std::uint32_t pointer_size : {4U, 8U}) {
        etl::TraceOptions options;
        options.pointer_size = pointer_size;
        KernelTrace trace(options);
        std::uint64_t at = 10;
        for (const Case& unknown : cases) {
            trace.PowerEvent(unknown.id, unknown.version, unknown.payload, at++);
        }
        trace.PowerEvent(kEventTimeResolutionChange + 1, 0, {1, 2, 3}, at++);
        const ReadBack back =
            ReadPowerEvents(trace.Write(directory.path() / ("unknown" + std::to_string(pointer_size) + ".etl")));
        ASSERT_EQ(back.outcomes.size(), cases.size() + 1);
        for (std::size_t index = 0; index < cases.size(); ++index) {
            SCOPED_TRACE(std::string(cases[index].what) + " at pointer size " + std::to_string(pointer_size));
            EXPECT_EQ(back.outcomes[index], TimerResolutionRead::kUnknownLayout);
        }
        EXPECT_EQ(back.outcomes.back(), TimerResolutionRead::kOtherEvent);
    }
}

}  // namespace
}  // namespace dormiscope
