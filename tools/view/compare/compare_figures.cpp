#include "view/compare/comparison.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "report/name_text.h"
#include "view/compare/noise_test.h"

namespace dormiscope::view {
namespace {

// The stacks listed for a thread group that got worse.
constexpr std::size_t kStackChanges = 5;

struct Sides {
    double before_time;  // 100-ns units
    double after_time;
};

double PerSecond(std::uint64_t count, double time) {
    return time > 0 ? static_cast<double>(count) * 1e7 / time : 0.0;
}

CountChange Change(std::uint64_t before, std::uint64_t after, const Sides& sides) {
    CountChange change;
    change.before = before;
    change.after = after;
    change.before_per_second = PerSecond(before, sides.before_time);
    change.after_per_second = PerSecond(after, sides.after_time);
    change.change_per_second = change.after_per_second - change.before_per_second;
    if (before > 0) {
        change.ratio = change.after_per_second / change.before_per_second;
    }
    change.beyond_noise = BeyondNoise(before, sides.before_time, after, sides.after_time);
    return change;
}

Presence PresenceOf(bool before, bool after) {
    return before && after ? Presence::kBoth : after ? Presence::kNew : Presence::kGone;
}

// Biggest increase first; ties by the row's own order.
template <typename Row, typename Count, typename Tie>
void ByIncrease(std::vector<Row>& rows, Count count, Tie tie) {
    std::sort(rows.begin(), rows.end(), [&](const Row& left, const Row& right) {
        const double a = count(left).change_per_second;
        const double b = count(right).change_per_second;
        return a != b ? a > b : tie(left) < tie(right);
    });
}

// A thread's key: its name, else its start routine where a module placed it
// (a bare address, "unknown 0x…", moves between recordings).
std::pair<ThreadGroupComparison::KeyKind, std::wstring> KeyOf(const ThreadFigures& thread) {
    if (!thread.name.empty()) {
        return {ThreadGroupComparison::KeyKind::kName, thread.name};
    }
    if (thread.start && !thread.start->starts_with("unknown")) {
        return {ThreadGroupComparison::KeyKind::kStart, NameText(*thread.start)};
    }
    return {ThreadGroupComparison::KeyKind::kNone, {}};
}

using ThreadList = std::vector<const ThreadFigures*>;

std::uint64_t WakesOf(const ThreadList& threads) {
    std::uint64_t wakes = 0;
    for (const ThreadFigures* thread : threads) {
        wakes += thread->wakes;
    }
    return wakes;
}

// The periodicity of the group's busiest thread that has one.
std::optional<std::int32_t> PeriodicityOf(const ThreadList& threads) {
    const ThreadFigures* busiest = nullptr;
    for (const ThreadFigures* thread : threads) {
        if (thread->periodicity_ms && (busiest == nullptr || thread->wakes > busiest->wakes)) {
            busiest = thread;
        }
    }
    return busiest == nullptr ? std::nullopt : busiest->periodicity_ms;
}

using StackCounts = std::map<std::vector<std::string>, std::uint64_t>;

StackCounts StacksOf(const ThreadList& threads, std::vector<StackFigure> ThreadFigures::*stacks) {
    StackCounts counts;
    for (const ThreadFigures* thread : threads) {
        for (const StackFigure& stack : thread->*stacks) {
            counts[stack.frames] += stack.count;
        }
    }
    return counts;
}

// The stacks seen more often per second after than before, most grown first.
std::vector<StackChange> GrownStacks(const ThreadList& before, const ThreadList& after,
                                     std::vector<StackFigure> ThreadFigures::*stacks, const Sides& sides) {
    const StackCounts earlier = StacksOf(before, stacks);
    std::vector<StackChange> grown;
    for (const auto& [frames, count] : StacksOf(after, stacks)) {
        const auto found = earlier.find(frames);
        StackChange change{frames, PerSecond(found == earlier.end() ? 0 : found->second, sides.before_time),
                           PerSecond(count, sides.after_time)};
        if (change.after_per_second > change.before_per_second) {
            grown.push_back(std::move(change));
        }
    }
    std::stable_sort(grown.begin(), grown.end(), [](const StackChange& left, const StackChange& right) {
        return left.after_per_second - left.before_per_second > right.after_per_second - right.before_per_second;
    });
    if (grown.size() > kStackChanges) {
        grown.resize(kStackChanges);
    }
    return grown;
}

using ProcessList = std::vector<const ProcessFigures*>;

std::vector<ThreadGroupComparison> Groups(const ProcessList& before, const ProcessList& after, const Sides& sides) {
    using Key = std::pair<ThreadGroupComparison::KeyKind, std::wstring>;
    std::map<Key, std::pair<ThreadList, ThreadList>> by_key;
    for (const ProcessFigures* process : before) {
        for (const ThreadFigures& thread : process->threads) {
            by_key[KeyOf(thread)].first.push_back(&thread);
        }
    }
    for (const ProcessFigures* process : after) {
        for (const ThreadFigures& thread : process->threads) {
            by_key[KeyOf(thread)].second.push_back(&thread);
        }
    }
    std::vector<ThreadGroupComparison> groups;
    for (const auto& [key, threads] : by_key) {
        ThreadGroupComparison group;
        group.key_kind = key.first;
        group.key = key.second;
        group.threads_before = threads.first.size();
        group.threads_after = threads.second.size();
        group.presence = PresenceOf(!threads.first.empty(), !threads.second.empty());
        group.wakes = Change(WakesOf(threads.first), WakesOf(threads.second), sides);
        group.periodicity_before_ms = PeriodicityOf(threads.first);
        group.periodicity_after_ms = PeriodicityOf(threads.second);
        if (group.wakes.beyond_noise && group.wakes.change_per_second > 0) {
            group.wait_stacks = GrownStacks(threads.first, threads.second, &ThreadFigures::wait_stacks, sides);
            group.readying_stacks =
                GrownStacks(threads.first, threads.second, &ThreadFigures::readying_stacks, sides);
        }
        groups.push_back(std::move(group));
    }
    ByIncrease(groups, [](const ThreadGroupComparison& group) { return group.wakes; },
               [](const ThreadGroupComparison& group) { return std::tie(group.key_kind, group.key); });
    return groups;
}

ProcessComparison Row(std::wstring name, std::optional<std::wstring> command_line, const ProcessList& before,
                      const ProcessList& after, const Sides& sides) {
    ProcessComparison row;
    row.name = std::move(name);
    row.command_line = std::move(command_line);
    row.processes_before = before.size();
    row.processes_after = after.size();
    row.presence = PresenceOf(!before.empty(), !after.empty());
    std::uint64_t wakes_before = 0;
    std::uint64_t wakes_after = 0;
    for (const ProcessFigures* process : before) {
        wakes_before += process->wakes;
    }
    for (const ProcessFigures* process : after) {
        wakes_after += process->wakes;
    }
    row.wakes = Change(wakes_before, wakes_after, sides);
    row.groups = Groups(before, after, sides);
    return row;
}

// The command line all the processes share, or none.
std::optional<std::wstring> SharedCommandLine(const ProcessList& before, const ProcessList& after) {
    std::optional<std::wstring> shared;
    for (const ProcessList* side : {&before, &after}) {
        for (const ProcessFigures* process : *side) {
            if (shared && *shared != process->command_line) {
                return std::nullopt;
            }
            shared = process->command_line;
        }
    }
    return shared;
}

// Per image: the processes of a command line found on both sides are one row,
// the image's other processes another, merged.
std::vector<ProcessComparison> Processes(const TraceFigures& before, const TraceFigures& after, const Sides& sides) {
    std::map<std::wstring, std::pair<ProcessList, ProcessList>> by_image;
    for (const ProcessFigures& process : before.processes) {
        by_image[process.name].first.push_back(&process);
    }
    for (const ProcessFigures& process : after.processes) {
        by_image[process.name].second.push_back(&process);
    }
    std::vector<ProcessComparison> rows;
    for (const auto& [image, processes] : by_image) {
        std::map<std::wstring, std::pair<ProcessList, ProcessList>> by_command_line;
        for (const ProcessFigures* process : processes.first) {
            by_command_line[process->command_line].first.push_back(process);
        }
        for (const ProcessFigures* process : processes.second) {
            by_command_line[process->command_line].second.push_back(process);
        }
        ProcessList rest_before;
        ProcessList rest_after;
        for (const auto& [command_line, sides_of_line] : by_command_line) {
            if (!sides_of_line.first.empty() && !sides_of_line.second.empty()) {
                rows.push_back(Row(image, command_line, sides_of_line.first, sides_of_line.second, sides));
            } else {
                rest_before.insert(rest_before.end(), sides_of_line.first.begin(), sides_of_line.first.end());
                rest_after.insert(rest_after.end(), sides_of_line.second.begin(), sides_of_line.second.end());
            }
        }
        if (!rest_before.empty() || !rest_after.empty()) {
            rows.push_back(Row(image, SharedCommandLine(rest_before, rest_after), rest_before, rest_after, sides));
        }
    }
    ByIncrease(rows, [](const ProcessComparison& row) { return row.wakes; },
               [](const ProcessComparison& row) { return std::tie(row.name, row.command_line); });
    return rows;
}

std::vector<RoutineComparison> Routines(const TraceFigures& before, const TraceFigures& after, const Sides& sides) {
    struct Counts {
        std::string module;
        std::uint64_t before = 0;
        std::uint64_t after = 0;
        bool in_before = false;
        bool in_after = false;
    };
    std::map<std::pair<RoutineKind, std::string>, Counts> by_routine;
    for (const RoutineFigure& routine : before.routines) {
        Counts& counts = by_routine[{routine.kind, routine.routine}];
        counts.module = routine.module;
        counts.before += routine.count;
        counts.in_before = true;
    }
    for (const RoutineFigure& routine : after.routines) {
        Counts& counts = by_routine[{routine.kind, routine.routine}];
        counts.module = routine.module;
        counts.after += routine.count;
        counts.in_after = true;
    }
    std::vector<RoutineComparison> routines;
    for (const auto& [key, counts] : by_routine) {
        routines.push_back({key.first, key.second, counts.module, PresenceOf(counts.in_before, counts.in_after),
                            Change(counts.before, counts.after, sides)});
    }
    ByIncrease(routines, [](const RoutineComparison& routine) { return routine.runs; },
               [](const RoutineComparison& routine) { return std::tie(routine.routine, routine.kind); });
    return routines;
}

SideSummary SummaryOf(const TraceFigures& figures) {
    return {figures.duration,
            figures.processors,
            figures.pointer_size,
            figures.idle_wakes_per_second_by_processor,
            figures.idle_exit_cstates,
            figures.timer_resolution,
            figures.coverage_notes};
}

std::string Bits(std::uint32_t pointer_size) {
    return pointer_size == 0 ? "an unknown pointer size" : std::to_string(pointer_size * 8) + "-bit";
}

std::vector<std::string> MachineNotes(const TraceFigures& before, const TraceFigures& after) {
    std::vector<std::string> notes;
    if (before.processors != after.processors) {
        notes.push_back("The recordings come from machines with different processor counts (" +
                        std::to_string(before.processors) + " before, " + std::to_string(after.processors) +
                        " after): rates are per second, and idle wakes per processor stand side by side.");
    }
    if (before.pointer_size != after.pointer_size) {
        notes.push_back("The recordings come from machines of different pointer sizes (" +
                        Bits(before.pointer_size) + " before, " + Bits(after.pointer_size) +
                        " after): system processes and their threads may differ.");
    }
    return notes;
}

}  // namespace

Comparison CompareFigures(const TraceFigures& before, const TraceFigures& after) {
    const Sides sides{static_cast<double>(before.duration), static_cast<double>(after.duration)};
    Comparison comparison;
    comparison.before = SummaryOf(before);
    comparison.after = SummaryOf(after);
    comparison.wakes = Change(before.wakes, after.wakes, sides);
    comparison.idle_wakes = Change(before.idle_wakes, after.idle_wakes, sides);
    comparison.notes = MachineNotes(before, after);
    comparison.processes = Processes(before, after, sides);
    comparison.routines = Routines(before, after, sides);
    return comparison;
}

}  // namespace dormiscope::view
