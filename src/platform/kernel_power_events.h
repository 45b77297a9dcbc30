// The power manager's provider and the events it logs about the timer
// resolution: who asked for a finer clock tick, and what was outstanding when
// logging started or stopped. Spelled once for everything that reads, writes,
// dumps or records them.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/etw_api.h"

namespace dormiscope {

// Microsoft-Windows-Kernel-Power, a manifest provider: its events come in
// the EVENT_HEADER form and are told apart by descriptor Id and Version.
inline constexpr GUID kKernelPowerProvider = {0x331C3B3A, 0x2005, 0x44C2,
                                              {0xAC, 0x5E, 0x77, 0x22, 0x0C, 0x37, 0xD6, 0xB4}};
inline constexpr std::string_view kKernelPowerProviderName = "Microsoft-Windows-Kernel-Power";
// The keyword under which it logs the timer-resolution events.
inline constexpr std::uint64_t kKernelPowerTimerKeyword = 0x4;

// A process asked for a resolution (0: it released its request).
inline constexpr std::uint16_t kEventTimeResolutionChange = 63;
// At a rundown: the machine's current, finest and coarsest period, and the kernel's own request.
inline constexpr std::uint16_t kEventTimeResolutionRundown = 96;
// At a rundown: one process's outstanding request.
inline constexpr std::uint16_t kEventTimeResolutionRequestRundown = 97;
// The kernel (a driver) changed its own request.
inline constexpr std::uint16_t kEventTimeResolutionKernelChange = 98;
// At a rundown: one outstanding request with the stack that made it.
inline constexpr std::uint16_t kEventTimerResolutionStackRundown = 110;

// The task names the provider's manifest gives these events.
constexpr std::string_view TimerResolutionEventName(std::uint16_t id) {
    switch (id) {
        case kEventTimeResolutionChange:
            return "SystemTimeResolutionChange";
        case kEventTimeResolutionRundown:
            return "SystemTimeResolutionRundown";
        case kEventTimeResolutionRequestRundown:
            return "SystemTimeResolutionRequestRundown";
        case kEventTimeResolutionKernelChange:
            return "SystemTimeResolutionKernelChange";
        case kEventTimerResolutionStackRundown:
            return "SystemTimerResolutionStackRundown";
        default:
            return {};
    }
}

}  // namespace dormiscope
