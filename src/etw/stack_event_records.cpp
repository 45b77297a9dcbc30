// The records of the Image, image identity, StackWalk and PerfInfo routine events.
#include "etw/stack_event_records.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "etw/record_layout.h"
#include "platform/etl_reader/little_endian.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope {
namespace {

// Pointer-sized values land in 8-byte slots; a 4-byte one is widened.
constexpr std::array<PropertySlot, 5> kImageSlots = {{
    {u"ImageBase", 0, 8, true},
    {u"ImageSize", 8, 8, true},
    {u"ProcessId", 16, 4, true},
    {u"ImageCheckSum", 20, 4, false},
    {u"TimeDateStamp", 24, 4, false},
}};
constexpr std::array<PropertyText, 1> kImageTexts = {{{u"FileName", TextForm::kUtf16, false}}};

constexpr std::array<PropertySlot, 4> kImageIdentitySlots = {{
    {u"ImageBase", 0, 8, true},
    {u"ProcessId", 8, 4, true},
    {u"GuidSig", 12, 16, true},
    {u"Age", 28, 4, true},
}};
constexpr std::array<PropertyText, 1> kImageIdentityTexts = {{{u"PdbFileName", TextForm::kBytes, false}}};

constexpr std::array<PropertySlot, 3> kStackSlots = {{
    {u"EventTimeStamp", 0, 8, true},
    {u"StackProcess", 8, 4, true},
    {u"StackThread", 12, 4, true},
}};
constexpr std::array<PropertySlot, 1> kStackKeyDefinitionSlots = {{{u"StackKey", 16, 8, true}}};
constexpr std::array<PropertySlot, 4> kStackKeyReferenceSlots = {{
    {u"EventTimeStamp", 0, 8, true},
    {u"StackProcess", 8, 4, true},
    {u"StackThread", 12, 4, true},
    {u"StackKey", 16, 8, true},
}};

constexpr std::array<PropertySlot, 4> kRoutineSlots = {{
    {u"InitialTime", 0, 8, true},
    {u"Routine", 8, 8, true},
    {u"ReturnValue", 16, 1, false},
    {u"Vector", 17, 1, false},
}};

constexpr RecordLayout kImageLayout{kImageSlots, kImageTexts};
constexpr RecordLayout kImageIdentityLayout{kImageIdentitySlots, kImageIdentityTexts};
constexpr RecordLayout kStackLayout{kStackSlots, {}};
constexpr RecordLayout kStackKeyDefinitionLayout{kStackKeyDefinitionSlots, {}};
constexpr RecordLayout kStackKeyReferenceLayout{kStackKeyReferenceSlots, {}};
constexpr RecordLayout kRoutineLayout{kRoutineSlots, {}};

// Where a whole stack's addresses start: after EventTimeStamp, StackProcess and StackThread.
constexpr std::size_t kStackFramesOffset = 16;

template <typename Value>
Value LoadAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    Value value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// ReadRecord, or ReadRecordThroughHelper for the reference readers.
using Reader = bool (*)(const EVENT_RECORD&, const RecordLayout&, std::span<std::uint8_t>,
                        std::span<std::string* const>);

std::uint32_t ProcessorOf(const EVENT_RECORD& event) {
    return (event.EventHeader.Flags & EVENT_HEADER_FLAG_PROCESSOR_INDEX) != 0 ? event.BufferContext.ProcessorIndex
                                                                              : event.BufferContext.ProcessorNumber;
}

// As the Trace Data Helper reads it: 4 bytes only when the header says so.
std::size_t PointerSizeOf(const EVENT_RECORD& event) {
    const USHORT flags = event.EventHeader.Flags & (EVENT_HEADER_FLAG_32_BIT_HEADER | EVENT_HEADER_FLAG_64_BIT_HEADER);
    return flags == EVENT_HEADER_FLAG_32_BIT_HEADER ? 4 : 8;
}

// The addresses from `offset` to the end of the payload, at most as many as
// the kernel walks.
void ReadFrames(const EVENT_RECORD& event, std::size_t offset, StackEventData& record) {
    if (event.UserData == nullptr || event.UserDataLength <= offset) {
        return;
    }
    const std::size_t pointer_size = PointerSizeOf(event);
    const std::span<const std::uint8_t> tail(static_cast<const std::uint8_t*>(event.UserData) + offset,
                                             event.UserDataLength - offset);
    std::size_t count = tail.size() / pointer_size;
    if (tail.size() % pointer_size != 0) {
        record.frames_read = StackFrames::kTruncated;
    }
    if (count > kMaxStackFrames) {
        record.frames_read = StackFrames::kOversized;
        count = kMaxStackFrames;
    }
    record.frames.resize(count);
    for (std::size_t index = 0; index < count; ++index) {
        record.frames[index] = pointer_size == 4 ? LoadAt<std::uint32_t>(tail, index * 4)
                                                 : LoadAt<std::uint64_t>(tail, index * 8);
    }
}

std::span<const std::uint8_t> TextBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

template <Reader Read>
bool ImageProperties(const EVENT_RECORD& event, ImageEventData& record) {
    record = ImageEventData{};
    record.TimeStamp = event.EventHeader.TimeStamp.QuadPart;
    record.opcode = event.EventHeader.EventDescriptor.Opcode;
    std::array<std::uint8_t, 28> fixed{};
    std::string file_name;
    std::string* const texts[] = {&file_name};
    const bool read = Read(event, kImageLayout, fixed, std::span<std::string* const>(texts));
    record.ImageBase = LoadAt<std::uint64_t>(fixed, 0);
    record.ImageSize = LoadAt<std::uint64_t>(fixed, 8);
    record.ProcessId = LoadAt<std::uint32_t>(fixed, 16);
    record.ImageCheckSum = LoadAt<std::uint32_t>(fixed, 20);
    record.TimeDateStamp = LoadAt<std::uint32_t>(fixed, 24);
    record.FileName = Utf16Prefix(TextBytes(file_name));
    return read;
}

template <Reader Read>
bool ImageIdentityProperties(const EVENT_RECORD& event, ImageIdentityEventData& record) {
    record = ImageIdentityEventData{};
    record.TimeStamp = event.EventHeader.TimeStamp.QuadPart;
    std::array<std::uint8_t, 32> fixed{};
    std::string* const texts[] = {&record.PdbFileName};
    const bool read = Read(event, kImageIdentityLayout, fixed, std::span<std::string* const>(texts));
    record.ImageBase = LoadAt<std::uint64_t>(fixed, 0);
    record.ProcessId = LoadAt<std::uint32_t>(fixed, 8);
    std::memcpy(record.PdbGuid.data(), fixed.data() + 12, record.PdbGuid.size());
    record.Age = LoadAt<std::uint32_t>(fixed, 28);
    return read;
}

template <Reader Read>
bool StackProperties(const EVENT_RECORD& event, StackEventData& record) {
    // A record read into again keeps its frames' memory: one stack after
    // another then costs no allocation.
    std::vector<std::uint64_t> frames = std::move(record.frames);
    frames.clear();
    record = StackEventData{};
    record.frames = std::move(frames);
    record.TimeStamp = event.EventHeader.TimeStamp.QuadPart;
    record.ProcessorNumber = ProcessorOf(event);
    record.opcode = event.EventHeader.EventDescriptor.Opcode;
    const RecordLayout* layout = nullptr;
    std::size_t frames_offset = 0;
    switch (record.opcode) {
        case kOpcodeStack:
            layout = &kStackLayout;
            frames_offset = kStackFramesOffset;
            break;
        case kOpcodeStackKeyDelete:
        case kOpcodeStackKeyRundown:
            layout = &kStackKeyDefinitionLayout;
            frames_offset = PointerSizeOf(event);
            break;
        case kOpcodeStackKeyKernel:
        case kOpcodeStackKeyUser:
            layout = &kStackKeyReferenceLayout;
            break;
        default:
            return false;
    }
    std::array<std::uint8_t, 24> fixed{};
    const bool read = Read(event, *layout, fixed, {});
    record.EventTimeStamp = LoadAt<std::uint64_t>(fixed, 0);
    record.StackProcess = LoadAt<std::uint32_t>(fixed, 8);
    record.StackThread = LoadAt<std::uint32_t>(fixed, 12);
    record.StackKey = LoadAt<std::uint64_t>(fixed, 16);
    if (read && frames_offset != 0) {
        ReadFrames(event, frames_offset, record);
    }
    return read;
}

template <Reader Read>
bool RoutineProperties(const EVENT_RECORD& event, RoutineEventData& record) {
    record = RoutineEventData{};
    record.TimeStamp = event.EventHeader.TimeStamp.QuadPart;
    record.ProcessorNumber = ProcessorOf(event);
    record.opcode = event.EventHeader.EventDescriptor.Opcode;
    std::array<std::uint8_t, 18> fixed{};
    const bool read = Read(event, kRoutineLayout, fixed, {});
    record.InitialTime = LoadAt<std::uint64_t>(fixed, 0);
    record.Routine = LoadAt<std::uint64_t>(fixed, 8);
    record.ReturnValue = fixed[16];
    record.Vector = fixed[17];
    return read;
}

}  // namespace

bool ReadImageProperties(const EVENT_RECORD& event, ImageEventData& record) {
    return ImageProperties<ReadRecord>(event, record);
}

bool ReadImagePropertiesThroughHelper(const EVENT_RECORD& event, ImageEventData& record) {
    return ImageProperties<ReadRecordThroughHelper>(event, record);
}

bool ReadImageIdentityProperties(const EVENT_RECORD& event, ImageIdentityEventData& record) {
    return ImageIdentityProperties<ReadRecord>(event, record);
}

bool ReadImageIdentityPropertiesThroughHelper(const EVENT_RECORD& event, ImageIdentityEventData& record) {
    return ImageIdentityProperties<ReadRecordThroughHelper>(event, record);
}

bool ReadStackProperties(const EVENT_RECORD& event, StackEventData& record) {
    return StackProperties<ReadRecord>(event, record);
}

bool ReadStackPropertiesThroughHelper(const EVENT_RECORD& event, StackEventData& record) {
    return StackProperties<ReadRecordThroughHelper>(event, record);
}

bool ReadRoutineProperties(const EVENT_RECORD& event, RoutineEventData& record) {
    return RoutineProperties<ReadRecord>(event, record);
}

bool ReadRoutinePropertiesThroughHelper(const EVENT_RECORD& event, RoutineEventData& record) {
    return RoutineProperties<ReadRecordThroughHelper>(event, record);
}

}  // namespace dormiscope
