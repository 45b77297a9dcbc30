// Decoding one context switch the way the project's event readers do: the
// schema twice (size query, then copy), then each of the twelve properties
// by name, size first and value second. Reported as events per second.
//
// The same sequence against stand-ins that answer without looking anything
// up gives the cost of the call sequence itself: the ceiling that no
// implementation of the three functions can pass on this machine.
//
// And the record reader on the same event, which after the first read takes
// it from its decoding plan and calls none of the three.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "etw/event_records.h"
#include "platform/etw_api.h"
#include "platform/kernel_event_classes.h"

namespace {

using dormiscope::kOpcodeCSwitch;
using dormiscope::kThreadProvider;

struct TraceDataHelper {
    decltype(&TdhGetEventInformation) get_event_information;
    decltype(&TdhGetPropertySize) get_property_size;
    decltype(&TdhGetProperty) get_property;
};

// The stand-ins hand out the real schema image (copied, as the real function
// copies it) and answer each property with the next size of the layout.
std::vector<std::uint8_t> standin_image;
constexpr std::array<ULONG, 12> kContextSwitchSizes = {4, 4, 1, 1, 1, 1, 1, 1, 1, 1, 4, 4};
std::size_t standin_property = 0;

TDHSTATUS WINAPI StandInEventInformation(PEVENT_RECORD, ULONG, PTDH_CONTEXT, PTRACE_EVENT_INFO Buffer,
                                         PULONG BufferSize) {
    const auto needed = static_cast<ULONG>(standin_image.size());
    if (*BufferSize < needed) {
        *BufferSize = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(Buffer, standin_image.data(), needed);
    standin_property = 0;
    return ERROR_SUCCESS;
}

TDHSTATUS WINAPI StandInPropertySize(PEVENT_RECORD, ULONG, PTDH_CONTEXT, ULONG, PPROPERTY_DATA_DESCRIPTOR,
                                     ULONG* pPropertySize) {
    *pPropertySize = kContextSwitchSizes[standin_property % kContextSwitchSizes.size()];
    return ERROR_SUCCESS;
}

TDHSTATUS WINAPI StandInProperty(PEVENT_RECORD pEvent, ULONG, PTDH_CONTEXT, ULONG, PPROPERTY_DATA_DESCRIPTOR,
                                 ULONG BufferSize, PBYTE pBuffer) {
    std::memcpy(pBuffer, pEvent->UserData, BufferSize);
    ++standin_property;
    return ERROR_SUCCESS;
}

std::array<std::uint8_t, 24> payload = {0xcc, 0x08, 0, 0, 0, 0, 0, 0, 8, 0, 1, 0,
                                        0,    0,    2, 4, 1, 0, 0, 0, 0x87, 0x6d, 0x88, 0x34};

EVENT_RECORD ContextSwitchEvent() {
    EVENT_RECORD event{};
    event.EventHeader.Flags = EVENT_HEADER_FLAG_CLASSIC_HEADER | EVENT_HEADER_FLAG_64_BIT_HEADER;
    event.EventHeader.ProviderId = kThreadProvider;
    event.EventHeader.EventDescriptor.Version = 2;
    event.EventHeader.EventDescriptor.Opcode = kOpcodeCSwitch;
    event.UserData = payload.data();
    event.UserDataLength = static_cast<USHORT>(payload.size());
    return event;
}

void ReadContextSwitches(benchmark::State& state, TraceDataHelper helper) {
    EVENT_RECORD event = ContextSwitchEvent();

    std::vector<std::uint8_t> info_buffer(4096);
    ULONG image_size = static_cast<ULONG>(info_buffer.size());
    if (TdhGetEventInformation(&event, 0, nullptr, reinterpret_cast<PTRACE_EVENT_INFO>(info_buffer.data()),
                               &image_size) != ERROR_SUCCESS) {
        state.SkipWithError("no schema for the context switch");
        return;
    }
    standin_image.assign(info_buffer.begin(), info_buffer.begin() + image_size);
    // Called through pointers the compiler cannot see through, like a library.
    benchmark::DoNotOptimize(helper);

    std::array<std::uint8_t, 24> record{};
    std::array<std::uint8_t, 64> value{};
    for (auto _ : state) {
        ULONG info_size = 0;
        if (helper.get_event_information(&event, 0, nullptr, nullptr, &info_size) != ERROR_INSUFFICIENT_BUFFER ||
            info_size > info_buffer.size()) {
            state.SkipWithError("no schema for the context switch");
            break;
        }
        auto* info = reinterpret_cast<PTRACE_EVENT_INFO>(info_buffer.data());
        helper.get_event_information(&event, 0, nullptr, info, &info_size);
        std::size_t position = 0;
        for (ULONG index = 0; index < info->TopLevelPropertyCount; ++index) {
            PROPERTY_DATA_DESCRIPTOR descriptor{
                reinterpret_cast<std::uintptr_t>(info_buffer.data() + info->EventPropertyInfoArray[index].NameOffset),
                0, 0};
            ULONG size = 0;
            helper.get_property_size(&event, 0, nullptr, 1, &descriptor, &size);
            if (size > value.size() || position + size > record.size()) {
                break;
            }
            helper.get_property(&event, 0, nullptr, 1, &descriptor, size, value.data());
            std::memcpy(record.data() + position, value.data(), size);
            position += size;
        }
        benchmark::DoNotOptimize(record);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("context switches");
}

void BM_ReadContextSwitchProperties(benchmark::State& state) {
    ReadContextSwitches(state, {&TdhGetEventInformation, &TdhGetPropertySize, &TdhGetProperty});
}
BENCHMARK(BM_ReadContextSwitchProperties);

void BM_CallSequenceAgainstStandIns(benchmark::State& state) {
    ReadContextSwitches(state, {&StandInEventInformation, &StandInPropertySize, &StandInProperty});
}
BENCHMARK(BM_CallSequenceAgainstStandIns);

void BM_ReadContextSwitchRecordsThroughThePlan(benchmark::State& state) {
    EVENT_RECORD event = ContextSwitchEvent();
    dormiscope::CSwitchEventData record;
    for (auto _ : state) {
        benchmark::DoNotOptimize(&event);
        benchmark::DoNotOptimize(dormiscope::ReadEventProperties(event, record));
        benchmark::DoNotOptimize(record);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("context switches");
}
BENCHMARK(BM_ReadContextSwitchRecordsThroughThePlan);

}  // namespace

BENCHMARK_MAIN();
