// How fast events come out of a trace file: delivery alone, and delivery with
// every context switch read into its record through the Trace Data Helper.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench_trace.h"
#include "etw/event_records.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope {
namespace {

struct Counts {
    std::uint64_t events = 0;
    std::uint64_t switches_read = 0;
};

void WINAPI CountEvent(PEVENT_RECORD event) {
    ++static_cast<Counts*>(event->UserContext)->events;
}

void WINAPI ReadContextSwitch(PEVENT_RECORD event) {
    auto* const counts = static_cast<Counts*>(event->UserContext);
    ++counts->events;
    const EVENT_HEADER& header = event->EventHeader;
    if (header.EventDescriptor.Opcode == kOpcodeCSwitch &&
        std::memcmp(&header.ProviderId, &kThreadProvider, sizeof(GUID)) == 0) {
        CSwitchEventData record;
        counts->switches_read += ReadEventProperties(*event, record) ? 1 : 0;
        benchmark::DoNotOptimize(record);
    }
}

void RunTrace(benchmark::State& state, PEVENT_RECORD_CALLBACK callback) {
    const auto path = bench::IdleMachineTrace(static_cast<std::uint64_t>(state.range(0)));
    std::wstring wide_path = path.wstring();
    Counts counts;
    for (auto _ : state) {
        counts = {};
        EVENT_TRACE_LOGFILEW log_file{};
        log_file.LogFileName = wide_path.data();
        log_file.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD;
        log_file.EventRecordCallback = callback;
        log_file.Context = &counts;
        TRACEHANDLE handle = OpenTraceW(&log_file);
        if (ProcessTrace(&handle, 1, nullptr, nullptr) != 0) {
            state.SkipWithError("ProcessTrace failed");
        }
        CloseTrace(handle);
    }
    state.counters["events/s"] =
        benchmark::Counter(static_cast<double>(counts.events), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["cswitch_read/s"] =
        benchmark::Counter(static_cast<double>(counts.switches_read), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(std::filesystem::file_size(path)) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void BM_DeliveryAlone(benchmark::State& state) {
    RunTrace(state, CountEvent);
}

void BM_DeliveryAndContextSwitchRecords(benchmark::State& state) {
    RunTrace(state, ReadContextSwitch);
}

BENCHMARK(BM_DeliveryAlone)->Arg(4'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeliveryAndContextSwitchRecords)->Arg(4'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace dormiscope

BENCHMARK_MAIN();
