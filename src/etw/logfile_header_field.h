#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/etw_api.h"

namespace dormiscope {

// Reads a header field that follows the header's two pointers. The header is
// handed over as the recording machine wrote it, so those fields move with its
// pointer size; `offset_with_8_byte_pointers` is the field's offset in the
// 64-bit layout. A field that would lie outside the header reads as zero.
template <typename Field>
Field ReadLogfileHeaderField(const TRACE_LOGFILE_HEADER& header, std::size_t offset_with_8_byte_pointers) {
    const auto shift = 2 * (static_cast<std::int64_t>(header.PointerSize) - 8);
    const auto offset = static_cast<std::int64_t>(offset_with_8_byte_pointers) + shift;
    Field value{};
    if (offset < 0 || offset + static_cast<std::int64_t>(sizeof value) > static_cast<std::int64_t>(sizeof header)) {
        return Field{};
    }
    std::memcpy(&value, reinterpret_cast<const std::uint8_t*>(&header) + offset, sizeof value);
    return value;
}

}  // namespace dormiscope
