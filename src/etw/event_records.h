// Fixed records that an event's time stamp, processor and property values are
// read into, and the readers that fill them through the Trace Data Helper.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "etw/record_layout.h"
#include "platform/etw_api.h"

namespace dormiscope {

// The fields of each record lie where they lie in the kernel's 64-bit layout,
// whatever the event's version or pointer size, so every version is read by
// name into one shape.
struct ThreadEventData {
    std::int64_t TimeStamp = 0;
    std::uint32_t ProcessorNumber = 0;
    std::array<std::uint8_t, 80> payload{};
};

namespace thread_field {
inline constexpr RecordField<std::uint32_t> kProcessId{0};
inline constexpr RecordField<std::uint32_t> kTThreadId{4};
inline constexpr RecordField<std::uint64_t> kStackBase{8};
inline constexpr RecordField<std::uint64_t> kStackLimit{16};
inline constexpr RecordField<std::uint64_t> kUserStackBase{24};
inline constexpr RecordField<std::uint64_t> kUserStackLimit{32};
inline constexpr RecordField<std::uint64_t> kAffinity{40};
inline constexpr RecordField<std::uint64_t> kWin32StartAddr{48};
inline constexpr RecordField<std::uint64_t> kTebBase{56};
inline constexpr RecordField<std::uint32_t> kSubProcessTag{64};
inline constexpr RecordField<std::uint8_t> kBasePriority{68};
inline constexpr RecordField<std::uint8_t> kPagePriority{69};
inline constexpr RecordField<std::uint8_t> kIoPriority{70};
inline constexpr RecordField<std::uint8_t> kThreadFlags{71};
}  // namespace thread_field

struct CSwitchEventData {
    std::int64_t TimeStamp = 0;
    std::uint32_t ProcessorNumber = 0;
    std::array<std::uint8_t, 24> payload{};
};

namespace cswitch_field {
inline constexpr RecordField<std::uint32_t> kNewThreadId{0};
inline constexpr RecordField<std::uint32_t> kOldThreadId{4};
inline constexpr RecordField<std::uint8_t> kNewThreadPriority{8};
inline constexpr RecordField<std::uint8_t> kOldThreadPriority{9};
inline constexpr RecordField<std::uint8_t> kPreviousCState{10};
inline constexpr RecordField<std::uint8_t> kSpareByte{11};
inline constexpr RecordField<std::uint8_t> kOldThreadWaitReason{12};
// From version 4 on the property is called ThreadFlags, after its flag bits.
inline constexpr RecordField<std::uint8_t> kOldThreadWaitMode{13};
inline constexpr RecordField<std::uint8_t> kOldThreadState{14};
inline constexpr RecordField<std::uint8_t> kOldThreadWaitIdealProcessor{15};
inline constexpr RecordField<std::uint32_t> kNewThreadWaitTime{16};
inline constexpr RecordField<std::uint32_t> kReserved{20};
}  // namespace cswitch_field

struct ProcessEventData {
    std::int64_t TimeStamp = 0;
    std::uint32_t ProcessorNumber = 0;
    std::array<std::uint8_t, 40> fixedPart{};
    std::string text1;  // UserSID
    std::string text2;  // ImageFileName
    std::string text3;  // CommandLine: UTF-16 code units as little-endian bytes
    std::string text4;  // PackageFullName
};

namespace process_field {
inline constexpr RecordField<std::uint64_t> kUniqueProcessKey{0};
inline constexpr RecordField<std::uint32_t> kProcessId{8};
inline constexpr RecordField<std::uint32_t> kParentId{12};
inline constexpr RecordField<std::uint32_t> kSessionId{16};
inline constexpr RecordField<std::int32_t> kExitStatus{20};
inline constexpr RecordField<std::uint64_t> kDirectoryTableBase{24};
inline constexpr RecordField<std::uint32_t> kFlags{32};
}  // namespace process_field

// Each reader returns whether the fields the model relies on were read
// (the ids of a thread or context-switch event; a process event's id and
// image name). A record whose reading stopped early is not to be used.
// The first event of each class is read through the Trace Data Helper, the
// others from the decoding plan it taught.
bool ReadEventProperties(const EVENT_RECORD& event, ThreadEventData& record);
bool ReadEventProperties(const EVENT_RECORD& event, CSwitchEventData& record);
bool ReadProcessEventProperties(const EVENT_RECORD& event, ProcessEventData& record);

// The same records, every event read through the Trace Data Helper alone:
// what the plans are checked against.
bool ReadEventPropertiesThroughHelper(const EVENT_RECORD& event, ThreadEventData& record);
bool ReadEventPropertiesThroughHelper(const EVENT_RECORD& event, CSwitchEventData& record);
bool ReadProcessEventPropertiesThroughHelper(const EVENT_RECORD& event, ProcessEventData& record);

}  // namespace dormiscope
