// Traces written by the project's writer, read back: the merge order, every
// header form as a consumer sees it, the clocks, 32-bit loggers, compression
// and Windows 7 style buffer contexts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "consumer_test_support.h"
#include "etl_writer/etl_writer.h"
#include "etl_writer/trace_clock.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::testing {
namespace {

using etl::Event;
using etl::HeaderForm;
using etl::TraceOptions;

constexpr GUID kClassicProvider = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};

TraceRun WriteAndRead(const TempDirectory& directory, const TraceOptions& options, const std::vector<Event>& events,
                      ULONG mode = PROCESS_TRACE_MODE_EVENT_RECORD) {
    const auto path = directory / "trace.etl";
    {
        etl::EtlWriter writer(path, options);
        for (const Event& event : events) {
            writer.Add(event);
        }
        writer.Finish();
    }
    return ReadTrace(path, mode);
}

std::vector<std::uint8_t> Tag(std::uint32_t value) {
    std::vector<std::uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

std::uint32_t TagOf(const SeenEvent& event) {
    std::uint32_t value = 0;
    std::memcpy(&value, event.user_data.data(), 4);
    return value;
}

// Small buffers, so that each processor's events span many buffers and the
// file interleaves them in flush order.
TEST(ConsumerRoundTripTest, MergesProcessorsByStampLowerProcessorFirstOnTies) {
    TempDirectory directory;
    TraceOptions options;
    options.processors = 3;
    options.buffer_size = 0x200;
    std::vector<Event> events;
    std::vector<std::tuple<std::int64_t, std::uint32_t, std::uint32_t>> expected;  // raw, processor, tag
    for (std::uint32_t processor = 0; processor < 3; ++processor) {
        std::int64_t raw = options.header_raw_timestamp;
        for (std::uint32_t index = 0; index < 60; ++index) {
            // Steps of 0 to 3 ticks give equal stamps within and across processors.
            raw += (index * 7 + processor * 3) % 4;
            const std::uint32_t tag = processor * 1000 + index;
            Event event;
            event.processor = processor;
            event.raw_timestamp = raw;
            event.form = HeaderForm::Perfinfo64;
            event.group = kGroupThread;
            event.type = 36;
            event.version = 2;
            event.payload = Tag(tag);
            events.push_back(event);
            expected.emplace_back(raw, processor, tag);
        }
    }
    // Added in time order, as a logger would, so buffers of different
    // processors alternate in the file.
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.raw_timestamp < b.raw_timestamp; });
    std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });

    const TraceRun run = WriteAndRead(directory, options, events, PROCESS_TRACE_MODE_EVENT_RECORD | PROCESS_TRACE_MODE_RAW_TIMESTAMP);
    ASSERT_EQ(run.status, ERROR_SUCCESS);
    ASSERT_EQ(run.events.size(), expected.size() + 1);
    EXPECT_EQ(run.events[0].header.TimeStamp.QuadPart, options.header_raw_timestamp);
    for (std::size_t index = 0; index < expected.size(); ++index) {
        const SeenEvent& event = run.events[index + 1];
        EXPECT_EQ(event.header.TimeStamp.QuadPart, std::get<0>(expected[index])) << index;
        EXPECT_EQ(event.buffer_context.ProcessorIndex, std::get<1>(expected[index])) << index;
        EXPECT_EQ(TagOf(event), std::get<2>(expected[index])) << index;
    }
}

struct FormCase {
    std::string name;
    HeaderForm form;
    USHORT flags;     // expected EVENT_HEADER.Flags
    bool has_ids;     // thread and process ids come from the header
    USHORT extended;  // expected extended item type, 0 for none
};

constexpr USHORT kClassic = EVENT_HEADER_FLAG_CLASSIC_HEADER | EVENT_HEADER_FLAG_PROCESSOR_INDEX;
constexpr USHORT k32 = EVENT_HEADER_FLAG_32_BIT_HEADER;
constexpr USHORT k64 = EVENT_HEADER_FLAG_64_BIT_HEADER;

const FormCase kForms[] = {
    {"System32", HeaderForm::System32, kClassic | k32, true, 0},
    {"System64", HeaderForm::System64, kClassic | k64, true, 0},
    {"Compact32", HeaderForm::Compact32, kClassic | k32, true, 0},
    {"Compact64", HeaderForm::Compact64, kClassic | k64, true, 0},
    {"Perfinfo32", HeaderForm::Perfinfo32, kClassic | k32, false, 0},
    {"Perfinfo64", HeaderForm::Perfinfo64, kClassic | k64, false, 0},
    {"Full32", HeaderForm::Full32, kClassic | k32, true, 0},
    {"Full64", HeaderForm::Full64, kClassic | k64, true, 0},
    {"Instance32", HeaderForm::Instance32, kClassic | k32 | EVENT_HEADER_FLAG_EXTENDED_INFO, true, 4},
    {"Instance64", HeaderForm::Instance64, kClassic | k64 | EVENT_HEADER_FLAG_EXTENDED_INFO, true, 4},
    {"EventHeader32", HeaderForm::EventHeader32, EVENT_HEADER_FLAG_PROCESSOR_INDEX | k32, true, 0},
    {"EventHeader64", HeaderForm::EventHeader64, EVENT_HEADER_FLAG_PROCESSOR_INDEX | k64, true, 0},
};

class HeaderFormTest : public ::testing::TestWithParam<FormCase> {};

TEST_P(HeaderFormTest, BecomesTheEventRecordConsumersExpect) {
    const FormCase& form = GetParam();
    const bool kernel = form.form <= HeaderForm::Perfinfo64;
    TempDirectory directory;
    TraceOptions options;
    options.processors = 2;
    Event event;
    event.processor = 1;
    event.raw_timestamp = options.header_raw_timestamp + 500;
    event.form = form.form;
    event.group = kGroupThread;
    event.type = 3;
    event.version = 0x0003;
    event.pid = 1234;
    event.tid = 5678;
    event.provider = kClassicProvider;
    event.level = 4;
    event.event_id = 77;
    event.payload = {1, 2, 3, 4, 5};

    const TraceRun run = WriteAndRead(directory, options, {event});
    ASSERT_EQ(run.status, ERROR_SUCCESS);
    ASSERT_EQ(run.events.size(), 2u);
    const SeenEvent& seen = run.events[1];
    const EVENT_HEADER& header = seen.header;
    EXPECT_EQ(header.HeaderType, 0);
    EXPECT_EQ(header.Flags, form.flags);
    EXPECT_TRUE(SameGuid(header.ProviderId, kernel ? kThreadProvider : kClassicProvider));
    EXPECT_EQ(header.EventDescriptor.Opcode, 3);
    EXPECT_EQ(header.EventDescriptor.Version, 3);
    EXPECT_EQ(header.ThreadId, form.has_ids ? 5678u : 0xFFFFFFFFu);
    EXPECT_EQ(header.ProcessId, form.has_ids ? 1234u : 0xFFFFFFFFu);
    EXPECT_EQ(header.TimeStamp.QuadPart, options.start_time + 500);
    EXPECT_EQ(seen.buffer_context.ProcessorIndex, 1);
    EXPECT_EQ(seen.buffer_context.LoggerId, options.logger_id);
    EXPECT_EQ(seen.user_data, event.payload);
    if (form.form == HeaderForm::EventHeader32 || form.form == HeaderForm::EventHeader64) {
        EXPECT_EQ(header.EventDescriptor.Id, 77);
        EXPECT_EQ(header.EventDescriptor.Level, 4);
    }
    ASSERT_EQ(seen.extended.size(), form.extended != 0 ? 1u : 0u);
    if (form.extended != 0) {
        EXPECT_EQ(seen.extended[0].ExtType, form.extended);
        EXPECT_EQ(seen.extended[0].DataSize, 24);
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, HeaderFormTest, ::testing::ValuesIn(kForms),
                         [](const ::testing::TestParamInfo<FormCase>& info) { return info.param.name; });

// PEBS index and PMC counters sit between a perfinfo header and its payload.
TEST(HeaderFormTest, PerfinfoCountersBecomeExtendedItems) {
    TempDirectory directory;
    TraceOptions options;
    Event event;
    event.raw_timestamp = options.header_raw_timestamp + 1;
    event.form = HeaderForm::Perfinfo64;
    event.group = kGroupThread;
    event.type = 36;
    event.version = 0x8200 | 2;  // PEBS item and two counters
    for (std::uint8_t byte = 0; byte < 24 + 3; ++byte) {
        event.payload.push_back(byte);
    }
    const TraceRun run = WriteAndRead(directory, options, {event});
    ASSERT_EQ(run.status, ERROR_SUCCESS);
    ASSERT_EQ(run.events.size(), 2u);
    const SeenEvent& seen = run.events[1];
    EXPECT_EQ(seen.header.EventDescriptor.Version, 2);
    ASSERT_EQ(seen.extended.size(), 2u);
    EXPECT_EQ(seen.extended[0].ExtType, EVENT_HEADER_EXT_TYPE_PEBS_INDEX);
    EXPECT_EQ(seen.extended_data[0], std::vector<std::uint8_t>({0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(seen.extended[1].ExtType, EVENT_HEADER_EXT_TYPE_PMC_COUNTERS);
    EXPECT_EQ(seen.extended[1].DataSize, 16);
    EXPECT_EQ(seen.user_data, std::vector<std::uint8_t>({24, 25, 26}));
}

struct ClockCase {
    std::string name;
    etl::Clock clock;
    std::int64_t perf_freq;
    std::uint32_t cpu_mhz;
};

const ClockCase kClocks[] = {
    {"Qpc10MHz", etl::Clock::QueryPerformanceCounter, 10'000'000, 0},
    {"QpcAcpiRate", etl::Clock::QueryPerformanceCounter, 3'579'545, 0},
    {"QpcTscRate", etl::Clock::QueryPerformanceCounter, 2'742'187'500, 0},
    {"SystemTime", etl::Clock::SystemTime, 10'000'000, 0},
    {"CpuCycles", etl::Clock::CpuCycles, 10'000'000, 2993},
};

class ClockTest : public ::testing::TestWithParam<ClockCase> {};

TEST_P(ClockTest, StampsBecomeSystemTimeFromTheHeaderEvent) {
    const ClockCase& clock = GetParam();
    TempDirectory directory;
    TraceOptions options;
    options.clock = clock.clock;
    options.perf_freq = clock.perf_freq;
    options.cpu_speed_mhz = clock.cpu_mhz;
    options.processors = 1;
    std::vector<Event> events;
    for (const std::int64_t step : {0LL, 1LL, 7LL, 123'456'789LL, 9'000'000'000'000LL}) {
        Event event;
        event.raw_timestamp = options.header_raw_timestamp + step;
        event.form = HeaderForm::System64;
        event.group = kGroupProcess;
        event.type = 1;
        events.push_back(event);
    }
    const TraceRun run = WriteAndRead(directory, options, events);
    ASSERT_EQ(run.status, ERROR_SUCCESS);
    ASSERT_EQ(run.events.size(), events.size() + 1);
    EXPECT_EQ(run.events[0].header.TimeStamp.QuadPart, options.start_time);
    for (std::size_t index = 0; index < events.size(); ++index) {
        EXPECT_EQ(run.events[index + 1].header.TimeStamp.QuadPart,
                  etl::FileTimeFromRaw(options, events[index].raw_timestamp))
            << index;
    }
}

INSTANTIATE_TEST_SUITE_P(Clocks, ClockTest, ::testing::ValuesIn(kClocks),
                         [](const ::testing::TestParamInfo<ClockCase>& info) { return info.param.name; });

// 10^7 / 3 579 545 is 2.79…: one tick is 2 units, 7 ticks are 19 (19.55…).
TEST(ClockTest, FractionalRatesRoundDown) {
    TempDirectory directory;
    TraceOptions options;
    options.perf_freq = 3'579'545;
    options.processors = 1;
    std::vector<Event> events;
    for (const std::int64_t step : {1, 7}) {
        Event event;
        event.raw_timestamp = options.header_raw_timestamp + step;
        events.push_back(event);
    }
    const TraceRun run = WriteAndRead(directory, options, events);
    ASSERT_EQ(run.events.size(), 3u);
    EXPECT_EQ(run.events[1].header.TimeStamp.QuadPart, options.start_time + 2);
    EXPECT_EQ(run.events[2].header.TimeStamp.QuadPart, options.start_time + 19);
}

// A 32-bit logger's header is handed over as stored: the fields after the
// name pointers sit 8 bytes earlier, and times still convert from them.
TEST(ConsumerRoundTripTest, ThirtyTwoBitLoggerHeaderIsCopiedVerbatim) {
    TempDirectory directory;
    TraceOptions options;
    options.pointer_size = 4;
    options.perf_freq = 2'337'949;
    options.processors = 1;
    Event event;
    event.raw_timestamp = options.header_raw_timestamp + 2'337'949;  // one second
    event.form = HeaderForm::System32;
    const TraceRun run = WriteAndRead(directory, options, {event});
    ASSERT_EQ(run.status, ERROR_SUCCESS);
    const TRACE_LOGFILE_HEADER& header = run.logfile.LogfileHeader;
    EXPECT_EQ(header.PointerSize, 4u);
    std::int64_t perf_freq = 0;
    std::int64_t start_time = 0;
    std::memcpy(&perf_freq, reinterpret_cast<const std::uint8_t*>(&header) + 0xF8, 8);
    std::memcpy(&start_time, reinterpret_cast<const std::uint8_t*>(&header) + 0x100, 8);
    EXPECT_EQ(perf_freq, options.perf_freq);
    EXPECT_EQ(start_time, options.start_time);
    ASSERT_EQ(run.events.size(), 2u);
    EXPECT_EQ(run.events[0].header.Flags & ~EVENT_HEADER_FLAG_PROCESSOR_INDEX,
              EVENT_HEADER_FLAG_CLASSIC_HEADER | EVENT_HEADER_FLAG_32_BIT_HEADER);
    EXPECT_EQ(run.events[1].header.TimeStamp.QuadPart, options.start_time + 10'000'000);
}

TEST(ConsumerRoundTripTest, CompressedBuffersDeliverTheSameEvents) {
    TempDirectory directory;
    TraceOptions options;
    options.processors = 4;
    options.buffer_size = 0x1000;
    std::vector<Event> events;
    for (std::uint32_t index = 0; index < 2000; ++index) {
        Event event;
        event.processor = index % 4;
        event.raw_timestamp = options.header_raw_timestamp + index * 10 + (index % 4);
        event.form = HeaderForm::System64;
        event.group = kGroupThread;
        event.type = 1 + index % 4;
        event.pid = index;
        event.payload = Tag(index);
        events.push_back(event);
    }
    const TraceRun plain = WriteAndRead(directory, options, events);
    options.compress = true;
    const TraceRun compressed = WriteAndRead(directory, options, events);
    ASSERT_EQ(plain.status, ERROR_SUCCESS);
    ASSERT_EQ(compressed.status, ERROR_SUCCESS);
    ASSERT_EQ(plain.events.size(), events.size() + 1);
    ASSERT_EQ(compressed.events.size(), plain.events.size());
    // The header events differ in their logging mode and buffer count.
    for (std::size_t index = 1; index < plain.events.size(); ++index) {
        EXPECT_EQ(std::memcmp(&plain.events[index].header, &compressed.events[index].header, sizeof(EVENT_HEADER)), 0);
        EXPECT_EQ(plain.events[index].user_data, compressed.events[index].user_data);
    }
}

// Without PROC_INDEX (Windows 7) the context holds the processor number and
// an alignment byte, and events do not claim a processor index.
TEST(ConsumerRoundTripTest, BuffersWithoutProcessorIndexKeepNumberAndAlignment) {
    TempDirectory directory;
    TraceOptions options;
    options.proc_index_flag = false;
    options.processors = 3;
    Event event;
    event.processor = 2;
    event.raw_timestamp = options.header_raw_timestamp + 1;
    const TraceRun run = WriteAndRead(directory, options, {event});
    ASSERT_EQ(run.events.size(), 2u);
    const SeenEvent& seen = run.events[1];
    EXPECT_EQ(seen.buffer_context.ProcessorNumber, 2);
    EXPECT_EQ(seen.buffer_context.Alignment, 8);
    EXPECT_EQ(seen.header.Flags & EVENT_HEADER_FLAG_PROCESSOR_INDEX, 0);
    EXPECT_EQ(run.logfile.IsKernelTrace, 1u);  // the writer's logger is "NT Kernel Logger"
}

// A WPP message in a kernel buffer is stepped over by its size; a kernel
// group without a known class keeps its number in a GUID no provider has.
TEST(ConsumerRoundTripTest, SkipsTraceMessagesAndNamesUnknownGroupsApart) {
    TempDirectory directory;
    TraceOptions options;
    options.processors = 1;
    std::vector<Event> events(3);
    for (std::uint32_t index = 0; index < 3; ++index) {
        events[index].raw_timestamp = options.header_raw_timestamp + index;
        events[index].form = HeaderForm::System64;
        events[index].group = 0x40;
        events[index].payload = Tag(index);
    }
    const auto path = directory / "trace.etl";
    {
        etl::EtlWriter writer(path, options);
        for (const Event& event : events) {
            writer.Add(event);
        }
    }
    // The data buffer follows the header buffer; its second event (0x24
    // bytes, padded to 0x28) becomes an 0x24-byte WPP message.
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    const std::size_t second = options.buffer_size + 0x48 + 0x28;
    ASSERT_EQ(bytes[second + 3], 0xC0);
    bytes[second] = 0x24;
    bytes[second + 1] = 0;
    bytes[second + 2] = 0;
    bytes[second + 3] = 0x90;
    WriteBytes(path, bytes);

    const TraceRun run = ReadTrace(path);
    ASSERT_EQ(run.status, ERROR_SUCCESS);
    ASSERT_EQ(run.events.size(), 3u);
    EXPECT_EQ(TagOf(run.events[1]), 0u);
    EXPECT_EQ(TagOf(run.events[2]), 2u);
    const GUID unknown_group = {0x40, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    EXPECT_TRUE(SameGuid(run.events[1].header.ProviderId, unknown_group));
}

}  // namespace
}  // namespace dormiscope::testing
