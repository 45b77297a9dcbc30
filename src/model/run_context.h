// The one state object of a run.
#pragma once

#include <cstdint>
#include <string>

#include "model/trace_model.h"

namespace dormiscope {

// How much of the recording the file holds. A file cut at a buffer boundary
// reads without an error; only the header's count of buffers tells.
struct TraceCoverage {
    std::uint32_t buffers_read = 0;
    std::uint32_t buffers_written = 0;   // as the header counts them
    std::int64_t last_event_time = 0;    // the last event delivered, as its time stamp

    // A consumer that does not report the count leaves it at 0; a read
    // trace always has at least its header's buffer.
    bool CutShort() const { return buffers_read != 0 && buffers_read < buffers_written; }
};

struct RunContext {
    std::wstring input_path;
    std::wstring output_path;
    TraceModel model;
    std::uint64_t trace_duration = 0;
    std::wstring log_level;
    TraceCoverage coverage;  // set by the first pass
};

}  // namespace dormiscope
