#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/etw_api.h"
#include "tdh_test_events.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope {
namespace {

using namespace dormiscope::testing;

std::vector<std::u16string> PropertyNames(const std::vector<std::uint8_t>& info) {
    std::vector<std::u16string> names;
    for (ULONG index = 0; index < InfoHeader(info).TopLevelPropertyCount; ++index) {
        names.emplace_back(TextAt(info, PropertyInfo(info, index).NameOffset));
    }
    return names;
}

// Every string offset lies inside the buffer and its text ends inside it too.
void ExpectTextInside(const std::vector<std::uint8_t>& info, ULONG offset) {
    ASSERT_GE(offset, offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray));
    ASSERT_EQ(offset % 2, 0U);
    bool terminated = false;
    for (std::size_t position = offset; position + 1 < info.size(); position += 2) {
        if (info[position] == 0 && info[position + 1] == 0) {
            terminated = true;
            break;
        }
    }
    EXPECT_TRUE(terminated) << "text at " << offset;
}

struct SchemaCase {
    const char* label;
    GUID provider;
    UCHAR version;
    UCHAR opcode;
    const char16_t* opcode_name;
    std::vector<std::u16string> names;
};

const std::vector<std::u16string> kProcessV4Names = {
    u"UniqueProcessKey", u"ProcessId",   u"ParentId",      u"SessionId",       u"ExitStatus",
    u"DirectoryTableBase", u"Flags",     u"UserSID",       u"ImageFileName",   u"CommandLine",
    u"PackageFullName",  u"ApplicationId"};
const std::vector<std::u16string> kThreadV3Names = {
    u"ProcessId",      u"TThreadId",   u"StackBase",     u"StackLimit",    u"UserStackBase",
    u"UserStackLimit", u"Affinity",    u"Win32StartAddr", u"TebBase",      u"SubProcessTag",
    u"BasePriority",   u"PagePriority", u"IoPriority",   u"ThreadFlags"};
const std::vector<std::u16string> kCSwitchV2Names = {
    u"NewThreadId",         u"OldThreadId",       u"NewThreadPriority", u"OldThreadPriority",
    u"PreviousCState",      u"SpareByte",         u"OldThreadWaitReason", u"OldThreadWaitMode",
    u"OldThreadState",      u"OldThreadWaitIdealProcessor", u"NewThreadWaitTime", u"Reserved"};

std::vector<std::u16string> With(std::vector<std::u16string> names, const std::u16string& last) {
    names.push_back(last);
    return names;
}

std::vector<std::u16string> Renamed(std::vector<std::u16string> names, std::size_t index, const std::u16string& name) {
    names[index] = name;
    return names;
}

class TdhSchemaTest : public ::testing::TestWithParam<SchemaCase> {};

TEST_P(TdhSchemaTest, DescribesTheClassPropertiesInDeclaredOrder) {
    const SchemaCase& schema = GetParam();
    TestEvent event(schema.provider, schema.version, schema.opcode, {});
    const std::vector<std::uint8_t> info = EventInfoOf(event.get());
    ASSERT_GE(info.size(), offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray));
    const TRACE_EVENT_INFO& header = InfoHeader(info);

    EXPECT_TRUE(SameGuid(header.EventGuid, schema.provider));
    EXPECT_EQ(header.DecodingSource, DecodingSourceWbem);
    EXPECT_EQ(header.EventDescriptor.Version, schema.version);
    EXPECT_EQ(header.EventDescriptor.Opcode, schema.opcode);
    ASSERT_EQ(header.PropertyCount, schema.names.size());
    EXPECT_EQ(header.TopLevelPropertyCount, header.PropertyCount);
    ASSERT_GE(info.size(),
              offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray) + header.PropertyCount * sizeof(EVENT_PROPERTY_INFO));
    for (const ULONG offset : {header.ProviderNameOffset, header.TaskNameOffset, header.OpcodeNameOffset}) {
        ExpectTextInside(info, offset);
    }
    EXPECT_EQ(std::u16string(TextAt(info, header.OpcodeNameOffset)), schema.opcode_name);
    for (ULONG index = 0; index < header.PropertyCount; ++index) {
        const EVENT_PROPERTY_INFO& property = PropertyInfo(info, index);
        ExpectTextInside(info, property.NameOffset);
        EXPECT_EQ(property.Flags, 0);
        EXPECT_EQ(property.count, 1);
        EXPECT_NE(property.nonStructType.InType, TDH_INTYPE_NULL);
    }
    EXPECT_EQ(PropertyNames(info), schema.names);
}

INSTANTIATE_TEST_SUITE_P(
    KernelClasses, TdhSchemaTest,
    ::testing::Values(
        SchemaCase{"ProcessV4Start", kProcessProvider, 4, 1, u"Start", kProcessV4Names},
        SchemaCase{"ProcessV4Defunct", kProcessProvider, 4, 39, u"Defunct", kProcessV4Names},
        SchemaCase{"ProcessV5Defunct", kProcessProvider, 5, 39, u"Defunct", With(kProcessV4Names, u"ExitTime")},
        SchemaCase{"ProcessV5Start", kProcessProvider, 5, 1, u"Start", With(kProcessV4Names, u"ExitTime")},
        SchemaCase{"ProcessV3DCStart", kProcessProvider, 3, 3, u"DCStart",
                   {u"UniqueProcessKey", u"ProcessId", u"ParentId", u"SessionId", u"ExitStatus",
                    u"DirectoryTableBase", u"UserSID", u"ImageFileName", u"CommandLine"}},
        SchemaCase{"ProcessV2End", kProcessProvider, 2, 2, u"End",
                   {u"UniqueProcessKey", u"ProcessId", u"ParentId", u"SessionId", u"ExitStatus", u"UserSID",
                    u"ImageFileName", u"CommandLine"}},
        SchemaCase{"ProcessV1DCEnd", kProcessProvider, 1, 4, u"DCEnd",
                   {u"PageDirectoryBase", u"ProcessId", u"ParentId", u"SessionId", u"ExitStatus", u"UserSID",
                    u"ImageFileName"}},
        SchemaCase{"ProcessV0Start", kProcessProvider, 0, 1, u"Start",
                   {u"ProcessId", u"ParentId", u"UserSID", u"ImageFileName"}},
        SchemaCase{"ThreadV4Start", kThreadProvider, 4, 1, u"Start", With(kThreadV3Names, u"ThreadName")},
        SchemaCase{"ThreadV3DCEnd", kThreadProvider, 3, 4, u"DCEnd", kThreadV3Names},
        SchemaCase{"ThreadV2Start", kThreadProvider, 2, 1, u"Start",
                   {u"ProcessId", u"TThreadId", u"StackBase", u"StackLimit", u"UserStackBase", u"UserStackLimit",
                    u"StartAddr", u"Win32StartAddr", u"TebBase", u"SubProcessTag"}},
        SchemaCase{"ThreadV1DCStart", kThreadProvider, 1, 3, u"DCStart",
                   {u"ProcessId", u"TThreadId", u"StackBase", u"StackLimit", u"UserStackBase", u"UserStackLimit",
                    u"StartAddr", u"Win32StartAddr", u"WaitMode"}},
        SchemaCase{"ThreadV1End", kThreadProvider, 1, 2, u"End", {u"ProcessId", u"TThreadId"}},
        SchemaCase{"ThreadV0End", kThreadProvider, 0, 2, u"End", {u"TThreadId", u"ProcessId"}},
        SchemaCase{"CSwitchV2", kThreadProvider, 2, 36, u"CSwitch", kCSwitchV2Names},
        SchemaCase{"CSwitchV3", kThreadProvider, 3, 36, u"CSwitch", kCSwitchV2Names},
        SchemaCase{"CSwitchV4", kThreadProvider, 4, 36, u"CSwitch", Renamed(kCSwitchV2Names, 7, u"ThreadFlags")},
        SchemaCase{"CSwitchV5", kThreadProvider, 5, 36, u"CSwitch", Renamed(kCSwitchV2Names, 7, u"ThreadFlags")}),
    [](const ::testing::TestParamInfo<SchemaCase>& info) { return std::string(info.param.label); });

TEST(TdhSchemaTest, EventsOutsideTheKnownClassesHaveNoSchema) {
    struct Unknown {
        GUID provider;
        UCHAR version;
        UCHAR opcode;
    };
    const Unknown unknowns[] = {
        {kEventTraceProvider, 2, 0},  // the logfile header
        {kProcessProvider, 3, 10},    // process load image
        {kProcessProvider, 1, 39},    // Defunct came with version 2
        {kProcessProvider, 6, 1},     {kThreadProvider, 5, 1},  {kThreadProvider, 3, 37},  // compact context switches
        {kThreadProvider, 1, 36},     {kThreadProvider, 6, 36}, {kThreadProvider, 3, 39}, {kThreadProvider, 3, 255},
    };
    for (const Unknown& unknown : unknowns) {
        SCOPED_TRACE(::testing::Message() << "version " << int{unknown.version} << " opcode " << int{unknown.opcode});
        TestEvent event(unknown.provider, unknown.version, unknown.opcode, std::vector<std::uint8_t>(64, 1));
        ULONG size = 0;
        EXPECT_EQ(TdhGetEventInformation(event.get(), 0, nullptr, nullptr, &size), ERROR_NOT_FOUND);
        EXPECT_EQ(FetchProperty(event.get(), u"ProcessId").size_status, ERROR_NOT_FOUND);
    }
}

TEST(TdhEventInformationTest, AnswersTheNeededSizeUntilTheBufferIsLargeEnough) {
    TestEvent event(kThreadProvider, 2, 36, std::vector<std::uint8_t>(24));
    ULONG needed = 0;
    ASSERT_EQ(TdhGetEventInformation(event.get(), 0, nullptr, nullptr, &needed), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GT(needed, offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray) + 12 * sizeof(EVENT_PROPERTY_INFO));

    // One spare byte past the image shows that nothing is written beyond it.
    std::vector<std::uint8_t> buffer(needed + 1, 0xAB);
    auto* info = reinterpret_cast<PTRACE_EVENT_INFO>(buffer.data());
    ULONG size = needed - 1;
    EXPECT_EQ(TdhGetEventInformation(event.get(), 0, nullptr, info, &size), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(buffer[0], 0xAB);

    size = needed + 1;
    EXPECT_EQ(TdhGetEventInformation(event.get(), 0, nullptr, info, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(buffer[needed], 0xAB);
    EXPECT_EQ(info->PropertyCount, 12U);
}

TEST(TdhEventInformationTest, RefusesMissingArguments) {
    TestEvent event(kThreadProvider, 2, 36, std::vector<std::uint8_t>(24));
    ULONG size = 0;
    EXPECT_EQ(TdhGetEventInformation(nullptr, 0, nullptr, nullptr, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(TdhGetEventInformation(event.get(), 0, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(TdhGetEventInformation(event.get(), 1, nullptr, nullptr, &size), ERROR_INVALID_PARAMETER);
    size = 4096;
    EXPECT_EQ(TdhGetEventInformation(event.get(), 0, nullptr, nullptr, &size), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace dormiscope
