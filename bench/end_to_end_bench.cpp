// The whole run over generated traces: both passes, the periodicity
// computation and the report, on as many cores as the process may use (run
// it under `taskset -c 0` for one core), on the idle machine and on the busy
// one where half the switches leave a kept interval; and the fast exact
// clustering against the literal one on the same threads.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>

#include "analysis/kmeans.h"
#include "analysis/periodic_disturbances.h"
#include "bench_trace.h"
#include "literal_kmeans.h"
#include "model/trace_passes.h"
#include "report/report_writer.h"

namespace dormiscope {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void RunEndToEnd(benchmark::State& state, const std::filesystem::path& trace, std::uint64_t switches) {
    const auto report_path = std::filesystem::temp_directory_path() / "dormiscope-bench-report.json";
    double computation_seconds = 0;
    double total_seconds = 0;
    std::uint64_t kept_intervals = 0;
    std::uint64_t threads = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto run = std::make_unique<RunContext>();
        run->input_path = trace.wstring();
        if (FirstPassParsing(*run) != 0 || SecondPassParsing(*run) != 0) {
            state.SkipWithError("a pass failed");
            break;
        }
        kept_intervals = 0;
        for (const auto& [key, thread] : run->model.ThreadList) {
            kept_intervals += thread->periods.size();
        }
        threads = run->model.ThreadList.size();
        const auto computation_start = Clock::now();
        ComputePeriodicDisturbances(run->model.ThreadList);
        computation_seconds += SecondsSince(computation_start);
        std::wofstream report(report_path, std::ios::out | std::ios::trunc | std::ios::binary);
        WriteReport(report, run->model);
        report.close();
        run.reset();
        total_seconds += SecondsSince(start);
    }
    state.counters["cswitch/s"] = static_cast<double>(switches * state.iterations()) / total_seconds;
    state.counters["computation_share_%"] = 100.0 * computation_seconds / total_seconds;
    state.counters["kept_intervals"] = static_cast<double>(kept_intervals);
    state.counters["threads"] = static_cast<double>(threads);
}

void BM_EndToEnd(benchmark::State& state) {
    const auto switches = static_cast<std::uint64_t>(state.range(0));
    RunEndToEnd(state, bench::IdleMachineTrace(switches), switches);
}

void BM_BusyEndToEnd(benchmark::State& state) {
    const auto switches = static_cast<std::uint64_t>(state.range(0));
    RunEndToEnd(state, bench::BusyMachineTrace(switches), switches);
}

// The threads of the first generated process, one at each of the four periods
// and more at the slower ones, clustered both ways.
void BM_ClusteringSpeedUp(benchmark::State& state) {
    const auto trace = bench::IdleMachineTrace(1'000'000);
    RunContext run;
    run.input_path = trace.wstring();
    FirstPassParsing(run);
    SecondPassParsing(run);
    std::vector<ThreadEntry*> threads;
    for (auto& [process_id, process] : run.model.ProcessList) {
        if (process.ImageFileName != "service0.exe") {
            continue;
        }
        for (auto& [sequence, thread] : process.threads) {
            threads.push_back(&thread);
        }
    }
    double literal_seconds = 0;
    double fast_seconds = 0;
    std::uint64_t periods = 0;
    for (auto _ : state) {
        for (ThreadEntry* thread : threads) {
            if (thread->periods.size() <= seed_centroids.size()) {
                continue;
            }
            periods += thread->periods.size();
            auto start = Clock::now();
            benchmark::DoNotOptimize(literal::ComputeThread(thread->periods, literal::EqualPolicy::Sequential));
            literal_seconds += SecondsSince(start);
            start = Clock::now();
            std::pair<const std::uint64_t, ThreadEntry*> entry{thread->sequence, thread};
            ComputeThreadHistogram(entry);
            fast_seconds += SecondsSince(start);
        }
    }
    state.counters["threads"] = static_cast<double>(threads.size());
    state.counters["periods"] = static_cast<double>(periods / state.iterations());
    state.counters["literal_s"] = literal_seconds / static_cast<double>(state.iterations());
    state.counters["fast_ms"] = 1000.0 * fast_seconds / static_cast<double>(state.iterations());
    state.counters["speed_up"] = literal_seconds / fast_seconds;
}

BENCHMARK(BM_EndToEnd)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EndToEnd)->Arg(4'000'000)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EndToEnd)->Arg(10'000'000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BusyEndToEnd)->Arg(3'870'000)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClusteringSpeedUp)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace dormiscope

BENCHMARK_MAIN();
