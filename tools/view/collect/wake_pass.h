// Reads a trace for the wake view: the model's first pass (the processes and
// threads present at the start), then one pass that keeps the model up to date
// exactly as the report's second pass does and feeds every context switch,
// ready, thread name, stack and DPC or interrupt to the collector, every
// image to the module maps and every timer-resolution event to the requests.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "model/run_context.h"
#include "view/collect/timer_requests.h"
#include "view/collect/wake_collector.h"
#include "view/stacks/module_maps.h"

namespace dormiscope::view {

struct TraceHeaderFacts {
    std::uint32_t processors = 0;
    std::uint32_t pointer_size = 0;  // bytes
    std::uint32_t events_lost = 0;
    std::uint32_t buffers_lost = 0;
    std::uint32_t timer_resolution = 0;  // 100-ns units
};

// A processor is named by 16 bits in a trace; the figures have a row for each
// one the header counts, so a larger count is refused rather than believed.
inline constexpr std::uint32_t kMostProcessors = 65'536;

struct WakeReading {
    std::uint32_t status = 0;  // 0, or the failing trace operation's code
    // Set when the trace read but cannot be shown (no collector then): why.
    std::optional<std::string> refusal;
    TraceHeaderFacts header;
    std::unique_ptr<WakeCollector> collector;  // set when status is 0
    TimerRequests timer_requests;
    ModuleMaps modules;
    std::uint64_t images = 0;                  // image events read
    std::uint64_t image_identities = 0;
    bool clock_known = false;  // the consumer told the clock stacks and routines are matched by
    // When each thread was first seen (its start or rundown event, in the
    // events' own stamps): where its start address is looked up in the module maps.
    std::unordered_map<const ThreadEntry*, std::int64_t> thread_seen_at;
    TraceCoverage coverage;
    // What the rates and the timeline divide: the header's length, or the time
    // the events of a file cut short cover.
    std::uint64_t duration = 0;  // 100-ns units
};

// Fills run.model (and run.trace_duration) and collects the wakes.
WakeReading ReadWakes(RunContext& run);

}  // namespace dormiscope::view
