// Who made a thread ready: a thread (with its process), a DPC or interrupt
// routine, or nobody the trace shows (a ready on a processor whose running
// thread is not yet known).
#pragma once

#include <compare>
#include <cstdint>
#include <limits>

#include "view/figures/wake_kinds.h"

namespace dormiscope::view {

// A routine address of one kind, in the order first seen.
using RoutineId = std::uint32_t;
// A ready from a DPC that no routine event covers.
inline constexpr RoutineId kRoutineNotRecorded = std::numeric_limits<RoutineId>::max();

struct ReadierId {
    ReadierKind kind = ReadierKind::kUnknown;
    std::uint32_t thread_id = 0;
    std::uint32_t process_id = 0;
    RoutineId routine = kRoutineNotRecorded;  // a DPC's
    auto operator<=>(const ReadierId&) const = default;
};

}  // namespace dormiscope::view
