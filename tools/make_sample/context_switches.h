// Context switches from thread activity: each processor runs the threads that
// woke on it one after another, and its idle thread (id 0) in between.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "etl_writer/kernel_payloads.h"

namespace dormiscope::sample {

// One burst of a thread on a processor, in 100-ns units from the trace start.
struct Run {
    std::int64_t wake = 0;
    std::int64_t duration = 0;
    std::uint32_t tid = 0;
    std::uint32_t cpu = 0;
};

struct ThreadTraits {
    std::int8_t priority = 8;
    bool kernel_mode = false;  // waits in kernel mode (threads of the System process)
};

struct SwitchRecord {
    std::int64_t time = 0;
    std::uint32_t cpu = 0;
    etl::CSwitchFields fields;
};

// A run starts when it wakes or when its processor's previous run ends,
// whichever is later; a processor with nothing to run switches to idle. The
// result is ordered by time, then processor.
std::vector<SwitchRecord> ScheduleRuns(std::vector<Run> runs, const std::map<std::uint32_t, ThreadTraits>& traits);

}  // namespace dormiscope::sample
