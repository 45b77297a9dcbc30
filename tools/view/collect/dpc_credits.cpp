#include "view/collect/dpc_credits.h"

#include <algorithm>

#include "platform/kernel_event_classes.h"

namespace dormiscope::view {
namespace {

RoutineKind KindOf(std::uint8_t opcode) {
    switch (opcode) {
        case kOpcodeThreadedDpc:
            return RoutineKind::kThreadedDpc;
        case kOpcodeTimerDpc:
            return RoutineKind::kTimerDpc;
        case kOpcodeIsr:
            return RoutineKind::kInterrupt;
        default:
            return RoutineKind::kDpc;
    }
}

}  // namespace

std::vector<DpcCredits::Waiting>& DpcCredits::WaitingOn(std::uint32_t processor) {
    if (processor >= waiting_.size()) {
        waiting_.resize(static_cast<std::size_t>(processor) + 1);
    }
    return waiting_[processor];
}

CreditId DpcCredits::Ready(std::uint32_t processor, std::int64_t time) {
    ++counts_.readies_from_dpc;
    const CreditId credit = next_credit_++;
    std::vector<Waiting>& waiting = WaitingOn(processor);
    if (waiting.size() == kMostWaiting) {
        Settle(waiting.front().credit, kRoutineNotRecorded);
        waiting.erase(waiting.begin());
    }
    waiting.push_back({time, credit});
    return credit;
}

void DpcCredits::ContextSwitch(std::uint32_t processor, std::int64_t time) {
    if (processor >= waiting_.size() || waiting_[processor].empty()) {
        return;
    }
    std::vector<Waiting>& waiting = waiting_[processor];
    const auto ended = std::stable_partition(waiting.begin(), waiting.end(),
                                             [time](const Waiting& ready) { return ready.time >= time; });
    for (auto ready = ended; ready != waiting.end(); ++ready) {
        Settle(ready->credit, kRoutineNotRecorded);
    }
    waiting.erase(ended, waiting.end());
}

void DpcCredits::Routine(std::uint32_t processor, const RoutineEventData& routine, bool started_idle) {
    const RoutineKind kind = KindOf(routine.opcode);
    ++(kind == RoutineKind::kInterrupt ? counts_.interrupts : counts_.dpcs);
    if (!clock_) {
        return;
    }
    const std::int64_t start = clock_->ToSystemTime(static_cast<std::int64_t>(routine.InitialTime));
    const std::int64_t end = routine.TimeStamp;
    const auto [found, added] =
        routine_ids_.try_emplace({kind, routine.Routine}, static_cast<RoutineId>(routines_.size()));
    if (added) {
        routines_.push_back({kind, routine.Routine, start, 0, 0, {}, 0, 0});
    }
    const RoutineId id = found->second;
    RoutineRuns& runs = routines_[id];
    const std::uint64_t duration =
        end > start ? static_cast<std::uint64_t>(end) - static_cast<std::uint64_t>(start) : 0;
    ++runs.count;
    runs.total += duration;
    runs.durations.push_back(static_cast<std::uint32_t>(std::min<std::uint64_t>(duration, UINT32_MAX)));
    runs.started_idle += started_idle ? 1 : 0;

    if (processor >= waiting_.size()) {
        return;
    }
    std::vector<Waiting>& waiting = waiting_[processor];
    const auto uncovered = std::stable_partition(waiting.begin(), waiting.end(), [start, end](const Waiting& ready) {
        return ready.time < start || ready.time > end;
    });
    if (uncovered == waiting.end()) {
        return;
    }
    ++runs.readied;
    for (auto ready = uncovered; ready != waiting.end(); ++ready) {
        Settle(ready->credit, id);
    }
    waiting.erase(uncovered, waiting.end());
}

void DpcCredits::Settle(CreditId credit, RoutineId routine) {
    if (routine == kRoutineNotRecorded) {
        ++counts_.readies_not_recorded;
    }
    if (const auto owed = owed_.find(credit); owed != owed_.end()) {
        ++(*owed->second)[ReadierId{ReadierKind::kDpc, 0, 0, routine}];
        owed_.erase(owed);
        return;
    }
    settled_.emplace(credit, routine);
}

void DpcCredits::CountReadier(CreditId credit, ReadierCounts& readiers) {
    if (const auto settled = settled_.find(credit); settled != settled_.end()) {
        ++readiers[ReadierId{ReadierKind::kDpc, 0, 0, settled->second}];
        settled_.erase(settled);
        return;
    }
    owed_.emplace(credit, &readiers);
}

void DpcCredits::Finish() {
    for (std::vector<Waiting>& waiting : waiting_) {
        for (const Waiting& ready : waiting) {
            Settle(ready.credit, kRoutineNotRecorded);
        }
        waiting.clear();
    }
}

}  // namespace dormiscope::view
