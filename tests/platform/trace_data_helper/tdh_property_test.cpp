#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/etw_api.h"
#include "tdh_test_events.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope {
namespace {

using namespace dormiscope::testing;
using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    std::string digits;
    for (const char character : hex) {
        if (character != ' ') {
            digits.push_back(character);
        }
    }
    for (std::size_t position = 0; position + 1 < digits.size(); position += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(position, 2), nullptr, 16)));
    }
    return bytes;
}

std::uint64_t Number(const Bytes& value) {
    std::uint64_t number = 0;
    std::memcpy(&number, value.data(), std::min(value.size(), sizeof(number)));
    return number;
}

std::string Text(const Bytes& value) {
    return std::string(value.begin(), value.end());
}

const NamedValue& Find(const std::vector<NamedValue>& values, const std::u16string& name) {
    for (const NamedValue& value : values) {
        if (value.name == name) {
            return value;
        }
    }
    ADD_FAILURE() << "no property of that name";
    return values.front();
}

// Process End, version 4, from a Windows 10 trace: 208 bytes.
Payload ProcessEndV4Example() {
    Payload payload;
    payload.Pointer(0xFFFFCA8688B693C0, 8).U32(6780).U32(3856).U32(1).U32(0x40010004).Pointer(0x26F5A000, 8).U32(0);
    payload.TokenUserSid(0xFFFFB488FCD44B60, 8, 5, {21, 4151223144, 1238771585, 1724997581, 1000});
    payload.Ansi("SecurityHealthSystray.exe").Utf16(u"\"C:\\Windows\\System32\\SecurityHealthSystray.exe\" ");
    payload.Utf16(u"").Utf16(u"");
    return payload;
}

// Thread Start, version 3, from a Windows 10 trace: 72 bytes and an empty trailing name.
const Bytes kThreadStartV3WithName = FromHex(
    "f8010000 c4130000 00b0cef680f5ffff 0040cef680f5ffff 00007844f1000000 00207744f1000000 0300000000000000"
    "603dbb93f97f0000 00b04844f1000000 00000000 0d 05 02 00 0000");

// A context switch from thread 0 (idle) to 0x8CC.
const Bytes kCSwitchVector = FromHex("cc080000 00000000 08 00 01 00 00 00 02 04 01000000 876d8834");

TEST(TdhPropertyTest, ReadsEveryFieldOfAProcessEndEvent) {
    const Bytes payload = ProcessEndV4Example().bytes();
    ASSERT_EQ(payload.size(), 208U);
    TestEvent event(kProcessProvider, 4, 2, payload);
    const std::vector<NamedValue> values = ReadAllProperties(event.get());

    ASSERT_EQ(values.size(), 12U);
    const std::vector<std::size_t> sizes = {8, 4, 4, 4, 4, 8, 4, 44, 26, 98, 2, 2};
    for (std::size_t index = 0; index < sizes.size(); ++index) {
        EXPECT_EQ(values[index].value.size(), sizes[index]) << "property " << index;
    }
    EXPECT_EQ(Concatenated(values), payload);
    EXPECT_EQ(Number(Find(values, u"UniqueProcessKey").value), 0xFFFFCA8688B693C0);
    EXPECT_EQ(Number(Find(values, u"ProcessId").value), 6780U);
    EXPECT_EQ(Number(Find(values, u"ParentId").value), 3856U);
    EXPECT_EQ(Number(Find(values, u"ExitStatus").value), 0x40010004U);
    EXPECT_EQ(Text(Find(values, u"ImageFileName").value), std::string("SecurityHealthSystray.exe", 26));
    EXPECT_EQ(Find(values, u"UserSID").value[16 + 1], 5) << "sub-authority count of the SID";
}

TEST(TdhPropertyTest, ReadsAVersion3ProcessWhoseSidFollowsTheDirectoryTableBase) {
    Payload payload;
    payload.Pointer(0xFFFFFA8302AC3270, 8).U32(1980).U32(1732).U32(2).U32(0x103).Pointer(0xB04E5000, 8);
    payload.TokenUserSid(0xFFFFF8A008C72750, 8, 5, {21, 2127521184, 1604012920, 1887927527, 1207446});
    payload.Ansi("test.exe").Utf16(u"test.exe");
    ASSERT_EQ(payload.bytes().size(), 103U);
    TestEvent event(kProcessProvider, 3, 1, payload.bytes());
    const std::vector<NamedValue> values = ReadAllProperties(event.get());

    ASSERT_EQ(values.size(), 9U);
    EXPECT_EQ(Concatenated(values), payload.bytes());
    EXPECT_EQ(Find(values, u"UserSID").value.size(), 44U);
    EXPECT_EQ(Number(Find(values, u"ParentId").value), 1732U);
    EXPECT_EQ(Number(Find(values, u"SessionId").value), 2U);
    EXPECT_EQ(Text(Find(values, u"ImageFileName").value), std::string("test.exe", 9));
    EXPECT_EQ(Find(values, u"CommandLine").value.size(), 18U);
}

TEST(TdhPropertyTest, AnAbsentSidTakesFourBytes) {
    Payload payload;
    payload.Pointer(1, 8).U32(8).U32(4).U32(0).U32(0).Pointer(2, 8).U32(0).U32(0);
    payload.Ansi("Idle").Utf16(u"").Utf16(u"").Utf16(u"");
    TestEvent event(kProcessProvider, 4, 3, payload.bytes());
    const std::vector<NamedValue> values = ReadAllProperties(event.get());

    ASSERT_EQ(values.size(), 12U);
    EXPECT_EQ(Find(values, u"UserSID").value, Bytes(4, 0));
    EXPECT_EQ(Text(Find(values, u"ImageFileName").value), std::string("Idle", 5));
    EXPECT_EQ(Concatenated(values), payload.bytes());
}

TEST(TdhPropertyTest, AThreadVersion3NameAfterTheLastPropertyIsNotAProperty) {
    ASSERT_EQ(kThreadStartV3WithName.size(), 74U);
    TestEvent event(kThreadProvider, 3, 1, kThreadStartV3WithName);
    const std::vector<NamedValue> values = ReadAllProperties(event.get());

    ASSERT_EQ(values.size(), 14U);
    EXPECT_EQ(Concatenated(values), Bytes(kThreadStartV3WithName.begin(), kThreadStartV3WithName.begin() + 72));
    EXPECT_EQ(Number(Find(values, u"TThreadId").value), 5060U);
    EXPECT_EQ(Number(Find(values, u"Affinity").value), 3U);
    EXPECT_EQ(Number(Find(values, u"BasePriority").value), 13U);
    EXPECT_EQ(FetchProperty(event.get(), u"ThreadName").size_status, ERROR_NOT_FOUND);

    // Version 4 describes the same bytes with the name as a fifteenth property.
    TestEvent version4(kThreadProvider, 4, 1, kThreadStartV3WithName);
    const std::vector<NamedValue> with_name = ReadAllProperties(version4.get());
    ASSERT_EQ(with_name.size(), 15U);
    EXPECT_EQ(Concatenated(with_name), kThreadStartV3WithName);
}

TEST(TdhPropertyTest, AContextSwitchIsTwelvePropertiesCoveringItsPayload) {
    TestEvent event(kThreadProvider, 2, 36, kCSwitchVector, kFlags32);
    const std::vector<NamedValue> values = ReadAllProperties(event.get());

    ASSERT_EQ(values.size(), 12U);
    EXPECT_EQ(Concatenated(values), kCSwitchVector);
    EXPECT_EQ(Number(Find(values, u"NewThreadId").value), 0x8CCU);
    EXPECT_EQ(Number(Find(values, u"OldThreadId").value), 0U);
    EXPECT_EQ(Number(Find(values, u"OldThreadState").value), 2U);
    EXPECT_EQ(Number(Find(values, u"OldThreadWaitIdealProcessor").value), 4U);
    EXPECT_EQ(Number(Find(values, u"NewThreadWaitTime").value), 1U);
}

TEST(TdhPropertyTest, AReadyThreadIsFivePropertiesAndASetNameEndsWithItsName) {
    Payload ready;
    ready.U32(0x1F4).U8(1).U8(2).U8(1).U8(0);
    TestEvent ready_event(kThreadProvider, 2, 50, ready.bytes());
    const std::vector<NamedValue> ready_values = ReadAllProperties(ready_event.get());
    ASSERT_EQ(ready_values.size(), 5U);
    EXPECT_EQ(Concatenated(ready_values), ready.bytes());
    EXPECT_EQ(Number(Find(ready_values, u"TThreadId").value), 0x1F4U);
    EXPECT_EQ(Number(Find(ready_values, u"Flag").value), 1U);

    Payload name;
    name.U32(720).U32(96).Utf16(u"Render loop");
    TestEvent name_event(kThreadProvider, 2, 72, name.bytes());
    const std::vector<NamedValue> name_values = ReadAllProperties(name_event.get());
    ASSERT_EQ(name_values.size(), 3U);
    EXPECT_EQ(Concatenated(name_values), name.bytes());
    EXPECT_EQ(Number(Find(name_values, u"ThreadId").value), 96U);
    EXPECT_EQ(Find(name_values, u"ThreadName").value.size(), 2 * (11 + 1U));
}

struct PointerSizeCase {
    const char* label;
    USHORT flags;
    std::vector<TDH_CONTEXT> context;
    unsigned written_with;
};

class TdhPointerSizeTest : public ::testing::TestWithParam<PointerSizeCase> {};

TEST_P(TdhPointerSizeTest, PointerPropertiesTakeTheEventsPointerSize) {
    const PointerSizeCase& scenario = GetParam();
    const unsigned size = scenario.written_with;
    Payload payload;
    payload.U32(504).U32(5060);
    for (std::uint64_t pointer = 1; pointer <= 7; ++pointer) {
        payload.Pointer(0x1000 * pointer, size);
    }
    payload.U32(0xABCD1234).U8(13).U8(5).U8(2).U8(0);
    TestEvent event(kThreadProvider, 3, 3, payload.bytes(), scenario.flags);
    std::vector<TDH_CONTEXT> context = scenario.context;
    const std::vector<NamedValue> values =
        ReadAllProperties(event.get(), static_cast<ULONG>(context.size()), context.empty() ? nullptr : context.data());

    ASSERT_EQ(values.size(), 14U);
    EXPECT_EQ(Find(values, u"StackBase").value.size(), size);
    EXPECT_EQ(Number(Find(values, u"TebBase").value), 0x7000U);
    EXPECT_EQ(Number(Find(values, u"SubProcessTag").value), 0xABCD1234U);
    EXPECT_EQ(Concatenated(values), payload.bytes());
}

TDH_CONTEXT PointerSizeContext(ULONGLONG size) {
    return {size, TDH_CONTEXT_POINTERSIZE, 0};
}

INSTANTIATE_TEST_SUITE_P(
    HeaderFlagsAndContext, TdhPointerSizeTest,
    ::testing::Values(PointerSizeCase{"Flag32", kFlags32, {}, 4}, PointerSizeCase{"Flag64", kFlags64, {}, 8},
                      PointerSizeCase{"NoFlag", EVENT_HEADER_FLAG_CLASSIC_HEADER, {}, 8},
                      PointerSizeCase{"ContextOverridesFlag64", kFlags64, {PointerSizeContext(4)}, 4},
                      PointerSizeCase{"ContextOverridesFlag32", kFlags32, {PointerSizeContext(8)}, 8},
                      PointerSizeCase{"OtherContextIgnored", kFlags32, {{1, TDH_CONTEXT_WPP_GMT, 0}}, 4}),
    [](const ::testing::TestParamInfo<PointerSizeCase>& info) { return std::string(info.param.label); });

// Cutting a payload anywhere leaves every property that still fits readable
// with its original bytes and makes every other one invalid data.
void ExpectTruncationsAreDetected(const GUID& provider, UCHAR version, UCHAR opcode, const Bytes& payload,
                                  USHORT flags) {
    TestEvent whole(provider, version, opcode, payload, flags);
    const std::vector<std::uint8_t> info = EventInfoOf(whole.get());
    const std::vector<NamedValue> values = ReadAllProperties(whole.get());
    for (std::size_t length = 0; length < payload.size(); ++length) {
        TestEvent cut(provider, version, opcode, Bytes(payload.begin(), payload.begin() + length), flags);
        std::size_t end = 0;
        for (const NamedValue& value : values) {
            end += value.value.size();
            SCOPED_TRACE(::testing::Message() << "length " << length << ", property ending at " << end);
            const FetchedProperty fetched = FetchProperty(cut.get(), value.name.c_str());
            if (end <= length) {
                EXPECT_EQ(fetched.size_status, ERROR_SUCCESS);
                EXPECT_EQ(fetched.value, value.value);
            } else {
                EXPECT_EQ(fetched.size_status, ERROR_EVT_INVALID_EVENT_DATA);
                EXPECT_EQ(fetched.value_status, ERROR_EVT_INVALID_EVENT_DATA);
            }
        }
    }
}

TEST(TdhPropertyTest, TruncatedPayloadsNeverYieldAPropertyThatDoesNotFit) {
    ExpectTruncationsAreDetected(kProcessProvider, 4, 2, ProcessEndV4Example().bytes(), kFlags64);
    ExpectTruncationsAreDetected(kProcessProvider, 5, 39, ProcessEndV4Example().U64(132273542277445790).bytes(),
                                 kFlags64);
    Payload four_byte;
    four_byte.Pointer(0x8000, 4).U32(12).U32(8).U32(0).U32(0).Pointer(0x9000, 4).U32(0);
    four_byte.TokenUserSid(0x7000, 4, 5, {18}).Ansi("a.exe").Utf16(u"a").Utf16(u"").Utf16(u"b");
    ExpectTruncationsAreDetected(kProcessProvider, 4, 1, four_byte.bytes(), kFlags32);
    ExpectTruncationsAreDetected(kThreadProvider, 4, 1, kThreadStartV3WithName, kFlags64);
}

TEST(TdhPropertyTest, MalformedVariableLengthValuesAreInvalidData) {
    const Bytes fixed_part = Payload().Pointer(1, 8).U32(8).U32(4).U32(0).U32(0).Pointer(2, 8).U32(0).bytes();
    struct Malformed {
        const char* label;
        Bytes tail;
        const char16_t* first_invalid;
    };
    const Malformed cases[] = {
        {"SID with sixteen sub-authorities",
         Payload().TokenUserSid(0x5000, 8, 5, std::vector<std::uint32_t>(16, 7)).Ansi("x").bytes(), u"UserSID"},
        {"image name without terminator", Payload().U32(0).Raw("abc", 3).bytes(), u"ImageFileName"},
        {"command line ending in half a unit", Payload().U32(0).Ansi("x").Raw("a\0b\0\0", 5).bytes(),
         u"CommandLine"},
    };
    for (const Malformed& malformed : cases) {
        SCOPED_TRACE(malformed.label);
        Bytes payload = fixed_part;
        payload.insert(payload.end(), malformed.tail.begin(), malformed.tail.end());
        TestEvent event(kProcessProvider, 4, 1, payload);
        EXPECT_EQ(FetchProperty(event.get(), u"Flags").size_status, ERROR_SUCCESS);
        EXPECT_EQ(FetchProperty(event.get(), malformed.first_invalid).size_status, ERROR_EVT_INVALID_EVENT_DATA);
        EXPECT_EQ(FetchProperty(event.get(), u"ApplicationId").size_status, ERROR_EVT_INVALID_EVENT_DATA);
    }
}

TEST(TdhPropertyTest, AnEventWithoutPayloadHasOnlyInvalidData) {
    TestEvent event(kThreadProvider, 2, 36, {});
    ASSERT_EQ(event.get()->UserData, nullptr);
    EXPECT_EQ(FetchProperty(event.get(), u"NewThreadId").size_status, ERROR_EVT_INVALID_EVENT_DATA);
}

TEST(TdhPropertyTest, NamesAreMatchedByTextInAnyOrderAndAcrossEvents) {
    TestEvent process(kProcessProvider, 4, 2, ProcessEndV4Example().bytes());
    TestEvent cswitch(kThreadProvider, 2, 36, kCSwitchVector);
    const std::u16string process_name = u"ProcessId";
    EXPECT_EQ(Number(FetchProperty(cswitch.get(), u"Reserved").value), 0x34886D87U);
    EXPECT_EQ(Text(FetchProperty(process.get(), u"ImageFileName").value), std::string("SecurityHealthSystray.exe", 26));
    EXPECT_EQ(Number(FetchProperty(cswitch.get(), u"NewThreadId").value), 0x8CCU);
    EXPECT_EQ(Number(FetchProperty(process.get(), process_name.c_str()).value), 6780U);
    EXPECT_EQ(Number(FetchProperty(process.get(), u"UniqueProcessKey").value), 0xFFFFCA8688B693C0);

    for (const char16_t* wrong : {u"Process", u"ProcessIdX", u"processid", u"", u"TThreadId"}) {
        const FetchedProperty fetched = FetchProperty(process.get(), wrong);
        EXPECT_EQ(fetched.size_status, ERROR_NOT_FOUND);
        EXPECT_EQ(fetched.value_status, ERROR_NOT_FOUND);
    }
}

// Callers usually point into the TRACE_EVENT_INFO they were given; what
// counts is still the text found there.
TEST(TdhPropertyTest, NamesInsideAnEventInformationBufferAreMatchedByTheirText) {
    TestEvent cswitch(kThreadProvider, 2, 36, kCSwitchVector);
    std::vector<std::uint8_t> info = EventInfoOf(cswitch.get());
    auto* first_name = reinterpret_cast<char16_t*>(info.data() + PropertyInfo(info, 0).NameOffset);
    ASSERT_EQ(std::u16string(first_name), u"NewThreadId");

    EXPECT_EQ(FetchProperty(cswitch.get(), first_name + 3).size_status, ERROR_NOT_FOUND) << "\"ThreadId\"";
    EXPECT_EQ(FetchProperty(cswitch.get(), reinterpret_cast<const char16_t*>(info.data() + 1)).size_status,
              ERROR_NOT_FOUND);
    first_name[0] = u'O';
    first_name[1] = u'l';
    first_name[2] = u'd';
    EXPECT_EQ(Number(FetchProperty(cswitch.get(), first_name).value), 0U) << "now names OldThreadId";
    first_name[0] = u'X';
    EXPECT_EQ(FetchProperty(cswitch.get(), first_name).size_status, ERROR_NOT_FOUND);

    // A name taken from another class's information.
    TestEvent process(kProcessProvider, 4, 2, ProcessEndV4Example().bytes());
    const std::vector<std::uint8_t> process_info = EventInfoOf(process.get());
    const char16_t* process_id = TextAt(process_info, PropertyInfo(process_info, 1).NameOffset);
    TestEvent thread(kThreadProvider, 3, 1, kThreadStartV3WithName);
    EXPECT_EQ(Number(FetchProperty(thread.get(), process_id).value), 504U);
}

// A caller may reuse the buffer it received the information in: a shorter
// name written where a longer one was is read only to its end, here the last
// bytes before a page the caller no longer owns.
TEST(TdhPropertyTest, AShorterNameWhereALongerOneWasIsReadOnlyToItsEnd) {
    TestEvent cswitch(kThreadProvider, 2, 36, kCSwitchVector);
    const std::vector<std::uint8_t> image = EventInfoOf(cswitch.get());
    const std::u16string shorter = u"Reserved";
    const std::size_t text_bytes = (shorter.size() + 1) * sizeof(char16_t);
    // A longer name whose offset leaves the buffer aligned for TRACE_EVENT_INFO.
    ULONG name_offset = 0;
    for (std::size_t index = 0; index < InfoHeader(image).PropertyCount && name_offset == 0; ++index) {
        const ULONG offset = PropertyInfo(image, index).NameOffset;
        if (std::u16string(TextAt(image, offset)).size() > shorter.size() &&
            (offset + text_bytes) % alignof(TRACE_EVENT_INFO) == 0) {
            name_offset = offset;
        }
    }
    ASSERT_NE(name_offset, 0U);

    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    ASSERT_LT(name_offset + text_bytes, page);
    void* const pages = ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    std::uint8_t* const end_of_first_page = static_cast<std::uint8_t*>(pages) + page;
    std::uint8_t* const buffer = end_of_first_page - text_bytes - name_offset;
    ULONG size = static_cast<ULONG>(image.size());
    ASSERT_EQ(TdhGetEventInformation(cswitch.get(), 0, nullptr, reinterpret_cast<PTRACE_EVENT_INFO>(buffer), &size),
              ERROR_SUCCESS);

    ASSERT_EQ(::mprotect(end_of_first_page, page, PROT_NONE), 0);
    std::memcpy(buffer + name_offset, shorter.c_str(), text_bytes);
    const auto* name = reinterpret_cast<const char16_t*>(buffer + name_offset);
    EXPECT_EQ(Number(FetchProperty(cswitch.get(), name).value), 0x34886D87U);
    std::memcpy(buffer + name_offset, u"Reservex", text_bytes);
    EXPECT_EQ(FetchProperty(cswitch.get(), name).size_status, ERROR_NOT_FOUND);
    ::munmap(pages, 2 * page);
}

TEST(TdhPropertyTest, RefusesBadArguments) {
    TestEvent event(kThreadProvider, 2, 36, kCSwitchVector);
    const char16_t* name = u"OldThreadWaitReason";
    const auto address = reinterpret_cast<std::uintptr_t>(name);
    PROPERTY_DATA_DESCRIPTOR descriptor{address, 0, 0};
    std::uint8_t value[8] = {};
    ULONG size = 0;

    EXPECT_EQ(TdhGetPropertySize(nullptr, 0, nullptr, 1, &descriptor, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(TdhGetPropertySize(event.get(), 0, nullptr, 0, &descriptor, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(TdhGetPropertySize(event.get(), 0, nullptr, 1, nullptr, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(TdhGetPropertySize(event.get(), 0, nullptr, 1, &descriptor, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(TdhGetPropertySize(event.get(), 1, nullptr, 1, &descriptor, &size), ERROR_INVALID_PARAMETER);
    TDH_CONTEXT odd_pointer_size = PointerSizeContext(5);
    EXPECT_EQ(TdhGetPropertySize(event.get(), 1, &odd_pointer_size, 1, &descriptor, &size), ERROR_INVALID_PARAMETER);
    PROPERTY_DATA_DESCRIPTOR no_name{0, 0, 0};
    EXPECT_EQ(TdhGetPropertySize(event.get(), 0, nullptr, 1, &no_name, &size), ERROR_INVALID_PARAMETER);
    PROPERTY_DATA_DESCRIPTOR second_element{address, 1, 0};
    EXPECT_EQ(TdhGetPropertySize(event.get(), 0, nullptr, 1, &second_element, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(TdhGetProperty(event.get(), 0, nullptr, 1, &descriptor, sizeof(value), nullptr), ERROR_INVALID_PARAMETER);

    PROPERTY_DATA_DESCRIPTOR whole_property{address, 0xFFFFFFFF, 0};
    EXPECT_EQ(TdhGetPropertySize(event.get(), 0, nullptr, 1, &whole_property, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 1U);
    EXPECT_EQ(TdhGetProperty(event.get(), 0, nullptr, 1, &whole_property, sizeof(value), value), ERROR_SUCCESS);

    PROPERTY_DATA_DESCRIPTOR wait_time{reinterpret_cast<std::uintptr_t>(u"NewThreadWaitTime"), 0, 0};
    EXPECT_EQ(TdhGetProperty(event.get(), 0, nullptr, 1, &wait_time, 3, value), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(TdhGetProperty(event.get(), 0, nullptr, 1, &wait_time, 4, value), ERROR_SUCCESS);
}

}  // namespace
}  // namespace dormiscope
