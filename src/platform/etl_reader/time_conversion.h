// Conversion of raw event time stamps (the session clock) to system time in
// 100-ns units, referenced to the logfile-header event.
#pragma once

#include <cstdint>
#include <optional>

namespace dormiscope {

// Clock types of the logfile header's ReservedFlags.
enum class SessionClock : std::uint32_t {
    kQueryPerformanceCounter = 1,
    kSystemTime = 2,
    kCycleCounter = 3,
};

struct ClockReference {
    std::uint32_t clock_type = 0;       // ReservedFlags
    std::int64_t perf_frequency = 0;    // PerfFreq, ticks per second (clock 1)
    std::uint32_t cpu_speed_mhz = 0;    // CpuSpeedInMHz, cycles per µs (clock 3)
    std::int64_t start_time = 0;        // StartTime, system time of the reference
    std::int64_t reference_raw = 0;     // raw stamp of the logfile-header event
};

class TimeConverter {
public:
    // Empty when the clock type is unknown or its rate is not positive. Clock
    // type 0 (left unset by some writers) is read as the performance counter,
    // the default clock of a logging session.
    static std::optional<TimeConverter> Create(const ClockReference& reference);

    // start_time + (raw − reference_raw) scaled to 100-ns units, rounded towards
    // minus infinity, computed without overflow and clamped to the 64-bit range.
    std::int64_t ToSystemTime(std::int64_t raw) const;

private:
    TimeConverter(const ClockReference& reference, std::int64_t numerator, std::int64_t denominator);
    // The same in 128-bit arithmetic, for any rate and any stamp.
    std::int64_t ToSystemTimeWide(std::int64_t raw) const;

    std::int64_t start_time_;
    std::int64_t reference_raw_;
    // 100-ns units per raw tick, as a fraction.
    std::int64_t numerator_;
    std::int64_t denominator_;
};

}  // namespace dormiscope
