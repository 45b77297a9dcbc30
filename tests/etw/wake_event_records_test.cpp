#include "etw/wake_event_records.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
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
using Bytes = std::vector<std::uint8_t>;
using EventCheck = std::function<void(const EVENT_RECORD&)>;

void CallCheck(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    (*static_cast<EventCheck*>(context))(event);
}

// Writes the one event and runs `check` on it as delivered; returns the number of calls.
int CheckDelivered(const std::filesystem::path& file, const etl::Event& event, std::uint32_t pointer_size,
                   EventCheck check) {
    etl::TraceOptions options;
    options.pointer_size = pointer_size;
    KernelTrace(options).Add(event, 500).Write(file);
    int calls = 0;
    EventCheck counting = [&](const EVENT_RECORD& record) {
        ++calls;
        check(record);
    };
    ETWParser parser;
    TRACE_LOGFILE_HEADER header{};
    EXPECT_EQ(parser.Open(file.wstring(), header, &counting), 0U);
    parser.AddEventCallback({event.group == kGroupThread ? kThreadProvider : kProcessProvider, event.type}, CallCheck);
    EXPECT_EQ(parser.Process(), 0U);
    parser.Close();
    return calls;
}

Bytes Utf16Bytes(const std::u16string& text) {
    Bytes bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

struct TrailingNameCase {
    const char* label;
    std::uint16_t version;
    std::uint32_t pointer_size;
    Bytes after_fixed_part;  // the bytes after the 14 properties of version 3
    std::optional<std::u16string> expected;  // nothing: no name read
};

class ThreadEventNameTest : public ::testing::TestWithParam<TrailingNameCase> {
protected:
    TemporaryDirectory directory_;
};

TEST_P(ThreadEventNameTest, ReadsTheNameWithinThePayloadOnly) {
    const TrailingNameCase& name_case = GetParam();
    etl::ThreadFields fields;
    fields.ProcessId = 720;
    fields.TThreadId = 96;
    etl::Event event = etl::ThreadEvent(0, 0, kOpcodeDCStart, name_case.version, name_case.pointer_size, fields);
    if (name_case.version == 4) {
        event.payload.resize(event.payload.size() - 2);  // the writer's empty ThreadName
    }
    event.payload.insert(event.payload.end(), name_case.after_fixed_part.begin(), name_case.after_fixed_part.end());
    const int calls = CheckDelivered(directory_ / "t.etl", event, name_case.pointer_size, [&](const EVENT_RECORD& record) {
        ThreadNameEventData data;
        const bool read = ReadThreadEventName(record, data);
        EXPECT_EQ(read, name_case.expected.has_value());
        if (read) {
            EXPECT_EQ(data.ProcessId, 720U);
            EXPECT_EQ(data.ThreadId, 96U);
            EXPECT_EQ(data.name, *name_case.expected);
        }
    });
    EXPECT_EQ(calls, 1);
}

const Bytes kTimer = [] {
    Bytes bytes = Utf16Bytes(u"Timer");
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}();

INSTANTIATE_TEST_SUITE_P(
    Cases, ThreadEventNameTest,
    ::testing::Values(
        TrailingNameCase{"Version4Property", 4, 8, kTimer, u"Timer"},
        TrailingNameCase{"Version3Trailing", 3, 8, kTimer, u"Timer"},
        TrailingNameCase{"Version3TrailingFourBytePointers", 3, 4, kTimer, u"Timer"},
        TrailingNameCase{"Version3EmptyName", 3, 8, {0, 0}, u""},
        TrailingNameCase{"Version3WithoutName", 3, 8, {}, std::nullopt},
        TrailingNameCase{"Version3Unterminated", 3, 8, Utf16Bytes(u"Abc"), u"Abc"},
        TrailingNameCase{"Version3OddByteAtTheEnd", 3, 8, {'A', 0, 'B'}, u"A"},
        TrailingNameCase{"Version2HasNoName", 2, 8, kTimer, std::nullopt}),
    [](const ::testing::TestParamInfo<TrailingNameCase>& info) { return std::string(info.param.label); });

TEST(WakeEventRecordsTest, ReadyThreadGivesTheThreadTheFlagAndNoHeaderThread) {
    const TemporaryDirectory directory;
    const etl::Event event =
        etl::ReadyThreadEvent(3, 0, {.TThreadId = 0x1F4, .AdjustIncrement = 2, .Flag = etl::kReadiedFromDpc});
    const int calls = CheckDelivered(directory / "t.etl", event, 8, [](const EVENT_RECORD& record) {
        ReadyThreadEventData data;
        ASSERT_TRUE(ReadReadyThreadProperties(record, data));
        EXPECT_EQ(data.TThreadId, 0x1F4U);
        EXPECT_EQ(data.Flag, kReadiedFromDpc);
        EXPECT_EQ(data.HeaderThreadId, kNoHeaderThread) << "the PERFINFO header names no thread";
    });
    EXPECT_EQ(calls, 1);
}

TEST(WakeEventRecordsTest, SetNameGivesIdsAndNameAndRefusesACutName) {
    const TemporaryDirectory directory;
    const etl::Event whole = etl::SetNameEvent(0, 0, 720, 96, u"Render \U0001F600");
    const int calls = CheckDelivered(directory / "whole.etl", whole, 8, [](const EVENT_RECORD& record) {
        ThreadNameEventData data;
        ASSERT_TRUE(ReadSetNameProperties(record, data));
        EXPECT_EQ(data.ProcessId, 720U);
        EXPECT_EQ(data.ThreadId, 96U);
        EXPECT_EQ(data.name, u"Render \U0001F600");
    });
    EXPECT_EQ(calls, 1);

    etl::Event cut = whole;
    cut.payload.resize(6);
    CheckDelivered(directory / "cut.etl", cut, 8, [](const EVENT_RECORD& record) {
        ThreadNameEventData data;
        EXPECT_FALSE(ReadSetNameProperties(record, data));
    });
}

}  // namespace
}  // namespace dormiscope
