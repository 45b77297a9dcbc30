#include "make_sample/switch_code_events.h"

#include <algorithm>

#include "etl_writer/code_events.h"
#include "etl_writer/kernel_events.h"
#include "etl_writer/trace_clock.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::sample {
namespace {

constexpr std::uint32_t kIdleThread = 0;
constexpr std::int64_t kDispatchDelay = 2;  // from the last DPC's return to the switch
constexpr double kTimerShare = 0.7;         // of the wakes of threads that are not timer-driven
constexpr double kNetworkShare = 0.2;
constexpr double kIdleTimerShare = 0.05;    // DPC drains that run another timer DPC first

std::string RoutineKind(std::uint8_t opcode) {
    switch (opcode) {
        case kOpcodeIsr:
            return "ISR";
        case kOpcodeTimerDpc:
            return "TimerDPC";
        default:
            return "DPC";
    }
}

}  // namespace

SwitchCodeEvents::SwitchCodeEvents(const MachineCode& code, const Machine& machine, std::uint64_t seed,
                                   const etl::TraceOptions& options)
    : code_(code), options_(options), random_(seed), last_switch_(options.processors, 0) {
    for (const MachineProcess& process : machine.processes) {
        for (const ThreadSpec& thread : process.description.threads) {
            owners_[thread.tid] = {process.description.pid, thread.period_ms > 0};
        }
    }
}

std::uint64_t SwitchCodeEvents::Raw(std::int64_t time) const {
    return static_cast<std::uint64_t>(etl::RawFromOffset(options_, static_cast<std::uint64_t>(time)));
}

void SwitchCodeEvents::Stack(std::uint32_t processor, std::int64_t time, std::uint32_t thread_id,
                             std::vector<std::uint64_t> frames, TimeOrderedEvents& out) const {
    const auto owner = owners_.find(thread_id);
    const std::uint32_t process_id = owner == owners_.end() ? 0 : owner->second.process_id;
    out.Add({time, "Stack", etl::StackEvent(processor, 0, Raw(time), process_id, thread_id, frames)});
}

void SwitchCodeEvents::Routine(std::uint32_t processor, std::uint8_t opcode, std::int64_t start, std::int64_t end,
                               RoutineCode routine, TimeOrderedEvents& out) const {
    etl::Event event = opcode == kOpcodeIsr
                           ? etl::IsrEvent(processor, 0, Raw(start), routine.address, routine.vector)
                           : etl::DpcEvent(processor, 0, opcode, Raw(start), routine.address);
    out.Add({end, RoutineKind(opcode), std::move(event)});
}

void SwitchCodeEvents::ReadyFromIdle(const SwitchRecord& record, std::int64_t floor, TimeOrderedEvents& out) {
    const std::int64_t time = record.time;
    const std::uint32_t cpu = record.cpu;
    const auto owner = owners_.find(record.fields.NewThreadId);
    DpcSource source = DpcSource::kTimer;
    if (owner == owners_.end() || !owner->second.periodic) {
        const double pick = random_.Unit();
        source = pick < kTimerShare                   ? DpcSource::kTimer
                 : pick < kTimerShare + kNetworkShare ? DpcSource::kNetwork
                                                      : DpcSource::kStorage;
    }
    const std::int64_t dpc_length = source == DpcSource::kTimer     ? random_.InRange(20, 60)
                                    : source == DpcSource::kNetwork ? random_.InRange(80, 250)
                                                                    : random_.InRange(50, 150);
    const std::int64_t isr_length = random_.InRange(10, 30);
    const bool idle_timer = random_.Unit() < kIdleTimerShare;
    const std::int64_t idle_timer_length = random_.InRange(10, 30);

    // Back from the switch: the DPC that readies, another timer DPC drained
    // before it, the device's interrupt before both.
    std::int64_t dpc_end = time - kDispatchDelay;
    std::int64_t dpc_start = dpc_end - dpc_length;
    const std::int64_t idle_timer_end = dpc_start - 1;
    const std::int64_t idle_timer_start = idle_timer_end - idle_timer_length;
    const std::int64_t isr_end = (idle_timer ? idle_timer_start : dpc_start) - 3;
    const std::int64_t isr_start = isr_end - isr_length;
    const bool device = source != DpcSource::kTimer;
    const std::int64_t earliest = device ? isr_start : idle_timer ? idle_timer_start : dpc_start;
    const bool room = earliest > floor;
    if (!room) {
        // A processor idle for only a moment: the DPC alone, squeezed in.
        dpc_start = std::max(floor, dpc_start);
        dpc_end = std::clamp(dpc_end, dpc_start, time);
    }
    if (room && device) {
        Routine(cpu, kOpcodeIsr, isr_start, isr_end, MachineCode::InterruptRoutine(source), out);
    }
    if (room && idle_timer) {
        Routine(cpu, kOpcodeTimerDpc, idle_timer_start, idle_timer_end, MachineCode::IdleTimerRoutine(), out);
    }
    const std::int64_t ready = dpc_start + (dpc_end - dpc_start) * 2 / 3;
    out.Add({ready, "ReadyThread",
             etl::ReadyThreadEvent(cpu, 0, {.TThreadId = record.fields.NewThreadId, .Flag = etl::kReadiedFromDpc})});
    out.Add({ready, "Stack", etl::StackEvent(cpu, 0, Raw(ready), 0, kIdleThread, code_.DpcReadyStack(source))});
    Routine(cpu, source == DpcSource::kTimer ? kOpcodeTimerDpc : kOpcodeDpc, dpc_start, dpc_end,
            MachineCode::DpcRoutine(source), out);
}

void SwitchCodeEvents::Add(const SwitchRecord& record, TimeOrderedEvents& out) {
    const std::uint32_t new_thread = record.fields.NewThreadId;
    const std::uint32_t old_thread = record.fields.OldThreadId;
    const std::int64_t floor = last_switch_[record.cpu];
    if (new_thread != kIdleThread && old_thread == kIdleThread) {
        ReadyFromIdle(record, floor, out);
    } else if (new_thread != kIdleThread) {
        const std::int64_t ready = std::max(floor, record.time - 3);
        out.Add({ready, "ReadyThread", etl::ReadyThreadEvent(record.cpu, 0, {.TThreadId = new_thread})});
        Stack(record.cpu, ready, old_thread, code_.SignalStack(old_thread), out);
    }
    out.Add({record.time, "CSwitch", etl::CSwitchEvent(record.cpu, 0, record.fields)});
    if (old_thread != kIdleThread) {
        Stack(record.cpu, record.time, old_thread, code_.WaitStack(old_thread, random_.Unit()), out);
    }
    last_switch_[record.cpu] = record.time;
}

}  // namespace dormiscope::sample
