// The records of the kernel's process, thread and context-switch events.
#include <array>

#include "etw/event_records.h"
#include "etw/record_layout.h"

namespace dormiscope {
namespace {

// The fields the model reads sit where they sit in the kernel's 64-bit
// layout, whatever the event's version or pointer size, so every version is
// read by name into one shape.
constexpr std::array<PropertySlot, 14> kThreadSlots = {{
    {u"ProcessId", 0, 4, true},       {u"TThreadId", 4, 4, true},       {u"StackBase", 8, 8, false},
    {u"StackLimit", 16, 8, false},    {u"UserStackBase", 24, 8, false}, {u"UserStackLimit", 32, 8, false},
    {u"Affinity", 40, 8, false},      {u"Win32StartAddr", 48, 8, false}, {u"TebBase", 56, 8, false},
    {u"SubProcessTag", 64, 4, false}, {u"BasePriority", 68, 1, false},  {u"PagePriority", 69, 1, false},
    {u"IoPriority", 70, 1, false},    {u"ThreadFlags", 71, 1, false},
}};

// From version 4 on, the eighth property is called after its flag bits.
constexpr std::array<PropertySlot, 13> kCSwitchSlots = {{
    {u"NewThreadId", 0, 4, true},
    {u"OldThreadId", 4, 4, true},
    {u"NewThreadPriority", 8, 1, false},
    {u"OldThreadPriority", 9, 1, false},
    {u"PreviousCState", 10, 1, false},
    {u"SpareByte", 11, 1, false},
    {u"OldThreadWaitReason", 12, 1, false},
    {u"OldThreadWaitMode", 13, 1, false},
    {u"OldThreadState", 14, 1, false},
    {u"OldThreadWaitIdealProcessor", 15, 1, false},
    {u"NewThreadWaitTime", 16, 4, false},
    {u"Reserved", 20, 4, false},
    {u"ThreadFlags", 13, 1, false},
}};

constexpr std::array<PropertySlot, 7> kProcessSlots = {{
    {u"UniqueProcessKey", 0, 8, false},
    {u"ProcessId", 8, 4, true},
    {u"ParentId", 12, 4, false},
    {u"SessionId", 16, 4, false},
    {u"ExitStatus", 20, 4, false},
    {u"DirectoryTableBase", 24, 8, false},
    {u"Flags", 32, 4, false},
}};

// Taken as 8-bit text up to the first zero byte, whatever the property's type.
constexpr std::array<PropertyText, 4> kProcessTexts = {{
    {u"UserSID", TextForm::kBytes, false},
    {u"ImageFileName", TextForm::kBytes, true},
    {u"CommandLine", TextForm::kBytes, false},
    {u"PackageFullName", TextForm::kBytes, false},
}};

constexpr RecordLayout kThreadLayout{kThreadSlots, {}};
constexpr RecordLayout kCSwitchLayout{kCSwitchSlots, {}};
constexpr RecordLayout kProcessLayout{kProcessSlots, kProcessTexts};

template <typename Record>
void StampRecord(const EVENT_RECORD& event, Record& record) {
    record = Record{};
    record.TimeStamp = event.EventHeader.TimeStamp.QuadPart;
    record.ProcessorNumber = event.BufferContext.ProcessorNumber;
}

using Reader = bool (*)(const EVENT_RECORD&, const RecordLayout&, std::span<std::uint8_t>,
                        std::span<std::string* const>);

template <Reader Read>
bool ReadThread(const EVENT_RECORD& event, ThreadEventData& record) {
    StampRecord(event, record);
    return Read(event, kThreadLayout, record.payload, {});
}

template <Reader Read>
bool ReadCSwitch(const EVENT_RECORD& event, CSwitchEventData& record) {
    StampRecord(event, record);
    return Read(event, kCSwitchLayout, record.payload, {});
}

template <Reader Read>
bool ReadProcess(const EVENT_RECORD& event, ProcessEventData& record) {
    StampRecord(event, record);
    const std::array<std::string*, 4> texts = {&record.text1, &record.text2, &record.text3, &record.text4};
    return Read(event, kProcessLayout, record.fixedPart, texts);
}

}  // namespace

bool ReadEventProperties(const EVENT_RECORD& event, ThreadEventData& record) {
    return ReadThread<ReadRecord>(event, record);
}

bool ReadEventProperties(const EVENT_RECORD& event, CSwitchEventData& record) {
    return ReadCSwitch<ReadRecord>(event, record);
}

bool ReadProcessEventProperties(const EVENT_RECORD& event, ProcessEventData& record) {
    return ReadProcess<ReadRecord>(event, record);
}

bool ReadEventPropertiesThroughHelper(const EVENT_RECORD& event, ThreadEventData& record) {
    return ReadThread<ReadRecordThroughHelper>(event, record);
}

bool ReadEventPropertiesThroughHelper(const EVENT_RECORD& event, CSwitchEventData& record) {
    return ReadCSwitch<ReadRecordThroughHelper>(event, record);
}

bool ReadProcessEventPropertiesThroughHelper(const EVENT_RECORD& event, ProcessEventData& record) {
    return ReadProcess<ReadRecordThroughHelper>(event, record);
}

}  // namespace dormiscope
