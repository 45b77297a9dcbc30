// dormiscope-view's whole run over the generated traces on one core: the
// first pass, the wake pass, the periodicity computation, the figures, the
// JSON document and the page; on the idle machine, and on the same machine
// with a ready before every wake and a 20-address stack after every ready
// and context switch.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <chrono>
#include <fstream>

#include "analysis/periodic_disturbances.h"
#include "bench_trace.h"
#include "view/collect/build_figures.h"
#include "view/collect/wake_pass.h"
#include "view/json/wakes_json.h"
#include "view/page/flame_data.h"
#include "view/page/wakes_page.h"

namespace dormiscope {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void ViewEndToEnd(benchmark::State& state, const std::filesystem::path& trace) {
    const tbb::global_control one_core(tbb::global_control::max_allowed_parallelism, 1);
    const auto switches = static_cast<std::uint64_t>(state.range(0));
    const auto page_path = std::filesystem::temp_directory_path() / "dormiscope-bench-wakes.html";
    double reading_seconds = 0;
    double total_seconds = 0;
    std::size_t page_bytes = 0;
    ModuleOffsetNames frame_names;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto run = std::make_unique<RunContext>();
        run->input_path = trace.wstring();
        view::WakeReading reading = view::ReadWakes(*run);
        if (reading.status != 0) {
            state.SkipWithError("reading failed");
            break;
        }
        reading_seconds += SecondsSince(start);
        ComputePeriodicDisturbances(run->model.ThreadList);
        const view::TraceFigures figures = view::BuildFigures(run->model, reading.duration, reading, frame_names);
        const std::string json = view::WakesJson(figures);
        const std::string flame = view::FlameData(figures);
        const std::string page = view::WakesPage(figures, json, flame, trace.filename().string());
        std::ofstream(page_path, std::ios::binary | std::ios::trunc) << page;
        page_bytes = page.size();
        run.reset();
        total_seconds += SecondsSince(start);
    }
    state.counters["cswitch/s"] = static_cast<double>(switches * state.iterations()) / total_seconds;
    state.counters["reading_share_%"] = 100.0 * reading_seconds / total_seconds;
    state.counters["page_kB"] = static_cast<double>(page_bytes) / 1024.0;
}

void BM_ViewEndToEnd(benchmark::State& state) {
    ViewEndToEnd(state, bench::IdleMachineTrace(static_cast<std::uint64_t>(state.range(0))));
}

void BM_ViewEndToEndStacks(benchmark::State& state) {
    ViewEndToEnd(state, bench::StackedIdleMachineTrace(static_cast<std::uint64_t>(state.range(0))));
}

BENCHMARK(BM_ViewEndToEnd)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ViewEndToEnd)->Arg(10'000'000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ViewEndToEndStacks)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace dormiscope

BENCHMARK_MAIN();
