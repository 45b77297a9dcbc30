// Damages a written trace the way a torn write would: one event's size
// zeroed in place, every byte before it left as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dormiscope::testing {

// Zeroes the size of event `event_index` (0 = first) in the first data buffer
// of `processor` in `bytes`, a trace of uncompressed `buffer_size`-byte
// buffers. False when the trace has no such buffer or event.
bool ZeroEventSize(std::vector<std::uint8_t>& bytes, std::size_t buffer_size, std::uint8_t processor,
                   std::size_t event_index);

}  // namespace dormiscope::testing
