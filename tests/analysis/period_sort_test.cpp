#include "analysis/period_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace dormiscope {
namespace {

using Periods = std::vector<std::uint64_t>;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

void ExpectSortedLikeStdSort(Periods periods) {
    Periods expected = periods;
    std::sort(expected.begin(), expected.end());
    SortPeriods(periods);
    EXPECT_EQ(periods, expected);
}

TEST(SortPeriodsTest, SortsEdgeCasesAscending) {
    const Periods cases[] = {
        {},
        {10000},
        {0, 0, 0},
        {7, 7, 3, 7},
        {0x0300, 0x0100, 0x0200},                     // only the second byte differs
        {0x010000, 0xFF, 0x01FFFF, 0x0100FF},         // a carry between bytes
        {kMax, 0, kMax - 1, std::uint64_t{1} << 63},  // every byte of a 64-bit value
        {10000000, 10000, 9999999, 10001, 10000},     // the ends of the kept range
    };
    for (const Periods& periods : cases) {
        ExpectSortedLikeStdSort(periods);
    }
}

TEST(SortPeriodsTest, SortsRandomKeptIntervalsAndWideValues) {
    std::mt19937_64 random(11);
    for (const std::uint64_t bound : {std::uint64_t{10000000}, std::uint64_t{1} << 40, kMax}) {
        for (const std::size_t count : {std::size_t{12}, std::size_t{300}, std::size_t{20000}}) {
            Periods periods(count);
            for (std::uint64_t& period : periods) {
                period = random() % bound;
            }
            ExpectSortedLikeStdSort(periods);
        }
    }
}

}  // namespace
}  // namespace dormiscope
