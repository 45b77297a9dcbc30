// The consumer and Trace Data Helper functions src/etw reads traces with.
//
// Each program links exactly one table (see this folder's CMakeLists.txt):
// dormiscope the system's, the wake view this folder's own reader and
// helper, which read the same bytes the same way on every system. Where the
// system has no consumer the two tables are one.
#pragma once

#include <optional>

#include "platform/etw_api.h"
#include "platform/trace_clock.h"
#include "platform/trace_damage.h"

namespace dormiscope {

struct TraceFunctions {
    decltype(&etl_reader::OpenTraceW) open_trace;
    decltype(&etl_reader::ProcessTrace) process_trace;
    decltype(&etl_reader::CloseTrace) close_trace;
    decltype(&trace_data_helper::TdhGetEventInformation) get_event_information;
    decltype(&trace_data_helper::TdhGetPropertySize) get_property_size;
    decltype(&trace_data_helper::TdhGetProperty) get_property;
    std::optional<TraceDamage> (*last_damage)();
    std::optional<ClockReference> (*clock_reference)(TRACEHANDLE handle);
};

extern const TraceFunctions kTraceFunctions;

}  // namespace dormiscope
