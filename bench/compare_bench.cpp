// dormiscope-view --compare against viewing the same traces, on one core for
// the trace reading: two 1 M-switch traces compared, against the two views
// one after the other; and a stored document compared with a trace (the
// document read on a thread of its own, as the program does), against viewing
// the trace alone.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <fstream>
#include <future>
#include <iterator>

#include "analysis/periodic_disturbances.h"
#include "bench_trace.h"
#include "view/collect/build_figures.h"
#include "view/collect/wake_pass.h"
#include "view/compare/comparison.h"
#include "view/json/comparison_json.h"
#include "view/json/wakes_document_reader.h"
#include "view/json/wakes_json.h"
#include "view/page/comparison_page.h"
#include "view/page/flame_data.h"
#include "view/page/wakes_page.h"

namespace dormiscope {
namespace {

constexpr std::uint64_t kSwitches = 1'000'000;

view::TraceFigures FiguresOf(const std::filesystem::path& trace) {
    RunContext run;
    run.input_path = trace.wstring();
    view::WakeReading reading = view::ReadWakes(run);
    ComputePeriodicDisturbances(run.model.ThreadList);
    ModuleOffsetNames frame_names;
    return view::BuildFigures(run.model, reading.duration, reading, frame_names);
}

// The page and document of one trace, as `-i` writes them.
std::size_t View(const std::filesystem::path& trace) {
    const view::TraceFigures figures = FiguresOf(trace);
    const std::string json = view::WakesJson(figures);
    const std::string flame = view::FlameData(figures);
    return view::WakesPage(figures, json, flame, trace.filename().string()).size() + json.size();
}

std::size_t Compared(const view::TraceFigures& before, const view::TraceFigures& after) {
    const view::Comparison comparison = view::CompareFigures(before, after);
    const std::string json = view::ComparisonJson(comparison);
    return view::ComparisonPage(comparison, json, "before", "after", std::nullopt).size() + json.size();
}

view::TraceFigures DocumentFigures(const std::filesystem::path& document) {
    std::ifstream in(document, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return std::move(*view::ReadWakesDocument(text).figures);
}

const std::filesystem::path& BeforeDocument() {
    static const std::filesystem::path document = [] {
        const std::filesystem::path path = std::filesystem::temp_directory_path() / "dormiscope-bench-before.json";
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            << view::WakesJson(FiguresOf(bench::IdleMachineTrace(kSwitches)));
        return path;
    }();
    return document;
}

void BM_TwoViews(benchmark::State& state) {
    const tbb::global_control one_core(tbb::global_control::max_allowed_parallelism, 1);
    const auto before = bench::IdleMachineTrace(kSwitches);
    const auto after = bench::BusyMachineTrace(kSwitches);
    for (auto _ : state) {
        benchmark::DoNotOptimize(View(before) + View(after));
    }
}

void BM_CompareTwoTraces(benchmark::State& state) {
    const tbb::global_control one_core(tbb::global_control::max_allowed_parallelism, 1);
    const auto before = bench::IdleMachineTrace(kSwitches);
    const auto after = bench::BusyMachineTrace(kSwitches);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Compared(FiguresOf(before), FiguresOf(after)));
    }
}

void BM_ViewAfter(benchmark::State& state) {
    const tbb::global_control one_core(tbb::global_control::max_allowed_parallelism, 1);
    const auto after = bench::BusyMachineTrace(kSwitches);
    for (auto _ : state) {
        benchmark::DoNotOptimize(View(after));
    }
}

void BM_CompareDocumentWithTrace(benchmark::State& state) {
    const tbb::global_control one_core(tbb::global_control::max_allowed_parallelism, 1);
    const auto& document = BeforeDocument();
    const auto after = bench::BusyMachineTrace(kSwitches);
    for (auto _ : state) {
        std::future<view::TraceFigures> before = std::async(std::launch::async, DocumentFigures, document);
        const view::TraceFigures later = FiguresOf(after);
        benchmark::DoNotOptimize(Compared(before.get(), later));
    }
}

BENCHMARK(BM_TwoViews)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CompareTwoTraces)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ViewAfter)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CompareDocumentWithTrace)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace dormiscope

BENCHMARK_MAIN();
