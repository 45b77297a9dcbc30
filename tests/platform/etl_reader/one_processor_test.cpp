// A process that may run on one processor only reads and delivers on the
// calling thread: the events, their order, the damage and the status are
// those of reading ahead on a second thread.
#include <gtest/gtest.h>
#include <sched.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "consumer_test_support.h"
#include "etl_writer/etl_writer.h"
#include "etl_writer/kernel_events.h"
#include "platform/system/processors.h"
#include "platform/trace_damage.h"
#include "support/trace_damage.h"

namespace dormiscope::testing {
namespace {

constexpr std::uint32_t kBufferSize = 4096;

// Restricts the calling thread to its first allowed processor while alive.
class OnOneProcessor {
public:
    OnOneProcessor() {
        CPU_ZERO(&allowed_);
        EXPECT_EQ(::sched_getaffinity(0, sizeof allowed_, &allowed_), 0);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int processor = 0; processor < CPU_SETSIZE; ++processor) {
            if (CPU_ISSET(processor, &allowed_)) {
                CPU_SET(processor, &one);
                break;
            }
        }
        EXPECT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    }
    OnOneProcessor(const OnOneProcessor&) = delete;
    OnOneProcessor& operator=(const OnOneProcessor&) = delete;
    ~OnOneProcessor() { ::sched_setaffinity(0, sizeof allowed_, &allowed_); }

private:
    cpu_set_t allowed_;
};

void ExpectSameRun(const TraceRun& alone, const TraceRun& ahead) {
    EXPECT_EQ(alone.status, ahead.status);
    ASSERT_EQ(alone.events.size(), ahead.events.size());
    for (std::size_t index = 0; index < alone.events.size(); ++index) {
        ASSERT_EQ(alone.events[index].header.TimeStamp.QuadPart, ahead.events[index].header.TimeStamp.QuadPart);
        ASSERT_EQ(alone.events[index].buffer_context.ProcessorNumber, ahead.events[index].buffer_context.ProcessorNumber);
        ASSERT_EQ(alone.events[index].user_data, ahead.events[index].user_data);
    }
}

TEST(OneProcessor, DeliversWhatReadingAheadDelivers) {
    if (ProcessorsToRunOn() == 1) {
        GTEST_SKIP() << "this machine reads on one thread either way";
    }
    TempDirectory directory;
    const auto path = directory / "trace.etl";
    etl::TraceOptions options;
    options.processors = 4;
    options.buffer_size = kBufferSize;
    {
        // More events than the read-ahead queue holds, so that a second thread would read them.
        etl::EtlWriter writer(path, options);
        for (std::uint32_t index = 0; index < 200'000; ++index) {
            writer.Add(etl::CSwitchEvent(index % 4, etl::RawFromOffset(options, 100 + index / 3), 600 + index % 7, 0));
        }
        writer.Finish();
    }
    std::vector<std::uint8_t> damaged = ReadBytes(path);
    ASSERT_TRUE(ZeroEventSize(damaged, kBufferSize, 2, 5));
    const auto damaged_path = directory / "damaged.etl";
    WriteBytes(damaged_path, damaged);

    for (const auto& trace : {path, damaged_path}) {
        SCOPED_TRACE(trace.filename().string());
        const TraceRun ahead = ReadTrace(trace);
        const std::optional<TraceDamage> damage_ahead = LastTraceDamage();
        TraceRun alone;
        {
            const OnOneProcessor pinned;
            ASSERT_EQ(ProcessorsToRunOn(), 1U);
            alone = ReadTrace(trace);
        }
        const std::optional<TraceDamage> damage_alone = LastTraceDamage();
        EXPECT_EQ(ahead.status, trace == path ? ERROR_SUCCESS : ERROR_FILE_CORRUPT);
        ExpectSameRun(alone, ahead);
        ASSERT_EQ(damage_alone.has_value(), trace != path);
        ASSERT_EQ(damage_ahead.has_value(), trace != path);
        if (damage_alone) {
            EXPECT_EQ(damage_alone->offset, damage_ahead->offset);
            EXPECT_EQ(damage_alone->reason, damage_ahead->reason);
        }
    }
}

}  // namespace
}  // namespace dormiscope::testing
