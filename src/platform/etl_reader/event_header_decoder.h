// Decoding of one event stored in a buffer, in any of its header forms, into
// the EVENT_RECORD a consumer callback receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/etw_api.h"

namespace dormiscope {

enum class EventOutcome {
    kEvent,        // a deliverable event; the record is filled
    kSkipped,      // an event consumers do not receive (e.g. a WPP message)
    kEndOfBuffer,  // no event starts here (fill bytes)
    kCorrupt,      // a header or size that does not fit the bytes
};

struct DecodedEvent {
    EventOutcome outcome = EventOutcome::kCorrupt;
    std::size_t size = 0;  // header + payload, without the alignment padding
    std::int64_t raw_time = 0;  // for kEvent: the stamp as stored
};

// Decodes the event at `position` of `events` (a buffer's bytes up to its
// used size; position < events.size()). For kEvent the whole EventHeader,
// ExtendedDataCount, ExtendedData, UserDataLength and UserData of `record` are
// written, with the raw time stamp in TimeStamp; BufferContext and UserContext
// are left to the caller. Extended data items are kept in `extended`, which
// `record` then points into; no allocation happens once it has grown to the
// longest chain seen.
DecodedEvent DecodeEvent(std::span<const std::uint8_t> events, std::size_t position, EVENT_RECORD& record,
                         std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM>& extended);

// The outcome, size and raw time DecodeEvent would give, without filling a record.
DecodedEvent MeasureEvent(std::span<const std::uint8_t> events, std::size_t position);

}  // namespace dormiscope
