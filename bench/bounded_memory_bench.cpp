// Peak resident memory and throughput of the whole run on a small and on a
// larger-than-4-GiB generated trace, each run in a child process of its own
// so that its peak is its own. What must hold: peak < 64 MB + 16 B for every
// kept interval, and the large trace's throughput close to the small one's.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "analysis/periodic_disturbances.h"
#include "bench_trace.h"
#include "model/trace_passes.h"
#include "report/report_writer.h"

namespace dormiscope {
namespace {

struct RunFigures {
    double seconds = 0;
    std::uint64_t kept_intervals = 0;
    long peak_kilobytes = 0;
    bool succeeded = false;
};

RunFigures RunWhole(const std::filesystem::path& trace) {
    RunFigures figures;
    const auto start = std::chrono::steady_clock::now();
    auto run = std::make_unique<RunContext>();
    run->input_path = trace.wstring();
    if (FirstPassParsing(*run) != 0 || SecondPassParsing(*run) != 0) {
        return figures;
    }
    ComputePeriodicDisturbances(run->model.ThreadList);
    std::wofstream report(std::filesystem::temp_directory_path() / "dormiscope-bench-memory-report.json",
                          std::ios::out | std::ios::trunc | std::ios::binary);
    WriteReport(report, run->model);
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const auto& [sequence, thread] : run->model.ThreadList) {
        figures.kept_intervals += thread->periods.size();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    figures.peak_kilobytes = usage.ru_maxrss;
    figures.succeeded = true;
    return figures;
}

// The run in a fresh child process, whose figures come back through a pipe.
RunFigures RunInChild(const std::filesystem::path& trace) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) {
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        const RunFigures figures = RunWhole(trace);
        const bool written = write(pipe_ends[1], &figures, sizeof figures) == static_cast<ssize_t>(sizeof figures);
        _exit(written ? 0 : 1);
    }
    close(pipe_ends[1]);
    RunFigures figures;
    if (child < 0 || read(pipe_ends[0], &figures, sizeof figures) != static_cast<ssize_t>(sizeof figures)) {
        figures = {};
    }
    close(pipe_ends[0]);
    if (child > 0) {
        waitpid(child, nullptr, 0);
    }
    return figures;
}

void BM_PeakMemory(benchmark::State& state) {
    const auto switches = static_cast<std::uint64_t>(state.range(0));
    const auto trace = bench::IdleMachineTrace(switches);
    RunFigures figures;
    for (auto _ : state) {
        figures = RunInChild(trace);
        if (!figures.succeeded) {
            state.SkipWithError("the run failed");
            return;
        }
        state.SetIterationTime(figures.seconds);
    }
    const double peak_mb = static_cast<double>(figures.peak_kilobytes) / 1024.0;
    const double bound_mb = 64.0 + 16.0 * static_cast<double>(figures.kept_intervals) / (1024.0 * 1024.0);
    state.counters["file_GiB"] = static_cast<double>(std::filesystem::file_size(trace)) / (1u << 30);
    state.counters["cswitch/s"] = static_cast<double>(switches) / figures.seconds;
    state.counters["kept_intervals"] = static_cast<double>(figures.kept_intervals);
    state.counters["peak_rss_MB"] = peak_mb;
    state.counters["bound_MB"] = bound_mb;
    state.counters["within_bound"] = peak_mb < bound_mb ? 1 : 0;
}

// 4 M switches (160 MB) and 140 M switches (5.6 GiB: buffers past 4 GiB).
BENCHMARK(BM_PeakMemory)->Arg(4'000'000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_PeakMemory)->Arg(140'000'000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace dormiscope

BENCHMARK_MAIN();
