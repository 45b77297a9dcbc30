// A generated trace of an idle machine for the benchmarks: 8 processors,
// ~1000 threads in 50 processes waking at 1, 15.6, 100 or 1000 ms, each wake
// two context switches against the processor's idle thread. Written once per
// size into the temporary directory and reused.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "etl_writer/etl_writer.h"
#include "etl_writer/kernel_events.h"
#include "etl_writer/trace_clock.h"

namespace dormiscope::bench {

inline constexpr std::uint32_t kProcessors = 8;
inline constexpr std::uint32_t kProcesses = 50;
inline constexpr std::uint32_t kThreadsPerProcess = 20;

inline std::uint32_t ThreadIdOf(std::uint32_t process, std::uint32_t thread) {
    return 1000 + 4 * (process * kThreadsPerProcess + thread);
}

inline std::filesystem::path IdleMachineTrace(std::uint64_t context_switches) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("dormiscope-bench-" + std::to_string(context_switches) + ".etl");
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
    for (std::uint32_t process = 0; process < kProcesses; ++process) {
        etl::ProcessFields fields;
        fields.ProcessId = 100 + 4 * process;
        fields.ImageFileName = "service" + std::to_string(process) + ".exe";
        writer.Add(etl::ProcessEvent(0, etl::RawFromOffset(options, 3), kOpcodeDCStart, 4, 8, fields));
        for (std::uint32_t thread = 0; thread < kThreadsPerProcess; ++thread) {
            etl::ThreadFields thread_fields;
            thread_fields.ProcessId = fields.ProcessId;
            thread_fields.TThreadId = ThreadIdOf(process, thread);
            writer.Add(etl::ThreadEvent(0, etl::RawFromOffset(options, 4), kOpcodeDCStart, 3, 8, thread_fields));
        }
    }

    // Wakes in time order; each runs 20 µs on its processor once that is free.
    struct Wake {
        std::uint64_t at;
        std::uint32_t thread;
        bool operator>(const Wake& other) const { return at > other.at; }
    };
    const std::uint64_t periods[] = {10'000, 156'000, 1'000'000, 10'000'000};
    std::mt19937_64 random(42);
    std::priority_queue<Wake, std::vector<Wake>, std::greater<>> wakes;
    const std::uint32_t thread_count = kProcesses * kThreadsPerProcess;
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
        writer.Add(etl::CSwitchEvent(processor, etl::RawFromOffset(options, start), thread_id, 0));
        writer.Add(etl::CSwitchEvent(processor, etl::RawFromOffset(options, start + 200), 0, thread_id));
        busy_until[processor] = start + 201;
        written += 2;
        // Thread i of every process keeps one period (1 of 20 at 1 ms, 4 at
        // 15.6 ms, 6 at 100 ms, the rest at 1 s), with a little jitter.
        const std::uint32_t slot = wake.thread % kThreadsPerProcess;
        const std::uint64_t period = periods[slot == 0 ? 0 : slot < 5 ? 1 : slot < 11 ? 2 : 3];
        wakes.push({start + period - period / 50 + random() % (period / 25 + 1), wake.thread});
    }
    writer.Finish();
    std::filesystem::rename(partial, path);
    return path;
}

}  // namespace dormiscope::bench
