// Collects, event by event, what the wake view shows of each thread: its
// wakes, the idle wakes among them with the C-state the processor left, its
// on- and off-processor times, who readied it, where it waited and what
// readied it (stacks), and when it woke; and the runs of DPC and interrupt
// routines.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "etw/stack_event_records.h"
#include "etw/wake_event_records.h"
#include "model/trace_model.h"
#include "platform/etl_reader/time_conversion.h"
#include "view/collect/dpc_credits.h"
#include "view/collect/readier_id.h"
#include "view/collect/stack_attribution.h"
#include "view/figures/wake_figures.h"

namespace dormiscope::view {

struct ThreadWakes {
    std::u16string name;
    std::uint64_t wakes = 0;
    std::uint64_t idle_wakes = 0;
    std::map<std::uint8_t, std::uint64_t> idle_wakes_by_cstate;
    std::uint64_t on_processor = 0;  // 100-ns units
    std::uint64_t last_switch_out = 0;
    bool switched_out = false;
    // Every one seen, in 100-ns units. 32 bits halve what a long trace keeps;
    // a longer interval (over 429 s) is kept as the largest value.
    std::vector<std::uint32_t> off_processor_intervals;
    ReadierCounts readiers;
    StackSlot wait_slot;      // the stack of the latest switch-out
    StackSlot readying_slot;  // the stack of the latest ready
    StackCounts wait_stacks;
    StackCounts readying_stacks;
    WakeStackCounts wake_stacks;  // both stacks, the readier and idleness of each wake
    std::vector<std::uint32_t> timeline;  // wakes per slice of the trace; empty until the first wake
};

struct TraceWindow {
    std::int64_t start = 0;      // 100-ns time stamp of the trace start
    std::uint64_t duration = 0;  // 100-ns units
};

class WakeCollector {
public:
    explicit WakeCollector(const TraceModel& model) : model_(model) {}
    // The span the timeline slices divide; set before the first event.
    void SetWindow(TraceWindow window) { window_ = window; }
    // What converts the raw times inside stack and routine events; set
    // before the first event. Without one, none of them is matched.
    void SetClock(std::optional<TimeConverter> clock);

    void ContextSwitch(std::uint32_t processor, std::int64_t time, std::uint32_t new_thread_id,
                       std::uint32_t old_thread_id, std::uint8_t previous_cstate);
    void ReadyThread(std::uint32_t processor, const ReadyThreadEventData& record);
    void ThreadName(const ThreadNameEventData& record);
    void Stack(std::uint32_t processor, const StackEventData& record) { stacks_.Stack(processor, record); }
    void UnreadableStack() { stacks_.Unreadable(); }
    // An event of a kind the view does not read: only its processor and its stack count.
    void OtherEvent(std::uint32_t processor, std::int64_t time);
    void ImagesChanged() { stacks_.ImagesChanged(); }
    void Routine(std::uint32_t processor, const RoutineEventData& record);
    // After the last event.
    void Finish() { credits_.Finish(); }
    // A thread start may have given the id to a new thread of the model.
    void ThreadRegistered(std::uint32_t thread_id) { by_id_.erase(thread_id); }
    // Every event the view reads, on the processor that logged it.
    void CountEvent(std::uint32_t processor);

    // Figures per thread of the model; a thread that never appeared has none.
    ThreadWakes* WakesOf(const ThreadEntry& thread);

    std::uint64_t events() const { return events_; }
    std::uint64_t context_switches() const { return context_switches_; }
    std::uint64_t ready_events() const { return ready_events_; }
    std::uint64_t wakes() const { return wakes_; }
    std::uint64_t idle_wakes() const { return idle_wakes_; }
    const std::map<std::uint8_t, std::uint64_t>& idle_exit_cstates() const { return idle_exit_cstates_; }
    // Idle wakes by processor index (as long as the highest processor seen).
    std::vector<std::uint64_t> IdleWakesByProcessor() const;
    // Whether each processor logged any event (as long as the highest processor seen).
    std::vector<bool> ProcessorsWithEvents() const;
    const StackAttribution& stacks() const { return stacks_; }
    const DpcCredits& credits() const { return credits_; }

private:
    struct ProcessorState {
        bool known = false;  // a context switch on it has been seen
        bool has_events = false;
        std::uint32_t thread_id = 0;
        ThreadWakes* running = nullptr;  // null for the idle thread and threads the model does not know
        std::int64_t since = 0;
        std::uint64_t idle_wakes = 0;
    };

    ThreadWakes* Lookup(std::uint32_t thread_id);
    ProcessorState& Processor(std::uint32_t processor);
    void CountWake(ThreadWakes& thread, std::uint32_t thread_id, std::int64_t time, bool from_idle,
                   std::uint8_t previous_cstate);

    const TraceModel& model_;
    TraceWindow window_;
    std::unordered_map<const ThreadEntry*, ThreadWakes> threads_;
    // The figures of the model's current thread of each id seen, so that a
    // context switch costs one look-up; a thread start drops its id.
    std::unordered_map<std::uint32_t, ThreadWakes*> by_id_;
    std::vector<ProcessorState> processors_;
    struct PendingReady {
        ReadierId readier;
        CreditId credit = 0;  // a DPC's, settled later
    };
    // The latest ready of each thread id not yet followed by its switch-in.
    std::unordered_map<std::uint32_t, PendingReady> pending_readies_;
    StackAttribution stacks_;
    DpcCredits credits_;
    std::map<std::uint8_t, std::uint64_t> idle_exit_cstates_;
    std::uint64_t events_ = 0;
    std::uint64_t context_switches_ = 0;
    std::uint64_t ready_events_ = 0;
    std::uint64_t wakes_ = 0;
    std::uint64_t idle_wakes_ = 0;
};

}  // namespace dormiscope::view
