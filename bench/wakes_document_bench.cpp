// Reading a stored wakes document back, as comparing it with a trace will:
// 10 000 threads in 500 processes, each with a timeline, three readiers and a
// wait stack of eight frames (8.5 MB; the view's document of the browser
// test's 10 000-thread trace, which has no stacks, is 5.6 MB). Checks that the
// figures read write the same bytes again.
#include <benchmark/benchmark.h>

#include <string>

#include "view/json/wakes_document_reader.h"
#include "view/json/wakes_json.h"

namespace dormiscope {
namespace {

view::TraceFigures WideFigures() {
    view::TraceFigures figures;
    figures.duration = 40'000'000;
    figures.processors = 8;
    figures.idle_wakes_per_second_by_processor.assign(8, 8'118.541);
    figures.idle_exit_cstates = {{1, 86'000}, {2, 87'000}, {3, 86'940}};
    for (std::uint32_t process = 0; process < 500; ++process) {
        view::ProcessFigures& wide = figures.processes.emplace_back();
        wide.process_id = 1'000 + 4 * process;
        wide.name = L"service" + std::to_wstring(process) + L".exe";
        for (std::uint32_t index = 0; index < 20; ++index) {
            view::ThreadFigures& thread = wide.threads.emplace_back();
            thread.thread_id = 100'000 + 4 * (process * 20 + index);
            thread.wakes = 12 + index;
            thread.wakes_per_second = 3.25 * thread.wakes;
            thread.idle_wakes = thread.wakes;
            thread.idle_wakes_by_cstate = {{1, 4}, {2, 4}, {3, 4 + index}};
            thread.on_processor = 50 * thread.wakes;
            thread.intervals = view::IntervalFigure{thread.wakes - 1, 9'950, 9'950, 156'200};
            thread.periodicity_ms = 15;
            thread.regularity = 0.917;
            thread.period_classes = {{10, 3}, {15, 11 + index}};
            thread.top_readiers = std::vector<view::ReadierFigure>{
                {view::ReadierKind::kDpc, 0, 0, {}, 6, "ntoskrnl.exe!KiTimerExpiration+0x4c"},
                {view::ReadierKind::kThread, thread.thread_id + 4, wide.process_id, wide.name, 4, std::nullopt},
                {view::ReadierKind::kUnknown, 0, 0, {}, 2, std::nullopt}};
            view::StackFigure& stack = thread.wait_stacks.emplace_back();
            stack.count = thread.wakes;
            stack.share = 1;
            for (int frame = 0; frame < 8; ++frame) {
                stack.frames.push_back("ntoskrnl.exe+0x" + std::to_string(0x1000 + 0x40 * frame));
            }
            thread.timeline.assign(view::kTimelineSlices, index % 3);
        }
    }
    return figures;
}

void BM_ReadWakesDocument(benchmark::State& state) {
    const std::string document = view::WakesJson(WideFigures());
    for (auto _ : state) {
        const view::WakesDocument read = view::ReadWakesDocument(document);
        if (!read.figures) {
            state.SkipWithError(read.refusal.c_str());
            break;
        }
        benchmark::DoNotOptimize(read.figures->processes.data());
    }
    const view::WakesDocument read = view::ReadWakesDocument(document);
    if (!read.figures || view::WakesJson(*read.figures) != document) {
        state.SkipWithError("the figures read do not write the document again");
    }
    state.counters["document_MB"] = static_cast<double>(document.size()) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(document.size() * state.iterations()));
}

BENCHMARK(BM_ReadWakesDocument)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dormiscope

BENCHMARK_MAIN();
