// The two passes over the trace file and the event callbacks they register.
#pragma once

#include <cstdint>

#include "etw/etw_parser.h"
#include "model/run_context.h"

namespace dormiscope {

// Measures the trace and registers the processes and threads present at its start.
std::uint32_t FirstPassParsing(RunContext& run);

// Registers what starts during the recording, attributes every context switch
// to its threads, and lists the model in the log.
std::uint32_t SecondPassParsing(RunContext& run);

void OnProcessStart(const EVENT_RECORD& event, const TraceInfo* info, void* context);
void OnThreadStart(const EVENT_RECORD& event, const TraceInfo* info, void* context);
void OnCSwitch(const EVENT_RECORD& event, const TraceInfo* info, void* context);
void OnThreadEnd(const EVENT_RECORD& event, const TraceInfo* info, void* context);
void OnProcessEnd(const EVENT_RECORD& event, const TraceInfo* info, void* context);

}  // namespace dormiscope
