// Records of the power manager's timer-resolution events: a process's request
// or release, the kernel's own change, and the rundown of what was
// outstanding (with the stack of each request) when logging started or stopped.
//
// The Trace Data Helper has no schema for manifest providers here, so the
// layouts are spelled once below, field by field, and one reader walks them
// for everything that decodes these events (the view and etwdump). The reader
// vouches for an event only when its payload is exactly as long as its layout
// says; any other version or size is reported as unknown, never guessed at.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/etw_api.h"

namespace dormiscope {

// What a field of a layout holds. kAppNameLength is a UInt16 counting the
// UTF-16 units of the kAppName after it; kStackSize is a UInt32 counting the
// 4-byte units of the kStack addresses after it; the others are UInt32.
enum class TimerValue : std::uint8_t {
    kRequested,  // RequestedResolution or RequestedPeriod: 100-ns units, 0 = released
    kPid,
    kAppNameLength,
    kAppName,
    kSubProcessTag,
    kCurrentPeriod,
    kMinimumPeriod,
    kMaximumPeriod,
    kKernelRequestCount,
    kKernelRequestedPeriod,
    kInternalSetPeriod,
    kTag,
    kStackSize,
    kStack,
};

struct TimerResolutionField {
    std::string_view name;  // as the provider's manifest names it
    TimerValue value;
};

struct TimerResolutionLayout {
    std::uint16_t id;
    std::uint8_t version;
    std::span<const TimerResolutionField> fields;
};

// The layout of this event id and version; nullptr for one not known.
const TimerResolutionLayout* TimerResolutionLayoutOf(std::uint16_t id, std::uint8_t version);

struct TimerResolutionEventData {
    std::int64_t TimeStamp = 0;
    std::uint16_t id = 0;
    std::uint8_t version = 0;
    std::uint32_t Requested = 0;
    std::uint32_t Pid = 0;
    std::uint32_t AppNameLength = 0;  // as logged: UTF-16 units
    std::u16string AppName;  // without trailing zero units
    std::uint32_t SubProcessTag = 0;
    std::uint32_t CurrentPeriod = 0;
    std::uint32_t MinimumPeriod = 0;
    std::uint32_t MaximumPeriod = 0;
    std::uint32_t KernelRequestCount = 0;
    std::uint32_t KernelRequestedPeriod = 0;
    std::uint32_t InternalSetPeriod = 0;
    std::uint32_t Tag = 0;
    std::uint32_t StackSize = 0;
    std::vector<std::uint64_t> Stack;  // leaf first, 4-byte addresses widened
};

// The value of a numeric field of a read record (0 for the name and the stack).
std::uint32_t TimerNumber(const TimerResolutionEventData& record, TimerValue value);

enum class TimerResolutionRead : std::uint8_t {
    kRead,
    kOtherEvent,     // a Kernel-Power event that is not about the timer resolution
    kUnknownLayout,  // a version not known, or a payload whose size its layout does not explain
};

// Reads a Kernel-Power event. The record is whole only for kRead.
TimerResolutionRead ReadTimerResolutionEvent(const EVENT_RECORD& event, TimerResolutionEventData& record);

}  // namespace dormiscope
