#include "etw/event_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "etl_writer/kernel_payloads.h"
#include "etw/etw_parser.h"
#include "platform/kernel_event_classes.h"
#include "support/kernel_trace.h"
#include "support/temporary_directory.h"

namespace dormiscope {
namespace {

using testing::KernelTrace;
using testing::TemporaryDirectory;

using EventCheck = std::function<void(const EVENT_RECORD&)>;

void CallCheck(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    (*static_cast<EventCheck*>(context))(event);
}

// Runs `check` on every event of the trace with the given provider and opcode.
int ForEachEvent(const std::filesystem::path& path, const GUID& provider, std::uint8_t opcode, EventCheck check) {
    int calls = 0;
    EventCheck counting = [&](const EVENT_RECORD& event) {
        ++calls;
        check(event);
    };
    ETWParser parser;
    TRACE_LOGFILE_HEADER header{};
    EXPECT_EQ(parser.Open(path.wstring(), header, &counting), 0U);
    parser.AddEventCallback({provider, opcode}, CallCheck);
    EXPECT_EQ(parser.Process(), 0U);
    parser.Close();
    return calls;
}

class EventPropertiesTest : public ::testing::Test {
protected:
    TemporaryDirectory directory_;
};

TEST_F(EventPropertiesTest, ContextSwitchesOfEveryVersionFillTheWholeRecord) {
    const etl::CSwitchFields fields{.NewThreadId = 0x8CC, .OldThreadId = 0x44, .NewThreadPriority = -3,
                                    .OldThreadPriority = 9, .PreviousCState = 2, .SpareByte = 7,
                                    .OldThreadWaitReason = 6, .OldThreadWaitMode = 1, .OldThreadState = 5,
                                    .OldThreadWaitIdealProcessor = 4, .NewThreadWaitTime = 0x01020304,
                                    .Reserved = 0x348876d8};
    const std::vector<std::uint8_t> expected = etl::CSwitchPayload(fields);
    for (const std::uint16_t version : {2, 3, 4, 5}) {
        etl::Event event = etl::CSwitchEvent(0, 0, fields);
        event.version = version;
        const auto path = KernelTrace().Add(event, 500).Write(directory_ / "t.etl");
        const int calls = ForEachEvent(path, kThreadProvider, kOpcodeCSwitch, [&](const EVENT_RECORD& record) {
            CSwitchEventData data;
            EXPECT_TRUE(ReadEventProperties(record, data));
            EXPECT_EQ(std::vector<std::uint8_t>(data.payload.begin(), data.payload.end()), expected) << version;
            EXPECT_EQ(data.TimeStamp, record.EventHeader.TimeStamp.QuadPart);
        });
        EXPECT_EQ(calls, 1);
    }
}

TEST_F(EventPropertiesTest, ThreadEventFillsSeventyTwoBytesAndIgnoresATrailingName) {
    etl::ThreadFields fields;
    fields.ProcessId = 504;
    fields.TThreadId = 5060;
    const std::vector<std::uint8_t> payload = etl::ThreadPayload(3, kOpcodeStart, 8, fields, u"Worker");
    const auto path = KernelTrace().Thread(kOpcodeStart, 3, fields, 10).Write(directory_ / "t.etl");
    ForEachEvent(path, kThreadProvider, kOpcodeStart, [&](const EVENT_RECORD& record) {
        ThreadEventData data;
        data.payload.fill(0xAB);
        EXPECT_TRUE(ReadEventProperties(record, data));
        EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + 72, data.payload.begin()));
        EXPECT_EQ(std::vector<std::uint8_t>(data.payload.begin() + 72, data.payload.end()),
                  std::vector<std::uint8_t>(8, 0));
    });
}

TEST_F(EventPropertiesTest, ProcessEventOfVersionFourReadsPositionsAndTexts) {
    etl::ProcessFields fields;
    fields.ProcessId = 6780;
    fields.ParentId = 3856;
    fields.SessionId = 1;
    fields.ImageFileName = "SecurityHlt";
    fields.CommandLine = u"C:\\Windows\\System32\\SecurityHealthSystray.exe";
    const std::vector<std::uint8_t> payload = etl::ProcessPayload(4, 8, fields);
    const auto path = KernelTrace().Process(kOpcodeStart, 4, fields, 10).Write(directory_ / "t.etl");
    ForEachEvent(path, kProcessProvider, kOpcodeStart, [&](const EVENT_RECORD& record) {
        ProcessEventData data;
        EXPECT_TRUE(ReadProcessEventProperties(record, data));
        EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + 36, data.fixedPart.begin()));
        EXPECT_EQ(data.text2, "SecurityHlt");
        const std::u16string command_line(fields.CommandLine);
        EXPECT_EQ(data.text3, std::string(reinterpret_cast<const char*>(command_line.data()),
                                          command_line.size() * sizeof(char16_t)));
        EXPECT_EQ(data.text4, "");
        // The SID blob's bytes before its first zero: the low bytes of the TOKEN_USER pointer.
        EXPECT_FALSE(data.text1.empty());
    });
}

TEST_F(EventPropertiesTest, EventsOfAClassWithoutSchemaKeepOnlyStampAndProcessor) {
    etl::Event event = etl::CSwitchEvent(3, 0, 8, 9);
    event.type = 37;  // compact context switches have no schema
    const auto path = KernelTrace().Add(event, 700).Write(directory_ / "t.etl");
    ForEachEvent(path, kThreadProvider, 37, [&](const EVENT_RECORD& record) {
        CSwitchEventData data;
        data.payload.fill(0xAB);
        EXPECT_FALSE(ReadEventProperties(record, data));
        EXPECT_EQ(data.ProcessorNumber, 3U);
        EXPECT_EQ(data.TimeStamp, record.EventHeader.TimeStamp.QuadPart);
        EXPECT_EQ(data.payload, (std::array<std::uint8_t, 24>{}));
    });
}

}  // namespace
}  // namespace dormiscope
