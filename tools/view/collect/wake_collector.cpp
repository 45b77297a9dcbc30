#include "view/collect/wake_collector.h"

#include <algorithm>
#include <limits>

namespace dormiscope::view {
namespace {

constexpr std::uint32_t kIdleThreadId = 0;

// How far `later` lies after `earlier`, for any two stamps of the trace (the
// signed difference may not fit).
std::uint64_t Elapsed(std::int64_t earlier, std::int64_t later) {
    return static_cast<std::uint64_t>(later) - static_cast<std::uint64_t>(earlier);
}

std::size_t TimelineSlice(std::int64_t time, const TraceWindow& window) {
    if (time <= window.start || window.duration == 0) {
        return 0;
    }
    const std::uint64_t elapsed = Elapsed(window.start, time);
    if (elapsed >= window.duration) {
        return kTimelineSlices - 1;
    }
    const double share = static_cast<double>(elapsed) / static_cast<double>(window.duration);
    return std::min(static_cast<std::size_t>(share * kTimelineSlices), kTimelineSlices - 1);
}

}  // namespace

ThreadWakes* WakeCollector::Lookup(std::uint32_t thread_id) {
    const auto [cached, inserted] = by_id_.try_emplace(thread_id, nullptr);
    if (inserted) {
        if (const ThreadEntry* const entry = model_.ThreadIndex.Find(thread_id); entry != nullptr) {
            cached->second = &threads_[entry];
        }
    }
    return cached->second;
}

WakeCollector::ProcessorState& WakeCollector::Processor(std::uint32_t processor) {
    if (processor >= processors_.size()) {
        processors_.resize(static_cast<std::size_t>(processor) + 1);
    }
    return processors_[processor];
}

void WakeCollector::CountEvent(std::uint32_t processor) {
    ++events_;
    Processor(processor).has_events = true;
}

void WakeCollector::OtherEvent(std::uint32_t processor, std::int64_t time) {
    Processor(processor).has_events = true;
    stacks_.OtherEvent(processor, time);
}

void WakeCollector::SetClock(std::optional<TimeConverter> clock) {
    stacks_.SetClock(clock);
    credits_.SetClock(clock);
}

void WakeCollector::ContextSwitch(std::uint32_t processor, std::int64_t time, std::uint32_t new_thread_id,
                                  std::uint32_t old_thread_id, std::uint8_t previous_cstate) {
    ++context_switches_;
    credits_.ContextSwitch(processor, time);
    ProcessorState& state = Processor(processor);
    const bool state_is_old_thread = state.known && state.thread_id == old_thread_id;
    ThreadWakes* outgoing = nullptr;
    if (old_thread_id != kIdleThreadId) {
        outgoing = state_is_old_thread ? state.running : Lookup(old_thread_id);
        if (outgoing != nullptr) {
            if (state_is_old_thread && time >= state.since) {
                outgoing->on_processor += Elapsed(state.since, time);
            }
            outgoing->last_switch_out = static_cast<std::uint64_t>(time);
            outgoing->switched_out = true;
        }
    }
    // The switch's stack is where the old thread waits.
    stacks_.Event(processor, time, old_thread_id, false, outgoing != nullptr ? &outgoing->wait_slot : nullptr,
                  outgoing != nullptr ? &outgoing->wait_stacks : nullptr);

    ThreadWakes* incoming = nullptr;
    if (new_thread_id != kIdleThreadId) {
        ++wakes_;
        // The byte is a C-state only when the idle thread is the one leaving.
        const bool from_idle = old_thread_id == kIdleThreadId;
        if (from_idle) {
            ++idle_wakes_;
            ++state.idle_wakes;
            ++idle_exit_cstates_[previous_cstate];
        }
        incoming = Lookup(new_thread_id);
        if (incoming != nullptr) {
            CountWake(*incoming, new_thread_id, time, from_idle, previous_cstate);
        }
        if (!pending_readies_.empty()) {
            pending_readies_.erase(new_thread_id);
        }
    }
    state.known = true;
    state.thread_id = new_thread_id;
    state.running = incoming;
    state.since = time;
}

void WakeCollector::CountWake(ThreadWakes& thread, std::uint32_t thread_id, std::int64_t time, bool from_idle,
                              std::uint8_t previous_cstate) {
    ++thread.wakes;
    if (from_idle) {
        ++thread.idle_wakes;
        ++thread.idle_wakes_by_cstate[previous_cstate];
    }
    if (thread.switched_out && static_cast<std::uint64_t>(time) >= thread.last_switch_out) {
        const std::uint64_t interval = static_cast<std::uint64_t>(time) - thread.last_switch_out;
        thread.off_processor_intervals.push_back(
            static_cast<std::uint32_t>(std::min<std::uint64_t>(interval, std::numeric_limits<std::uint32_t>::max())));
    }
    if (thread.timeline.empty()) {
        thread.timeline.assign(kTimelineSlices, 0);
    }
    ++thread.timeline[TimelineSlice(time, window_)];
    WakeStackKey key;
    key.idle = from_idle;
    key.wait = StackAttribution::Woke(thread.wait_slot, thread.wait_stacks, thread.wake_stacks, &WakeStackKey::wait);
    thread.readying_slot.joint = nullptr;
    // A ready may precede the switch that takes its thread off a processor;
    // it belongs to the thread's next switch-in, whenever that comes.
    if (!pending_readies_.empty()) {
        if (const auto ready = pending_readies_.find(thread_id); ready != pending_readies_.end()) {
            if (ready->second.readier.kind == ReadierKind::kDpc) {
                credits_.CountReadier(ready->second.credit, thread.readiers);
            } else {
                ++thread.readiers[ready->second.readier];
            }
            key.readied = true;
            key.readier = ready->second.readier;
            key.readying = StackAttribution::Woke(thread.readying_slot, thread.readying_stacks, thread.wake_stacks,
                                                  &WakeStackKey::readying);
        }
    }
    thread.wake_stacks.latest = key;
    ++thread.wake_stacks.counts[key];
}

void WakeCollector::ReadyThread(std::uint32_t processor, const ReadyThreadEventData& record) {
    ++ready_events_;
    PendingReady ready;
    const ProcessorState& state = Processor(processor);
    const bool from_dpc = (record.Flag & kReadiedFromDpc) != 0;
    if (from_dpc) {
        ready.readier.kind = ReadierKind::kDpc;
        ready.credit = credits_.Ready(processor, record.TimeStamp);
    } else {
        // Without a thread in the header, the readier is whatever runs on the processor.
        const bool header_names_thread = record.HeaderThreadId != kNoHeaderThread;
        if (header_names_thread || state.known) {
            ready.readier.kind = ReadierKind::kThread;
            ready.readier.thread_id = header_names_thread ? record.HeaderThreadId : state.thread_id;
            if (const ThreadEntry* const entry = model_.ThreadIndex.Find(ready.readier.thread_id); entry != nullptr) {
                ready.readier.process_id = entry->ProcessId;
            }
        }
    }
    pending_readies_[record.TThreadId] = ready;
    // The ready's stack is the readying code: the running thread's, or a
    // DPC's, which may name the thread it interrupted or none.
    ThreadWakes* const readied = Lookup(record.TThreadId);
    const bool thread_known = !from_dpc && (record.HeaderThreadId != kNoHeaderThread || state.known);
    stacks_.Event(processor, record.TimeStamp, ready.readier.thread_id, !thread_known,
                  readied != nullptr ? &readied->readying_slot : nullptr,
                  readied != nullptr ? &readied->readying_stacks : nullptr);
}

void WakeCollector::Routine(std::uint32_t processor, const RoutineEventData& record) {
    const ProcessorState& state = Processor(processor);
    credits_.Routine(processor, record, state.known && state.thread_id == kIdleThreadId);
}

void WakeCollector::ThreadName(const ThreadNameEventData& record) {
    if (record.name.empty()) {
        return;
    }
    const ThreadEntry* const entry = model_.ThreadIndex.Find(record.ThreadId);
    if (entry == nullptr || entry->ProcessId != record.ProcessId) {
        return;
    }
    Lookup(record.ThreadId)->name = record.name;
}

ThreadWakes* WakeCollector::WakesOf(const ThreadEntry& thread) {
    const auto found = threads_.find(&thread);
    return found == threads_.end() ? nullptr : &found->second;
}

std::vector<std::uint64_t> WakeCollector::IdleWakesByProcessor() const {
    std::vector<std::uint64_t> counts;
    counts.reserve(processors_.size());
    for (const ProcessorState& state : processors_) {
        counts.push_back(state.idle_wakes);
    }
    return counts;
}

std::vector<bool> WakeCollector::ProcessorsWithEvents() const {
    std::vector<bool> with_events;
    with_events.reserve(processors_.size());
    for (const ProcessorState& state : processors_) {
        with_events.push_back(state.has_events);
    }
    return with_events;
}

}  // namespace dormiscope::view
