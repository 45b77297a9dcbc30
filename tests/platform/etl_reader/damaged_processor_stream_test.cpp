// Damage in one processor's buffer ends that processor's events, not the
// others': they are all delivered, in time order, before the error, and so
// are the damaged processor's events that lie before the damage.
#include <gtest/gtest.h>

#include <cstring>

#include "consumer_test_support.h"
#include "etl_writer/etl_writer.h"
#include "etl_writer/kernel_events.h"
#include "support/trace_damage.h"

namespace dormiscope::testing {
namespace {

constexpr std::uint32_t kBufferSize = 4096;

TEST(DamagedProcessorStream, EventsBeforeTheDamageAndOtherProcessorsAreDeliveredBeforeTheError) {
    TempDirectory directory;
    const auto path = directory / "trace.etl";
    etl::TraceOptions options;
    options.processors = 2;
    options.buffer_size = kBufferSize;
    {
        etl::EtlWriter writer(path, options);
        etl::ProcessFields process;
        process.ProcessId = 500;
        process.ImageFileName = "svc.exe";
        writer.Add(etl::ProcessEvent(0, etl::RawFromOffset(options, 10), kOpcodeDCStart, 4, 8, process));
        for (std::uint32_t thread = 0; thread < 20; ++thread) {
            etl::ThreadFields fields;
            fields.ProcessId = 500;
            fields.TThreadId = 600 + 4 * thread;
            writer.Add(etl::ThreadEvent(0, etl::RawFromOffset(options, 20 + thread), kOpcodeDCStart, 3, 8, fields));
        }
        // Processor 1's switches interleave in time with processor 0's rundown.
        for (std::uint32_t index = 0; index < 50; ++index) {
            writer.Add(etl::CSwitchEvent(1, etl::RawFromOffset(options, 12 + index), 600, 0));
        }
        writer.Finish();
    }
    const TraceRun intact = ReadTrace(path);
    ASSERT_EQ(intact.status, ERROR_SUCCESS);
    const std::vector<std::uint8_t> intact_bytes = ReadBytes(path);

    // The damaged event of processor 1's first buffer; that many of its events come before it.
    for (const std::size_t damaged_event : {std::size_t{0}, std::size_t{4}}) {
        SCOPED_TRACE(damaged_event);
        std::vector<std::uint8_t> bytes = intact_bytes;
        ASSERT_TRUE(ZeroEventSize(bytes, kBufferSize, 1, damaged_event));
        WriteBytes(path, bytes);

        std::vector<const SeenEvent*> expected;
        std::size_t processor_one = 0;
        for (const SeenEvent& event : intact.events) {
            if (event.buffer_context.ProcessorNumber == 0 || processor_one++ < damaged_event) {
                expected.push_back(&event);
            }
        }
        const TraceRun run = ReadTrace(path);
        EXPECT_EQ(run.status, ERROR_FILE_CORRUPT);
        ASSERT_EQ(run.events.size(), expected.size());
        for (std::size_t index = 0; index < run.events.size(); ++index) {
            EXPECT_EQ(run.events[index].buffer_context.ProcessorNumber,
                      expected[index]->buffer_context.ProcessorNumber);
            EXPECT_EQ(run.events[index].header.TimeStamp.QuadPart, expected[index]->header.TimeStamp.QuadPart);
            EXPECT_EQ(run.events[index].user_data, expected[index]->user_data);
        }
    }
}

}  // namespace
}  // namespace dormiscope::testing
