#include "model/histogram.h"

#include <gtest/gtest.h>

#include <vector>

namespace dormiscope {
namespace {

HISTOGRAM::BucketMap Buckets(const std::vector<std::pair<std::int64_t, std::uint64_t>>& counts) {
    HISTOGRAM::BucketMap buckets;
    for (const auto& [value, count] : counts) {
        buckets.emplace(value, BUCKET<std::int64_t>(value, count));
    }
    return buckets;
}

TEST(HistogramTest, DefaultHistogramIsEmptyAndSelectsNothing) {
    const HISTOGRAM histogram;
    EXPECT_EQ(histogram.GetNumBuckets(), 0U);
    EXPECT_EQ(histogram.Total(), 0U);
    std::set<std::int64_t> significant = {99};
    histogram.SelectSignificant(significant, 1.0 / 11);
    EXPECT_TRUE(significant.empty());
}

TEST(HistogramTest, SignificantBucketsReachTheTruncatedShareOfTheTotal) {
    struct Case {
        std::vector<std::pair<std::int64_t, std::uint64_t>> buckets;
        std::set<std::int64_t> significant;
    };
    const std::vector<Case> cases = {
        {{{1, 3}, {4, 7}}, {1, 4}},              // threshold trunc(10/11) = 0
        {{{1, 1}, {4, 10}, {8, 11}}, {4, 8}},    // threshold trunc(22/11) = 2
        {{{10, 10}, {100, 2}}, {10, 100}},       // threshold 1
        {{{15, 12}}, {15}},
    };
    for (const Case& test : cases) {
        HISTOGRAM histogram;
        histogram.SetBuckets(Buckets(test.buckets), L"ms");
        std::set<std::int64_t> significant;
        histogram.SelectSignificant(significant, 1.0 / 11);
        EXPECT_EQ(significant, test.significant) << test.buckets.size();
    }
}

TEST(HistogramTest, SetBucketsReplacesTheBucketsAndTheirTotal) {
    HISTOGRAM histogram;
    histogram.SetBuckets(Buckets({{1, 5}, {4, 6}}), L"ms");
    histogram.SetBuckets(Buckets({{10, 2}}), L"us");
    EXPECT_EQ(histogram.GetNumBuckets(), 1U);
    EXPECT_EQ(histogram.Total(), 2U);
    EXPECT_EQ(histogram.Unit(), L"us");
    BUCKET<std::int64_t> bucket(7, 1);
    bucket.Increment();
    EXPECT_EQ(bucket.count, 2U);
}

}  // namespace
}  // namespace dormiscope
