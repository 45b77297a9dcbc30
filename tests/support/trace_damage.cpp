#include "support/trace_damage.h"

namespace dormiscope::testing {
namespace {

constexpr std::size_t kBufferHeaderSize = 0x48;
constexpr std::size_t kProcessorOffset = 0x28;  // first byte of the buffer's client context
constexpr std::size_t kUsedOffset = 0x30;
constexpr std::size_t kEventSizeOffset = 4;     // after the 4-byte marker of every header form

std::size_t Load16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes[at] | std::size_t{bytes[at + 1]} << 8;
}

std::size_t Load32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return Load16(bytes, at) | Load16(bytes, at + 2) << 16;
}

}  // namespace

bool ZeroEventSize(std::vector<std::uint8_t>& bytes, std::size_t buffer_size, std::uint8_t processor,
                   std::size_t event_index) {
    // The file's first buffer holds the logfile header: data buffers follow it.
    for (std::size_t buffer = buffer_size; buffer + buffer_size <= bytes.size(); buffer += buffer_size) {
        if (bytes[buffer + kProcessorOffset] != processor) {
            continue;
        }
        const std::size_t used = buffer + Load32(bytes, buffer + kUsedOffset);
        std::size_t event = buffer + kBufferHeaderSize;
        for (std::size_t index = 0; index < event_index && event + kEventSizeOffset + 2 <= used; ++index) {
            event += (Load16(bytes, event + kEventSizeOffset) + 7) & ~std::size_t{7};
        }
        if (event + kEventSizeOffset + 2 > used) {
            return false;
        }
        bytes[event + kEventSizeOffset] = 0;
        bytes[event + kEventSizeOffset + 1] = 0;
        return true;
    }
    return false;
}

}  // namespace dormiscope::testing
