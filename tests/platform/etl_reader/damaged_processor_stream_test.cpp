// Damage in one processor's buffer ends that processor's events, not the
// others': they are all delivered, in time order, before the error.
#include <gtest/gtest.h>

#include <cstring>

#include "consumer_test_support.h"
#include "etl_writer/etl_writer.h"
#include "etl_writer/kernel_events.h"

namespace dormiscope::testing {
namespace {

constexpr std::uint32_t kBufferSize = 4096;

TEST(DamagedProcessorStream, OtherProcessorsAreDeliveredWholeBeforeTheError) {
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
        for (std::uint32_t index = 0; index < 50; ++index) {
            writer.Add(etl::CSwitchEvent(1, etl::RawFromOffset(options, 100 + index), 600, 0));
        }
        writer.Finish();
    }
    const TraceRun intact = ReadTrace(path);
    ASSERT_EQ(intact.status, ERROR_SUCCESS);

    // Processor 1's first buffer starts with an event of size 0.
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    bool damaged = false;
    for (std::size_t offset = kBufferSize; offset + kBufferSize <= bytes.size() && !damaged; offset += kBufferSize) {
        if (bytes[offset + 0x28] == 1) {
            std::memset(&bytes[offset + 0x48 + 4], 0, 2);
            damaged = true;
        }
    }
    ASSERT_TRUE(damaged);
    WriteBytes(path, bytes);

    const TraceRun run = ReadTrace(path);
    EXPECT_EQ(run.status, ERROR_FILE_CORRUPT);
    std::size_t processor_zero = 0;
    for (const SeenEvent& event : intact.events) {
        processor_zero += event.buffer_context.ProcessorNumber == 0 ? 1 : 0;
    }
    ASSERT_EQ(run.events.size(), processor_zero);
    for (std::size_t index = 0; index < run.events.size(); ++index) {
        EXPECT_EQ(run.events[index].buffer_context.ProcessorNumber, 0);
    }
}

}  // namespace
}  // namespace dormiscope::testing
