// What a logger recording stacks, DPCs and interrupts adds around each context
// switch of the sample. A thread woken on an idle processor is readied by a
// DPC (the kernel's timer expiration for timer-driven threads; for the others
// now and then a network or disk interrupt's DPC), the ready logged inside the
// DPC's run with the idle thread's stack, the DPC's event when it returns,
// then the switch. A thread that takes over from another is readied by it,
// with that thread's stack. A switch's stack is where the old thread waits;
// the idle thread's are left out, as nothing shows them.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "etl_writer/trace_description.h"
#include "make_sample/context_switches.h"
#include "make_sample/machine.h"
#include "make_sample/machine_code.h"
#include "make_sample/sample_random.h"
#include "make_sample/time_ordered_events.h"

namespace dormiscope::sample {

class SwitchCodeEvents {
public:
    // No event of a switch comes more than this before it (100-ns units).
    static constexpr std::int64_t kLongestLead = 400;

    SwitchCodeEvents(const MachineCode& code, const Machine& machine, std::uint64_t seed,
                     const etl::TraceOptions& options);

    // The switch and the events that go with it; switches come in time order.
    void Add(const SwitchRecord& record, TimeOrderedEvents& out);

private:
    struct ThreadOwner {
        std::uint32_t process_id = 0;
        bool periodic = false;
    };

    void ReadyFromIdle(const SwitchRecord& record, std::int64_t floor, TimeOrderedEvents& out);
    void Stack(std::uint32_t processor, std::int64_t time, std::uint32_t thread_id,
               std::vector<std::uint64_t> frames, TimeOrderedEvents& out) const;
    void Routine(std::uint32_t processor, std::uint8_t opcode, std::int64_t start, std::int64_t end,
                 RoutineCode routine, TimeOrderedEvents& out) const;
    std::uint64_t Raw(std::int64_t time) const;

    const MachineCode& code_;
    const etl::TraceOptions& options_;
    SampleRandom random_;
    std::unordered_map<std::uint32_t, ThreadOwner> owners_;
    std::vector<std::int64_t> last_switch_;  // by processor
};

}  // namespace dormiscope::sample
