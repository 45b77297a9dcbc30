// The figures the wake view shows, for the whole trace and per thread grouped
// by process: what the JSON document and the page are made from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "view/figures/wake_kinds.h"
#include "view/symbols/symbol_summary.h"

namespace dormiscope::view {

// A thread's wakes across the trace, in this many equal slices.
inline constexpr std::size_t kTimelineSlices = 48;

// Names are UTF-16 code units, as the report's name text holds them. Frames
// and routines are UTF-8 texts, already named ("module+0x1a2b", or with
// symbols "module!function+0x4c"), so that a document read back holds all the
// figures need. DPC readiers are one per routine.
struct ReadierFigure {
    ReadierKind kind = ReadierKind::kUnknown;
    std::uint32_t thread_id = 0;
    std::uint32_t process_id = 0;
    std::wstring process_name;  // empty when the process is not in the model
    std::uint64_t count = 0;
    std::optional<std::string> routine;  // a DPC's routine; none when no DPC event covered the ready
};

// A stack seen on a thread's wakes, frames leaf first.
struct StackFigure {
    std::uint64_t count = 0;
    double share = 0;  // of the thread's wakes
    std::vector<std::string> frames;
};

// A frame of the wake stacks the flame graphs and exports show: named as the
// document names frames, with its module and whether it is kernel code.
struct CodeFrame {
    std::string text;
    std::string module;  // the image's file name, or "unknown"
    bool kernel = false;
};

// One distinct combination among a thread's wakes: where it waited, what
// readied it and who, with its wakes and the idle wakes among them. Frames
// are indices into TraceFigures::code_frames.
struct WakeStackFigure {
    std::vector<std::uint32_t> wait;      // root first; empty when none was recorded
    std::vector<std::uint32_t> readying;  // leaf first; empty when none was recorded
    // None: no ready came before the wake. A DPC's routine is not told here:
    // the readying stack holds it.
    std::optional<ReadierFigure> readier;
    std::uint64_t wakes = 0;
    std::uint64_t idle_wakes = 0;
};

// Off-processor intervals by nearest rank, in 100-ns units.
struct IntervalFigure {
    std::uint64_t count = 0;
    std::uint64_t p10 = 0;
    std::uint64_t median = 0;
    std::uint64_t p90 = 0;
};

struct ThreadFigures {
    std::uint32_t thread_id = 0;
    std::wstring name;
    // Where the thread started (its Win32 start address) as a frame; none when
    // the trace gives no start address.
    std::optional<std::string> start;
    std::uint64_t wakes = 0;
    double wakes_per_second = 0;
    std::uint64_t idle_wakes = 0;
    std::map<std::uint8_t, std::uint64_t> idle_wakes_by_cstate;
    std::uint64_t on_processor = 0;  // 100-ns units
    std::optional<IntervalFigure> intervals;
    std::optional<std::int32_t> periodicity_ms;         // only where the report gives one
    // The share of the period-class intervals that lie in the periodicity's
    // class: near 1 for a steady timer, low for a thread whose intervals spread
    // over many classes. Set with the periodicity.
    std::optional<double> regularity;
    std::map<std::int64_t, std::uint64_t> period_classes;  // class (ms) → intervals
    std::optional<std::vector<ReadierFigure>> top_readiers;  // none: the trace records no readies
    std::vector<StackFigure> wait_stacks;      // of the switch-out before each wake
    std::vector<StackFigure> readying_stacks;  // of the ready before each wake
    std::vector<WakeStackFigure> wake_stacks;  // every one with a stack, most wakes first
    std::vector<std::uint32_t> timeline;
};

struct ProcessFigures {
    std::uint32_t process_id = 0;
    std::wstring name;
    std::wstring command_line;  // empty when the trace gives none
    std::uint64_t wakes = 0;
    double wakes_per_second = 0;
    std::vector<ThreadFigures> threads;  // most wakes first
};

// The code events read, and those that could not be used.
struct CodeFigures {
    std::uint64_t images = 0;
    std::uint64_t image_identities = 0;
    std::uint64_t stacks = 0;
    std::uint64_t stacks_matched = 0;
    std::uint64_t stacks_of_other_events = 0;  // of events of kinds the page does not use (profiling samples, I/O, …)
    std::uint64_t stacks_unmatched = 0;
    std::uint64_t stack_keys_undefined = 0;
    std::uint64_t stacks_damaged = 0;  // truncated or oversized
    std::uint64_t images_ignored = 0;  // size 0 or overlapping
    std::uint64_t dpcs = 0;
    std::uint64_t interrupts = 0;
    std::uint64_t readies_from_dpc = 0;
    std::uint64_t readies_from_dpc_not_recorded = 0;
};

// The runs of one DPC or interrupt routine; times in 100-ns units.
struct RoutineFigure {
    RoutineKind kind = RoutineKind::kDpc;
    std::string routine;
    std::string module;  // the image's file name, or "unknown"
    std::uint64_t count = 0;
    double per_second = 0;
    std::uint64_t total = 0;
    std::uint64_t median = 0;
    std::uint64_t readied = 0;       // runs that readied at least one thread
    std::uint64_t started_idle = 0;  // runs entered while the processor was idle
};

// One resolution a process held, and for how long (100-ns units).
struct TimerHoldFigure {
    std::uint32_t resolution = 0;  // 100-ns units
    std::uint64_t held = 0;
    double share = 0;  // of the recording
};

// A process that asked for a finer timer during the recording, or held one at its start.
struct TimerRequestFigure {
    std::uint32_t process_id = 0;
    std::wstring name;  // the model's, or else the file part of the name the events give
    std::vector<TimerHoldFigure> holds;  // finest first
    std::uint64_t changes = 0;           // requests and releases it logged during the recording
    double changes_per_second = 0;
    bool held_at_start = false;
    bool held_at_end = false;
    std::vector<std::string> stack;  // named frames, where a stack rundown names the request; leaf first
};

// From `at` (100-ns units into the recording) the machine's finest outstanding request.
struct ResolutionStep {
    std::uint64_t at = 0;
    std::uint32_t resolution = 0;
};

// The kernel changed its own request at `at` (0: released it).
struct KernelResolutionChange {
    std::uint64_t at = 0;
    std::uint32_t requested = 0;
};

struct TimerResolutionFigures {
    std::uint64_t events = 0;          // timer-resolution events read
    std::uint64_t unknown_layout = 0;  // left out: a version or size not known
    std::vector<TimerRequestFigure> requests;  // finest first, then longest held
    std::vector<ResolutionStep> effective;     // empty without the events
    std::vector<KernelResolutionChange> kernel_changes;
    // The finest resolution in force during the recording, when finer than
    // the default, and the idle wakes per second while it was and was not.
    std::optional<std::uint32_t> finest;
    std::optional<double> idle_wakes_per_second_at_finest;
    std::optional<double> idle_wakes_per_second_otherwise;
};

struct TraceFigures {
    std::uint64_t duration = 0;  // 100-ns units
    std::uint32_t processors = 0;
    std::uint32_t pointer_size = 0;  // bytes, of the recording machine
    std::uint64_t events = 0;
    std::uint64_t context_switches = 0;
    std::uint64_t ready_events = 0;
    std::uint64_t wakes = 0;
    double wakes_per_second = 0;
    std::uint64_t idle_wakes = 0;
    std::vector<double> idle_wakes_per_second_by_processor;
    // Processors that logged no event at all (as in a file cut short): their
    // rate of 0 is not a quiet processor's.
    std::vector<std::uint32_t> processors_without_events;
    std::map<std::uint8_t, std::uint64_t> idle_exit_cstates;
    std::uint32_t events_lost = 0;
    std::uint32_t buffers_lost = 0;
    std::uint64_t timer_resolution = 0;  // 100-ns units
    TimerResolutionFigures timer_requests;
    CodeFigures code;
    std::vector<RoutineFigure> routines;      // most runs first
    std::optional<symbols::SymbolSummary> symbols;  // none when no PDB was looked for
    std::vector<std::string> coverage_notes;  // what the trace misses: cut short, events or buffers lost
    std::vector<std::string> trace_notes;     // what was not recorded, and recorded events the page cannot use
    std::vector<std::string> summary_notes;   // lines under the summary's cards, e.g. which PDBs named code
    std::vector<ProcessFigures> processes;    // most wakes first
    std::vector<CodeFrame> code_frames;       // of the threads' wake stacks, each once
};

}  // namespace dormiscope::view
