// The consumer over the real Windows traces: logfile header, event counts,
// order and the kernel Process/Thread events each file is known to hold.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

#include "consumer_test_support.h"
#include "platform/etl_reader/trace_names.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::testing {
namespace {


// (class, opcode, version) → count; class 'P' process, 'T' thread.
using KernelCounts = std::map<std::tuple<char, int, int>, int>;

struct Sample {
    std::string file;
    ULONG build;
    ULONG processors;
    ULONG buffers_written;
    ULONG log_file_mode;
    LONGLONG start_time;
    LONGLONG end_time;
    std::u16string logger_name;
    std::size_t events;
    KernelCounts kernel;
};

const Sample kSamples[] = {
    {"win10-shutdown-perfdiag.etl", 18362, 2, 49, 0x02000080, 132273542277445790, 132273837534159885,
     u"PerfDiag Logger", 17078,
     {{{'P', 2, 4}, 60}, {{'P', 3, 4}, 94}, {{'P', 4, 4}, 37}, {{'P', 39, 5}, 5},
      {{'T', 1, 3}, 350}, {{'T', 2, 3}, 1032}, {{'T', 3, 3}, 1175}, {{'T', 4, 3}, 501}}},
    {"win10-diaghub-kernel.etl", 19041, 4, 59, 0x00011001, 132445973972118091, 132445974102913851, u"", 16335,
     {{{'P', 1, 4}, 18}, {{'P', 2, 4}, 3}, {{'P', 3, 4}, 223}, {{'P', 4, 4}, 223}, {{'P', 39, 5}, 9}}},
    {"win7-relogger-merged.etl", 7601, 4, 405, 0x00010001, 131087674424789313, 131087674469774997, u"Relogger",
     185961,
     {{{'P', 1, 3}, 2}, {{'P', 2, 3}, 2}, {{'P', 3, 3}, 46}, {{'P', 4, 3}, 46},
      {{'T', 1, 3}, 16}, {{'T', 2, 3}, 14}, {{'T', 3, 3}, 639}, {{'T', 4, 3}, 641}}},
    {"win8-relogger-compressed.etl", 9200, 8, 360, 0x04010001, 132404548206236167, 132404548306935923,
     u"Relogger", 179474,
     {{{'P', 1, 4}, 1}, {{'P', 2, 4}, 1}, {{'P', 3, 4}, 32}, {{'P', 4, 4}, 32}, {{'P', 39, 4}, 2},
      {{'T', 1, 3}, 9}, {{'T', 2, 3}, 15}, {{'T', 3, 3}, 670}, {{'T', 4, 3}, 664}}},
};

class SampleTraceTest : public ::testing::TestWithParam<Sample> {};

TEST_P(SampleTraceTest, OpenFillsTheLogfileHeaderFromTheFile) {
    const Sample& sample = GetParam();
    std::wstring name = (kSamplesDir / sample.file).wstring();
    EVENT_TRACE_LOGFILEW logfile{};
    logfile.LogFileName = name.data();
    logfile.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD;
    TRACEHANDLE handle = OpenTraceW(&logfile);
    ASSERT_NE(handle, INVALID_PROCESSTRACE_HANDLE);
    EXPECT_NE(handle, 0u);

    const TRACE_LOGFILE_HEADER& header = logfile.LogfileHeader;
    EXPECT_EQ(header.BufferSize, 65536u);
    EXPECT_EQ(logfile.BufferSize, 65536u);
    EXPECT_EQ(header.ProviderVersion, sample.build);
    EXPECT_EQ(header.NumberOfProcessors, sample.processors);
    EXPECT_EQ(header.PointerSize, 8u);
    EXPECT_EQ(header.EventsLost, 0u);
    EXPECT_EQ(header.BuffersWritten, sample.buffers_written);
    EXPECT_EQ(header.LogFileMode, sample.log_file_mode);
    EXPECT_EQ(header.PerfFreq.QuadPart, 10'000'000);
    EXPECT_EQ(header.ReservedFlags, 1u);
    EXPECT_EQ(header.StartTime.QuadPart, sample.start_time);
    EXPECT_EQ(header.EndTime.QuadPart, sample.end_time);
    EXPECT_EQ(logfile.IsKernelTrace, sample.file == "win10-shutdown-perfdiag.etl" ? 1u : 0u);
    EXPECT_EQ(LoggerNameOf(handle), sample.logger_name);
    EXPECT_FALSE(LogFileNameOf(handle).empty());
    EXPECT_EQ(CloseTrace(handle), ERROR_SUCCESS);
    EXPECT_EQ(LoggerNameOf(handle), u"");
}

TEST_P(SampleTraceTest, DeliversEveryEventOnceInTimeOrderHeaderFirst) {
    const Sample& sample = GetParam();
    const TraceRun run = ReadTrace(kSamplesDir / sample.file);
    ASSERT_TRUE(run.opened);
    EXPECT_EQ(run.status, ERROR_SUCCESS);
    ASSERT_EQ(run.events.size(), sample.events);

    const EVENT_HEADER& first = run.events.front().header;
    EXPECT_TRUE(SameGuid(first.ProviderId, kEventTraceProvider));
    EXPECT_EQ(first.EventDescriptor.Opcode, 0);
    EXPECT_EQ(first.TimeStamp.QuadPart, sample.start_time);

    KernelCounts kernel;
    for (std::size_t index = 0; index < run.events.size(); ++index) {
        const SeenEvent& event = run.events[index];
        if (index > 0) {
            ASSERT_GE(event.header.TimeStamp.QuadPart, run.events[index - 1].header.TimeStamp.QuadPart)
                << "event " << index;
        }
        EXPECT_EQ(event.user_context, &run);
        const char kind = SameGuid(event.header.ProviderId, kProcessProvider)  ? 'P'
                          : SameGuid(event.header.ProviderId, kThreadProvider) ? 'T'
                                                                          : 0;
        const int opcode = event.header.EventDescriptor.Opcode;
        if (kind != 0 && ((opcode >= 1 && opcode <= 4) || opcode == 39)) {
            ++kernel[{kind, opcode, event.header.EventDescriptor.Version}];
        }
    }
    EXPECT_EQ(kernel, sample.kernel);
}

// An independent check of the time reference and the merge: a Windows-based
// reader printed the first Process DCStart (pid 0, "Idle") of the compressed
// sample at 28.493 ms after the session start, on processor 7, with 75 bytes.
TEST(SampleTraceTest, FirstProcessRundownMatchesTheWindowsBaseline) {
    const TraceRun run = ReadTrace(kSamplesDir / "win8-relogger-compressed.etl");
    ASSERT_EQ(run.status, ERROR_SUCCESS);
    const LONGLONG start = run.logfile.LogfileHeader.StartTime.QuadPart;
    for (const SeenEvent& event : run.events) {
        if (SameGuid(event.header.ProviderId, kProcessProvider) && event.header.EventDescriptor.Opcode == 3) {
            EXPECT_EQ((event.header.TimeStamp.QuadPart - start + 5) / 10, 28'493);
            EXPECT_EQ(event.buffer_context.ProcessorIndex, 7);
            EXPECT_EQ(event.user_data.size(), 75u);
            EXPECT_EQ(event.header.ProcessId, 0xFFFFFFFFu);
            EXPECT_EQ(event.header.Flags, EVENT_HEADER_FLAG_CLASSIC_HEADER | EVENT_HEADER_FLAG_64_BIT_HEADER |
                                              EVENT_HEADER_FLAG_PROCESSOR_INDEX);
            return;
        }
    }
    FAIL() << "no Process DCStart";
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleTraceTest, ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<Sample>& info) {
                             std::string name = info.param.file.substr(0, info.param.file.find('.'));
                             for (char& character : name) {
                                 if (character == '-') {
                                     character = '_';
                                 }
                             }
                             return name;
                         });

}  // namespace
}  // namespace dormiscope::testing
