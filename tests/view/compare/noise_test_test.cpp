#include "view/compare/noise_test.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace dormiscope::view {
namespace {

// p-values summed exactly over the binomial's terms (with fractions) by hand.
TEST(NoiseTest, PValuesAreTheExactConditionalTests) {
    struct Case {
        std::uint64_t before;
        double before_time;
        std::uint64_t after;
        double after_time;
        double p_value;
    };
    const Case cases[] = {
        {0, 1, 30, 2, 1.0430190101693127e-05},   // new
        {10, 1, 0, 2, 3.387017561686057e-05},    // gone
        {5, 1, 15, 1, 0.04138946533203125},
        {3, 2, 9, 1, 0.007711109982105257},      // unequal lengths
        {1000, 1, 1050, 1, 0.2791474705711866},
        {100, 1, 88, 1, 0.42247890957583895},
        {4000, 1, 4300, 1, 0.001029736761268161},
        {10, 1, 10, 1, 1},
    };
    for (const Case& test : cases) {
        const double p = RateDifferencePValue(test.before, test.before_time, test.after, test.after_time);
        EXPECT_NEAR(p, test.p_value, test.p_value * 1e-9) << test.before << " vs " << test.after;
        EXPECT_EQ(BeyondNoise(test.before, test.before_time, test.after, test.after_time), test.p_value < 0.01);
    }
}

TEST(NoiseTest, NothingIsBeyondNoiseWithoutCountsOrTime) {
    EXPECT_EQ(RateDifferencePValue(0, 1, 0, 1), 1);
    EXPECT_EQ(RateDifferencePValue(100, 0, 5, 1), 1);
    EXPECT_FALSE(BeyondNoise(0, 1, 0, 2));
    // Millions of wakes: a 1 % rise is beyond noise, a 0.01 % one is not.
    EXPECT_TRUE(BeyondNoise(5'000'000, 1, 5'050'000, 1));
    EXPECT_FALSE(BeyondNoise(5'000'000, 1, 5'000'500, 1));
}

}  // namespace
}  // namespace dormiscope::view
