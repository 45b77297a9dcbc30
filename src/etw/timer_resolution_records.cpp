// The timer-resolution layouts and their one reader.
//
// Sources of the layouts: the fields, their order and types are as the
// provider's manifest lists them, in the public data dictionaries of
// Microsoft-Windows-Kernel-Power (OTRF/OSSEM) and in a public set of payload
// declarations generated from the same manifest; the two agree on every field
// below. The manifest counts AppName by AppNameLength and Stack by StackSize
// without saying in what unit (the generated declarations take the name's
// count as bytes and the stack as one address, a generator's shorthand); a
// public consumer of recorded events reads AppNameLength as UTF-16 units and
// StackSize as 4-byte units (two per address in 64-bit events), and so does
// this reader, which then insists that the counts explain every byte. Both
// sources list version 0 of event 63 with other fields (no process id), so
// it is left unknown.
#include "etw/timer_resolution_records.h"

#include <array>
#include <cstring>

#include "platform/etl_reader/little_endian.h"
#include "platform/kernel_power_events.h"

namespace dormiscope {
namespace {

using enum TimerValue;

constexpr std::array<TimerResolutionField, 5> kChangeFields = {{
    {"RequestedResolution", kRequested},
    {"Pid", kPid},
    {"AppNameLength", kAppNameLength},
    {"AppName", kAppName},
    {"SubProcessTag", kSubProcessTag},
}};
constexpr std::array<TimerResolutionField, 6> kRundownFields = {{
    {"CurrentPeriod", kCurrentPeriod},
    {"MinimumPeriod", kMinimumPeriod},
    {"MaximumPeriod", kMaximumPeriod},
    {"KernelRequestCount", kKernelRequestCount},
    {"KernelRequestedPeriod", kKernelRequestedPeriod},
    {"InternalSetPeriod", kInternalSetPeriod},  // version 1 only
}};
constexpr std::array<TimerResolutionField, 6> kStackRundownFields = {{
    {"RequestedPeriod", kRequested},
    {"Pid", kPid},
    {"AppNameLength", kAppNameLength},
    {"AppName", kAppName},
    {"StackSize", kStackSize},  // not in event 97
    {"Stack", kStack},          // not in event 97
}};
constexpr std::array<TimerResolutionField, 2> kKernelChangeFields = {{
    {"RequestedResolution", kRequested}, {"Tag", kTag},  // version 1 only
}};

constexpr std::array<TimerResolutionLayout, 7> kLayouts = {{
    {kEventTimeResolutionChange, 1, kChangeFields},
    {kEventTimeResolutionRundown, 0, std::span(kRundownFields).first(5)},
    {kEventTimeResolutionRundown, 1, kRundownFields},
    {kEventTimeResolutionRequestRundown, 0, std::span(kStackRundownFields).first(4)},
    {kEventTimeResolutionKernelChange, 0, std::span(kKernelChangeFields).first(1)},
    {kEventTimeResolutionKernelChange, 1, kKernelChangeFields},
    {kEventTimerResolutionStackRundown, 0, kStackRundownFields},
}};

// The record's member for a numeric field; nullptr for the name and the stack.
template <typename Record>
auto NumberSlot(Record& record, TimerValue value) -> decltype(&record.Pid) {
    switch (value) {
        case kRequested:
            return &record.Requested;
        case kPid:
            return &record.Pid;
        case kAppNameLength:
            return &record.AppNameLength;
        case kSubProcessTag:
            return &record.SubProcessTag;
        case kCurrentPeriod:
            return &record.CurrentPeriod;
        case kMinimumPeriod:
            return &record.MinimumPeriod;
        case kMaximumPeriod:
            return &record.MaximumPeriod;
        case kKernelRequestCount:
            return &record.KernelRequestCount;
        case kKernelRequestedPeriod:
            return &record.KernelRequestedPeriod;
        case kInternalSetPeriod:
            return &record.InternalSetPeriod;
        case kTag:
            return &record.Tag;
        case kStackSize:
            return &record.StackSize;
        case kAppName:
        case kStack:
            return nullptr;
    }
    return nullptr;
}

constexpr std::size_t kStackUnit = 4;

// Walks the layout over the payload; false as soon as a field does not fit,
// or when bytes are left over.
bool Walk(const TimerResolutionLayout& layout, std::span<const std::uint8_t> payload, std::size_t pointer_size,
          TimerResolutionEventData& record) {
    std::size_t offset = 0;
    for (const TimerResolutionField& field : layout.fields) {
        const std::size_t left = payload.size() - offset;
        const std::uint8_t* here = payload.data() + offset;
        switch (field.value) {
            case kAppNameLength:
                if (left < 2) {
                    return false;
                }
                record.AppNameLength = LoadLittleEndian<std::uint16_t>(here);
                offset += 2;
                break;
            case kAppName: {
                const std::size_t name_units = record.AppNameLength;
                if (left < 2 * name_units) {
                    return false;
                }
                record.AppName.resize(name_units);
                for (std::size_t unit = 0; unit < name_units; ++unit) {
                    record.AppName[unit] = static_cast<char16_t>(LoadLittleEndian<std::uint16_t>(here + 2 * unit));
                }
                while (!record.AppName.empty() && record.AppName.back() == u'\0') {
                    record.AppName.pop_back();
                }
                offset += 2 * name_units;
                break;
            }
            case kStack: {
                // StackSize must account for every byte that is left, in whole addresses.
                const std::uint64_t stack_bytes = std::uint64_t{record.StackSize} * kStackUnit;
                if (stack_bytes != left || left % pointer_size != 0) {
                    return false;
                }
                record.Stack.resize(left / pointer_size);
                for (std::size_t frame = 0; frame < record.Stack.size(); ++frame) {
                    const std::uint8_t* address = here + frame * pointer_size;
                    record.Stack[frame] = pointer_size == 4 ? LoadLittleEndian<std::uint32_t>(address)
                                                            : LoadLittleEndian<std::uint64_t>(address);
                }
                offset += left;
                break;
            }
            default:
                if (left < 4) {
                    return false;
                }
                *NumberSlot(record, field.value) = LoadLittleEndian<std::uint32_t>(here);
                offset += 4;
                break;
        }
    }
    return offset == payload.size();
}

}  // namespace

const TimerResolutionLayout* TimerResolutionLayoutOf(std::uint16_t id, std::uint8_t version) {
    for (const TimerResolutionLayout& layout : kLayouts) {
        if (layout.id == id && layout.version == version) {
            return &layout;
        }
    }
    return nullptr;
}

std::uint32_t TimerNumber(const TimerResolutionEventData& record, TimerValue value) {
    const std::uint32_t* slot = NumberSlot(record, value);
    return slot != nullptr ? *slot : 0;
}

TimerResolutionRead ReadTimerResolutionEvent(const EVENT_RECORD& event, TimerResolutionEventData& record) {
    record = TimerResolutionEventData{};
    const EVENT_DESCRIPTOR& descriptor = event.EventHeader.EventDescriptor;
    record.TimeStamp = event.EventHeader.TimeStamp.QuadPart;
    record.id = descriptor.Id;
    record.version = descriptor.Version;
    if (TimerResolutionEventName(descriptor.Id).empty()) {
        return TimerResolutionRead::kOtherEvent;
    }
    const TimerResolutionLayout* layout = TimerResolutionLayoutOf(descriptor.Id, descriptor.Version);
    if (layout == nullptr || (event.UserData == nullptr && event.UserDataLength != 0)) {
        return TimerResolutionRead::kUnknownLayout;
    }
    const USHORT bitness =
        event.EventHeader.Flags & (EVENT_HEADER_FLAG_32_BIT_HEADER | EVENT_HEADER_FLAG_64_BIT_HEADER);
    const std::size_t pointer_size = bitness == EVENT_HEADER_FLAG_32_BIT_HEADER ? 4 : 8;
    const std::span<const std::uint8_t> payload(static_cast<const std::uint8_t*>(event.UserData), event.UserDataLength);
    if (!Walk(*layout, payload, pointer_size, record)) {
        return TimerResolutionRead::kUnknownLayout;
    }
    return TimerResolutionRead::kRead;
}

}  // namespace dormiscope
