// Records of the kernel events that say who woke a thread and what a thread is
// called: ReadyThread, SetName, and the name a thread event may carry.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/etw_api.h"

namespace dormiscope {

// The header names no logging thread (the PERFINFO form, which ReadyThread uses).
inline constexpr std::uint32_t kNoHeaderThread = 0xFFFFFFFF;
inline constexpr std::uint8_t kReadiedFromDpc = 0x01;  // Flag bit 0

struct ReadyThreadEventData {
    std::int64_t TimeStamp = 0;
    std::uint32_t HeaderThreadId = kNoHeaderThread;
    std::uint32_t TThreadId = 0;  // the thread made ready
    std::uint8_t Flag = 0;
};

struct ThreadNameEventData {
    std::uint32_t ProcessId = 0;
    std::uint32_t ThreadId = 0;
    std::u16string name;
};

// Each returns whether the event's ids (and, for the name readers, a name)
// were read; a record whose reading stopped early is not to be used.
bool ReadReadyThreadProperties(const EVENT_RECORD& event, ReadyThreadEventData& record);
bool ReadSetNameProperties(const EVENT_RECORD& event, ThreadNameEventData& record);
// A Thread Start, End or rundown event: the ThreadName property of version 4,
// or the trailing name that version 3 events of some releases carry after the
// properties their class describes. False when the event carries no name.
bool ReadThreadEventName(const EVENT_RECORD& event, ThreadNameEventData& record);

// The same, always through the Trace Data Helper: the reference the decoding
// plans behind the readers above must match.
bool ReadReadyThreadPropertiesThroughHelper(const EVENT_RECORD& event, ReadyThreadEventData& record);
bool ReadSetNamePropertiesThroughHelper(const EVENT_RECORD& event, ThreadNameEventData& record);
bool ReadThreadEventNameThroughHelper(const EVENT_RECORD& event, ThreadNameEventData& record);

}  // namespace dormiscope
