// One delivered event as a JSON object: its header facts and, for events the
// Trace Data Helper describes and the timer-resolution events, its properties
// decoded by name.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "etw/stack_event_records.h"
#include "etw/timer_resolution_records.h"
#include "etwdump/json_text.h"
#include "platform/etw_api.h"

namespace dormiscope::etwdump {

// The pointer size the event was logged with (4 or 8), from its header flags.
unsigned PointerSizeOf(const EVENT_RECORD& event);

// "S-1-5-21-…" for a SID that starts `sid_offset` bytes into `blob`; empty
// when the bytes there do not hold a whole SID.
std::string SidText(std::span<const std::uint8_t> blob, std::size_t sid_offset);

// Writes events one after another; keeps its buffers from one event to the next.
class EventJsonWriter {
public:
    // Appends the event's object (no line end). "properties" is null for an
    // event without a schema; a property that cannot be read is null.
    void Append(std::string& out, EVENT_RECORD& event);

private:
    void AppendProperties(std::string& out, EVENT_RECORD& event);
    void AppendPropertyValue(std::string& out, EVENT_RECORD& event, const EVENT_PROPERTY_INFO& property,
                             const std::uint8_t* name);
    // A stack event's addresses, leaf first, after its properties.
    void AppendStackFrames(JsonObject& object, const EVENT_RECORD& event);
    // A timer-resolution event's fields as its layout names them; null for a
    // layout not known.
    void AppendTimerResolutionProperties(std::string& out, const EVENT_RECORD& event);

    std::vector<std::uint8_t> event_info_;
    std::vector<std::uint8_t> value_;
    StackEventData stack_;
    TimerResolutionEventData timer_;
};

}  // namespace dormiscope::etwdump
