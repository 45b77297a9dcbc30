// Raw stamps become system time exactly, or clamped to the 64-bit range, also
// where a step of the conversion leaves 64 bits on the way to a result that
// fits.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "platform/etl_reader/time_conversion.h"

namespace dormiscope {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

struct ConversionCase {
    const char* name;
    ClockReference clock;
    std::int64_t raw;
    std::int64_t expected;
};

// Clock 1 at 10 MHz and clock 3 at 1 MHz are whole units per tick (1 and 10); clock 1 at 3 Hz is not.
constexpr ClockReference Qpc10MHz(std::int64_t start, std::int64_t reference) {
    return {1, 10'000'000, 0, start, reference};
}
constexpr ClockReference Cycles1MHz(std::int64_t start, std::int64_t reference) {
    return {3, 0, 1, start, reference};
}

const ConversionCase kCases[] = {
    {"AfterTheReference", Qpc10MHz(5'000, 100), 350, 5'250},
    {"BeforeTheReference", Qpc10MHz(5'000, 100), 40, 4'940},
    {"TenUnitsPerTick", Cycles1MHz(1'000, 0), 7, 1'070},
    {"DifferenceBeyondTheRange", Qpc10MHz(0, -10), kMax, kMax},
    {"DifferenceBelowTheRange", Qpc10MHz(0, 10), kMin, kMin},
    {"DifferenceBeyondButResultInside", Qpc10MHz(-100, -10), kMax - 5, kMax - 95},
    {"ScaledBeyondTheRange", Cycles1MHz(0, 0), kMax / 5, kMax},
    {"ScaledBelowTheRange", Cycles1MHz(0, 0), kMin / 5, kMin},
    {"ScaledBeyondButResultInside", Cycles1MHz(-10, 0), kMax / 10 + 1, kMax / 10 * 10},
    {"SumBeyondTheRange", Qpc10MHz(kMax - 5, 0), 10, kMax},
    {"SumAtTheLimit", Qpc10MHz(kMax - 10, 0), 10, kMax},
    {"SumBelowTheRange", Qpc10MHz(kMin + 5, 0), -10, kMin},
    {"FractionalRateRoundsDown", ClockReference{1, 3, 0, 0, 0}, -1, -3'333'334},
};

TEST(TimeConversion, ExactOrClampedToTheRange) {
    for (const ConversionCase& conversion : kCases) {
        const auto converter = TimeConverter::Create(conversion.clock);
        ASSERT_TRUE(converter) << conversion.name;
        EXPECT_EQ(converter->ToSystemTime(conversion.raw), conversion.expected) << conversion.name;
    }
}

}  // namespace
}  // namespace dormiscope
