#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "analysis/kmeans.h"

namespace dormiscope {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(DropNearDuplicatesTest, DropsTheLowerOfCloseCentroidsCountingEarlierDrops) {
    struct Case {
        std::vector<double> centroids;
        std::vector<double> expected;
    };
    const std::vector<Case> cases = {
        {{80000, 100000}, {kInf, 100000}},
        {{80000, 100001}, {80000, 100001}},
        // The middle one is dropped against the last, the first against the middle.
        {{0, 15000, 30000}, {kInf, kInf, 30000}},
        // The first is gone by the time the second is compared, so the second stays.
        {{100000, 110000, 200000}, {kInf, 110000, 200000}},
        {{kInf, kInf, 5}, {kInf, kInf, 5}},
    };
    for (const Case& c : cases) {
        std::vector<double> centroids = c.centroids;
        DropNearDuplicates(centroids, 20000.0);
        EXPECT_EQ(centroids, c.expected);
    }
}

TEST(CentroidsEqualTest, ComparesWithinTheToleranceAndNeverMatchesDroppedCentroids) {
    EXPECT_TRUE(CentroidsEqual({10000, 40000}, {30000, 40000}, 20000.0));
    EXPECT_FALSE(CentroidsEqual({10000, 40000}, {30000.5, 40000}, 20000.0));
    EXPECT_FALSE(CentroidsEqual({kInf, 40000}, {kInf, 40000}, 20000.0));
    EXPECT_TRUE(CentroidsEqual({}, {}, 20000.0));
}

TEST(ToHistogramTest, MakesOneMillisecondBucketPerFiniteCentroid) {
    const ClusterMap cluster_map = {
        {19999.9, {19999, 20000}},
        {150000.0, {150000}},
        {159999.0, {159998, 160000}},  // also 15 ms: the lower centroid's bucket stays
        {kInf, {}},
    };
    HISTOGRAM histogram;
    ToHistogram(cluster_map, histogram);
    EXPECT_EQ(histogram.Unit(), L"ms");
    EXPECT_EQ(histogram.Total(), 3u);
    ASSERT_EQ(histogram.GetNumBuckets(), 2u);
    EXPECT_EQ(histogram.Buckets().at(1).count, 2u);
    EXPECT_EQ(histogram.Buckets().at(15).count, 1u);
}

TEST(KMeansTest, SortsItsSeedsAndReturnsThemWhenNoRoundRuns) {
    KMeans kmeans(std::vector<double>{300000, 10000, 40000});
    EXPECT_EQ(kmeans.centroids, (std::vector<double>{10000, 40000, 300000}));
    EXPECT_EQ(kmeans.max_iterations, 10000);
    EXPECT_EQ(kmeans.tolerance, 20000.0);

    kmeans.max_iterations = 0;
    std::vector<double> centroids;
    std::vector<std::size_t> assignment = {5};
    kmeans.Cluster(std::vector<std::uint64_t>(12, 10000), centroids, assignment);
    EXPECT_EQ(centroids, kmeans.centroids);
    EXPECT_TRUE(assignment.empty());
}

TEST(KMeansTest, GroupsEveryPeriodUnderItsFinalCentroid) {
    const KMeans kmeans(seed_centroids);
    const std::vector<std::uint64_t> periods = {100000, 1000000, 100000, 100000, 1000000, 100000,
                                                100000, 100000,  100000, 100000, 100000,  100000, 100005, 99995};
    ClusterMap cluster_map = {{1.0, {1}}};
    kmeans.BuildClusterMap(periods, cluster_map);
    ASSERT_EQ(cluster_map.size(), 3u);
    std::vector<std::uint64_t> ten_ms(12, 100000);
    ten_ms.front() = 99995;
    ten_ms.back() = 100005;
    EXPECT_EQ(cluster_map.at(100000.0), ten_ms);
    EXPECT_EQ(cluster_map.at(1000000.0), std::vector<std::uint64_t>(2, 1000000));
    EXPECT_TRUE(cluster_map.at(kInf).empty());
}

// The map's members are the periods Cluster assigns to each final centroid,
// ascending: on sorted runs (kept intervals, with and without dropped
// centroids) and on periods too large for them.
TEST(KMeansTest, ClusterMapHoldsExactlyTheAssignedPeriodsInOrder) {
    std::mt19937_64 random(3);
    std::vector<std::uint64_t> kept(3000);
    for (std::uint64_t& period : kept) {
        period = 10000 + random() % 9990001;
    }
    const std::vector<std::uint64_t> cases[] = {
        kept,
        {150000, 10000, 150000, 10000, 10000, 150000, 10000, 150000, 10000, 150000, 10000, 150000},
        {std::uint64_t{1} << 60, 10000, std::uint64_t{1} << 61, 10000, 40000, 40000, 80000, 80000, 100000, 150000,
         200000, 300000},
    };
    const KMeans kmeans(seed_centroids);
    for (const std::vector<std::uint64_t>& periods : cases) {
        std::vector<double> centroids;
        std::vector<std::size_t> assignment;
        kmeans.Cluster(periods, centroids, assignment);
        ClusterMap expected;
        for (const double centroid : centroids) {
            expected[centroid];
        }
        for (std::size_t j = 0; j < assignment.size(); ++j) {
            expected[centroids[assignment[j]]].push_back(periods[j]);
        }
        for (auto& [centroid, members] : expected) {
            std::sort(members.begin(), members.end());
        }
        ClusterMap cluster_map;
        kmeans.BuildClusterMap(periods, cluster_map);
        EXPECT_EQ(cluster_map, expected) << periods.size() << " periods";
    }
}

}  // namespace
}  // namespace dormiscope
