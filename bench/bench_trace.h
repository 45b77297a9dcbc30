// Generated traces for the benchmarks, written once per shape and size into
// the temporary directory and reused. Both are machines of 8 processors with
// 20 threads in each process, every wake two context switches against the
// processor's idle thread:
//   IdleMachineTrace  ~1000 threads in 50 processes waking at 1, 15.6, 100 or
//                     1000 ms; most 1-ms sleeps fall just short of 1 ms, so
//                     about one switch in seven leaves a kept interval.
//   BusyMachineTrace  960 threads in 48 processes waking at periods from
//                     1.2 ms to 970 ms, every sleep inside [1 ms, 1 s]: half
//                     the switches leave a kept interval, which makes the
//                     clustering's share of the run as large as it gets.
//   StackedIdleMachineTrace  the idle machine with a ready before every wake,
//                     and a stack of 20 addresses after every ready and
//                     context switch, with the kernel and each process's
//                     image loaded.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "etl_writer/code_events.h"
#include "etl_writer/etl_writer.h"
#include "etl_writer/kernel_events.h"
#include "etl_writer/trace_clock.h"

namespace dormiscope::bench {

inline constexpr std::uint32_t kProcessors = 8;
inline constexpr std::uint32_t kThreadsPerProcess = 20;

inline std::uint32_t ThreadIdOf(std::uint32_t process, std::uint32_t thread) {
    return 1000 + 4 * (process * kThreadsPerProcess + thread);
}

// The wake period (100-ns units) of thread `slot` of every process.
using PeriodOfSlot = std::function<std::uint64_t(std::uint32_t slot)>;

inline constexpr std::uint64_t kBenchKernelBase = 0xFFFF'F800'0000'0000;
inline constexpr std::uint64_t kBenchImageBase = 0x7FF6'0000'0000;

// A stack of `frames` addresses, kernel part first, that differs by thread
// slot and by whether the thread waits or is readied.
inline std::vector<std::uint64_t> BenchStack(std::uint32_t frames, std::uint32_t slot, bool waits) {
    std::vector<std::uint64_t> stack;
    for (std::uint32_t frame = 0; frame < frames; ++frame) {
        const bool kernel = frame < frames / 2;
        stack.push_back((kernel ? kBenchKernelBase : kBenchImageBase) + 0x1000 * frame + 0x10 * slot + (waits ? 8 : 0));
    }
    return stack;
}

// `stack_frames` 0: context switches only.
inline std::filesystem::path MachineTrace(const std::string& name, std::uint32_t processes,
                                          const PeriodOfSlot& period_of_slot, std::uint64_t context_switches,
                                          std::uint32_t stack_frames = 0) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / (name + std::to_string(context_switches) + ".etl");
    if (std::filesystem::exists(path)) {
        return path;
    }
    const std::filesystem::path partial = path.string() + ".partial";
    etl::TraceOptions options;
    options.processors = kProcessors;
    etl::EtlWriter writer(partial, options);

    // Rundown on processor 0: the idle process and its thread, then the others.
    etl::ProcessFields idle;
    idle.ImageFileName = "Idle";
    writer.Add(etl::ProcessEvent(0, etl::RawFromOffset(options, 1), kOpcodeDCStart, 4, 8, idle));
    writer.Add(etl::ThreadEvent(0, etl::RawFromOffset(options, 2), kOpcodeDCStart, 3, 8, {}));
    for (std::uint32_t process = 0; process < processes; ++process) {
        etl::ProcessFields fields;
        fields.ProcessId = 100 + 4 * process;
        fields.ImageFileName = "service" + std::to_string(process) + ".exe";
        writer.Add(etl::ProcessEvent(0, etl::RawFromOffset(options, 3), kOpcodeDCStart, 4, 8, fields));
        if (stack_frames > 0) {
            const etl::ImageFields image{.ImageBase = kBenchImageBase, .ImageSize = 0x10'0000,
                                         .ProcessId = fields.ProcessId, .FileName = u"C:\\Services\\service.exe"};
            writer.Add(etl::ImageEvent(0, etl::RawFromOffset(options, 3), kOpcodeImageDCStart, 3, 8, image));
        }
        for (std::uint32_t thread = 0; thread < kThreadsPerProcess; ++thread) {
            etl::ThreadFields thread_fields;
            thread_fields.ProcessId = fields.ProcessId;
            thread_fields.TThreadId = ThreadIdOf(process, thread);
            writer.Add(etl::ThreadEvent(0, etl::RawFromOffset(options, 4), kOpcodeDCStart, 3, 8, thread_fields));
        }
    }

    if (stack_frames > 0) {
        const etl::ImageFields kernel{.ImageBase = kBenchKernelBase, .ImageSize = 0x100'0000,
                                      .FileName = u"\\SystemRoot\\system32\\ntoskrnl.exe"};
        writer.Add(etl::ImageEvent(0, etl::RawFromOffset(options, 5), kOpcodeImageDCStart, 3, 8, kernel));
    }

    // Wakes in time order; each runs 20 µs on its processor once that is free.
    struct Wake {
        std::uint64_t at;
        std::uint32_t thread;
        bool operator>(const Wake& other) const { return at > other.at; }
    };
    std::mt19937_64 random(42);
    std::priority_queue<Wake, std::vector<Wake>, std::greater<>> wakes;
    const std::uint32_t thread_count = processes * kThreadsPerProcess;
    for (std::uint32_t thread = 0; thread < thread_count; ++thread) {
        wakes.push({100 + random() % 10'000'000, thread});
    }
    std::vector<std::uint64_t> busy_until(kProcessors, 0);
    std::uint64_t written = 0;
    while (written < context_switches) {
        const Wake wake = wakes.top();
        wakes.pop();
        const std::uint32_t process = wake.thread / kThreadsPerProcess;
        const std::uint32_t thread_id = ThreadIdOf(process, wake.thread % kThreadsPerProcess);
        const std::uint32_t processor = wake.thread % kProcessors;
        const std::uint64_t start = std::max(wake.at, busy_until[processor]);
        const std::int64_t in = etl::RawFromOffset(options, start);
        const std::int64_t out = etl::RawFromOffset(options, start + 200);
        const std::uint32_t slot = wake.thread % kThreadsPerProcess;
        if (stack_frames > 0) {
            // Readied from the idle loop; each event's stack right after it.
            const std::int64_t ready = etl::RawFromOffset(options, start - 2);
            writer.Add(etl::ReadyThreadEvent(processor, ready, {.TThreadId = thread_id}));
            writer.Add(etl::StackEvent(processor, etl::RawFromOffset(options, start - 1), ready, 0, 0,
                                       BenchStack(stack_frames, slot, false)));
        }
        writer.Add(etl::CSwitchEvent(processor, in, thread_id, 0));
        if (stack_frames > 0) {
            writer.Add(etl::StackEvent(processor, etl::RawFromOffset(options, start + 1), in, 0, 0,
                                       BenchStack(stack_frames, 0, false)));
        }
        writer.Add(etl::CSwitchEvent(processor, out, 0, thread_id));
        if (stack_frames > 0) {
            writer.Add(etl::StackEvent(processor, etl::RawFromOffset(options, start + 201), out, 100 + 4 * process,
                                       thread_id, BenchStack(stack_frames, slot, true)));
        }
        busy_until[processor] = start + (stack_frames > 0 ? 204 : 201);
        written += 2;
        // Each thread keeps its slot's period, with a jitter of ±2 %.
        const std::uint64_t period = period_of_slot(slot);
        wakes.push({start + period - period / 50 + random() % (period / 25 + 1), wake.thread});
    }
    writer.Finish();
    std::filesystem::rename(partial, path);
    return path;
}

// Thread i of every process: 1 of 20 at 1 ms, 4 at 15.6 ms, 6 at 100 ms, the rest at 1 s.
inline std::uint64_t IdleMachinePeriod(std::uint32_t slot) {
    return slot == 0 ? 10'000 : slot < 5 ? 156'000 : slot < 11 ? 1'000'000 : 10'000'000;
}

inline std::filesystem::path IdleMachineTrace(std::uint64_t context_switches) {
    return MachineTrace("dormiscope-bench-", 50, IdleMachinePeriod, context_switches);
}

inline std::filesystem::path StackedIdleMachineTrace(std::uint64_t context_switches) {
    return MachineTrace("dormiscope-bench-stacked-", 50, IdleMachinePeriod, context_switches, 20);
}

// Every period class of the analysis is present; the fastest thread of each
// process keeps its sleeps (period less 20 µs of running, ±2 %) above 1 ms and
// the slowest below 1 s.
inline std::filesystem::path BusyMachineTrace(std::uint64_t context_switches) {
    static constexpr std::uint64_t kPeriods[kThreadsPerProcess] = {
        12'000,  40'000,  80'000,    100'000,   156'000,   156'000,   200'000,   300'000,   500'000,   1'000'000,
        1'000'000, 1'000'000, 1'000'000, 5'000'000, 5'000'000, 9'700'000, 9'700'000, 9'700'000, 9'700'000, 9'700'000};
    const auto period = [](std::uint32_t slot) { return kPeriods[slot]; };
    return MachineTrace("dormiscope-bench-busy-", 48, period, context_switches);
}

}  // namespace dormiscope::bench
