#include "platform/trace_data_helper/tdh_property_location.h"

#include <cstring>

namespace dormiscope {
namespace {

// A SID has at most this many sub-authorities.
constexpr std::uint32_t kMaxSubAuthorities = 15;
// Revision, sub-authority count and the 6-byte identifier authority.
constexpr std::uint32_t kSidFixedPart = 8;

// The "Sid" blob: a zero ULONG when the event has no SID, otherwise a
// TOKEN_USER (two pointer-sized fields) followed by the SID itself.
std::uint32_t TokenUserSidSize(std::span<const std::uint8_t> data, unsigned pointer_size) {
    std::uint32_t first = 0;
    if (data.size() < sizeof(first)) {
        return 0;
    }
    std::memcpy(&first, data.data(), sizeof(first));
    if (first == 0) {
        return sizeof(first);
    }
    const std::uint32_t sid_start = 2 * pointer_size;
    if (data.size() < sid_start + 2) {
        return 0;
    }
    const std::uint32_t sub_authorities = data[sid_start + 1];
    if (sub_authorities > kMaxSubAuthorities) {
        return 0;
    }
    return sid_start + kSidFixedPart + 4 * sub_authorities;
}

// Size of the property whose value starts at `offset`, or 0 when the payload
// does not hold all of it (every well-formed value has at least one byte).
std::uint32_t PropertySizeAt(const PropertySchema& property, unsigned pointer_size,
                             std::span<const std::uint8_t> payload, std::uint32_t offset) {
    if (offset >= payload.size()) {
        return 0;
    }
    const std::span<const std::uint8_t> data = payload.subspan(offset);
    std::uint32_t size = 0;
    switch (property.encoding) {
        case PropertyEncoding::Fixed:
            size = property.fixed_size;
            break;
        case PropertyEncoding::Pointer:
            size = pointer_size;
            break;
        case PropertyEncoding::AnsiString: {
            const void* terminator = std::memchr(data.data(), 0, data.size());
            return terminator == nullptr
                       ? 0
                       : static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(terminator) - data.data()) + 1;
        }
        case PropertyEncoding::Utf16String:
            for (std::size_t unit = 0; unit + 1 < data.size(); unit += 2) {
                if (data[unit] == 0 && data[unit + 1] == 0) {
                    return static_cast<std::uint32_t>(unit) + 2;
                }
            }
            return 0;
        case PropertyEncoding::TokenUserSid:
            size = TokenUserSidSize(data, pointer_size);
            break;
    }
    return size <= data.size() ? size : 0;
}

}  // namespace

ULONG LocatePropertyByWalking(const EventLayout& layout, std::size_t index, unsigned pointer_size,
                              std::span<const std::uint8_t> payload, PropertyLocation& location) {
    const FixedOffsets& fixed = layout.OffsetsFor(pointer_size);
    // Start from the property itself when its offset is constant, otherwise
    // from the first variable-length property and walk on from there.
    std::size_t walked = index < fixed.known ? index : fixed.known - 1;
    std::uint32_t offset = fixed.offsets[walked];
    for (; walked < index; ++walked) {
        const std::uint32_t size = PropertySizeAt(layout.properties[walked], pointer_size, payload, offset);
        if (size == 0) {
            return ERROR_EVT_INVALID_EVENT_DATA;
        }
        offset += size;
    }
    const std::uint32_t size = PropertySizeAt(layout.properties[index], pointer_size, payload, offset);
    if (size == 0) {
        return ERROR_EVT_INVALID_EVENT_DATA;
    }
    location = {offset, size};
    return ERROR_SUCCESS;
}

}  // namespace dormiscope
