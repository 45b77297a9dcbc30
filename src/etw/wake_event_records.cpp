// The records of the ReadyThread, SetName and thread-name events.
#include "etw/wake_event_records.h"

#include <array>
#include <cstring>
#include <span>

#include "etw/record_layout.h"
#include "platform/etl_reader/little_endian.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope {
namespace {

constexpr std::array<PropertySlot, 2> kReadyThreadSlots = {{
    {u"TThreadId", 0, 4, true},
    {u"Flag", 4, 1, false},
}};

constexpr std::array<PropertySlot, 2> kSetNameSlots = {{
    {u"ProcessId", 0, 4, true},
    {u"ThreadId", 4, 4, true},
}};
constexpr std::array<PropertyText, 1> kSetNameTexts = {{{u"ThreadName", TextForm::kUtf16, true}}};

// Thread events name their thread id TThreadId; only version 4 describes the name.
constexpr std::array<PropertySlot, 2> kThreadIdSlots = {{
    {u"ProcessId", 0, 4, true},
    {u"TThreadId", 4, 4, true},
}};
constexpr std::array<PropertyText, 1> kThreadNameTexts = {{{u"ThreadName", TextForm::kUtf16, false}}};

constexpr RecordLayout kReadyThreadLayout{kReadyThreadSlots, {}};
constexpr RecordLayout kSetNameLayout{kSetNameSlots, kSetNameTexts};
constexpr RecordLayout kThreadNameLayout{kThreadIdSlots, kThreadNameTexts};

// Where version 3's described properties end, by pointer size; a name may follow.
constexpr std::size_t kThreadV3FixedPart64 = 72;
constexpr std::size_t kThreadV3FixedPart32 = 44;

template <typename Value>
Value LoadAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    Value value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

std::span<const std::uint8_t> UserData(const EVENT_RECORD& event) {
    if (event.UserData == nullptr) {
        return {};
    }
    return {static_cast<const std::uint8_t*>(event.UserData), event.UserDataLength};
}

std::span<const std::uint8_t> TextBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// ReadRecord, or ReadRecordThroughHelper for the reference readers.
using Reader = bool (*)(const EVENT_RECORD&, const RecordLayout&, std::span<std::uint8_t>,
                        std::span<std::string* const>);

template <Reader Read>
bool ReadIdsAndName(const EVENT_RECORD& event, const RecordLayout& layout, ThreadNameEventData& record,
                    std::string& name_bytes) {
    std::array<std::uint8_t, 8> ids{};
    std::string* const texts[] = {&name_bytes};
    const bool read = Read(event, layout, ids, std::span<std::string* const>(texts));
    record.ProcessId = LoadAt<std::uint32_t>(ids, 0);
    record.ThreadId = LoadAt<std::uint32_t>(ids, 4);
    return read;
}

template <Reader Read>
bool ReadReadyThread(const EVENT_RECORD& event, ReadyThreadEventData& record) {
    record = ReadyThreadEventData{};
    record.TimeStamp = event.EventHeader.TimeStamp.QuadPart;
    record.HeaderThreadId = event.EventHeader.ThreadId;
    std::array<std::uint8_t, 5> fixed{};
    const bool read = Read(event, kReadyThreadLayout, fixed, {});
    record.TThreadId = LoadAt<std::uint32_t>(fixed, 0);
    record.Flag = fixed[4];
    return read;
}

template <Reader Read>
bool ReadSetName(const EVENT_RECORD& event, ThreadNameEventData& record) {
    record = ThreadNameEventData{};
    std::string name_bytes;
    const bool read = ReadIdsAndName<Read>(event, kSetNameLayout, record, name_bytes);
    record.name = Utf16Prefix(TextBytes(name_bytes));
    return read;
}

template <Reader Read>
bool ReadThreadName(const EVENT_RECORD& event, ThreadNameEventData& record) {
    record = ThreadNameEventData{};
    std::string name_bytes;
    if (!ReadIdsAndName<Read>(event, kThreadNameLayout, record, name_bytes)) {
        return false;
    }
    if (!name_bytes.empty()) {
        record.name = Utf16Prefix(TextBytes(name_bytes));
        return true;
    }
    if (event.EventHeader.EventDescriptor.Version != kThreadVersionWithTrailingName) {
        return false;
    }
    const bool four_byte_pointers = (event.EventHeader.Flags & EVENT_HEADER_FLAG_32_BIT_HEADER) != 0;
    const std::size_t fixed_part = four_byte_pointers ? kThreadV3FixedPart32 : kThreadV3FixedPart64;
    const std::span<const std::uint8_t> payload = UserData(event);
    if (payload.size() <= fixed_part) {
        return false;
    }
    record.name = Utf16Prefix(payload.subspan(fixed_part));
    return true;
}

}  // namespace

bool ReadReadyThreadProperties(const EVENT_RECORD& event, ReadyThreadEventData& record) {
    return ReadReadyThread<ReadRecord>(event, record);
}

bool ReadSetNameProperties(const EVENT_RECORD& event, ThreadNameEventData& record) {
    return ReadSetName<ReadRecord>(event, record);
}

bool ReadThreadEventName(const EVENT_RECORD& event, ThreadNameEventData& record) {
    return ReadThreadName<ReadRecord>(event, record);
}

bool ReadReadyThreadPropertiesThroughHelper(const EVENT_RECORD& event, ReadyThreadEventData& record) {
    return ReadReadyThread<ReadRecordThroughHelper>(event, record);
}

bool ReadSetNamePropertiesThroughHelper(const EVENT_RECORD& event, ThreadNameEventData& record) {
    return ReadSetName<ReadRecordThroughHelper>(event, record);
}

bool ReadThreadEventNameThroughHelper(const EVENT_RECORD& event, ThreadNameEventData& record) {
    return ReadThreadName<ReadRecordThroughHelper>(event, record);
}

}  // namespace dormiscope
