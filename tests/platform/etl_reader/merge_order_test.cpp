// Events of many processors come out oldest first, equal stamps lowest
// processor first: for a number of processors that fills the merge's tree and
// one that leaves most of it empty, and for raw stamps on both sides of zero.
#include <gtest/gtest.h>

#include <random>

#include "consumer_test_support.h"
#include "etl_writer/etl_writer.h"
#include "etl_writer/kernel_events.h"

namespace dormiscope::testing {
namespace {

struct MergeCase {
    std::uint32_t processors;
    std::int64_t header_raw;  // the logfile-header event's stamp
    std::int64_t first_raw;   // every processor's first stamp
};

TEST(MergeOrder, OldestFirstAndLowerProcessorOnTies) {
    const MergeCase cases[] = {
        {3, 1'000'000, 1'000'100},
        {8, 1'000'000, 1'000'100},
        {40, 1'000'000, 1'000'100},
        {5, -3'000, -400},
    };
    for (const MergeCase& merge : cases) {
        const std::uint32_t processors = merge.processors;
        TempDirectory directory;
        const auto path = directory / "trace.etl";
        etl::TraceOptions options;
        options.processors = processors;
        options.buffer_size = 4096;
        options.header_raw_timestamp = merge.header_raw;
        std::mt19937 random(processors);
        std::size_t written = 0;
        {
            etl::EtlWriter writer(path, options);
            std::vector<std::int64_t> clock(processors, merge.first_raw);
            for (int index = 0; index < 4000; ++index) {
                const std::uint32_t processor = random() % processors;
                // Few distinct stamps, so that many are shared across processors.
                clock[processor] += random() % 3;
                writer.Add(etl::CSwitchEvent(processor, clock[processor], 8, 12));
                ++written;
            }
            writer.Finish();
        }
        const TraceRun run = ReadTrace(path);
        ASSERT_EQ(run.status, ERROR_SUCCESS);
        ASSERT_EQ(run.events.size(), written + 1) << processors;
        for (std::size_t index = 2; index < run.events.size(); ++index) {
            const SeenEvent& before = run.events[index - 1];
            const SeenEvent& after = run.events[index];
            ASSERT_LE(before.header.TimeStamp.QuadPart, after.header.TimeStamp.QuadPart) << processors;
            if (before.header.TimeStamp.QuadPart == after.header.TimeStamp.QuadPart) {
                ASSERT_LE(before.buffer_context.ProcessorNumber, after.buffer_context.ProcessorNumber) << processors;
            }
        }
    }
}

}  // namespace
}  // namespace dormiscope::testing
