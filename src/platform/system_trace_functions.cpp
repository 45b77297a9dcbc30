#include "platform/trace_functions.h"

namespace dormiscope {
namespace {

// The system's consumer says nothing beyond its status.
std::optional<TraceDamage> NoDamageKnown() {
    return std::nullopt;
}

// Nor does it tell its clock.
std::optional<ClockReference> NoClockKnown(TRACEHANDLE) {
    return std::nullopt;
}

}  // namespace

const TraceFunctions kTraceFunctions{
    &::OpenTraceW,
    &::ProcessTrace,
    &::CloseTrace,
    &::TdhGetEventInformation,
    &::TdhGetPropertySize,
    &::TdhGetProperty,
    &NoDamageKnown,
    &NoClockKnown,
};

}  // namespace dormiscope
