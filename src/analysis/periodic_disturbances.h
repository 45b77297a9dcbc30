// The period histogram and significant periods of every thread of the trace,
// computed in parallel over the threads.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <utility>

#include "model/trace_model.h"

namespace dormiscope {

// Runs ComputeThreadHistogram for every entry and returns when all are done.
void ComputePeriodicDisturbances(std::unordered_map<std::uint64_t, ThreadEntry*>& thread_list);

// Fills the entry's period_histogram and significant_periods when it has more
// periods than there are seed centroids; touches nothing else.
void ComputeThreadHistogram(std::pair<const std::uint64_t, ThreadEntry*>& entry);

}  // namespace dormiscope
