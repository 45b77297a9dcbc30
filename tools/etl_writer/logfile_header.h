// The logfile-header event that opens every trace: a SYSTEM header (hook 0,
// version 2) over TRACE_LOGFILE_HEADER in the logger's pointer-size layout,
// followed by the logger name and the log file name.
#pragma once

#include <cstdint>

#include "etl_writer/trace_description.h"

namespace dormiscope::etl {

// The whole event; `buffers_written` and `end_time` are the values known at
// the time (placeholders until the trace is finished).
Event LogfileHeaderEvent(const TraceOptions& options, std::uint32_t buffers_written, std::int64_t end_time);

}  // namespace dormiscope::etl
