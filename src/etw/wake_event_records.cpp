// The records of the ReadyThread, SetName and thread-name events.
#include "etw/wake_event_records.h"

#include <array>
#include <optional>
#include <span>

#include "etw/property_walk.h"
#include "etw/record_layout.h"
#include "platform/etl_reader/little_endian.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope {
namespace {

using ReadyThreadFixed = std::array<std::uint8_t, 5>;
constexpr RecordField<std::uint32_t> kReadiedThreadId{0};
constexpr RecordField<std::uint8_t> kReadyFlag{4};

// The ids of a named thread, under either event's property names.
using NamedThreadIds = std::array<std::uint8_t, 8>;
constexpr RecordField<std::uint32_t> kNamedProcessId{0};
constexpr RecordField<std::uint32_t> kNamedThreadId{4};

constexpr std::array<PropertySlot, 2> kReadyThreadSlots = {{
    SlotFor(u"TThreadId", kReadiedThreadId, true),
    SlotFor(u"Flag", kReadyFlag, false),
}};

constexpr std::array<PropertySlot, 2> kSetNameSlots = {{
    SlotFor(u"ProcessId", kNamedProcessId, true),
    SlotFor(u"ThreadId", kNamedThreadId, true),
}};
constexpr std::array<PropertyText, 1> kSetNameTexts = {{{u"ThreadName", TextForm::kUtf16, true}}};

// Thread events name their thread id TThreadId; only version 4 describes the name.
constexpr std::array<PropertySlot, 2> kThreadIdSlots = {{
    SlotFor(u"ProcessId", kNamedProcessId, true),
    SlotFor(u"TThreadId", kNamedThreadId, true),
}};
constexpr std::array<PropertyText, 1> kThreadNameTexts = {{{u"ThreadName", TextForm::kUtf16, false}}};

constexpr RecordLayout kReadyThreadLayout{kReadyThreadSlots, {}};
constexpr RecordLayout kSetNameLayout{kSetNameSlots, kSetNameTexts};
constexpr RecordLayout kThreadNameLayout{kThreadIdSlots, kThreadNameTexts};

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
    NamedThreadIds ids{};
    std::string* const texts[] = {&name_bytes};
    const bool read = Read(event, layout, ids, std::span<std::string* const>(texts));
    record.ProcessId = ReadField(ids, kNamedProcessId);
    record.ThreadId = ReadField(ids, kNamedThreadId);
    return read;
}

template <Reader Read>
bool ReadReadyThread(const EVENT_RECORD& event, ReadyThreadEventData& record) {
    record = ReadyThreadEventData{};
    record.TimeStamp = event.EventHeader.TimeStamp.QuadPart;
    record.HeaderThreadId = event.EventHeader.ThreadId;
    ReadyThreadFixed fixed{};
    const bool read = Read(event, kReadyThreadLayout, fixed, {});
    record.TThreadId = ReadField(fixed, kReadiedThreadId);
    record.Flag = ReadField(fixed, kReadyFlag);
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
    // Version 3 describes no name, yet some writers append one after the
    // described properties; the helper says where those end.
    const std::optional<std::size_t> described = DescribedLength(event);
    const std::span<const std::uint8_t> payload = UserData(event);
    if (!described || payload.size() <= *described) {
        return false;
    }
    record.name = Utf16Prefix(payload.subspan(*described));
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
