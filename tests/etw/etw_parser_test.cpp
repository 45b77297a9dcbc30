#include "etw/etw_parser.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/kernel_event_classes.h"
#include "support/kernel_trace.h"
#include "support/log_capture.h"

namespace dormiscope {
namespace {

using testing::KernelTrace;
using testing::LogCapture;
using testing::TemporaryDirectory;

TEST(EventKeyHashTest, XorsTheFnvHashesOfTheGuidPartsAndTheValue) {
    const EventKeyHash hash;
    EXPECT_EQ(hash(ProviderOpcodeKey{kProcessProvider, 1}), 0x3091b9d8e9887dd7ULL);
    EXPECT_EQ(hash(ProviderOpcodeKey{kProcessProvider, 36}), 0x30919cd8e988b148ULL);
    EXPECT_EQ(hash(ProviderWordKey{kProcessProvider, 0x0102}), 0x97cb5693db78ff77ULL);
}

TEST(EventKeyHashTest, KeysDifferingInOneGuidByteDiffer) {
    ProviderOpcodeKey other{kProcessProvider, 1};
    other.provider.Data4[7] ^= 1;
    EXPECT_FALSE((ProviderOpcodeKey{kProcessProvider, 1} == other));
    EXPECT_TRUE((ProviderOpcodeKey{kProcessProvider, 1} == ProviderOpcodeKey{kProcessProvider, 1}));
}

// What the callbacks of one pass saw.
struct Seen {
    std::vector<std::pair<int, std::int64_t>> calls;  // callback, currentTimeStamp
    std::vector<std::int64_t> event_stamps;
};

template <int Which>
void Record(const EVENT_RECORD& event, const TraceInfo* info, void* context) {
    auto* const seen = static_cast<Seen*>(context);
    seen->calls.emplace_back(Which, info->currentTimeStamp);
    seen->event_stamps.push_back(event.EventHeader.TimeStamp.QuadPart);
}

class ETWParserTest : public ::testing::Test {
protected:
    TemporaryDirectory directory_;
};

TEST_F(ETWParserTest, DispatchesByProviderAndOpcodeWithTheEventsTimeStamp) {
    const auto path = KernelTrace()
                          .ProcessRundown(4, "System", 100)
                          .ThreadRundown(4, 8, 200)
                          .ProcessStart(720, "app.exe", 300)
                          .ContextSwitch(400, 8, 0)
                          .Write(directory_ / "t.etl");
    ETWParser parser;
    Seen seen;
    TRACE_LOGFILE_HEADER header{};
    ASSERT_EQ(parser.Open(path.wstring(), header, &seen), 0U);
    EXPECT_EQ(parser.Info().currentTimeStamp, 0);
    parser.AddEventCallback({kProcessProvider, kOpcodeDCStart}, Record<1>);
    parser.AddEventCallback({kProcessProvider, kOpcodeStart}, Record<2>);
    parser.AddEventCallback({kThreadProvider, kOpcodeCSwitch}, Record<3>);
    EXPECT_EQ(parser.Process(), 0U);
    EXPECT_EQ(parser.Close(), 0U);

    const std::int64_t start = parser.Info().StartTime;
    const std::vector<std::pair<int, std::int64_t>> expected = {{1, start + 100}, {2, start + 300}, {3, start + 400}};
    EXPECT_EQ(seen.calls, expected);
    EXPECT_EQ(seen.event_stamps, (std::vector<std::int64_t>{start + 100, start + 300, start + 400}));
}

// Each opcode remembers its last look-up: two providers taking turns with one
// opcode, and a registration added between passes, must still find their own.
TEST_F(ETWParserTest, OneOpcodeOfTwoProvidersInTurnAndALaterRegistrationReachTheirOwnCallbacks) {
    const auto path = KernelTrace()
                          .ThreadStart(720, 8, 100)
                          .ProcessStart(724, "b.exe", 200)
                          .ThreadStart(724, 12, 300)
                          .Write(directory_ / "t.etl");
    ETWParser parser;
    Seen seen;
    TRACE_LOGFILE_HEADER header{};
    ASSERT_EQ(parser.Open(path.wstring(), header, &seen), 0U);
    parser.AddEventCallback({kProcessProvider, kOpcodeStart}, Record<1>);
    EXPECT_EQ(parser.Process(), 0U);
    EXPECT_EQ(parser.Close(), 0U);
    ASSERT_EQ(parser.Open(path.wstring(), header, &seen), 0U);
    parser.AddEventCallback({kThreadProvider, kOpcodeStart}, Record<2>);
    EXPECT_EQ(parser.Process(), 0U);
    EXPECT_EQ(parser.Close(), 0U);

    std::vector<int> callbacks;
    for (const auto& [callback, stamp] : seen.calls) {
        callbacks.push_back(callback);
    }
    EXPECT_EQ(callbacks, (std::vector<int>{1, 2, 1, 2}));
}

TEST_F(ETWParserTest, SecondRegistrationOfAKeyIsRefusedAndTheFirstKept) {
    const auto path = KernelTrace().ProcessRundown(4, "System", 10).Write(directory_ / "t.etl");
    ETWParser parser;
    Seen seen;
    TRACE_LOGFILE_HEADER header{};
    ASSERT_EQ(parser.Open(path.wstring(), header, &seen), 0U);
    ::testing::internal::CaptureStdout();
    parser.AddEventCallback({kProcessProvider, 1}, Record<1>);
    parser.AddEventCallback({kProcessProvider, 2}, Record<2>);
    parser.AddEventCallback({kProcessProvider, 3}, Record<3>);
    parser.AddEventCallback({kProcessProvider, 3}, Record<4>);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "AddEventCallback() failed. Event already exists in Map\n");
    parser.Process();
    parser.Close();
    ASSERT_EQ(seen.calls.size(), 1U);
    EXPECT_EQ(seen.calls[0].first, 3);
}

TEST_F(ETWParserTest, NoMatchingRegistrationRunsNothingAndLogsNothing) {
    const auto path = KernelTrace().ProcessRundown(4, "System", 10).Write(directory_ / "t.etl");
    LogCapture log;
    ETWParser parser;
    Seen seen;
    TRACE_LOGFILE_HEADER header{};
    ASSERT_EQ(parser.Open(path.wstring(), header, &seen), 0U);
    parser.AddEventCallback({kThreadProvider, kOpcodeCSwitch}, Record<1>);
    EXPECT_EQ(parser.Process(), 0U);
    parser.Close();
    EXPECT_TRUE(seen.calls.empty());
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ETWParserTest, MissingFileReportsInvalidHandle) {
    LogCapture log;
    ETWParser parser;
    TRACE_LOGFILE_HEADER header{};
    header.BufferSize = 77;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(parser.Open((directory_ / "missing.etl").wstring(), header, nullptr), 6U);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "6");
    EXPECT_EQ(header.BufferSize, 77U);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"[ERROR] ERROR_INVALID_HANDLE "});
}

TEST_F(ETWParserTest, LostEventsAreLoggedAndOpeningGoesOn) {
    for (const std::uint32_t lost : {0U, 5U}) {
        etl::TraceOptions options;
        options.events_lost = lost;
        const auto path = KernelTrace(options).ProcessRundown(4, "System").Write(directory_ / "t.etl");
        LogCapture log;
        ETWParser parser;
        TRACE_LOGFILE_HEADER header{};
        ASSERT_EQ(parser.Open(path.wstring(), header, nullptr), 0U);
        EXPECT_EQ(header.EventsLost, lost);
        parser.Close();
        const std::vector<std::string> expected =
            lost == 0 ? std::vector<std::string>{} : std::vector<std::string>{"[INFO] WARNING: Trace is mising 5 Events"};
        EXPECT_EQ(log.Lines(), expected);
    }
}

TEST_F(ETWParserTest, HeaderFieldsAfterTheNamesMoveWithFourBytePointers) {
    for (const std::uint32_t pointer_size : {8U, 4U}) {
        etl::TraceOptions options;
        options.pointer_size = pointer_size;
        options.perf_freq = 3'579'545;
        options.end_time = options.start_time + 50'000'000;
        const auto path = KernelTrace(options).ProcessRundown(4, "System").Write(directory_ / "t.etl");
        ETWParser parser;
        TRACE_LOGFILE_HEADER header{};
        ASSERT_EQ(parser.Open(path.wstring(), header, nullptr), 0U);
        EXPECT_EQ(parser.Info().pointerSize, pointer_size);
        EXPECT_EQ(parser.Info().StartTime, options.start_time);
        EXPECT_EQ(parser.Info().EndTime, options.end_time);
        EXPECT_DOUBLE_EQ(parser.Info().secondsPerTick, 1.0 / 3'579'545);
        parser.Close();
    }
}

TEST_F(ETWParserTest, ProcessingFailureIsReportedWithItsStatus) {
    const auto path = KernelTrace().ProcessRundown(4, "System", 10).ContextSwitch(20, 8, 0, 1).Write(directory_ / "t.etl");
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 100);  // the last buffer cut short
    LogCapture log;
    ETWParser parser;
    Seen seen;
    TRACE_LOGFILE_HEADER header{};
    ASSERT_EQ(parser.Open(path.wstring(), header, &seen), 0U);
    parser.AddEventCallback({kProcessProvider, kOpcodeDCStart}, Record<1>);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(parser.Process(), 1392U);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "1392");
    parser.Close();
    EXPECT_EQ(seen.calls.size(), 1U);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"[ERROR] ProcessTrace() failed with 1392"});
}

TEST_F(ETWParserTest, FailedCloseIsReportedAndTheHandleCleared) {
    const auto path = KernelTrace().ProcessRundown(4, "System", 10).Write(directory_ / "t.etl");
    LogCapture log;
    ETWParser parser;
    TRACE_LOGFILE_HEADER header{};
    ASSERT_EQ(parser.Open(path.wstring(), header, nullptr), 0U);
    EXPECT_EQ(parser.Close(), 0U);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(parser.Close(), 6U);  // the handle is 0 after the first close
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "6");
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"[ERROR] CloseTrace() failed with 6"});
}

}  // namespace
}  // namespace dormiscope
