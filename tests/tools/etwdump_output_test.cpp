#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "etwdump/event_json.h"
#include "etwdump/json_text.h"
#include "etwdump/trace_summary.h"
#include "platform/etw_api.h"
#include "platform/trace_data_helper/tdh_test_events.h"
#include "platform/kernel_event_classes.h"
#include "platform/kernel_power_events.h"

namespace dormiscope::etwdump {
namespace {

using namespace dormiscope::testing;

TEST(EtwdumpJsonTextTest, EscapesEveryByteAndUnitIntoValidJson) {
    struct Case {
        std::string bytes;
        std::string json;
    };
    const Case byte_cases[] = {
        {"plain.exe", R"("plain.exe")"},
        {"a\"b\\c", R"("a\"b\\c")"},
        {std::string("\n\t\x01\x7f", 4), R"("\n\t\u0001\u007F")"},
        {"caf\xe9\xff", R"("caf\u00E9\u00FF")"},
    };
    for (const Case& test : byte_cases) {
        std::string out;
        AppendJsonString(out, test.bytes);
        EXPECT_EQ(out, test.json);
    }
    std::string out;
    AppendJsonString(out, std::u16string(u"C:\\x \"\u00e9\U0001F600\0z", 11));
    EXPECT_EQ(out, R"("C:\\x \"\u00E9\uD83D\uDE00\u0000z")");
    EXPECT_EQ(GuidText(kThreadProvider), "{3D6FA8D1-FE05-11D0-9DDA-00C04FD7BA7C}");
}

TEST(EtwdumpSidTextTest, FormatsWellFormedSidsAndRefusesOthers) {
    const auto sid = [](std::uint8_t authority, std::vector<std::uint32_t> sub_authorities) {
        Payload payload;
        payload.U8(1).U8(static_cast<std::uint8_t>(sub_authorities.size()));
        for (int byte = 0; byte < 5; ++byte) {
            payload.U8(0);
        }
        payload.U8(authority);
        for (const std::uint32_t value : sub_authorities) {
            payload.U32(value);
        }
        return payload.bytes();
    };
    EXPECT_EQ(SidText(sid(5, {18}), 0), "S-1-5-18");
    EXPECT_EQ(SidText(sid(5, {21, 4151223144, 1238771585, 1724997581, 1000}), 0),
              "S-1-5-21-4151223144-1238771585-1724997581-1000");
    const std::vector<std::uint8_t> whole = sid(5, {18});
    EXPECT_EQ(SidText(std::vector<std::uint8_t>(whole.begin(), whole.end() - 1), 0), "") << "truncated";
    EXPECT_EQ(SidText(sid(5, std::vector<std::uint32_t>(16, 1)), 0), "") << "too many sub-authorities";
    EXPECT_EQ(SidText(std::vector<std::uint8_t>(4, 0), 8), "") << "no SID behind the TOKEN_USER";
    std::vector<std::uint8_t> large_authority = sid(5, {1});
    large_authority[2] = 1;
    EXPECT_EQ(SidText(large_authority, 0), "S-1-0x010000000005-1");
}

std::string JsonOf(EVENT_RECORD* event) {
    EventJsonWriter writer;
    std::string out;
    writer.Append(out, *event);
    return out;
}

TEST(EtwdumpEventJsonTest, WritesHeaderFactsAndDecodedProperties) {
    TestEvent cswitch(kThreadProvider, 2, 36,
                      Payload().U32(0x8CC).U32(0).U8(8).U8(0).U8(1).U8(0).U8(0).U8(0).U8(2).U8(4).U32(1).U32(
                          0x34886D87).bytes(),
                      kFlags64 | EVENT_HEADER_FLAG_PROCESSOR_INDEX);
    cswitch.get()->EventHeader.TimeStamp.QuadPart = 132404548206521099;
    cswitch.get()->EventHeader.ProcessId = 0xFFFFFFFF;
    cswitch.get()->EventHeader.ThreadId = 0xFFFFFFFF;
    cswitch.get()->BufferContext.ProcessorIndex = 260;
    EXPECT_EQ(JsonOf(cswitch.get()),
              R"({"timestamp":132404548206521099,"processor":260,"provider":"{3D6FA8D1-FE05-11D0-9DDA-00C04FD7BA7C}",)"
              R"("opcode":36,"version":2,"id":0,"task":0,"pointer_size":8,"pid":4294967295,"tid":4294967295,)"
              R"("user_data_length":24,"properties":{"NewThreadId":2252,"OldThreadId":0,"NewThreadPriority":8,)"
              R"("OldThreadPriority":0,"PreviousCState":1,"SpareByte":0,"OldThreadWaitReason":0,)"
              R"("OldThreadWaitMode":0,"OldThreadState":2,"OldThreadWaitIdealProcessor":4,"NewThreadWaitTime":1,)"
              R"("Reserved":881356167}})");

    Payload process;
    process.Pointer(0x9000, 4).U32(1980).U32(1732).U32(2).U32(0xC0000005).Pointer(0xB04E5000, 4).U32(0);
    process.TokenUserSid(0x7000, 4, 5, {18}).Ansi("t\xe9st.exe").Utf16(u"\"C:\\t.exe\" -x").Utf16(u"").Utf16(u"");
    TestEvent start(kProcessProvider, 4, 1, process.bytes(), kFlags32);
    start.get()->BufferContext.ProcessorNumber = 3;
    const std::string json = JsonOf(start.get());
    EXPECT_NE(json.find(R"("processor":3,)"), std::string::npos);
    EXPECT_NE(json.find(R"("pointer_size":4,)"), std::string::npos);
    EXPECT_NE(json.find(R"("properties":{"UniqueProcessKey":36864,"ProcessId":1980,"ParentId":1732,"SessionId":2,)"
                        R"("ExitStatus":-1073741819,"DirectoryTableBase":2957922304,"Flags":0,"UserSID":"S-1-5-18",)"
                        R"("ImageFileName":"t\u00E9st.exe","CommandLine":"\"C:\\t.exe\" -x","PackageFullName":"",)"
                        R"("ApplicationId":""}})"),
              std::string::npos)
        << json;
}

TEST(EtwdumpEventJsonTest, PrintsTheReadyAndNameEventsProperties) {
    TestEvent ready(kThreadProvider, 2, 50, Payload().U32(0x1F4).U8(1).U8(2).U8(1).U8(0).bytes());
    EXPECT_NE(JsonOf(ready.get()).find(R"("properties":{"TThreadId":500,"AdjustReason":1,"AdjustIncrement":2,)"
                                       R"("Flag":1,"Reserved":0}})"),
              std::string::npos);
    TestEvent name(kThreadProvider, 2, 72, Payload().U32(720).U32(96).Utf16(u"R\u00e9nder").bytes());
    EXPECT_NE(JsonOf(name.get()).find(R"("properties":{"ProcessId":720,"ThreadId":96,"ThreadName":"R\u00E9nder"}})"),
              std::string::npos);
}

TEST(EtwdumpEventJsonTest, PrintsAddressesInHexAndStackFramesLeafFirst) {
    TestEvent stack(kStackWalkProvider, 2, 32,
                    Payload().U64(737398883714).U32(1876).U32(3488).U32(0x8268F318).U32(0x77710A00).bytes(), kFlags32);
    EXPECT_NE(JsonOf(stack.get()).find(R"("properties":{"EventTimeStamp":737398883714,"StackProcess":1876,)"
                                       R"("StackThread":3488},"frames":["0x8268F318","0x77710A00"]})"),
              std::string::npos);
    // A partial address at the end: the whole ones, and what was wrong.
    TestEvent cut(kStackWalkProvider, 2, 35, Payload().U64(0xFFFFFA8303452C50).U64(0x1).U8(7).bytes());
    EXPECT_NE(JsonOf(cut.get()).find(R"("properties":{"StackKey":"0xFFFFFA8303452C50"},"frames":["0x1"],)"
                                     R"("frames_damage":"truncated"})"),
              std::string::npos);
    const GUID pdb = {0xD7EA2B66, 0x8298, 0x4A0E, {0x86, 0x97, 0x62, 0x0F, 0x55, 0x71, 0xB7, 0xBF}};
    Payload identity;
    identity.U64(0xFFFFF8000260F000).U32(0).Raw(&pdb, sizeof pdb).U32(2).Ansi("ntkrnlmp.pdb");
    TestEvent record(kImageIdentityProvider, 2, 36, identity.bytes());
    EXPECT_NE(JsonOf(record.get()).find(R"("properties":{"ImageBase":"0xFFFFF8000260F000","ProcessId":0,)"
                                        R"("GuidSig":"{D7EA2B66-8298-4A0E-8697-620F5571B7BF}","Age":2,)"
                                        R"("PdbFileName":"ntkrnlmp.pdb"}})"),
              std::string::npos);
    TestEvent dpc(kPerfInfoProvider, 2, 69, Payload().U64(90).U64(0xFFFFF80021489A10).bytes());
    EXPECT_NE(JsonOf(dpc.get()).find(R"("properties":{"InitialTime":90,"Routine":"0xFFFFF80021489A10"}})"),
              std::string::npos);
}

TEST(EtwdumpEventJsonTest, NamesTheTimerResolutionFieldsAsTheProviderDoes) {
    TestEvent change(kKernelPowerProvider, 1, 0,
                     Payload().U32(10000).U32(1200).U16(2).U16('g').U16('o').U32(62).bytes());
    change.get()->EventHeader.EventDescriptor.Id = kEventTimeResolutionChange;
    EXPECT_NE(JsonOf(change.get()).find(R"("properties":{"RequestedResolution":10000,"Pid":1200,"AppNameLength":2,)"
                                        R"("AppName":"go","SubProcessTag":62}})"),
              std::string::npos);
    TestEvent stack(kKernelPowerProvider, 0, 0,
                    Payload().U32(5000).U32(1300).U16(1).U16('p').U32(2).U32(0x7710A00).U32(0x401F00).bytes(),
                    kFlags32);
    stack.get()->EventHeader.EventDescriptor.Id = kEventTimerResolutionStackRundown;
    EXPECT_NE(JsonOf(stack.get()).find(R"("properties":{"RequestedPeriod":5000,"Pid":1300,"AppNameLength":1,)"
                                       R"("AppName":"p","StackSize":2,"Stack":["0x7710A00","0x401F00"]}})"),
              std::string::npos);
    // A version whose layout is not known is not guessed at.
    TestEvent unknown(kKernelPowerProvider, 0, 0, Payload().U32(10000).U16(2).U16('g').U16('o').bytes());
    unknown.get()->EventHeader.EventDescriptor.Id = kEventTimeResolutionChange;
    EXPECT_NE(JsonOf(unknown.get()).find(R"("id":63,)"), std::string::npos);
    EXPECT_NE(JsonOf(unknown.get()).find(R"("properties":null})"), std::string::npos);
}

TEST(EtwdumpEventJsonTest, MarksWhatCannotBeDecodedAsNull) {
    TestEvent header(kEventTraceProvider, 2, 0, std::vector<std::uint8_t>(16));
    EXPECT_NE(JsonOf(header.get()).find(R"("user_data_length":16,"properties":null})"), std::string::npos);

    TestEvent truncated(kThreadProvider, 2, 36, Payload().U32(0x8CC).U32(7).U8(8).bytes());
    EXPECT_NE(JsonOf(truncated.get()).find(R"("NewThreadId":2252,"OldThreadId":7,"NewThreadPriority":8,)"
                                           R"("OldThreadPriority":null,)"),
              std::string::npos);
}

TEST(EtwdumpTableTest, NamesKernelClassesCountsWithSeparatorsAndSaysWhenTheFileIsCutShort) {
    TraceSummary summary;
    constexpr GUID kOtherProvider = {0x1C95126E, 0x7EEA, 0x49A9, {0xA3, 0xFE, 0xA3, 0x78, 0xB0, 0x3D, 0xDB, 0x4D}};
    TestEvent cswitch(kThreadProvider, 2, kOpcodeCSwitch, {});
    TestEvent ready(kThreadProvider, 2, kOpcodeReadyThread, {});
    TestEvent process_start(kProcessProvider, 4, kOpcodeStart, {});
    TestEvent config(KernelGroupProvider(0x0B), 3, 10, {});
    TestEvent other(kOtherProvider, 0, 7, {});
    for (int count = 0; count < 1234; ++count) {
        summary.Add(*cswitch.get());
    }
    for (TestEvent* event : {&ready, &process_start, &config, &other, &other}) {
        summary.Add(*event->get());
    }

    TRACE_LOGFILE_HEADER header{};
    header.NumberOfProcessors = 1;
    header.PointerSize = 8;
    header.BuffersWritten = 128;
    header.StartTime.QuadPart = 1'000'000'000;
    header.EndTime.QuadPart = 1'000'000'000 + 600'000'000;
    EXPECT_EQ(summary.ToTable(header, 128),
              "trace:   1 processor, 60.0 s from the header, 1,239 events\n"
              "buffers: 128 of the 128 the header counts\n"
              "lost:    0 events, 0 buffers\n"
              "\n"
              "event class                                                 count\n"
              "Process Start v4                                                1\n"
              "SystemConfig opcode 10 v3                                       1\n"
              "Thread CSwitch v2                                           1,234\n"
              "Thread ReadyThread v2                                           1\n"
              "{1C95126E-7EEA-49A9-A3FE-A378B03DDB4D} opcode 7 v0              2\n");
    EXPECT_NE(summary.ToTable(header, 10)
                  .find("buffers: 10 of the 128 the header counts: the recording was cut short\n"),
              std::string::npos);
}

// What etwdump shows for a trace: the summary, and the lines of the kernel's
// Process and Thread events (every event is written, the others are not kept).
struct DumpedTrace {
    ULONG open_status = ERROR_SUCCESS;
    ULONG process_status = ERROR_SUCCESS;
    std::size_t delivered = 0;
    std::string summary;
    std::vector<std::string> kernel_lines;
};

struct DumpContext {
    TraceSummary summary;
    EventJsonWriter writer;
    std::string line;
    DumpedTrace* dumped;
};

void WINAPI CollectEvent(PEVENT_RECORD event) {
    auto& context = *static_cast<DumpContext*>(event->UserContext);
    ++context.dumped->delivered;
    context.summary.Add(*event);
    context.line.clear();
    context.writer.Append(context.line, *event);
    if (context.line.find("-FE05-11D0-9DDA-00C04FD7BA7C}") != std::string::npos) {
        context.dumped->kernel_lines.push_back(context.line);
    }
}

const DumpedTrace& DumpSample(const std::string& name) {
    static std::map<std::string, DumpedTrace> dumps;
    if (const auto found = dumps.find(name); found != dumps.end()) {
        return found->second;
    }
    const std::string path = std::string(DORMISCOPE_SAMPLES_DIR) + "/" + name;
    std::wstring wide_path(path.begin(), path.end());
    DumpedTrace& dumped = dumps[name];
    DumpContext context{{}, {}, {}, &dumped};
    EVENT_TRACE_LOGFILEW logfile{};
    logfile.LogFileName = wide_path.data();
    logfile.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD;
    logfile.EventRecordCallback = CollectEvent;
    logfile.Context = &context;
    TRACEHANDLE handle = OpenTraceW(&logfile);
    if (handle == INVALID_PROCESSTRACE_HANDLE) {
        dumped.open_status = ERROR_INVALID_HANDLE;
        return dumped;
    }
    dumped.process_status = ProcessTrace(&handle, 1, nullptr, nullptr);
    CloseTrace(handle);
    dumped.summary = context.summary.ToJson(logfile.LogfileHeader, logfile.BuffersRead);
    return dumped;
}

struct SampleFigures {
    const char* file;
    std::vector<std::string> header_fields;
    std::string events;
    // {provider letter P or T, opcode, version, count}
    std::vector<std::tuple<char, int, int, int>> kernel_counts;
};

std::string CountEntry(char provider, int opcode, int version, int count) {
    return std::string(R"({"provider":"{3D6FA8D)") + (provider == 'P' ? "0" : "1") +
           R"(-FE05-11D0-9DDA-00C04FD7BA7C}","opcode":)" + std::to_string(opcode) +
           ",\"version\":" + std::to_string(version) + ",\"count\":" + std::to_string(count) + "}";
}

class EtwdumpSampleTest : public ::testing::TestWithParam<SampleFigures> {};

TEST_P(EtwdumpSampleTest, SummaryHoldsTheHeaderAndTheKernelEventCounts) {
    const SampleFigures& sample = GetParam();
    const DumpedTrace& dumped = DumpSample(sample.file);
    ASSERT_EQ(dumped.open_status, ERROR_SUCCESS);
    ASSERT_EQ(dumped.process_status, ERROR_SUCCESS);
    for (const std::string& field : sample.header_fields) {
        EXPECT_NE(dumped.summary.find(field), std::string::npos) << field;
    }
    EXPECT_NE(dumped.summary.find("\"events\":" + sample.events + ","), std::string::npos);
    EXPECT_EQ(std::to_string(dumped.delivered), sample.events);
    for (const auto& [provider, opcode, version, count] : sample.kernel_counts) {
        const std::string entry = CountEntry(provider, opcode, version, count);
        EXPECT_NE(dumped.summary.find(entry), std::string::npos) << entry;
    }
    // Every process and thread event of the kinds above decodes completely.
    for (const std::string& line : dumped.kernel_lines) {
        if (line.find("\"properties\":{") != std::string::npos) {
            EXPECT_EQ(line.find(":null"), std::string::npos) << line;
        }
    }
}

const std::vector<std::string> kCommonHeader = {R"("BufferSize":65536,)", R"("PointerSize":8,)", R"("EventsLost":0,)",
                                                R"("PerfFreq":10000000,)", R"("ReservedFlags":1,)"};

std::vector<std::string> Header(std::vector<std::string> fields) {
    fields.insert(fields.end(), kCommonHeader.begin(), kCommonHeader.end());
    return fields;
}

INSTANTIATE_TEST_SUITE_P(
    Samples, EtwdumpSampleTest,
    ::testing::Values(
        SampleFigures{"win10-shutdown-perfdiag.etl",
                      Header({R"("ProviderVersion":18362,)", R"("NumberOfProcessors":2,)", R"("BuffersWritten":49,)",
                              R"("LogFileMode":33554560,)", R"("StartTime":132273542277445790,)",
                              R"("EndTime":132273837534159885,)", R"("LoggerName":"PerfDiag Logger",)",
                              R"("LogFileName":"C:\\Windows\\system32\\WDI\\LogFiles\\ShutdownPerfDiagLogger.etl",)"}),
                      "17078",
                      {{'P', 2, 4, 60}, {'P', 3, 4, 94}, {'P', 4, 4, 37}, {'P', 39, 5, 5}, {'T', 1, 3, 350},
                       {'T', 2, 3, 1032}, {'T', 3, 3, 1175}, {'T', 4, 3, 501}}},
        SampleFigures{"win10-diaghub-kernel.etl",
                      Header({R"("ProviderVersion":19041,)", R"("NumberOfProcessors":4,)", R"("BuffersWritten":59,)",
                              R"("LogFileMode":69633,)", R"("StartTime":132445973972118091,)",
                              R"("EndTime":132445974102913851,)", R"("LoggerName":"",)",
                              R"("LogFileName":"ReloggedFile.ETL",)"}),
                      "16335", {{'P', 1, 4, 18}, {'P', 2, 4, 3}, {'P', 3, 4, 223}, {'P', 4, 4, 223}, {'P', 39, 5, 9}}},
        SampleFigures{"win7-relogger-merged.etl",
                      Header({R"("ProviderVersion":7601,)", R"("NumberOfProcessors":4,)", R"("BuffersWritten":405,)",
                              R"("LogFileMode":65537,)", R"("StartTime":131087674424789313,)",
                              R"("EndTime":131087674469774997,)", R"("LoggerName":"Relogger",)"}),
                      "185961",
                      {{'P', 1, 3, 2}, {'P', 2, 3, 2}, {'P', 3, 3, 46}, {'P', 4, 3, 46}, {'T', 1, 3, 16},
                       {'T', 2, 3, 14}, {'T', 3, 3, 639}, {'T', 4, 3, 641}}},
        SampleFigures{"win8-relogger-compressed.etl",
                      Header({R"("ProviderVersion":9200,)", R"("NumberOfProcessors":8,)", R"("BuffersWritten":360,)",
                              R"("LogFileMode":67174401,)", R"("StartTime":132404548206236167,)",
                              R"("EndTime":132404548306935923,)", R"("LoggerName":"Relogger",)"}),
                      "179474",
                      {{'P', 1, 4, 1}, {'P', 2, 4, 1}, {'P', 3, 4, 32}, {'P', 4, 4, 32}, {'P', 39, 4, 2},
                       {'T', 1, 3, 9}, {'T', 2, 3, 15}, {'T', 3, 3, 670}, {'T', 4, 3, 664}}}),
    [](const ::testing::TestParamInfo<SampleFigures>& info) {
        std::string name;
        for (const char character : std::string(info.param.file)) {
            if (std::isalnum(static_cast<unsigned char>(character))) {
                name.push_back(character);
            }
        }
        return name;
    });

bool HasLine(const std::vector<std::string>& lines, const std::vector<std::string>& parts) {
    for (const std::string& line : lines) {
        bool all = true;
        for (const std::string& part : parts) {
            all = all && line.find(part) != std::string::npos;
        }
        if (all) {
            return true;
        }
    }
    return false;
}

TEST(EtwdumpSampleTest, ShowsTheKnownProcessesOfTheSamples) {
    const DumpedTrace& win8 = DumpSample("win8-relogger-compressed.etl");
    const std::string dc_start = R"("provider":"{3D6FA8D0-FE05-11D0-9DDA-00C04FD7BA7C}","opcode":3,)";
    for (const auto& [pid, image] : std::vector<std::pair<std::string, std::string>>{
             {"0", "Idle"}, {"4", "System"}, {"456", "smss.exe"}, {"576", "csrss.exe"}, {"624", "csrss.exe"}}) {
        EXPECT_TRUE(HasLine(win8.kernel_lines, {dc_start, "\"ProcessId\":" + pid + ",",
                                         "\"ImageFileName\":\"" + image + "\""}))
            << pid << " " << image;
    }
    const DumpedTrace& win7 = DumpSample("win7-relogger-merged.etl");
    EXPECT_TRUE(HasLine(win7.kernel_lines, {R"("provider":"{3D6FA8D0-FE05-11D0-9DDA-00C04FD7BA7C}","opcode":1,)",
                                     R"("ProcessId":1980,"ParentId":1732,"SessionId":2,)",
                                     R"("ImageFileName":"test.exe")"}));
}

}  // namespace
}  // namespace dormiscope::etwdump
