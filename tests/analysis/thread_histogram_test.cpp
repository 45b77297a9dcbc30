#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "analysis/periodic_disturbances.h"
#include "literal_kmeans.h"

namespace dormiscope {
namespace {

std::vector<std::uint64_t> Repeat(std::uint64_t period, std::size_t times) {
    return std::vector<std::uint64_t>(times, period);
}

std::vector<std::uint64_t> Join(std::vector<std::uint64_t> first, const std::vector<std::uint64_t>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::map<std::int64_t, std::uint64_t> BucketCounts(const HISTOGRAM& histogram) {
    std::map<std::int64_t, std::uint64_t> counts;
    for (const auto& [value, bucket] : histogram.Buckets()) {
        EXPECT_EQ(value, bucket.value);
        counts[value] = bucket.count;
    }
    return counts;
}

struct ThreadCase {
    std::string name;
    std::vector<std::uint64_t> periods;
    std::map<std::int64_t, std::uint64_t> buckets;
    std::set<std::int64_t> significant;
};

std::vector<std::uint64_t> TwelveSteps() {
    std::vector<std::uint64_t> periods;
    for (std::uint64_t period = 10000; period <= 120000; period += 10000) {
        periods.push_back(period);
    }
    return periods;
}

std::vector<std::uint64_t> ThreeAtEachSeed() {
    std::vector<std::uint64_t> periods;
    for (const std::uint64_t seed : {10000, 40000, 80000, 100000, 150000, 200000, 300000, 500000, 1000000,
                                     5000000, 10000000}) {
        periods.insert(periods.end(), 3, seed);
    }
    return periods;
}

class ThreadHistogramTest : public testing::TestWithParam<ThreadCase> {};

TEST_P(ThreadHistogramTest, FillsBucketsAndSignificantPeriodsLikeTheLiteralAlgorithm) {
    const ThreadCase& expected = GetParam();
    ThreadEntry thread;
    thread.periods = expected.periods;
    std::pair<const std::uint64_t, ThreadEntry*> entry{7, &thread};

    ComputeThreadHistogram(entry);

    EXPECT_EQ(BucketCounts(thread.period_histogram), expected.buckets);
    EXPECT_EQ(thread.significant_periods, expected.significant);
    if (expected.periods.size() > 11) {
        EXPECT_EQ(thread.period_histogram.Unit(), L"ms");
        const literal::ThreadResult reference = literal::ComputeThread(expected.periods);
        EXPECT_EQ(BucketCounts(reference.histogram), expected.buckets);
        EXPECT_EQ(reference.significant_periods, expected.significant);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ThreadHistogramTest,
    testing::Values(
        ThreadCase{"NoPeriods", {}, {}, {}},
        ThreadCase{"ElevenPeriodsAreNotClustered", Repeat(10000, 11), {}, {}},
        ThreadCase{"TwelveOneMillisecond", Repeat(10000, 12), {{1, 12}}, {1}},
        ThreadCase{"TwelveFifteenMilliseconds", Repeat(150000, 12), {{15, 12}}, {15}},
        ThreadCase{"FifteenAndSixteenJoinOneSeed", Join(Repeat(150000, 6), Repeat(160000, 6)), {{15, 12}}, {15}},
        ThreadCase{"TenAndHundred", Join(Repeat(100000, 10), Repeat(1000000, 2)), {{10, 10}, {100, 2}}, {10, 100}},
        ThreadCase{"CentroidsExactlyTwoMillisecondsApartMerge", Join(Repeat(80000, 6), Repeat(100000, 6)),
                   {{9, 12}}, {9}},
        ThreadCase{"EightAndEleven", Join(Repeat(80000, 6), Repeat(110000, 6)), {{8, 6}, {11, 6}}, {8, 11}},
        ThreadCase{"HalfwayGoesToTheLowerSeed", Repeat(60000, 12), {{6, 12}}, {6}},
        ThreadCase{"TwelveSteps", TwelveSteps(), {{2, 3}, {5, 3}, {8, 3}, {11, 3}}, {2, 5, 8, 11}},
        ThreadCase{"ThreeAtEachSeed", ThreeAtEachSeed(),
                   {{1, 3}, {4, 3}, {9, 6}, {15, 3}, {20, 3}, {30, 3}, {50, 3}, {100, 3}, {500, 3}, {1000, 3}},
                   {1, 4, 9, 15, 20, 30, 50, 100, 500, 1000}},
        ThreadCase{"LargestKeptPeriod", Repeat(10000000, 12), {{1000, 12}}, {1000}}),
    [](const testing::TestParamInfo<ThreadCase>& info) { return info.param.name; });

TEST(ComputePeriodicDisturbancesTest, FillsEveryThreadOfTheListAndOnlyThose) {
    std::vector<ThreadEntry> threads(40);
    std::unordered_map<std::uint64_t, ThreadEntry*> thread_list;
    for (std::size_t i = 0; i < threads.size(); ++i) {
        // Every fourth thread stays below the clustering minimum.
        threads[i].periods = Repeat(10000 * (i + 1), i % 4 == 0 ? 11 : 12 + i);
        thread_list[i] = &threads[i];
    }
    ThreadEntry untouched;
    untouched.periods = Repeat(10000, 20);

    ComputePeriodicDisturbances(thread_list);

    for (std::size_t i = 0; i < threads.size(); ++i) {
        const auto value = static_cast<std::int64_t>(i + 1);
        if (i % 4 == 0) {
            EXPECT_EQ(threads[i].period_histogram.GetNumBuckets(), 0u) << i;
            EXPECT_TRUE(threads[i].significant_periods.empty()) << i;
        } else {
            const std::map<std::int64_t, std::uint64_t> expected = {{value, 12 + i}};
            EXPECT_EQ(BucketCounts(threads[i].period_histogram), expected) << i;
            EXPECT_EQ(threads[i].significant_periods, std::set<std::int64_t>{value}) << i;
        }
    }
    EXPECT_EQ(untouched.period_histogram.GetNumBuckets(), 0u);
}

TEST(ComputePeriodicDisturbancesTest, AcceptsAnEmptyList) {
    std::unordered_map<std::uint64_t, ThreadEntry*> thread_list;
    ComputePeriodicDisturbances(thread_list);
    EXPECT_TRUE(thread_list.empty());
}

}  // namespace
}  // namespace dormiscope
