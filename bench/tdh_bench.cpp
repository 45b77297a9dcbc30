// Decoding one context switch the way the project's event readers do: the
// schema twice (size query, then copy), then each of the twelve properties
// by name, size first and value second. Reported as events per second.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/etw_api.h"

namespace {

// {3D6FA8D1-FE05-11D0-9DDA-00C04FD7BA7C}
constexpr GUID kThreadGuid = {0x3D6FA8D1, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};
constexpr UCHAR kCSwitchOpcode = 36;

void BM_ReadContextSwitchProperties(benchmark::State& state) {
    std::array<std::uint8_t, 24> payload = {0xcc, 0x08, 0, 0, 0, 0, 0, 0, 8, 0, 1, 0,
                                            0,    0,    2, 4, 1, 0, 0, 0, 0x87, 0x6d, 0x88, 0x34};
    EVENT_RECORD event{};
    event.EventHeader.Flags = EVENT_HEADER_FLAG_CLASSIC_HEADER | EVENT_HEADER_FLAG_64_BIT_HEADER;
    event.EventHeader.ProviderId = kThreadGuid;
    event.EventHeader.EventDescriptor.Version = 2;
    event.EventHeader.EventDescriptor.Opcode = kCSwitchOpcode;
    event.UserData = payload.data();
    event.UserDataLength = static_cast<USHORT>(payload.size());

    std::vector<std::uint8_t> info_buffer(4096);
    std::array<std::uint8_t, 24> record{};
    std::array<std::uint8_t, 64> value{};
    for (auto _ : state) {
        ULONG info_size = 0;
        if (TdhGetEventInformation(&event, 0, nullptr, nullptr, &info_size) != ERROR_INSUFFICIENT_BUFFER ||
            info_size > info_buffer.size()) {
            state.SkipWithError("no schema for the context switch");
            break;
        }
        auto* info = reinterpret_cast<PTRACE_EVENT_INFO>(info_buffer.data());
        TdhGetEventInformation(&event, 0, nullptr, info, &info_size);
        std::size_t position = 0;
        for (ULONG index = 0; index < info->TopLevelPropertyCount; ++index) {
            PROPERTY_DATA_DESCRIPTOR descriptor{
                reinterpret_cast<std::uintptr_t>(info_buffer.data() + info->EventPropertyInfoArray[index].NameOffset),
                0, 0};
            ULONG size = 0;
            TdhGetPropertySize(&event, 0, nullptr, 1, &descriptor, &size);
            if (size > value.size() || position + size > record.size()) {
                break;
            }
            TdhGetProperty(&event, 0, nullptr, 1, &descriptor, size, value.data());
            std::memcpy(record.data() + position, value.data(), size);
            position += size;
        }
        benchmark::DoNotOptimize(record);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("context switches");
}
BENCHMARK(BM_ReadContextSwitchProperties);

}  // namespace

BENCHMARK_MAIN();
