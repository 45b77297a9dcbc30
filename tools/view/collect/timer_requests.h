// Follows the timer-resolution events through the recording: which process
// held which resolution and for how long, the stacks of the requests a
// rundown names, the kernel's own requests, and how many idle wakes fell
// while each effective resolution was in force.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "etw/timer_resolution_records.h"
#include "model/trace_model.h"
#include "view/collect/wake_collector.h"
#include "view/figures/wake_figures.h"
#include "view/stacks/frame_names.h"
#include "view/stacks/module_maps.h"

namespace dormiscope::view {

class TimerRequests {
public:
    // The span held times are measured in; set before the first event.
    void SetWindow(TraceWindow window) { window_ = window; }

    // A read event; `idle_wakes` is how many idle wakes the recording had
    // shown up to it (resolutions change only at these events, so the counts
    // between two of them belong to one effective resolution).
    void Event(const TimerResolutionEventData& record, std::uint64_t idle_wakes);
    void UnknownLayout() { ++unknown_layout_; }
    // After the last event, with the recording's idle wakes.
    void Finish(std::uint64_t idle_wakes);

    // Process names come from the model where it knows the id; stacks are
    // resolved by the module maps and named by `frame_names`.
    TimerResolutionFigures Figures(const TraceModel& model, ModuleMaps& modules, FrameNames& frame_names) const;

private:
    // A resolution held over [from, to) in 100-ns units from the start.
    struct Hold {
        std::uint32_t resolution;
        std::uint64_t from;
        std::uint64_t to;
    };
    struct Requester {
        std::u16string app_name;
        std::optional<Hold> open;
        std::vector<Hold> closed;
        std::uint64_t changes = 0;
        std::vector<std::uint64_t> stack;
        std::int64_t stack_time = 0;
    };
    struct Checkpoint {
        std::uint64_t at;
        std::uint64_t idle_wakes;
    };

    std::uint64_t OffsetOf(std::int64_t time) const;
    // Sets the request of `requester` from `at` on (0: none).
    static void Request(Requester& requester, std::uint32_t resolution, std::uint64_t at);
    // A rundown names a request outstanding now: one not seen being made was
    // made before the recording, since every change during it is logged.
    static void Outstanding(Requester& requester, std::uint32_t resolution, std::uint64_t at);
    // The effective resolution from each checkpoint to the next, with the
    // idle wakes between them.
    void Sweep(TimerResolutionFigures& figures) const;

    TraceWindow window_;
    std::map<std::uint32_t, Requester> processes_;
    Requester kernel_;
    std::vector<KernelResolutionChange> kernel_changes_;
    std::uint32_t default_period_ = 156250;  // 15.625 ms until a rundown tells the machine's coarsest
    std::vector<Checkpoint> checkpoints_{{0, 0}};
    std::uint64_t events_ = 0;
    std::uint64_t unknown_layout_ = 0;
};

}  // namespace dormiscope::view
