// The wake view's paths that a hostile trace could once make quadratic, each
// at 20 k and 80 k items: image loads in one process, stacks that share a
// hash, and DPCs at distinct routines. Linear (or n log n) code takes at most
// about 5 times as long for 4 times the items.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "model/trace_model.h"
#include "platform/kernel_event_classes.h"
#include "view/collect/build_figures.h"
#include "view/collect/stack_attribution.h"
#include "view/collect/wake_collector.h"
#include "view/collect/wake_pass.h"
#include "view/stacks/frame_names.h"
#include "view/stacks/module_maps.h"

namespace dormiscope {
namespace {

// Images loaded one beside the other in one process, unloaded, and unloaded
// again unseen (each then since the last unload at its base).
void BM_ImageLoadsInOneProcess(benchmark::State& state) {
    const auto count = static_cast<std::uint64_t>(state.range(0));
    for (auto _ : state) {
        ModuleMaps maps;
        ImageEventData image;
        image.ProcessId = 600;
        image.ImageSize = 0x1000;
        image.FileName = u"C:\\Windows\\a.dll";
        std::int64_t time = 0;
        for (const std::uint8_t opcode : {kOpcodeImageLoad, kOpcodeImageUnload, kOpcodeImageUnload}) {
            image.opcode = opcode;
            for (std::uint64_t index = 0; index < count; ++index) {
                image.ImageBase = 0x1000'0000 + index * image.ImageSize;
                image.TimeStamp = ++time;
                maps.Add(image);
            }
        }
        benchmark::DoNotOptimize(maps.module_count());
    }
    state.counters["items"] = static_cast<double>(count);
}

BENCHMARK(BM_ImageLoadsInOneProcess)->Arg(20'000)->Arg(80'000)->Unit(benchmark::kMillisecond);

// The stack hash the view once used, to build stacks that all shared one
// value: each second address undoes what the first one added.
std::uint64_t Mixed(std::uint64_t hash, std::uint64_t frame) {
    hash = (hash ^ frame) * 0x100000001B3ULL;
    return hash ^ (hash >> 29);
}

// Distinct two-address stacks, each after its context switch, that an
// invertible hash would have put in one bucket.
void BM_StacksSharingAHash(benchmark::State& state) {
    const auto count = static_cast<std::uint64_t>(state.range(0));
    const std::uint64_t seed = 0;  // process 0, epoch 0
    const std::uint64_t shared = 0x5EED;
    StackEventData stack;
    stack.opcode = kOpcodeStack;
    for (auto _ : state) {
        view::StackAttribution attribution;
        attribution.SetClock(TimeConverter::Create({.clock_type = 2, .start_time = 0, .reference_raw = 0}));
        for (std::uint64_t index = 1; index <= count; ++index) {
            const auto time = static_cast<std::int64_t>(index);
            attribution.Event(0, time, 1, false, nullptr, nullptr);
            stack.EventTimeStamp = index;
            stack.StackThread = 1;
            stack.frames = {index, shared ^ Mixed(seed, index)};
            attribution.Stack(0, stack);
        }
        benchmark::DoNotOptimize(attribution.counts().matched);
    }
    state.counters["items"] = static_cast<double>(count);
}

BENCHMARK(BM_StacksSharingAHash)->Arg(20'000)->Arg(80'000)->Unit(benchmark::kMillisecond);

// The figures of a trace whose DPCs ran at distinct routines of one driver.
void BM_DistinctDpcRoutines(benchmark::State& state) {
    const auto count = static_cast<std::uint64_t>(state.range(0));
    constexpr std::uint64_t kDriverBase = 0xFFFFF800'00000000;
    TraceModel model;
    view::WakeReading reading;
    reading.header.processors = 1;
    reading.duration = 10'000'000;
    ImageEventData driver;
    driver.opcode = kOpcodeImageDCStart;
    driver.ImageBase = kDriverBase;
    driver.ImageSize = 16 * count;
    driver.FileName = u"wakedrv.sys";
    reading.modules.Add(driver);
    reading.collector = std::make_unique<view::WakeCollector>(model);
    reading.collector->SetClock(TimeConverter::Create({.clock_type = 2, .start_time = 0, .reference_raw = 0}));
    RoutineEventData routine;
    routine.opcode = kOpcodeDpc;
    for (std::uint64_t index = 0; index < count; ++index) {
        routine.TimeStamp = static_cast<std::int64_t>(index + 1);
        routine.InitialTime = index;
        routine.Routine = kDriverBase + 16 * index;
        reading.collector->Routine(0, routine);
    }
    ModuleOffsetNames frame_names;
    for (auto _ : state) {
        const view::TraceFigures figures = view::BuildFigures(model, reading.duration, reading, frame_names);
        benchmark::DoNotOptimize(figures.routines.size());
    }
    state.counters["items"] = static_cast<double>(count);
}

BENCHMARK(BM_DistinctDpcRoutines)->Arg(20'000)->Arg(80'000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dormiscope

BENCHMARK_MAIN();
