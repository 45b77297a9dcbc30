// Where a property's value lies in an event's payload. The payload comes from
// a file and is not trusted: every length is checked against its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/etw_api.h"
#include "platform/trace_data_helper/tdh_event_layouts.h"

namespace dormiscope {

struct PropertyLocation {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

// Finds property `index` of the layout in the payload, walking the properties
// before it. ERROR_EVT_INVALID_EVENT_DATA when the payload ends before the
// property does or holds a malformed string or SID on the way.
ULONG LocatePropertyByWalking(const EventLayout& layout, std::size_t index, unsigned pointer_size,
                              std::span<const std::uint8_t> payload, PropertyLocation& location);

// The same, answered from the precomputed offsets when the property's
// position and size do not depend on the data.
inline ULONG LocateProperty(const EventLayout& layout, std::size_t index, unsigned pointer_size,
                            std::span<const std::uint8_t> payload, PropertyLocation& location) {
    const FixedOffsets& fixed = layout.OffsetsFor(pointer_size);
    if (index >= fixed.known || fixed.sizes[index] == 0) {
        return LocatePropertyByWalking(layout, index, pointer_size, payload, location);
    }
    const std::uint32_t offset = fixed.offsets[index];
    const std::uint32_t size = fixed.sizes[index];
    if (payload.size() < static_cast<std::size_t>(offset) + size) {
        return ERROR_EVT_INVALID_EVENT_DATA;
    }
    location = {offset, size};
    return ERROR_SUCCESS;
}

}  // namespace dormiscope
