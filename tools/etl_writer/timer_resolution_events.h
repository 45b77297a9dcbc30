// The power manager's timer-resolution events (Microsoft-Windows-Kernel-Power,
// EVENT_HEADER form), built field by field as the provider logs them: a
// process's request or release, the kernel's own change, and the rundown of
// the machine's periods, of the outstanding requests and of their stacks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "etl_writer/trace_description.h"

namespace dormiscope::etl {

// One process's request. AppNameLength is AppName's UTF-16 units unless a
// test sets another (a count the payload does not hold).
struct TimerRequestFields {
    std::uint32_t Requested = 0;  // 100-ns units; 0 releases the request
    std::uint32_t Pid = 0;
    std::u16string AppName;
    std::optional<std::uint16_t> AppNameLength;
    std::uint32_t SubProcessTag = 0;
};

// The stack of a request at a rundown, leaf first. StackSize is the number of
// 4-byte units the addresses fill unless a test sets another.
struct TimerStackFields {
    std::vector<std::uint64_t> Stack;
    std::optional<std::uint32_t> StackSize;
};

struct TimerRundownFields {
    std::uint32_t CurrentPeriod = 156250;
    std::uint32_t MinimumPeriod = 5000;
    std::uint32_t MaximumPeriod = 156250;
    std::uint32_t KernelRequestCount = 0;
    std::uint32_t KernelRequestedPeriod = 0;
    std::uint32_t InternalSetPeriod = 0;  // version 1
};

// Event 63 version 1.
std::vector<std::uint8_t> TimeResolutionChangePayload(const TimerRequestFields& fields);
// Event 97 version 0.
std::vector<std::uint8_t> TimeResolutionRequestRundownPayload(const TimerRequestFields& fields);
// Event 110 version 0.
std::vector<std::uint8_t> TimerResolutionStackRundownPayload(const TimerRequestFields& fields,
                                                             const TimerStackFields& stack,
                                                             std::uint32_t pointer_size);
// Event 96 of version 0 or 1.
std::vector<std::uint8_t> TimeResolutionRundownPayload(std::uint8_t version, const TimerRundownFields& fields);
// Event 98 of version 0 or 1 (version 1 adds the tag).
std::vector<std::uint8_t> TimeResolutionKernelChangePayload(std::uint8_t version, std::uint32_t requested,
                                                            std::uint32_t tag = 0);

// A Kernel-Power event of the given id and version around `payload`, logged
// at informational level under the timer keyword, its header naming `pid`.
Event KernelPowerEvent(std::uint32_t processor, std::int64_t raw, std::uint16_t id, std::uint8_t version,
                       std::uint32_t pid, std::uint32_t pointer_size, std::vector<std::uint8_t> payload);

}  // namespace dormiscope::etl
