// The wake view's figures built from the collected wakes, the model and the
// report's choice of periodic threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/trace_model.h"
#include "view/collect/wake_pass.h"
#include "view/figures/wake_figures.h"
#include "view/stacks/frame_names.h"

namespace dormiscope::view {

inline constexpr std::size_t kTopReadiers = 3;
inline constexpr std::size_t kTopStacks = 5;

// The model must hold the computed histograms (ComputePeriodicDisturbances).
// Reorders the collected intervals of each thread. Every frame shown is named
// through `frame_names`, in the order the figures list them.
TraceFigures BuildFigures(const TraceModel& model, std::uint64_t duration, WakeReading& reading,
                          FrameNames& frame_names);

}  // namespace dormiscope::view
