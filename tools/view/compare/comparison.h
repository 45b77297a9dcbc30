// Two recordings lined up by what stays the same between them (image names,
// command lines, thread names and start routines), never by pid or tid, with
// every figure per second since the recordings differ in length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "view/figures/wake_figures.h"

namespace dormiscope::view {

// A count on each side, as a rate, and whether the change is beyond what
// counting noise explains (NoiseTest).
struct CountChange {
    std::uint64_t before = 0;
    std::uint64_t after = 0;
    double before_per_second = 0;
    double after_per_second = 0;
    double change_per_second = 0;  // after − before
    std::optional<double> ratio;   // after ÷ before; none when before is 0
    bool beyond_noise = false;
};

// New: only in the later recording; gone: only in the earlier one.
enum class Presence { kBoth, kNew, kGone };

// A stack that is new or grew on a thread group that got worse, frames leaf first.
struct StackChange {
    std::vector<std::string> frames;
    double before_per_second = 0;
    double after_per_second = 0;
};

// The threads of one process row with the same key: their name where the
// trace names them, else their start routine.
struct ThreadGroupComparison {
    enum class KeyKind { kName, kStart, kNone };
    KeyKind key_kind = KeyKind::kNone;
    std::wstring key;  // empty for threads with neither name nor a start routine placed in a module
    std::size_t threads_before = 0;
    std::size_t threads_after = 0;
    Presence presence = Presence::kBoth;
    CountChange wakes;
    std::optional<std::int32_t> periodicity_before_ms;  // of the group's busiest periodic thread
    std::optional<std::int32_t> periodicity_after_ms;
    // Only for a group whose wakes rose beyond noise.
    std::vector<StackChange> wait_stacks;
    std::vector<StackChange> readying_stacks;
};

// Processes of one image: those with one command line where that command line
// is on both sides, else all the image's other processes merged.
struct ProcessComparison {
    std::wstring name;
    std::optional<std::wstring> command_line;  // none for a merged row whose processes differ in it
    std::size_t processes_before = 0;
    std::size_t processes_after = 0;
    Presence presence = Presence::kBoth;
    CountChange wakes;
    std::vector<ThreadGroupComparison> groups;  // biggest increase first
};

struct RoutineComparison {
    RoutineKind kind = RoutineKind::kDpc;
    std::string routine;
    std::string module;
    Presence presence = Presence::kBoth;
    CountChange runs;
};

// One recording's summary, side by side with the other's.
struct SideSummary {
    std::uint64_t duration = 0;  // 100-ns units
    std::uint32_t processors = 0;
    std::uint32_t pointer_size = 0;
    std::vector<double> idle_wakes_per_second_by_processor;
    std::map<std::uint8_t, std::uint64_t> idle_exit_cstates;
    std::uint64_t timer_resolution = 0;  // 100-ns units
    std::vector<std::string> coverage_notes;
};

struct Comparison {
    SideSummary before;
    SideSummary after;
    CountChange wakes;
    CountChange idle_wakes;
    std::vector<std::string> notes;  // where the machines differ
    std::vector<ProcessComparison> processes;  // biggest increase first
    std::vector<RoutineComparison> routines;   // biggest increase first
};

Comparison CompareFigures(const TraceFigures& before, const TraceFigures& after);

}  // namespace dormiscope::view
