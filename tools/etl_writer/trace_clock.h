// Conversion between raw time stamps of the session clock and FILETIMEs, the
// way the trace consumer does it: the logfile-header event's raw stamp is
// StartTime, and every other stamp is scaled from there by the clock's rate.
#pragma once

#include <cstdint>

#include "etl_writer/trace_description.h"

namespace dormiscope::etl {

// FILETIME of raw stamp `raw`: StartTime + scale × (raw − header raw stamp),
// rounded down (scale = 10^7 / PerfFreq, 1, or 10 / CpuSpeedInMHz).
std::int64_t FileTimeFromRaw(const TraceOptions& options, std::int64_t raw);

// The smallest raw stamp whose time is not before StartTime + offset_100ns; it
// converts back to exactly that time whenever the clock ticks at least every
// 100 ns (QPC of 10 MHz or more, system time, CPU cycles of 10 MHz or more).
std::int64_t RawFromOffset(const TraceOptions& options, std::uint64_t offset_100ns);

}  // namespace dormiscope::etl
