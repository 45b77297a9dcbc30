// The wake view's paths that a hostile trace could once make quadratic, each
// at 20 k and 80 k items: linear (or n log n) code takes at most about 5
// times as long for 4 times the items.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "platform/kernel_event_classes.h"
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

}  // namespace
}  // namespace dormiscope

BENCHMARK_MAIN();
