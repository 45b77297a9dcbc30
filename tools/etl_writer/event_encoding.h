// Encoding of one event's header and payload in each on-disk header form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "etl_writer/trace_description.h"

namespace dormiscope::etl {

// Bytes the header of `form` occupies before the payload.
std::size_t HeaderSize(HeaderForm form);
// The header-type byte (byte 2 of the marker) of `form`.
std::uint8_t HeaderTypeByte(HeaderForm form);

// The encoded bytes of `event` (header + payload, unpadded), as they appear in
// a buffer. Throws std::invalid_argument when the total exceeds 65535 bytes.
std::vector<std::uint8_t> EncodeEvent(const Event& event);

}  // namespace dormiscope::etl
