// Traces written by the writer, read back through the project's own
// OpenTraceW/ProcessTrace: every event must come out once, in time order
// across processors, with its time converted from the session clock.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "etl_writer/etl_writer.h"
#include "platform/etw_api.h"
#include "support/temporary_directory.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::etl {
namespace {

constexpr GUID kCustomProvider = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

struct DeliveredEvent {
    EVENT_HEADER header;
    ETW_BUFFER_CONTEXT context;
    std::vector<std::uint8_t> user_data;
};

void WINAPI Collect(PEVENT_RECORD record) {
    auto* delivered = static_cast<std::vector<DeliveredEvent>*>(record->UserContext);
    const auto* data = static_cast<const std::uint8_t*>(record->UserData);
    delivered->push_back({record->EventHeader, record->BufferContext,
                          std::vector<std::uint8_t>(data, data + record->UserDataLength)});
}

struct ReadBack {
    TRACE_LOGFILE_HEADER logfile_header{};
    ULONG status = ERROR_INVALID_HANDLE;
    std::vector<DeliveredEvent> events;
};

ReadBack ReadWithTheConsumer(const std::filesystem::path& path) {
    ReadBack result;
    std::wstring name = path.wstring();
    EVENT_TRACE_LOGFILEW logfile{};
    logfile.LogFileName = name.data();
    logfile.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD;
    logfile.EventRecordCallback = Collect;
    logfile.Context = &result.events;
    TRACEHANDLE handle = OpenTraceW(&logfile);
    if (handle == INVALID_PROCESSTRACE_HANDLE) {
        return result;
    }
    result.logfile_header = logfile.LogfileHeader;
    result.status = ProcessTrace(&handle, 1, nullptr, nullptr);
    CloseTrace(handle);
    return result;
}

bool Is64Bit(HeaderForm form) {
    switch (form) {
    case HeaderForm::System64:
    case HeaderForm::Compact64:
    case HeaderForm::Perfinfo64:
    case HeaderForm::Full64:
    case HeaderForm::Instance64:
    case HeaderForm::EventHeader64:
        return true;
    default:
        return false;
    }
}

bool IsPerfinfo(HeaderForm form) { return form == HeaderForm::Perfinfo32 || form == HeaderForm::Perfinfo64; }

bool IsKernelForm(HeaderForm form) {
    return form <= HeaderForm::Perfinfo64;  // system, compact and perfinfo carry a group, not a GUID
}

constexpr HeaderForm kAllForms[] = {
    HeaderForm::System32,   HeaderForm::System64,   HeaderForm::Compact32,     HeaderForm::Compact64,
    HeaderForm::Perfinfo32, HeaderForm::Perfinfo64, HeaderForm::Full32,        HeaderForm::Full64,
    HeaderForm::Instance32, HeaderForm::Instance64, HeaderForm::EventHeader32, HeaderForm::EventHeader64,
};

struct RoundTripCase {
    std::string name;
    std::uint32_t pointer_size;
    Clock clock;
    std::int64_t perf_freq;
    std::uint32_t cpu_mhz;
    std::int64_t header_raw;
    bool compress;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

// StartTime + (raw − header raw) × 10^7 / rate, in plain 64-bit arithmetic:
// the test's stamps stay small enough for it.
std::int64_t ExpectedTime(const RoundTripCase& c, std::int64_t start_time, std::int64_t raw) {
    const std::int64_t elapsed = raw - c.header_raw;
    switch (c.clock) {
    case Clock::QueryPerformanceCounter:
        return start_time + elapsed * 10'000'000 / c.perf_freq;
    case Clock::SystemTime:
        return start_time + elapsed;
    case Clock::CpuCycles:
        return start_time + elapsed * 10 / c.cpu_mhz;
    }
    return 0;
}

class RoundTripTest : public ::testing::TestWithParam<RoundTripCase> {
protected:
    testing::TemporaryDirectory directory_;
};

TEST_P(RoundTripTest, EveryHeaderFormComesBackInTimeOrderWithConvertedStamps) {
    const RoundTripCase& c = GetParam();
    TraceOptions options;
    options.pointer_size = c.pointer_size;
    options.clock = c.clock;
    options.perf_freq = c.perf_freq;
    options.cpu_speed_mhz = c.cpu_mhz;
    options.header_raw_timestamp = c.header_raw;
    options.processors = 3;
    options.buffer_size = 512;  // several buffers per processor
    options.compress = c.compress;

    // Stamps rise with k, but each processor's events are written as a block,
    // so file order is not time order.
    std::vector<Event> events;
    for (std::uint32_t k = 0; k < 8 * std::size(kAllForms); ++k) {
        Event event;
        event.form = kAllForms[k % std::size(kAllForms)];
        event.processor = k % 3;
        event.raw_timestamp = c.header_raw + 17 + std::int64_t{k} * 7'919;
        event.group = kGroupThread;
        event.type = static_cast<std::uint8_t>(10 + k % 50);
        event.version = 2 + k % 3;
        event.pid = 1000 + k;
        event.tid = 2000 + k;
        event.provider = kCustomProvider;
        event.payload.assign(k % 23, static_cast<std::uint8_t>(k));
        events.push_back(event);
    }
    const std::filesystem::path path = directory_ / "round_trip.etl";
    std::uint32_t buffers = 0;
    {
        EtlWriter writer(path, options);
        for (std::uint32_t processor = 0; processor < 3; ++processor) {
            for (const Event& event : events) {
                if (event.processor == processor) {
                    writer.Add(event);
                }
            }
        }
        writer.Finish();
        buffers = writer.buffers_written();
    }
    ASSERT_GE(buffers, 1u + 3 * 3) << "several buffers per processor";

    const ReadBack read = ReadWithTheConsumer(path);
    ASSERT_EQ(read.status, ERROR_SUCCESS);
    EXPECT_EQ(read.logfile_header.BuffersWritten, buffers);
    EXPECT_EQ(read.logfile_header.PointerSize, c.pointer_size);
    EXPECT_EQ(read.logfile_header.NumberOfProcessors, 3u);
    EXPECT_EQ(read.logfile_header.EndTime.QuadPart,
              ExpectedTime(c, options.start_time, events.back().raw_timestamp));

    ASSERT_EQ(read.events.size(), events.size() + 1);
    const DeliveredEvent& first = read.events.front();
    EXPECT_TRUE(SameGuid(first.header.ProviderId, kEventTraceProvider));
    EXPECT_EQ(first.header.EventDescriptor.Opcode, 0);
    EXPECT_EQ(first.header.TimeStamp.QuadPart, options.start_time);

    for (std::size_t k = 0; k < events.size(); ++k) {
        const Event& in = events[k];
        const DeliveredEvent& out = read.events[k + 1];
        SCOPED_TRACE("event " + std::to_string(k));
        EXPECT_EQ(out.header.TimeStamp.QuadPart, ExpectedTime(c, options.start_time, in.raw_timestamp));
        EXPECT_EQ(out.context.ProcessorIndex, in.processor);
        EXPECT_EQ(out.header.EventDescriptor.Opcode, in.type);
        EXPECT_EQ(out.header.EventDescriptor.Version, in.version);
        EXPECT_TRUE(SameGuid(out.header.ProviderId, IsKernelForm(in.form) ? kThreadProvider : kCustomProvider));
        EXPECT_EQ(out.header.Flags & 0x60, Is64Bit(in.form) ? 0x40 : 0x20);
        if (!IsPerfinfo(in.form)) {
            EXPECT_EQ(out.header.ProcessId, in.pid);
            EXPECT_EQ(out.header.ThreadId, in.tid);
        }
        EXPECT_EQ(out.user_data, in.payload);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, RoundTripTest,
    ::testing::Values(
        RoundTripCase{"Qpc10MHz64", 8, Clock::QueryPerformanceCounter, 10'000'000, 3000, 1'000'000, false},
        RoundTripCase{"Qpc10MHz32", 4, Clock::QueryPerformanceCounter, 10'000'000, 3000, 1'000'000, false},
        RoundTripCase{"QpcOdd64", 8, Clock::QueryPerformanceCounter, 3'579'545, 3000, 987'654'321, false},
        RoundTripCase{"QpcOdd32", 4, Clock::QueryPerformanceCounter, 3'579'545, 3000, 987'654'321, false},
        RoundTripCase{"SystemTime64", 8, Clock::SystemTime, 10'000'000, 3000, kDefaultStartTime - 777, false},
        RoundTripCase{"SystemTime32", 4, Clock::SystemTime, 10'000'000, 3000, kDefaultStartTime - 777, false},
        RoundTripCase{"CpuCycles64", 8, Clock::CpuCycles, 10'000'000, 2993, 5'000'000'000, false},
        RoundTripCase{"CompressedQpcOdd64", 8, Clock::QueryPerformanceCounter, 3'579'545, 3000, 1'000, true},
        RoundTripCase{"CompressedSystemTime32", 4, Clock::SystemTime, 10'000'000, 3000, kDefaultStartTime, true}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return info.param.name; });

}  // namespace
}  // namespace dormiscope::etl
