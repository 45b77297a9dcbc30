// Everything the Trace Data Helper answers for one kernel event schema, built
// once: the TRACE_EVENT_INFO image handed to callers, and where the leading
// properties of the payload lie for each pointer size.
//
// The lookup runs on every property access, so it is inline.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "platform/etw_api.h"
#include "platform/trace_data_helper/tdh_kernel_schemas.h"

namespace dormiscope {

// Payload offsets and sizes of the properties that come before any
// variable-length one (strings, SIDs), for one pointer size.
struct FixedOffsets {
    // offsets[i] is the payload offset of property i, for i < known; if every
    // property has a constant size, offsets[count] is the total size.
    std::array<std::uint32_t, kMaxSchemaProperties + 1> offsets{};
    // sizes[i] is the constant size of property i, or 0 for the first
    // variable-length one.
    std::array<std::uint32_t, kMaxSchemaProperties> sizes{};
    std::uint32_t known = 0;
};

inline constexpr std::uint8_t kNoNameHere = 0xFF;

struct EventLayout {
    std::span<const PropertySchema> properties;
    // A complete TRACE_EVENT_INFO: header, property array and names.
    std::vector<std::uint8_t> event_info;
    // For each 16-bit unit of event_info, the index of the property whose
    // name starts there, or kNoNameHere.
    std::vector<std::uint8_t> property_named_at;
    FixedOffsets four_byte_pointers;
    FixedOffsets eight_byte_pointers;

    const FixedOffsets& OffsetsFor(unsigned pointer_size) const {
        return pointer_size == 4 ? four_byte_pointers : eight_byte_pointers;
    }
};

class EventLayoutCatalog {
public:
    EventLayoutCatalog();

    // The layout for this class, version and opcode; nullptr when the class
    // has no schema for them.
    const EventLayout* Find(KernelEventClass event_class, UCHAR version, UCHAR opcode) const {
        if (version >= kVersionCount || opcode >= kOpcodeCount) {
            return nullptr;
        }
        return index_[static_cast<std::size_t>(event_class)][version][opcode];
    }

private:
    static constexpr std::size_t kClassCount = kKernelEventClasses.size();
    static constexpr std::size_t kVersionCount = 6;
    static constexpr std::size_t kOpcodeCount = 73;

    // A deque keeps the addresses in the index valid while it grows.
    std::deque<EventLayout> layouts_;
    std::array<std::array<std::array<const EventLayout*, kOpcodeCount>, kVersionCount>, kClassCount> index_{};
};

// The layout for an event of this provider, version and opcode; nullptr when
// the kernel classes hold no schema for it.
inline const EventLayout* FindEventLayout(const GUID& provider, UCHAR version, UCHAR opcode) {
    static const EventLayoutCatalog catalog;
    const std::optional<KernelEventClass> event_class = KernelEventClassOf(provider);
    return event_class ? catalog.Find(*event_class, version, opcode) : nullptr;
}

}  // namespace dormiscope
