// The clock a trace's raw time stamps count in, for the values events carry
// inside their payloads (a stack's EventTimeStamp, a DPC's InitialTime): the
// view converts them exactly as the reader converts the events' own stamps.
#pragma once

#include <optional>

#include "platform/etl_reader/time_conversion.h"
#include "platform/etw_api.h"

namespace dormiscope {

// The clock reference of the project's own reader for the trace opened as
// `handle`; empty for a handle that is not open. Programs ask through their
// table of trace functions (trace_functions.h): the system's consumer has none.
std::optional<ClockReference> TraceClockOf(TRACEHANDLE handle);

}  // namespace dormiscope
