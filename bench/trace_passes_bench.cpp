// The second pass over a generated trace: every context switch read and
// attributed to its threads' off-processor intervals.
#include <benchmark/benchmark.h>

#include "bench_trace.h"
#include "model/trace_passes.h"

namespace dormiscope {
namespace {

void BM_SecondPass(benchmark::State& state) {
    const auto switches = static_cast<std::uint64_t>(state.range(0));
    const auto path = bench::IdleMachineTrace(switches);
    std::uint64_t kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto run = std::make_unique<RunContext>();
        run->input_path = path.wstring();
        if (FirstPassParsing(*run) != 0) {
            state.SkipWithError("first pass failed");
        }
        state.ResumeTiming();
        if (SecondPassParsing(*run) != 0) {
            state.SkipWithError("second pass failed");
        }
        state.PauseTiming();
        kept = 0;
        for (const auto& [sequence, thread] : run->model.ThreadList) {
            kept += thread->periods.size();
        }
        run.reset();
        state.ResumeTiming();
    }
    state.counters["cswitch/s"] =
        benchmark::Counter(static_cast<double>(switches), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["kept_intervals"] = static_cast<double>(kept);
}

BENCHMARK(BM_SecondPass)->Arg(4'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace dormiscope

BENCHMARK_MAIN();
