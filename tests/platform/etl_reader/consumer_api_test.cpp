// The consumer functions' contract around the trace itself: arguments,
// handles, processing modes, time bounds and closing from a callback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "consumer_test_support.h"

namespace dormiscope::testing {
namespace {

const std::filesystem::path kSample = kSamplesDir / "win10-shutdown-perfdiag.etl";
constexpr std::size_t kSampleEvents = 17078;

// An open trace whose events are counted; closed at the end unless the test did.
class OpenTrace {
public:
    explicit OpenTrace(ULONG mode = PROCESS_TRACE_MODE_EVENT_RECORD, PEVENT_RECORD_CALLBACK callback = RecordEvent) {
        name_ = kSample.wstring();
        run_.logfile.LogFileName = name_.data();
        run_.logfile.ProcessTraceMode = mode;
        run_.logfile.EventRecordCallback = callback;
        run_.logfile.Context = &run_;
        run_.handle = OpenTraceW(&run_.logfile);
    }
    ~OpenTrace() { CloseTrace(run_.handle); }

    TRACEHANDLE& handle() { return run_.handle; }
    TraceRun& run() { return run_; }

private:
    std::wstring name_;
    TraceRun run_;
};

TEST(ConsumerApiTest, OpenRefusesWhatIsNotATraceFile) {
    EXPECT_EQ(OpenTraceW(nullptr), INVALID_PROCESSTRACE_HANDLE);
    EVENT_TRACE_LOGFILEW no_name{};
    EXPECT_EQ(OpenTraceW(&no_name), INVALID_PROCESSTRACE_HANDLE);
    std::wstring name = kSample.wstring();
    EVENT_TRACE_LOGFILEW real_time{};
    real_time.LogFileName = name.data();
    real_time.ProcessTraceMode = PROCESS_TRACE_MODE_REAL_TIME | PROCESS_TRACE_MODE_EVENT_RECORD;
    EXPECT_EQ(OpenTraceW(&real_time), INVALID_PROCESSTRACE_HANDLE);
}

TEST(ConsumerApiTest, ProcessTraceChecksItsArguments) {
    OpenTrace trace;
    ASSERT_NE(trace.handle(), INVALID_PROCESSTRACE_HANDLE);
    TRACEHANDLE handles[2] = {trace.handle(), trace.handle()};
    EXPECT_EQ(ProcessTrace(handles, 0, nullptr, nullptr), ERROR_BAD_LENGTH);
    EXPECT_EQ(ProcessTrace(handles, 65, nullptr, nullptr), ERROR_BAD_LENGTH);
    EXPECT_EQ(ProcessTrace(handles, 2, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ProcessTrace(nullptr, 1, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    for (TRACEHANDLE unknown : {TRACEHANDLE{0}, INVALID_PROCESSTRACE_HANDLE, trace.handle() + 1000}) {
        EXPECT_EQ(ProcessTrace(&unknown, 1, nullptr, nullptr), ERROR_INVALID_HANDLE);
    }
    FILETIME early{1, 0};
    FILETIME late{2, 0};
    EXPECT_EQ(ProcessTrace(&trace.handle(), 1, &late, &early), ERROR_INVALID_TIME);
    EXPECT_TRUE(trace.run().events.empty());
}

TEST(ConsumerApiTest, CloseTraceFreesTheHandleOnce) {
    OpenTrace trace;
    const TRACEHANDLE handle = trace.handle();
    EXPECT_EQ(CloseTrace(handle), ERROR_SUCCESS);
    EXPECT_EQ(CloseTrace(handle), ERROR_INVALID_HANDLE);
    EXPECT_EQ(CloseTrace(0), ERROR_INVALID_HANDLE);
    EXPECT_EQ(CloseTrace(INVALID_PROCESSTRACE_HANDLE), ERROR_INVALID_HANDLE);
    TRACEHANDLE closed = handle;
    EXPECT_EQ(ProcessTrace(&closed, 1, nullptr, nullptr), ERROR_INVALID_HANDLE);
}

TEST(ConsumerApiTest, OnlyEventRecordDeliveryIsSupported) {
    OpenTrace trace(0);
    EXPECT_EQ(ProcessTrace(&trace.handle(), 1, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(trace.run().events.empty());
}

TEST(ConsumerApiTest, RawTimestampModeDeliversTheSessionClock) {
    OpenTrace converted;
    OpenTrace raw(PROCESS_TRACE_MODE_EVENT_RECORD | PROCESS_TRACE_MODE_RAW_TIMESTAMP);
    ASSERT_EQ(ProcessTrace(&converted.handle(), 1, nullptr, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(ProcessTrace(&raw.handle(), 1, nullptr, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(raw.run().events.size(), kSampleEvents);
    EXPECT_EQ(raw.run().events[0].header.TimeStamp.QuadPart, 6'365'537);  // the header event's raw stamp
    // QPC at 10 MHz: converted = StartTime + raw − raw of the header event.
    const LONGLONG offset = converted.run().events[0].header.TimeStamp.QuadPart - 6'365'537;
    for (std::size_t index = 0; index < kSampleEvents; ++index) {
        ASSERT_EQ(converted.run().events[index].header.TimeStamp.QuadPart,
                  raw.run().events[index].header.TimeStamp.QuadPart + offset);
    }
}

TEST(ConsumerApiTest, TimeBoundsDeliverOnlyEventsInside) {
    OpenTrace all;
    ASSERT_EQ(ProcessTrace(&all.handle(), 1, nullptr, nullptr), ERROR_SUCCESS);
    const std::vector<SeenEvent>& events = all.run().events;
    const LONGLONG first = events[100].header.TimeStamp.QuadPart;
    const LONGLONG last = events[200].header.TimeStamp.QuadPart;
    std::size_t inside = 0;
    for (const SeenEvent& event : events) {
        inside += event.header.TimeStamp.QuadPart >= first && event.header.TimeStamp.QuadPart <= last ? 1 : 0;
    }
    OpenTrace bounded;
    FILETIME start{static_cast<DWORD>(first), static_cast<DWORD>(first >> 32)};
    FILETIME end{static_cast<DWORD>(last), static_cast<DWORD>(last >> 32)};
    ASSERT_EQ(ProcessTrace(&bounded.handle(), 1, &start, &end), ERROR_SUCCESS);
    EXPECT_EQ(bounded.run().events.size(), inside);
    EXPECT_GE(inside, 101u);
}

TEST(ConsumerApiTest, ProcessingAgainDeliversTheSameEvents) {
    OpenTrace trace;
    ASSERT_EQ(ProcessTrace(&trace.handle(), 1, nullptr, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(ProcessTrace(&trace.handle(), 1, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(trace.run().events.size(), 2 * kSampleEvents);
}

// Closing from within a callback stops delivery after that event.
void WINAPI CloseAfterTenEvents(PEVENT_RECORD record) {
    auto* run = static_cast<TraceRun*>(record->UserContext);
    RecordEvent(record);
    if (run->events.size() == 10) {
        EXPECT_EQ(CloseTrace(run->handle), ERROR_SUCCESS);
    }
}

TEST(ConsumerApiTest, CloseTraceInACallbackCancelsProcessing) {
    OpenTrace trace(PROCESS_TRACE_MODE_EVENT_RECORD, CloseAfterTenEvents);
    EXPECT_EQ(ProcessTrace(&trace.handle(), 1, nullptr, nullptr), ERROR_CANCELLED);
    EXPECT_EQ(trace.run().events.size(), 10u);
    EXPECT_EQ(CloseTrace(trace.handle()), ERROR_INVALID_HANDLE);
}

// A closed handle stays invalid even after later opens.
TEST(ConsumerApiTest, HandlesAreNeverReused) {
    TRACEHANDLE closed = 0;
    {
        OpenTrace first;
        closed = first.handle();
    }
    OpenTrace second;
    EXPECT_NE(second.handle(), 0u);
    EXPECT_NE(second.handle(), INVALID_PROCESSTRACE_HANDLE);
    EXPECT_NE(second.handle(), closed);
    EXPECT_EQ(CloseTrace(closed), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace dormiscope::testing
