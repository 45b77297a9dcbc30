#include "platform/etl_reader/time_conversion.h"

#include <limits>
#include <numeric>

namespace dormiscope {
namespace {

__extension__ using Int128 = __int128;

constexpr std::int64_t kUnitsPerSecond = 10'000'000;
constexpr std::int64_t kUnitsPerMicrosecond = 10;

Int128 FloorDivide(Int128 dividend, Int128 divisor) {
    Int128 quotient = dividend / divisor;
    if ((dividend % divisor != 0) && ((dividend < 0) != (divisor < 0))) {
        --quotient;
    }
    return quotient;
}

}  // namespace

std::optional<TimeConverter> TimeConverter::Create(const ClockReference& reference) {
    switch (reference.clock_type) {
        case 0:
        case static_cast<std::uint32_t>(SessionClock::kQueryPerformanceCounter):
            if (reference.perf_frequency <= 0) {
                return std::nullopt;
            }
            return TimeConverter(reference, kUnitsPerSecond, reference.perf_frequency);
        case static_cast<std::uint32_t>(SessionClock::kSystemTime):
            return TimeConverter(reference, 1, 1);
        case static_cast<std::uint32_t>(SessionClock::kCycleCounter):
            if (reference.cpu_speed_mhz == 0) {
                return std::nullopt;
            }
            return TimeConverter(reference, kUnitsPerMicrosecond, reference.cpu_speed_mhz);
        default:
            return std::nullopt;
    }
}

TimeConverter::TimeConverter(const ClockReference& reference, std::int64_t numerator, std::int64_t denominator)
    : start_time_(reference.start_time),
      reference_raw_(reference.reference_raw),
      numerator_(numerator / std::gcd(numerator, denominator)),
      denominator_(denominator / std::gcd(numerator, denominator)) {}

std::int64_t TimeConverter::ToSystemTime(std::int64_t raw) const {
    // Every common clock reduces to a whole number of units per tick, and its
    // stamps stay far from the 64-bit limits: then 64-bit arithmetic gives the
    // exact result, and the 128-bit way is kept for the rest.
    std::int64_t ticks = 0;
    std::int64_t units = 0;
    std::int64_t time = 0;
    if (denominator_ == 1 && !__builtin_sub_overflow(raw, reference_raw_, &ticks) &&
        !__builtin_mul_overflow(ticks, numerator_, &units) && !__builtin_add_overflow(start_time_, units, &time)) {
        return time;
    }
    return ToSystemTimeWide(raw);
}

std::int64_t TimeConverter::ToSystemTimeWide(std::int64_t raw) const {
    const Int128 scaled = (Int128{raw} - reference_raw_) * numerator_;
    const Int128 time = start_time_ + (denominator_ == 1 ? scaled : FloorDivide(scaled, denominator_));
    if (time > std::numeric_limits<std::int64_t>::max()) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (time < std::numeric_limits<std::int64_t>::min()) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(time);
}

}  // namespace dormiscope
