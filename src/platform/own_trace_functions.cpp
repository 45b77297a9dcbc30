#include "platform/trace_functions.h"

namespace dormiscope {

const TraceFunctions kTraceFunctions{
    &etl_reader::OpenTraceW,
    &etl_reader::ProcessTrace,
    &etl_reader::CloseTrace,
    &trace_data_helper::TdhGetEventInformation,
    &trace_data_helper::TdhGetPropertySize,
    &trace_data_helper::TdhGetProperty,
    &LastTraceDamage,
    &TraceClockOf,
};

}  // namespace dormiscope
