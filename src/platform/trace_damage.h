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

#ifdef _WIN32
// The system's consumer says nothing beyond its status.
inline std::optional<TraceDamage> LastTraceDamage() { return std::nullopt; }
#else
// The damage that ended the calling thread's last ProcessTrace call; empty
// when that call found none.
std::optional<TraceDamage> LastTraceDamage();
#endif

}  // namespace dormiscope
