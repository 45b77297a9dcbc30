// The names recorded in the logfile header of an open trace, for tools that
// show them (the consumer interface itself has no place for them).
#pragma once

#include <string>

#include "platform/etw_api.h"

namespace dormiscope {

// The logger (session) name and the log file name stored after the logfile
// header of the trace opened as `handle`; empty for a handle that is not open.
std::u16string LoggerNameOf(TRACEHANDLE handle);
std::u16string LogFileNameOf(TRACEHANDLE handle);

}  // namespace dormiscope
