// Who readies a thread, and which kind of routine runs a DPC or interrupt:
// kinds the collector records and the figures show.
#pragma once

#include <cstdint>

namespace dormiscope::view {

enum class ReadierKind : std::uint8_t { kThread, kDpc, kUnknown };

enum class RoutineKind : std::uint8_t { kDpc, kThreadedDpc, kTimerDpc, kInterrupt };

}  // namespace dormiscope::view
