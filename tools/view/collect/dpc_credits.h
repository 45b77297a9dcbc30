// Which DPC or interrupt routine readied a thread. A ready flagged as from a
// DPC comes while the routine runs, but the routine's event is logged only
// when it returns, with the time it was entered: the ready waits on its
// processor until a routine whose run covers it returns there (the innermost
// returns first), and is "not recorded" once the processor switches threads,
// which no routine run spans, or when the trace ends. The wake it explains
// may come first, on another processor; its readier is then counted once
// settled.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "etw/stack_event_records.h"
#include "platform/etl_reader/time_conversion.h"
#include "view/collect/readier_id.h"

namespace dormiscope::view {

using CreditId = std::uint32_t;

// The runs of one routine address, times in 100-ns units.
struct RoutineRuns {
    RoutineKind kind = RoutineKind::kDpc;
    std::uint64_t address = 0;
    std::int64_t first_start = 0;  // where the address is looked up
    std::uint64_t count = 0;
    std::uint64_t total = 0;
    std::vector<std::uint32_t> durations;
    std::uint64_t readied = 0;
    std::uint64_t started_idle = 0;
};

struct RoutineEventCounts {
    std::uint64_t dpcs = 0;
    std::uint64_t interrupts = 0;
    std::uint64_t readies_from_dpc = 0;
    std::uint64_t readies_not_recorded = 0;
};

using ReadierCounts = std::map<ReadierId, std::uint64_t>;

class DpcCredits {
public:
    // Without a clock no run's start is known: every ready is not recorded.
    void SetClock(std::optional<TimeConverter> clock) { clock_ = clock; }

    CreditId Ready(std::uint32_t processor, std::int64_t time);
    void ContextSwitch(std::uint32_t processor, std::int64_t time);
    // `started_idle`: the processor's running thread was its idle thread.
    void Routine(std::uint32_t processor, const RoutineEventData& routine, bool started_idle);
    // Counts the credited routine as a readier in `readiers`, now or once settled.
    void CountReadier(CreditId credit, ReadierCounts& readiers);
    // After the last event: what is still waiting was not recorded.
    void Finish();

    const std::vector<RoutineRuns>& routines() const { return routines_; }
    const RoutineEventCounts& counts() const { return counts_; }

private:
    struct Waiting {
        std::int64_t time;
        CreditId credit;
    };
    // More readies than this waiting on one processor: the oldest was not recorded.
    static constexpr std::size_t kMostWaiting = 256;

    void Settle(CreditId credit, RoutineId routine);
    std::vector<Waiting>& WaitingOn(std::uint32_t processor);

    std::optional<TimeConverter> clock_;
    std::vector<std::vector<Waiting>> waiting_;  // by processor, oldest first
    CreditId next_credit_ = 0;
    std::unordered_map<CreditId, RoutineId> settled_;    // the wake has not come yet
    std::unordered_map<CreditId, ReadierCounts*> owed_;  // the wake came first
    std::vector<RoutineRuns> routines_;                  // by RoutineId
    std::map<std::pair<RoutineKind, std::uint64_t>, RoutineId> routine_ids_;
    RoutineEventCounts counts_;
};

}  // namespace dormiscope::view
