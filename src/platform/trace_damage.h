// Where and why the reader found a trace file damaged. The consumer functions
// return only a status; the tools that show a trace to people (etwdump, the
// wake view) also name the place and the cause.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dormiscope {

struct TraceDamage {
    std::uint64_t offset = 0;  // in the file; a compressed buffer's own offset
    std::string reason;        // "buffer header", "LZ77 stream", "event size", …
};

// The damage that ended the calling thread's last ProcessTrace call of the
// project's own reader; empty when that call found none. Programs ask through
// their table of trace functions (trace_functions.h): the system's consumer
// says nothing beyond its status.
std::optional<TraceDamage> LastTraceDamage();

}  // namespace dormiscope
