#include "make_sample/context_switches.h"

#include <algorithm>
#include <tuple>

namespace dormiscope::sample {
namespace {

constexpr std::uint32_t kIdleThread = 0;
constexpr std::int8_t kWaitExecutive = 0;
constexpr std::int8_t kWaitUserRequest = 6;
constexpr std::int8_t kStateRunning = 2;
constexpr std::int8_t kStateWaiting = 5;

// The longer a processor idles, the deeper the sleep state it leaves: C1 below
// 2 ms, C2 below 20 ms, C3 beyond.
std::uint8_t CStateAfter(std::int64_t idle_for) {
    return idle_for < 20'000 ? 1 : idle_for < 200'000 ? 2 : 3;
}

etl::CSwitchFields Switch(std::uint32_t cpu, std::uint32_t new_tid, std::uint32_t old_tid,
                          const std::map<std::uint32_t, ThreadTraits>& traits, bool new_was_delayed,
                          std::int64_t idle_for = 0) {
    const auto traits_of = [&](std::uint32_t tid) {
        const auto found = traits.find(tid);
        return found == traits.end() ? ThreadTraits{} : found->second;
    };
    const ThreadTraits incoming = new_tid == kIdleThread ? ThreadTraits{0, true} : traits_of(new_tid);
    const ThreadTraits outgoing = old_tid == kIdleThread ? ThreadTraits{0, true} : traits_of(old_tid);
    etl::CSwitchFields fields;
    fields.NewThreadId = new_tid;
    fields.OldThreadId = old_tid;
    fields.NewThreadPriority = incoming.priority;
    fields.OldThreadPriority = outgoing.priority;
    // Leaving idle means leaving a sleep state.
    fields.PreviousCState = old_tid == kIdleThread ? CStateAfter(idle_for) : 0;
    if (old_tid == kIdleThread) {
        fields.OldThreadWaitReason = kWaitExecutive;
        fields.OldThreadWaitMode = 0;
        fields.OldThreadState = kStateRunning;
    } else {
        fields.OldThreadWaitReason = outgoing.kernel_mode ? kWaitExecutive : kWaitUserRequest;
        fields.OldThreadWaitMode = outgoing.kernel_mode ? 0 : 1;
        fields.OldThreadState = kStateWaiting;
    }
    fields.OldThreadWaitIdealProcessor = static_cast<std::int8_t>(cpu);
    fields.NewThreadWaitTime = new_was_delayed ? 1 : 0;
    return fields;
}

}  // namespace

std::vector<SwitchRecord> ScheduleRuns(std::vector<Run> runs, const std::map<std::uint32_t, ThreadTraits>& traits) {
    std::stable_sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) {
        return std::tie(a.cpu, a.wake) < std::tie(b.cpu, b.wake);
    });
    std::vector<SwitchRecord> switches;
    switches.reserve(runs.size() * 2);
    std::size_t i = 0;
    while (i < runs.size()) {
        const std::uint32_t cpu = runs[i].cpu;
        std::uint32_t running = kIdleThread;
        std::int64_t free_at = 0;
        for (; i < runs.size() && runs[i].cpu == cpu; ++i) {
            const Run& run = runs[i];
            const std::int64_t start = std::max(run.wake, free_at);
            if (run.tid == running && start == free_at) {
                free_at += run.duration;  // woke again before it was switched out
                continue;
            }
            if (running != kIdleThread && start > free_at) {
                switches.push_back({free_at, cpu, Switch(cpu, kIdleThread, running, traits, false)});
                running = kIdleThread;
            }
            switches.push_back({start, cpu, Switch(cpu, run.tid, running, traits, start > run.wake, start - free_at)});
            running = run.tid;
            free_at = start + run.duration;
        }
        if (running != kIdleThread) {
            switches.push_back({free_at, cpu, Switch(cpu, kIdleThread, running, traits, false)});
        }
    }
    std::stable_sort(switches.begin(), switches.end(), [](const SwitchRecord& a, const SwitchRecord& b) {
        return std::tie(a.time, a.cpu) < std::tie(b.time, b.cpu);
    });
    return switches;
}

}  // namespace dormiscope::sample
