// Events of many processors come out oldest first, equal stamps lowest
// processor first, whether the merge scans its processors (few) or keeps
// them in a heap (many).
#include <gtest/gtest.h>

#include <random>

#include "consumer_test_support.h"
#include "etl_writer/etl_writer.h"
#include "etl_writer/kernel_events.h"

namespace dormiscope::testing {
namespace {

TEST(MergeOrder, OldestFirstAndLowerProcessorOnTiesForFewAndManyProcessors) {
    for (const std::uint32_t processors : {3U, 40U}) {
        TempDirectory directory;
        const auto path = directory / "trace.etl";
        etl::TraceOptions options;
        options.processors = processors;
        options.buffer_size = 4096;
        std::mt19937 random(processors);
        std::size_t written = 0;
        {
            etl::EtlWriter writer(path, options);
            std::vector<std::uint64_t> clock(processors, 100);
            for (int index = 0; index < 4000; ++index) {
                const std::uint32_t processor = random() % processors;
                // Few distinct stamps, so that many are shared across processors.
                clock[processor] += random() % 3;
                writer.Add(etl::CSwitchEvent(processor, etl::RawFromOffset(options, clock[processor]), 8, 12));
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
