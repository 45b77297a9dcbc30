#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "analysis/period_class.h"

namespace dormiscope {
namespace {

TEST(PeriodClassTest, SnapsBucketValuesAtTheClassBounds) {
    const std::vector<std::pair<std::int64_t, std::int64_t>> value_to_class = {
        {-5, 1},    {0, 1},     {2, 1},       {3, 4},       {5, 4},       {6, 8},        {8, 8},
        {9, 10},    {12, 10},   {13, 15},     {16, 15},     {17, 20},     {30, 20},      {31, 30},
        {35, 30},   {36, 50},   {60, 50},     {61, 100},    {300, 100},   {301, 500},    {600, 500},
        {601, 1000}, {5000, 1000}, {5001, 10000}, {INT64_MAX, 10000}};
    for (const auto& [value, period_class] : value_to_class) {
        EXPECT_EQ(PeriodClass(value), period_class) << value;
    }
}

struct ClassifyCase {
    std::string name;
    std::map<std::int64_t, std::uint64_t> buckets;
    std::map<std::int64_t, std::uint64_t> class_bins;
    std::int32_t periodicity;
};

class ClassifyBucketsTest : public testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyBucketsTest, SumsCountsPerClassAndWeighsBucketsOneByOne) {
    const ClassifyCase& expected = GetParam();
    HISTOGRAM::BucketMap buckets;
    for (const auto& [value, count] : expected.buckets) {
        buckets.try_emplace(value, value, count);
    }
    const BucketClasses classes = ClassifyBuckets(buckets);
    EXPECT_EQ(classes.class_bins, expected.class_bins);
    EXPECT_EQ(classes.periodicity, expected.periodicity);
}

constexpr std::uint64_t kTwoTo31 = std::uint64_t{1} << 31;

INSTANTIATE_TEST_SUITE_P(
    Examples, ClassifyBucketsTest,
    testing::Values(
        ClassifyCase{"TwoClasses", {{11, 3}, {14, 7}}, {{10, 3}, {15, 7}}, 15},
        ClassifyCase{"OneClassFromTwoBuckets", {{9, 6}, {11, 5}}, {{10, 11}}, 10},
        ClassifyCase{"SummedClassesAreNotCompared", {{1, 70}, {2, 70}, {3, 30}}, {{1, 140}, {4, 30}}, 4},
        ClassifyCase{"LargerProductWins", {{10, 3}, {30, 1}}, {{10, 3}, {20, 1}}, 10},
        ClassifyCase{"EqualProductsKeepTheLowerBucket", {{4, 5}, {20, 1}}, {{4, 5}, {20, 1}}, 4},
        ClassifyCase{"SingleBucket", {{700, 2}}, {{1000, 2}}, 1000},
        // 2^31 × 1 wraps to INT32_MIN and never wins; 2^31 + 1 ms-periods of class 4 wrap to 4.
        ClassifyCase{"ProductsWrapToSigned32Bits", {{1, kTwoTo31}, {3, kTwoTo31 + 1}, {6, 1}},
                     {{1, kTwoTo31}, {4, kTwoTo31 + 1}, {8, 1}}, 8},
        ClassifyCase{"NoPositiveProductLeavesZero", {{1, kTwoTo31}}, {{1, kTwoTo31}}, 0},
        ClassifyCase{"ProductWrapsThroughSixtyFourBits", {{6000, (std::uint64_t{1} << 60) + 3}},
                     {{10000, (std::uint64_t{1} << 60) + 3}}, 10000}),
    [](const testing::TestParamInfo<ClassifyCase>& info) { return info.param.name; });

}  // namespace
}  // namespace dormiscope
