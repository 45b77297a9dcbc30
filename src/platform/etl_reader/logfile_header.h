// The first buffer of an .etl file and its logfile-header event: what opening
// a trace checks and learns before any event is delivered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/etw_api.h"
#include "platform/etl_reader/time_conversion.h"

namespace dormiscope {

struct LogfileInfo {
    // The first 280 payload bytes of the header event, verbatim (so a 32-bit
    // logger's fields after LoggerName sit 8 bytes earlier); zeros past the payload.
    TRACE_LOGFILE_HEADER header{};
    std::u16string logger_name;
    std::u16string log_file_name;
    ClockReference clock;               // read at the header event's own layout
    std::uint16_t compression_format = 0;
    std::size_t header_event_end = 0;   // buffer offset of the event after the header event
    bool is_kernel_trace = false;
};

// `file` holds the file's first bytes, at least its first buffer.
// Empty unless the file starts with a sound buffer whose first event is a
// system header (32- or 64-bit) with HookId 0 and a payload large enough for
// TRACE_LOGFILE_HEADER at that pointer size.
std::optional<LogfileInfo> ReadLogfileHeader(std::span<const std::uint8_t> file);

}  // namespace dormiscope
