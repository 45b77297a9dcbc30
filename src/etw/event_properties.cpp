// The records of the kernel's process, thread and context-switch events.
#include <array>

#include "etw/event_records.h"
#include "etw/record_layout.h"

namespace dormiscope {
namespace {

namespace tf = thread_field;
namespace cf = cswitch_field;
namespace pf = process_field;

constexpr std::array<PropertySlot, 14> kThreadSlots = {{
    SlotFor(u"ProcessId", tf::kProcessId, true),
    SlotFor(u"TThreadId", tf::kTThreadId, true),
    SlotFor(u"StackBase", tf::kStackBase, false),
    SlotFor(u"StackLimit", tf::kStackLimit, false),
    SlotFor(u"UserStackBase", tf::kUserStackBase, false),
    SlotFor(u"UserStackLimit", tf::kUserStackLimit, false),
    SlotFor(u"Affinity", tf::kAffinity, false),
    SlotFor(u"Win32StartAddr", tf::kWin32StartAddr, false),
    SlotFor(u"TebBase", tf::kTebBase, false),
    SlotFor(u"SubProcessTag", tf::kSubProcessTag, false),
    SlotFor(u"BasePriority", tf::kBasePriority, false),
    SlotFor(u"PagePriority", tf::kPagePriority, false),
    SlotFor(u"IoPriority", tf::kIoPriority, false),
    SlotFor(u"ThreadFlags", tf::kThreadFlags, false),
}};

constexpr std::array<PropertySlot, 13> kCSwitchSlots = {{
    SlotFor(u"NewThreadId", cf::kNewThreadId, true),
    SlotFor(u"OldThreadId", cf::kOldThreadId, true),
    SlotFor(u"NewThreadPriority", cf::kNewThreadPriority, false),
    SlotFor(u"OldThreadPriority", cf::kOldThreadPriority, false),
    SlotFor(u"PreviousCState", cf::kPreviousCState, false),
    SlotFor(u"SpareByte", cf::kSpareByte, false),
    SlotFor(u"OldThreadWaitReason", cf::kOldThreadWaitReason, false),
    SlotFor(u"OldThreadWaitMode", cf::kOldThreadWaitMode, false),
    SlotFor(u"OldThreadState", cf::kOldThreadState, false),
    SlotFor(u"OldThreadWaitIdealProcessor", cf::kOldThreadWaitIdealProcessor, false),
    SlotFor(u"NewThreadWaitTime", cf::kNewThreadWaitTime, false),
    SlotFor(u"Reserved", cf::kReserved, false),
    SlotFor(u"ThreadFlags", cf::kOldThreadWaitMode, false),
}};

constexpr std::array<PropertySlot, 7> kProcessSlots = {{
    SlotFor(u"UniqueProcessKey", pf::kUniqueProcessKey, false),
    SlotFor(u"ProcessId", pf::kProcessId, true),
    SlotFor(u"ParentId", pf::kParentId, false),
    SlotFor(u"SessionId", pf::kSessionId, false),
    SlotFor(u"ExitStatus", pf::kExitStatus, false),
    SlotFor(u"DirectoryTableBase", pf::kDirectoryTableBase, false),
    SlotFor(u"Flags", pf::kFlags, false),
}};

// Taken as 8-bit text up to the first zero byte, whatever the property's type,
// but the command line: UTF-16, kept as its little-endian bytes.
constexpr std::array<PropertyText, 4> kProcessTexts = {{
    {u"UserSID", TextForm::kBytes, false},
    {u"ImageFileName", TextForm::kBytes, true},
    {u"CommandLine", TextForm::kUtf16, false},
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
