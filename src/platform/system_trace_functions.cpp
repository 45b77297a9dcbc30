#include "platform/trace_functions.h"

namespace dormiscope {

const TraceFunctions kTraceFunctions{
    &::OpenTraceW,
    &::ProcessTrace,
    &::CloseTrace,
    &::TdhGetEventInformation,
    &::TdhGetPropertySize,
    &::TdhGetProperty,
};

}  // namespace dormiscope
