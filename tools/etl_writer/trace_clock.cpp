#include "etl_writer/trace_clock.h"

#include <stdexcept>

namespace dormiscope::etl {
namespace {

__extension__ typedef __int128 Wide;  // products of a 64-bit stamp and a rate

Wide FloorDiv(Wide numerator, Wide denominator) {
    Wide quotient = numerator / denominator;
    if ((numerator % denominator != 0) && ((numerator < 0) != (denominator < 0))) {
        --quotient;
    }
    return quotient;
}

Wide CeilDiv(Wide numerator, Wide denominator) { return -FloorDiv(-numerator, denominator); }

// The clock rate as ticks per `units` 100-ns units: ticks = time × rate / units.
struct Rate {
    Wide ticks;
    Wide units;
};

Rate RateOf(const TraceOptions& options) {
    switch (options.clock) {
    case Clock::QueryPerformanceCounter:
        if (options.perf_freq <= 0) {
            throw std::invalid_argument("QPC clock needs a positive PerfFreq");
        }
        return {options.perf_freq, 10'000'000};
    case Clock::SystemTime:
        return {1, 1};
    case Clock::CpuCycles:
        if (options.cpu_speed_mhz == 0) {
            throw std::invalid_argument("CPU-cycle clock needs a CPU speed");
        }
        return {options.cpu_speed_mhz, 10};
    }
    throw std::invalid_argument("unknown clock type");
}

}  // namespace

std::int64_t FileTimeFromRaw(const TraceOptions& options, std::int64_t raw) {
    const Rate rate = RateOf(options);
    const Wide elapsed = Wide{raw} - Wide{options.header_raw_timestamp};
    return static_cast<std::int64_t>(Wide{options.start_time} + FloorDiv(elapsed * rate.units, rate.ticks));
}

std::int64_t RawFromOffset(const TraceOptions& options, std::uint64_t offset_100ns) {
    const Rate rate = RateOf(options);
    return static_cast<std::int64_t>(Wide{options.header_raw_timestamp} +
                                     CeilDiv(Wide{offset_100ns} * rate.ticks, rate.units));
}

}  // namespace dormiscope::etl
